// Prints, as medians over several scans of 1,000 loopback addresses that all answer: the query rate,
// the time from the last query to the end of the scan, the rate of hand-overs to the owner thread
// (during the scan, and for a burst of answers to one query) and the CPU time the scan costs.
// Needs root (the peer binds port 137).
#include "BenchStats.h"
#include "NbResponder.h"

#include "netbios/nbtscan.h"
#include "netbios/netBios_procs.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

using corvane::test::NbResponder;
using corvane::test::dotted_host_order;
using corvane::test::node_status_answer;

using corvane::bench::median;

namespace {

constexpr int runs = 7;
constexpr const char* first_address = "127.1.0.1";
constexpr const char* last_address = "127.1.3.232"; // 1,000 addresses
constexpr int burst_size = 5000;
constexpr int burst_per_ms = 100;

double process_cpu_seconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double thread_cpu_seconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Run
{
    int delivered = 0;
    bool ended = false;
    std::int64_t firstDeliveryNs = 0;
    std::int64_t lastDeliveryNs = 0;
    std::int64_t endNs = 0;
};

// One scan with the owner's event loop running until its end event; false on a time-out.
bool scan(const char* first, const char* last, Run& run)
{
    auto* t = new TNBTscanThread();
    t->StartIP = QString::fromLatin1(first);
    t->EndIP = QString::fromLatin1(last);
    t->FreeResults = true;
    t->FreeOnTerminate = true;
    t->OnReceive = [&run](TNBTscanThread*, const QString&, nb_status_result*) {
        const std::int64_t now = corvane::platform::monotonic_ns();
        if (run.delivered++ == 0)
            run.firstDeliveryNs = now;
        run.lastDeliveryNs = now;
    };
    t->OnError = [](TNBTscanThread*, const QString& line) { std::printf("  scan error: %s\n", qPrintable(line)); };
    QEventLoop loop;
    t->OnTerminate = [&run, &loop](TNBTscanThread*) {
        run.ended = true;
        run.endNs = corvane::platform::monotonic_ns();
        loop.quit();
    };
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    t->Resume();
    loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return run.ended;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0) {
        std::printf("bench_nbtscan needs root: the loopback peer binds UDP port 137. Run it with sudo.\n");
        return 1;
    }

    // The peer's own CPU time is measured on its thread, so that it can be taken off the process's.
    std::atomic<double> peerCpu{0};
    NbResponder peer([&peerCpu](const NbResponder::Query& q) {
        peerCpu = thread_cpu_seconds();
        return std::vector<NbResponder::Datagram>{{node_status_answer(q.transactionId(), {{"HOST", 0x00, 0x04},
                                                                                           {"WORKGROUP", 0x00, 0x84},
                                                                                           {"HOST", 0x20, 0x04}})}};
    });
    if (!peer.startWaiting()) {
        std::printf("cannot bind the loopback peer: %s\n", qPrintable(peer.lastError()));
        return 1;
    }

    const int addresses = int(dotted_host_order(last_address) - dotted_host_order(first_address)) + 1;
    std::printf("scan of %s .. %s (%d addresses, each answering), %d runs\n", first_address, last_address, addresses,
                runs);
    std::vector<double> rates, tails, handovers, cpus, cpuTotals;
    for (int r = 0; r < runs; ++r) {
        const int heardBefore = peer.queryCount();
        const double peerBefore = peerCpu;
        const double cpuBefore = process_cpu_seconds();
        Run run;
        if (!scan(first_address, last_address, run)) {
            std::printf("run %d: the scan did not end within a minute\n", r + 1);
            return 1;
        }
        const double cpu = process_cpu_seconds() - cpuBefore;
        const double scanCpu = cpu - (peerCpu - peerBefore);
        const auto all = peer.queries();
        const std::vector<NbResponder::Query> queries(all.begin() + heardBefore, all.end());
        if (int(queries.size()) != addresses || run.delivered != addresses) {
            std::printf("run %d: %zu queries heard, %d answers delivered, expected %d\n", r + 1, queries.size(),
                        run.delivered, addresses);
            return 1;
        }
        const double sendSeconds = double(queries.back().atNs - queries.front().atNs) / 1e9;
        const double rate = double(addresses - 1) / sendSeconds;
        const double tail = double(run.endNs - queries.back().atNs) / 1e9;
        const double handover = double(run.delivered - 1) / (double(run.lastDeliveryNs - run.firstDeliveryNs) / 1e9);
        std::printf("run %d: %.1f queries/s, end %.3f s after the last query, %.1f hand-overs/s, "
                    "CPU %.3f s (process %.3f s)\n",
                    r + 1, rate, tail, handover, scanCpu, cpu);
        rates.push_back(rate);
        tails.push_back(tail);
        handovers.push_back(handover);
        cpus.push_back(scanCpu);
        cpuTotals.push_back(cpu);
    }
    std::printf("median: %.1f queries/s (target 950..1000)\n", median(rates));
    std::printf("median: end %.3f s after the last query (target 1.0..1.1 s)\n", median(tails));
    std::printf("median: %.1f hand-overs/s during the scan (paced by the queries)\n", median(handovers));
    std::printf("median: CPU %.3f s per scan of %d addresses without the peer (%.3f s with it)\n", median(cpus),
                addresses, median(cpuTotals));

    // Hand-over capacity: one query answered by a burst of datagrams from distinct addresses, faster
    // than hand-overs go, so that they are the bottleneck (the socket buffer drops the excess).
    peer.stop();
    NbResponder burst([](const NbResponder::Query& q) {
        std::vector<NbResponder::Datagram> d;
        const QByteArray answer = node_status_answer(q.transactionId(), {{"HOST", 0x00, 0x04}});
        for (int i = 0; i < burst_size; ++i)
            d.push_back({answer, dotted_host_order("127.3.0.1") + std::uint32_t(i), 1 + i / burst_per_ms});
        return d;
    });
    if (!burst.startWaiting()) {
        std::printf("cannot bind the loopback peer: %s\n", qPrintable(burst.lastError()));
        return 1;
    }
    std::vector<double> burstRates;
    std::vector<double> burstShares;
    for (int r = 0; r < runs; ++r) {
        const std::int64_t sentBefore = burst.answersSent();
        Run run;
        if (!scan("127.0.0.9", "127.0.0.9", run)) {
            std::printf("burst run %d: the scan did not end within a minute\n", r + 1);
            return 1;
        }
        const std::int64_t sent = burst.answersSent() - sentBefore;
        const double rate = double(run.delivered - 1) / (double(run.lastDeliveryNs - run.firstDeliveryNs) / 1e9);
        std::printf("burst run %d: %d of %lld answers delivered, %.0f hand-overs/s\n", r + 1, run.delivered,
                    static_cast<long long>(sent), rate);
        burstRates.push_back(rate);
        burstShares.push_back(100.0 * run.delivered / double(sent));
    }
    std::printf("median: %.0f hand-overs/s for a burst of %d answers offered at %d/s (%.1f %% delivered)\n",
                median(burstRates), burst_size, burst_per_ms * 1000, median(burstShares));
    return 0;
}
