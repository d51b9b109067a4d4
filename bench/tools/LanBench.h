#pragma once
// What the LAN benchmarks of corvane-scan share: the machine-wide lock of the neighbour table, one
// timed run of the program in the scanner's namespace with its pending resolutions watched from
// outside, and medians.

#include "BenchStats.h"
#include "NetnsLab.h"
#include "NmbdLan.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace corvane::bench {

using corvane::test::NetnsLab;

// The neighbour table is one for the machine: a benchmark that fills it holds this lock throughout.
class NeighbourTableLock
{
public:
    bool take()
    {
        std::printf("waiting for /tmp/corvane-neigh.lock ...\n");
        std::fflush(stdout);
        m_fd = ::open("/tmp/corvane-neigh.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        return m_fd >= 0 && ::flock(m_fd, LOCK_EX) == 0;
    }
    ~NeighbourTableLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

private:
    int m_fd = -1;
};

// A benchmark's command line (PATH-TO-corvane-scan [RUNS]) and its LAN, built under the lock, which
// it keeps until the LAN is gone.
class LanBench
{
public:
    LanBench(int argc, char** argv, int defaultRuns)
        : program(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(CORVANE_SCAN_EXE))
        , runs(argc > 2 ? std::max(1, std::atoi(argv[2])) : defaultRuns)
    { }

    // Root, the lock and the plan's LAN; false after saying what is missing.
    bool start(const char* name, const corvane::test::LanPlan& plan)
    {
        if (::geteuid() != 0) {
            std::printf("%s needs root: it builds network namespaces. Run it with sudo.\n", name);
            return false;
        }
        if (!m_lock.take()) {
            std::printf("cannot take /tmp/corvane-neigh.lock\n");
            return false;
        }
        const QString missing = corvane::test::nmbdLanMissing();
        const QString failed = missing.isEmpty() ? corvane::test::buildNmbdLan(lab, plan) : missing;
        if (!failed.isEmpty())
            std::printf("cannot build the namespace LAN: %s\n", qPrintable(failed));
        return failed.isEmpty();
    }

    const QString program;
    const int runs;

private:
    NeighbourTableLock m_lock; // released after the lab has deleted its namespaces

public:
    NetnsLab lab;
};

struct ScanFigures
{
    int exitCode = -1;
    double seconds = 0;
    int found = 0;      // distinct addresses of the prefix in the list
    int duplicates = 0; // list rows beyond the first for an address
    int errorLines = 0;
    int mostPending = 0; // INCOMPLETE entries seen at once in the watched namespaces
    int mostEntries = 0; // entries of any state seen at once there
    QString firstError;
};

// Counts INCOMPLETE neighbour entries, and entries of any state, in the namespaces four times a
// second until stopped.
class PendingWatch
{
public:
    explicit PendingWatch(const QStringList& namespaces)
    {
        m_thread.reset(QThread::create([this, namespaces] {
            while (!m_stop) {
                int pending = 0;
                int entries = 0;
                for (const QString& ns : namespaces) {
                    QProcess p;
                    p.start(QStringLiteral("ip"), {"-n", ns, "neigh", "show"});
                    p.waitForFinished(2000);
                    const QByteArray out = p.readAllStandardOutput();
                    pending += int(out.count(" INCOMPLETE"));
                    entries += int(out.count('\n'));
                }
                m_most = std::max(m_most.load(), pending);
                m_mostEntries = std::max(m_mostEntries.load(), entries);
                QThread::msleep(250);
            }
        }));
        m_thread->start();
    }
    int mostEntries() const { return m_mostEntries; }
    ~PendingWatch() { stop(); }
    int stop()
    {
        m_stop = true;
        m_thread->wait();
        return m_most;
    }

private:
    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_stop {false};
    std::atomic<int> m_most {0};
    std::atomic<int> m_mostEntries {0};
};

// corvane-scan (argv[0]) in host's namespace, as root or as uid/gid 65534 without capabilities; the
// list's rows are counted by their address prefix.
inline ScanFigures run_scan(NetnsLab& lab, const QString& host, const QStringList& argv, const QString& prefix,
                            const QStringList& watched, bool asUser = false, int timeoutMs = 900000)
{
    lab.run(host, {"ip", "neigh", "flush", "all"});
    ScanFigures f;
    PendingWatch watch(watched);
    QElapsedTimer clock;
    clock.start();
    const NetnsLab::RunResult r
        = asUser ? lab.runAsUser(host, 65534, 65534, argv, timeoutMs) : lab.run(host, argv, timeoutMs);
    f.seconds = double(clock.nsecsElapsed()) / 1e9;
    f.mostPending = watch.stop();
    f.mostEntries = watch.mostEntries();
    f.exitCode = r.exitCode;
    QSet<QString> seen;
    for (const QString& line : r.out.split(u'\n')) {
        if (!line.startsWith(prefix))
            continue;
        // nbstat separates its columns with blanks, arp-scan with tabs.
        const QString address = line.left(line.indexOf(QRegularExpression(QStringLiteral("\\s"))));
        f.duplicates += seen.contains(address) ? 1 : 0;
        seen.insert(address);
    }
    f.found = int(seen.size());
    for (const QString& line : r.err.split(u'\n', Qt::SkipEmptyParts)) {
        if (f.errorLines++ == 0)
            f.firstError = line;
    }
    return f;
}

inline void print_run(const char* what, int run, const ScanFigures& f, int hosts)
{
    std::printf("%s, run %d: exit %d, %d of %d hosts%s, %.1f s, %d error lines, at most %d pending resolutions, "
                "%d neighbour entries%s%s\n",
                what, run, f.exitCode, f.found, hosts, f.duplicates ? " (SOME TWICE)" : "", f.seconds, f.errorLines,
                f.mostPending, f.mostEntries, f.firstError.isEmpty() ? "" : "; first: ", qPrintable(f.firstError));
    std::fflush(stdout);
}

// Runs of one variant, and their medians.
struct Series
{
    std::vector<double> seconds, found, errors, pending, entries;
    void add(const ScanFigures& f)
    {
        seconds.push_back(f.seconds);
        found.push_back(f.found);
        errors.push_back(f.errorLines);
        pending.push_back(f.mostPending);
        entries.push_back(f.mostEntries);
    }
    void print(const char* what, int hosts) const
    {
        std::printf("median of %zu, %s: %.0f of %d hosts, %.1f s, %.0f error lines, %.0f pending resolutions, "
                    "%.0f neighbour entries at most\n",
                    seconds.size(), what, median(found), hosts, median(seconds), median(errors), median(pending),
                    median(entries));
        std::fflush(stdout);
    }
};

} // namespace corvane::bench
