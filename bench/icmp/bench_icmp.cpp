// Prints: median cost of one Ping to 127.0.0.1 beside `ping -c 1`, and a 254-echo sweep of silent
// namespace addresses at 30 ms against 254 x 30 ms. Needs root (raw socket, namespaces).
#include "BenchStats.h"
#include "icmp/Icmp.h"
#include "NetnsLab.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

static double now_ms()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

using corvane::bench::median;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TICMP icmp;
    icmp.SetAddress("127.0.0.1");
    icmp.Timeout = 1000;
    std::vector<double> ours, sys;
    for (int i = 0; i < 201; ++i) {
        const double t = now_ms();
        icmp.Ping();
        ours.push_back((now_ms() - t) * 1000.0);
    }
    for (int i = 0; i < 21; ++i) {
        const double t = now_ms();
        QProcess ping;
        ping.start("ping", {"-c", "1", "-q", "-W", "1", "127.0.0.1"});
        ping.waitForFinished(5000);
        sys.push_back((now_ms() - t) * 1000.0);
    }
    std::printf("one Ping to 127.0.0.1: median %.1f us; system ping -c 1 (process included): median %.1f us\n",
                median(ours), median(sys));

    corvane::test::NetnsLab lab;
    if (!lab.ok() || !lab.addSegment("s") || !lab.addHost("me", "s", "10.84.1.1/16")) {
        std::printf("sweep skipped: %s\n", qPrintable(lab.lastError()));
        return 0;
    }
    corvane::test::NetnsLab::ScopedEnter in(lab, "me");
    std::vector<double> totals;
    for (int run = 0; run < 3; ++run) {
        TICMP sweep;
        sweep.Timeout = 30;
        const double t = now_ms();
        for (int host = 1; host <= 254; ++host) {
            // On-link but unused: each echo waits out its time-out.
            sweep.SetAddress("10.84.0." + std::to_string(host));
            sweep.Ping();
        }
        totals.push_back(now_ms() - t);
        std::printf("sweep run %d: %.1f ms\n", run + 1, totals.back());
    }
    const double m = median(totals);
    std::printf("254 echoes at 30 ms: median %.1f ms vs %.1f ms, overhead %.2f %%\n", m, 254 * 30.0,
                (m / (254 * 30.0) - 1) * 100);
    return 0;
}
