// Prints: corvane-scan discover over a namespace /24 of 12 hosts (8 nmbd, 4 plain; avahi on one,
// another the scanner's resolver knowing a third), as root (own ARP) and as a user (neighbour table,
// echo): median wall time, devices found and named, beside nbstat on the same LAN. Needs root.
#include "LanBench.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace corvane::bench;

namespace {

const corvane::test::LanPlan& plan()
{
    static const corvane::test::LanPlan lan {"scan",
                                             "10.86.0.2",
                                             {{"nb1", "10.86.0.11", "PC1", "WG"},
                                              {"nb2", "10.86.0.12", "PC2", "WG"},
                                              {"nb3", "10.86.0.13", "PC3", "WG"},
                                              {"nb4", "10.86.0.14", "PC4", "WG"},
                                              {"nb5", "10.86.0.70", "PC5", "WG"},
                                              {"nb6", "10.86.0.71", "PC6", "WG"},
                                              {"nb7", "10.86.0.200", "PC7", "WG"},
                                              {"nb8", "10.86.0.254", "PC8", "WG"}},
                                             {"10.86.0.21", "10.86.0.22", "10.86.0.100", "10.86.0.253"}};
    return lan;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    LanBench bench(argc, argv, 3);
    if (!bench.start("bench_discover", plan()))
        return 0;
    NetnsLab& lab = bench.lab;
    const int hosts = int(plan().hosts.size() + plan().quiet.size());
    const bool peers = lab.startAvahi("quiet0", "benchplain")
        && lab.startDnsmasq("quiet1", {{"q2.lab.test", "10.86.0.100"}}) && lab.setResolver("scan", "10.86.0.22")
        && lab.waitForAvahi("quiet0", "scan") && lab.setSysctl("scan", "net.ipv4.ping_group_range", "0 2147483647");
    if (!peers)
        std::printf("name peers not started (%s): names from NetBIOS only\n", qPrintable(lab.lastError()));

    const QStringList argvDiscover {bench.program, "discover", "--format", "json", "10.86.0.0/24"};
    for (const bool asUser : {false, true}) {
        std::vector<double> seconds, found, named;
        for (int run = 1; run <= bench.runs; ++run) {
            lab.run("scan", {"ip", "neigh", "flush", "all"});
            QElapsedTimer clock;
            clock.start();
            const NetnsLab::RunResult r = asUser ? lab.runAsUser("scan", 65534, 65534, argvDiscover, 60000)
                                                 : lab.run("scan", argvDiscover, 60000);
            const double s = double(clock.nsecsElapsed()) / 1e9;
            const QJsonArray devices = QJsonDocument::fromJson(r.out.toUtf8()).array();
            int withName = 0;
            for (const QJsonValue& d : devices)
                withName += d["name"].toString().isEmpty() ? 0 : 1;
            std::printf("discover as %s, run %d: exit %d, %lld of %d devices, %d named, %.2f s%s%s\n",
                        asUser ? "user" : "root", run, r.exitCode, static_cast<long long>(devices.size()), hosts,
                        withName, s, r.err.isEmpty() ? "" : "; stderr: ", qPrintable(r.err.trimmed()));
            std::fflush(stdout);
            seconds.push_back(s);
            found.push_back(double(devices.size()));
            named.push_back(withName);
        }
        std::printf("median of %d, discover as %s: %.0f of %d devices, %.0f named, %.2f s (target: 3 s)\n", bench.runs,
                    asUser ? "user" : "root", median(found), hosts, median(named), median(seconds));
    }
    // Today's node-status list on the same LAN: the nmbd hosts only.
    const ScanFigures nb = run_scan(lab, "scan", {bench.program, "nbstat", "10.86.0.0/24"}, QStringLiteral("10.86.0."),
                                    {}, false, 60000);
    print_run("nbstat as root, for comparison", 1, nb, hosts);
    return 0;
}
