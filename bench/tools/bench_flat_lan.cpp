// corvane-scan nbstat over a flat /16 of network namespaces: 8 nmbd hosts spread over 65,534
// addresses, the rest empty. As root the scan resolves addresses itself (ARP through a packet
// socket) and queries only who answered; as an unprivileged user nearly every query waits ~3 s for
// an address resolution that fails and holds an entry of the machine-wide neighbour table meanwhile.
// Prints, per run and as medians: hosts found, wall time, error lines, the most pending resolutions
// and the most neighbour entries seen at once in the scanner's namespace, for root at the default
// pace and at --rate 5000, arp-scan --retry 2 at the same frame rates (when installed), and one run
// as an unprivileged user at Debian's default net.core.wmem_max.
// Needs root, iproute2 and nmbd; holds /tmp/corvane-neigh.lock throughout.
// Usage: bench_flat_lan [PATH-TO-corvane-scan [RUNS]]
#include "LanBench.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>

using namespace corvane::bench;
using namespace corvane::test;

namespace {

const QString kNet = QStringLiteral("10.214.");

const LanPlan& plan()
{
    static const LanPlan lan = [] {
        LanPlan p {"scan", kNet + "0.2", {}};
        p.prefixLength = 16;
        int i = 0;
        for (const char* a : {"0.20", "1.17", "3.250", "7.9", "15.100", "40.40", "128.1", "255.250"}) {
            const QString n = QString::number(++i);
            p.hosts.append({"nb" + n, kNet + QLatin1String(a), "FLAT" + n, "BENCH"});
        }
        return p;
    }();
    return lan;
}

QString readSysctl(const char* path)
{
    QFile f {QString::fromLatin1(path)};
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).trimmed() : QString();
}

bool writeSysctl(const char* path, const QString& value)
{
    QFile f {QString::fromLatin1(path)};
    return f.open(QIODevice::WriteOnly) && f.write(value.toLatin1() + '\n') > 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    LanBench bench(argc, argv, 3);
    if (!bench.start("bench_flat_lan", plan()))
        return 1;
    NetnsLab& lab = bench.lab;
    const QString& program = bench.program;
    const int runs = bench.runs;
    const int hosts = int(plan().hosts.size());
    const QStringList scan {program, "nbstat", kNet + "0.1", kNet + "255.254"};
    const QStringList watched {lab.ns(plan().scanner)};
    std::printf("%s nbstat %s over a flat /16 (%d nmbd hosts), %d runs as root\n", qPrintable(program),
                qPrintable(scan.mid(2).join(u' ')), hosts, runs);
    Series root;
    for (int r = 1; r <= runs; ++r) {
        const ScanFigures f = run_scan(lab, plan().scanner, scan, kNet, watched);
        print_run("root", r, f, hosts);
        root.add(f);
    }
    root.print("root (target 8 of 8, no error line, at most 140 s, at most 8 neighbour entries)", hosts);
    Series fast;
    for (int r = 1; r <= runs; ++r) {
        const ScanFigures f = run_scan(lab, plan().scanner, scan + QStringList {"--rate", "5000"}, kNet, watched);
        print_run("root --rate 5000", r, f, hosts);
        fast.add(f);
    }
    fast.print("root --rate 5000 (target 8 of 8, no error line, at most 30 s, at most 8 neighbour entries)", hosts);

    // The independent peer on the same link, at the same frame rates.
    const QString arpScan = QStandardPaths::findExecutable(QStringLiteral("arp-scan"), {"/usr/sbin", "/usr/bin"});
    if (arpScan.isEmpty()) {
        std::printf("arp-scan is not installed (Debian package arp-scan): no comparison\n");
    } else {
        const QString iface = lab.interfaceOf(plan().scanner, plan().segment);
        for (const char* interval : {"1000u", "200u"}) {
            QStringList peer {arpScan, "--interface=" + iface, "--retry=2"};
            peer << QStringLiteral("--interval=%1").arg(interval) << "--quiet"
                 << "--plain" << kNet + "0.0/16";
            Series series;
            const QByteArray what = "arp-scan --retry 2 --interval " + QByteArray(interval);
            for (int r = 1; r <= runs; ++r) {
                const ScanFigures f = run_scan(lab, plan().scanner, peer, kNet, watched);
                print_run(what.constData(), r, f, hosts);
                series.add(f);
            }
            series.print(what.constData(), hosts);
        }
    }

    // Without CAP_NET_ADMIN the send buffer is capped at twice wmem_max; Debian's default is 212992.
    const char* wmem = "/proc/sys/net/core/wmem_max";
    const QString saved = readSysctl(wmem);
    if (saved.isEmpty() || !writeSysctl(wmem, QStringLiteral("212992"))) {
        std::printf("cannot set net.core.wmem_max; no unprivileged run\n");
        return 0;
    }
    const ScanFigures user = run_scan(lab, plan().scanner, scan, kNet, watched, true);
    const bool restored = writeSysctl(wmem, saved);
    print_run("user 65534, wmem_max 212992", 1, user, hosts);
    std::printf("net.core.wmem_max %s to %s\n", restored ? "restored" : "NOT RESTORED", qPrintable(saved));
    return restored ? 0 : 1;
}
