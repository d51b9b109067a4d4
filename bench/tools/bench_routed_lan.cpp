// corvane-scan nbstat over a routed /16: the scanner reaches 10.216.0.0/16 through a router namespace
// that forwards to 8 nmbd hosts by /32 routes and drops the rest (a blackhole route). Every query
// costs the scanner one neighbour entry, the router's, so nothing but the pace bounds the scan.
// Prints, per run and as medians: hosts found, wall time, error lines and the most pending
// resolutions in the scanner's and the router's namespaces, at the default pace and --rate 10000.
// Needs root, iproute2 and nmbd; holds /tmp/corvane-neigh.lock throughout.
// Usage: bench_routed_lan [PATH-TO-corvane-scan [RUNS]]
#include "LanBench.h"

#include <QCoreApplication>

using namespace corvane::bench;
using namespace corvane::test;

namespace {

const QString kNet = QStringLiteral("10.216.");

const LanPlan& plan()
{
    static const LanPlan lan = [] {
        LanPlan p {"scan", "192.168.216.2", {}};
        p.prefixLength = 16;
        p.router = LanRouter {"10.216.0.0/16", "192.168.216.1", "10.216.255.254"};
        int i = 0;
        for (const char* a : {"0.20", "1.17", "3.250", "7.9", "15.100", "40.40", "128.1", "255.250"}) {
            const QString n = QString::number(++i);
            p.hosts.append({"nb" + n, kNet + QLatin1String(a), "ROUTED" + n, "BENCH"});
        }
        return p;
    }();
    return lan;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    LanBench bench(argc, argv, 3);
    if (!bench.start("bench_routed_lan", plan()))
        return 1;
    NetnsLab& lab = bench.lab;
    const QString& program = bench.program;
    const int runs = bench.runs;
    const int hosts = int(plan().hosts.size());
    const QStringList watched {lab.ns(plan().scanner), lab.ns(plan().router->host)};
    std::printf("%s nbstat 10.216.0.0/16 behind a router (%d nmbd hosts), %d runs each\n", qPrintable(program), hosts,
                runs);
    struct Variant
    {
        const char* name;
        QStringList extra;
    };
    for (const Variant& v : {Variant {"default pace", {}}, Variant {"--rate 10000 (target at most 10 s)", {"--rate", "10000"}}}) {
        Series s;
        for (int r = 1; r <= runs; ++r) {
            const ScanFigures f
                = run_scan(lab, plan().scanner, QStringList {program, "nbstat"} + v.extra + QStringList {"10.216.0.0/16"},
                           kNet, watched);
            print_run(v.name, r, f, hosts);
            if (f.exitCode == 2) // an older corvane-scan without the option
                break;
            s.add(f);
        }
        s.print(v.name, hosts);
    }
    return 0;
}
