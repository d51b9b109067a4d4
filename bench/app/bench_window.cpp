// Prints: a node-status scan of 10,000 loopback addresses, every one answered by a loopback peer,
// into the real (offscreen) window, in arrival order and sorted by address: rows present, longest
// gap between two event-loop turns, rows per second, peak memory; and a ping sweep of 254 silent
// namespace addresses at 30 ms from the window against 254 x 30 ms. Medians of three runs. Needs
// root (port 137, raw ICMP, namespaces).
#include "BenchStats.h"
#include "NbResponder.h"
#include "NetnsLab.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "icmp/Icmp.h"
#include "netbios/nbtscan.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/resource.h>

using namespace corvane::test;

using corvane::bench::median;
using corvane::bench::peak_rss_kib;

namespace {

struct ScanRun
{
    int rows = 0;
    int distinct = 0;
    double seconds = 0;
    double longestGapMs = 0;
    long turns = 0;
};

// One scan from the click to the "Scanning finished." box; an idle timer marks every event-loop turn.
// sorted: the list is sorted by address, last first, so that every row arriving takes the top place.
ScanRun scan_once(const QString& first, const QString& last, int expected, bool sorted)
{
    ScanRun run;
    WindowDriver win;
    TFrm_Corvane& w = win.w;
    if (sorted)
        win.res->sortByColumn(TFrm_Corvane::ColIP, Qt::DescendingOrder);
    QEventLoop loop;
    bool done = false;
    win.desktop.onBox = [&](QMessageBox::Icon, const QString&) {
        done = true;
        loop.quit();
    };
    win.setRange(first, last);
    QElapsedTimer clock;
    QElapsedTimer sinceTurn;
    qint64 longest = 0;
    QTimer turn;
    turn.setInterval(0);
    QObject::connect(&turn, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTurn.nsecsElapsed());
        sinceTurn.restart();
        ++run.turns;
    });
    clock.start();
    sinceTurn.start();
    turn.start();
    QMetaObject::invokeMethod(w.findChild<QWidget*>("But_Scan"), "click", Qt::QueuedConnection);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    if (!done)
        loop.exec();
    run.seconds = clock.nsecsElapsed() / 1e9;
    turn.stop();
    run.rows = win.rows();
    QSet<QString> ips;
    for (int i = 0; i < run.rows; ++i)
        ips.insert(win.cell(i, 0));
    run.distinct = int(ips.size());
    run.longestGapMs = longest / 1e6;
    if (run.rows != expected)
        std::printf("  run incomplete: %d of %d rows\n", run.rows, expected);
    (void)QTest::qWaitFor([&] { return !w.ScanThreadsAlive(); }, 5000);
    return run;
}

void bench_scan()
{
    const int count = 10000;
    const QString first = QStringLiteral("127.1.0.1");
    const QString last = host_order_dotted(dotted_host_order("127.1.0.1") + count - 1);
    NbResponder peer([](const NbResponder::Query& q) {
        return std::vector<NbResponder::Datagram> {{node_status_answer(
            q.transactionId(),
            {{"HOST", 0x00, 0x04}, {"HOST", 0x20, 0x04}, {"USER", 0x03, 0x04}, {"WORKGROUP", 0x00, 0x84}})}};
    });
    if (!peer.start()) {
        std::printf("node-status scan skipped: %s\n", qPrintable(peer.lastError()));
        return;
    }
    // The same scan with a hand-over that only releases the result: what the engine and the
    // platform allow, beside which the window's cost shows.
    std::vector<double> engineRate;
    for (int i = 0; i < 3; ++i) {
        int got = 0;
        bool ended = false;
        auto* scan = new TNBTscanThread();
        scan->StartIP = first;
        scan->EndIP = last;
        scan->FreeResults = true;
        scan->OnReceive = [&](TNBTscanThread*, const QString&, nb_status_result*) { ++got; };
        QEventLoop loop;
        scan->OnTerminate = [&](TNBTscanThread*) {
            ended = true;
            loop.quit();
        };
        scan->FreeOnTerminate = true;
        QElapsedTimer t;
        t.start();
        scan->Resume();
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        loop.exec();
        engineRate.push_back(got / (t.nsecsElapsed() / 1e9));
        std::printf("  engine only, run %d: %d answers handed over in %.2f s\n", i + 1, got, t.nsecsElapsed() / 1e9);
    }
    std::printf("engine only (hand-over releases the result): median %.0f answers/s\n", median(engineRate));

    for (const bool sorted : {false, true}) {
        const long rssBefore = peak_rss_kib();
        std::vector<double> rate, gap, secs;
        bool allPresent = true;
        long rssAfterFirst = 0;
        for (int i = 0; i < 3; ++i) {
            const ScanRun r = scan_once(first, last, count, sorted);
            allPresent = allPresent && r.rows == count && r.distinct == count;
            rate.push_back(r.rows / r.seconds);
            gap.push_back(r.longestGapMs);
            secs.push_back(r.seconds);
            if (i == 0)
                rssAfterFirst = peak_rss_kib();
            std::printf("  run %d: %d rows (%d distinct) in %.2f s, %.0f rows/s, longest event-loop gap %.1f ms, "
                        "%ld loop turns\n",
                        i + 1, r.rows, r.distinct, r.seconds, r.rows / r.seconds, r.longestGapMs, r.turns);
        }
        std::printf("node-status scan of %d loopback addresses (%s .. %s), all answered, into the window %s:\n", count,
                    qPrintable(first), qPrintable(last), sorted ? "sorted by address, last first" : "in arrival order");
        std::printf("  every row present: %s; median %.2f s from click to the end box, %.0f rows/s, longest gap "
                    "between two event-loop turns %.1f ms\n",
                    allPresent ? "yes" : "NO", median(secs), median(rate), median(gap));
        std::printf("  peak memory (maxrss): %.1f MiB before, %.1f MiB after the first scan, %.1f MiB after three\n",
                    rssBefore / 1024.0, rssAfterFirst / 1024.0, peak_rss_kib() / 1024.0);
    }
}

