// corvane-scan nbstat over a namespace /24 whose scanner loses 20 % of its NetBIOS datagrams each way
// (nftables numgen random; this kernel has no netem): 8 nmbd hosts, the other addresses empty.
// Prints, for --retries 0 to 3, the share of hosts found over 10 runs and the median wall time;
// then the same /24 without loss at --retries 3. Needs root, iproute2, nmbd and nft; holds
// /tmp/corvane-neigh.lock throughout (the empty addresses fill neighbour entries).
// Usage: bench_lossy_lan [PATH-TO-corvane-scan [RUNS]]
#include "LanBench.h"

#include <QCoreApplication>

using namespace corvane::bench;
using namespace corvane::test;

namespace {

const QString kNet = QStringLiteral("10.217.0.");

const LanPlan& plan()
{
    static const LanPlan lan = [] {
        LanPlan p {"scan", kNet + "2", {}};
        for (int octet : {11, 30, 62, 99, 140, 177, 201, 250})
            p.hosts.append({QStringLiteral("nb%1").arg(octet), kNet + QString::number(octet),
                            QStringLiteral("LOSSY%1").arg(octet), "BENCH"});
        return p;
    }();
    return lan;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!hasProgram(QStringLiteral("nft"))) {
        std::printf("skipped: needs nft (nftables)\n");
        return 0;
    }
    LanBench bench(argc, argv, 10);
    if (!bench.start("bench_lossy_lan", plan()))
        return 1;
    NetnsLab& lab = bench.lab;
    const QString& program = bench.program;
    const int runs = bench.runs;
    const int hosts = int(plan().hosts.size());
    const QStringList watched {lab.ns(plan().scanner)};
    const QString range = kNet + QStringLiteral("0/24");
    std::printf("%s nbstat %s, %d nmbd hosts, 20 %% of UDP 137 lost each way, %d runs each\n", qPrintable(program),
                qPrintable(range), hosts, runs);
    if (!lab.setNetbiosLoss(plan().segment, 20)) {
        std::printf("cannot set up the loss: %s\n", qPrintable(lab.lastError()));
        return 1;
    }
    for (int retries = 0; retries <= 3; ++retries) {
        const QByteArray what = QStringLiteral("--retries %1").arg(retries).toLatin1();
        Series s;
        for (int r = 1; r <= runs; ++r) {
            // --retries 0 as a command line that works without the option, too.
            const QStringList extra = retries ? QStringList {"--retries", QString::number(retries)} : QStringList {};
            const ScanFigures f
                = run_scan(lab, plan().scanner, QStringList {program, "nbstat"} + extra + QStringList {range}, kNet, watched);
            print_run(what.constData(), r, f, hosts);
            if (f.exitCode == 2) // an older corvane-scan without the option
                break;
            s.add(f);
        }
        double found = 0;
        for (double n : s.found)
            found += n;
        if (!s.found.empty())
            std::printf("%s: %.1f %% of hosts found over %zu runs, median %.2f s%s\n", what.constData(),
                        100.0 * found / (double(hosts) * double(s.found.size())), s.found.size(), median(s.seconds),
                        retries == 3 ? " (target at least 95 %)" : "");
    }
    std::printf("dropped by the loss: %d datagrams\n", lab.netbiosDropped(plan().segment));
    lab.setNetbiosLoss(plan().segment, 0);
    Series clean;
    for (int r = 1; r <= 3; ++r) {
        const ScanFigures f
            = run_scan(lab, plan().scanner, {program, "nbstat", "--retries", "3", range}, kNet, watched);
        print_run("no loss, --retries 3", r, f, hosts);
        if (f.exitCode == 2)
            break;
        clean.add(f);
    }
    clean.print("no loss, --retries 3 (target at most 6 s)", hosts);
    return 0;
}
