// Prints: corvane-scan ping over a namespace /24 (a few hosts, the rest empty) at a 30 ms time-out,
// parallel and --serial, beside fping -r0 -t30 on the same range in the same run; medians of the
// wall times and whether the answering hosts agree. Needs root (namespaces) and fping.
#include "BenchStats.h"
#include "NetnsLab.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <vector>

using corvane::test::NetnsLab;

using corvane::bench::median;

namespace {

QSet<QString> receivedIn(const QString& txt)
{
    QSet<QString> alive;
    static const QRegularExpression line(QStringLiteral("^(\\S+) +Received "));
    for (const QString& l : txt.split(u'\n'))
        if (const auto m = line.match(l); m.hasMatch())
            alive.insert(m.captured(1));
    return alive;
}

QSet<QString> linesOf(const QString& text)
{
    QSet<QString> s;
    for (const QString& l : text.split(u'\n', Qt::SkipEmptyParts))
        s.insert(l.trimmed());
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (QStandardPaths::findExecutable(QStringLiteral("fping")).isEmpty()) {
        std::printf("skipped: needs fping\n");
        return 0;
    }
    NetnsLab lab;
    bool ok = lab.ok() && lab.addSegment("lan") && lab.addHost("me", "lan", "10.85.0.2/24");
    const QStringList hosts {"10.85.0.11", "10.85.0.12", "10.85.0.77", "10.85.0.200", "10.85.0.254"};
    for (qsizetype i = 0; ok && i < hosts.size(); ++i)
        ok = lab.addHost(QStringLiteral("h%1").arg(i), "lan", hosts[i] + QStringLiteral("/24"));
    if (!ok) {
        std::printf("skipped: %s\n", qPrintable(lab.lastError()));
        return 0;
    }
    QSet<QString> expected(hosts.begin(), hosts.end());
    expected.insert(QStringLiteral("10.85.0.2")); // the scanner itself

    NetnsLab::ScopedEnter in(lab, "me");
    const QString range = QStringLiteral("10.85.0.0/24");
    struct Tool
    {
        const char* name;
        QStringList argv;
        bool fping;
        std::vector<double> ms;
        bool agrees = true;
    };
    std::vector<Tool> tools {
        {"corvane-scan ping", {CORVANE_SCAN_EXE, "ping", "--timeout", "30", range}, false, {}},
        {"fping -r0 -t30", {"fping", "-a", "-q", "-r0", "-t30", "-g", range}, true, {}},
        {"corvane-scan ping --serial", {CORVANE_SCAN_EXE, "ping", "--serial", "--timeout", "30", range}, false, {}},
    };
    constexpr int runs = 5;
    for (int run = 0; run < runs; ++run) {
        for (Tool& t : tools) {
            // Every run starts with no neighbour entries: the empty addresses go through ARP each time.
            lab.run({}, {"ip", "neigh", "flush", "all"});
            QElapsedTimer clock;
            clock.start();
            const NetnsLab::RunResult r = lab.run({}, t.argv, 60000);
            const double ms = double(clock.nsecsElapsed()) / 1e6;
            t.ms.push_back(ms);
            const QSet<QString> alive = t.fping ? linesOf(r.out) : receivedIn(r.out);
            t.agrees = t.agrees && alive == expected;
            std::printf("run %d %-28s %8.1f ms, %lld answering%s\n", run + 1, t.name, ms,
                        static_cast<long long>(alive.size()), alive == expected ? "" : " (NOT the expected hosts)");
        }
    }
    const double ours = median(tools[0].ms), fping = median(tools[1].ms), serial = median(tools[2].ms);
    std::printf("254 addresses, %lld answering, 30 ms time-out, medians of %d runs:\n",
                static_cast<long long>(expected.size()), runs);
    std::printf("  corvane-scan ping           %8.1f ms (target at most 600 ms)\n", ours);
    std::printf("  fping -r0 -t30              %8.1f ms, %.1fx the parallel sweep (target at least 4x)\n", fping,
                fping / ours);
    std::printf("  corvane-scan ping --serial  %8.1f ms\n", serial);
    std::printf("  same answering hosts in every run: %s\n",
                tools[0].agrees && tools[1].agrees && tools[2].agrees ? "yes" : "NO");
    return 0;
}