void bench_sweep()
{
    NetnsLab lab;
    if (!lab.ok() || !lab.addSegment("s") || !lab.addHost("me", "s", "10.85.0.2/16")) {
        std::printf("ping sweep skipped: %s\n", qPrintable(lab.lastError()));
        return;
    }
    NetnsLab::ScopedEnter in(lab, "me");
    // The echo engine alone over the same kind of addresses, beside which the window's cost shows.
    std::vector<double> engine;
    for (int run = 0; run < 3; ++run) {
        TICMP icmp;
        icmp.Timeout = 30;
        QElapsedTimer t;
        t.start();
        for (int host = 1; host <= 254; ++host) {
            icmp.SetAddress(QStringLiteral("10.85.%1.%2").arg(run + 11).arg(host).toStdString());
            icmp.Ping();
        }
        engine.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("echo engine alone, 254 silent addresses at 30 ms: median %.0f ms\n", median(engine));
    // One at a time, then in parallel at the same time-out and at a second; a fresh /24 per run: no
    // neighbour entry left failed by the run before.
    int net = 1;
    for (const auto& [serial, timeout] : {std::pair{true, 30}, std::pair{false, 30}, std::pair{false, 1000}}) {
        std::vector<double> totals;
        for (int run = 0; run < 3; ++run) {
            WindowDriver win(false);
            win.w.findChild<QTabWidget*>("PageCtrlRes")->setCurrentIndex(1);
            win.w.findChild<QCheckBox*>("Chk_OneAtATime")->setChecked(serial);
            win.w.findChild<QLineEdit*>("Ed_timeout")->setText(QString::number(timeout));
            win.w.show();
            win.setRange(QStringLiteral("10.85.%1.1").arg(net), QStringLiteral("10.85.%1.254").arg(net));
            ++net;
            QElapsedTimer t;
            t.start();
            win.click("But_Scan");
            const double ms = t.nsecsElapsed() / 1e6;
            const int rows = win.w.findChild<QTreeView*>("LstVw_Ping")->model()->rowCount();
            std::printf("  run %d: %d rows in %.0f ms\n", run + 1, rows, ms);
            totals.push_back(ms);
        }
        const double m = median(totals);
        std::printf("ping sweep of 254 silent addresses at %d ms from the window, %s: median %.0f ms against 254 x %d "
                    "= %d ms\n",
                    timeout, serial ? "one at a time" : "in parallel", m, timeout, 254 * timeout);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (!enterPrivateLoopback())
        std::printf("no private network namespace: using the machine's loopback\n");
    QApplication app(argc, argv);
    // "sweep": the ping sweeps alone.
    if (argc < 2 || std::strcmp(argv[1], "sweep") != 0)
        bench_scan();
    bench_sweep();
    return 0;
}
