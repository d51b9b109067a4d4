#pragma once
// Runs one corvane-scan command on the main thread's event loop: the node-status scan in its
// TNBTscanThread (hand-overs arrive on this thread); the ping sweep in a thread of its own whose
// outcomes are queued to this thread in address order; or, with --serial, the window's sweep with
// TPing, one address per pass of the loop so that an interrupt is seen between two echoes.

#include "platform/IcmpEcho.h"
#include "tools/ScanOptions.h"
#include "tools/ScanOutput.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;
class QThread;
class QThreadPool;
class TNBTscanThread;
class TPing;
namespace corvane::platform {
class icmp_sweep;
}
namespace corvane::discovery {
class TDeviceSurvey;
struct TDevice;
}
namespace corvane::inventory {
class TInventory;
}

namespace corvane::scan {

// corvane-scan's exit statuses.
inline constexpr int kExitScanRan = 0; // hosts found or not; also --help and --version
inline constexpr int kExitCannotStart = 1; // no socket, local subnet or ICMP engine; results not written
inline constexpr int kExitBadUsage = 2; // bad command line, a FILE that cannot be read, a local subnet over a /16
inline constexpr int kExitNotRecorded = 3; // the survey ran and its list was printed; the inventory was not updated
inline constexpr int kExitSecondSignal = 130; // a second SIGINT or SIGTERM

// SIGINT and SIGTERM through a self-pipe into the event loop: the first one emits interrupted(); a
// second one ends the process at once with kExitSecondSignal.
class TSignalPipe : public QObject
{
    Q_OBJECT

public:
    explicit TSignalPipe(QObject* parent = nullptr);
    ~TSignalPipe() override;

Q_SIGNALS:
    void interrupted();

private:
    QSocketNotifier* m_notifier = nullptr;
};

// One redrawn line on stderr, only while stderr is a terminal.
class TProgressLine : public QObject
{
    Q_OBJECT

public:
    // text(elapsed) gives the line without the bar; fraction() the part done, 0..1.
    TProgressLine(std::function<QString()> text, std::function<double()> fraction, QObject* parent = nullptr);
    static bool enabledFor(int fd);

    void start();
    void clear(); // removes the line; draw() brings it back
    void draw();
    void stop(); // removes the line for good
    bool enabled() const { return m_enabled; }
    QString elapsedText() const;

private:
    std::function<QString()> m_text;
    std::function<double()> m_fraction;
    QElapsedTimer m_clock;
    QTimer m_timer;
    bool m_enabled;
    bool m_running = false;
    qsizetype m_shown = 0;
};

class TScanRunner : public QObject
{
    Q_OBJECT

public:
    explicit TScanRunner(const TScanOptions& options, QObject* parent = nullptr);
    ~TScanRunner() override;

    // Starts the command; the exit status comes with finished().
    void start();
    // Stops the scan or sweep; what was found is still printed, never recorded.
    void stop();
    // The inventory a watch keeps open from survey to survey; without one a survey that records
    // opens its own.
    void setInventory(corvane::inventory::TInventory* inventory);

Q_SIGNALS:
    void finished(int status);

private:
    // The ranges to survey; an exit status when there are none.
    std::optional<int> resolveRanges();
    corvane::ipv4::THostAddr addressAt(std::uint64_t index) const;
    void startNbstat();
    void nbstatDone();
    void startDiscover();
    void discoverDone();
    // Records a finished survey when asked to (--db, watch) and prints watch's events: the status.
    int recordSurvey(const std::vector<corvane::discovery::TDevice>& devices);
    void listInventory();
    void startPing();
    void pingStep();
    void pingReply(std::int32_t replies);
    void pingDone();
    void startSweep();
    void sweepOnThread(std::uint64_t count, std::uint32_t timeout);
    void sweepResult(std::uint64_t index, const TIcmpEchoReply& reply, std::uint32_t replies);
    void sweepDisplay(const QString& text);
    void sweepNamed(std::uint64_t index, const QString& name);
    void flushSweepRows();
    void writePingRow(const TPingResult& row);
    void errorLine(const QString& text);
    void writeOut(const QByteArray& bytes);
    void finish(int status);

    TScanOptions m_options;
    std::vector<TAddressRange> m_ranges; // merged: ascending, disjoint
    std::vector<std::uint64_t> m_rangeStarts; // index of each range's first address in the walk
    std::uint64_t m_total = 0; // addresses in m_ranges
    std::unique_ptr<TProgressLine> m_progress;
    bool m_stopRequested = false;
    bool m_finished = false;
    QDateTime m_surveyTime; // when the survey began, for the inventory
    corvane::inventory::TInventory* m_inventory = nullptr;
    int m_writeError = 0; // errno of the first failed write to stdout

    std::unique_ptr<TNBTscanThread> m_scan;
    std::vector<TFoundHost> m_hosts;
    std::vector<std::optional<corvane::TMacAddress>> m_vendorMacs; // parallel to m_hosts
    corvane::TVendorRegistry m_vendors;
    std::optional<QList<TNetworkListRow>> m_before; // the --compare list

    std::unique_ptr<corvane::discovery::TDeviceSurvey> m_survey;

    std::unique_ptr<TPing> m_ping;
    std::uint64_t m_pinged = 0;
    std::uint64_t m_answered = 0;
    std::vector<TPingResult> m_pingRows;
    QSet<QString> m_displayed;

    // The parallel sweep: rows wait here, in address order, until their host name is known.
    struct TPendingRow
    {
        TPingResult row;
        std::uint32_t replies = 0;
        bool named = true; // false while its lookup runs
        QString name;
    };
    std::unique_ptr<corvane::platform::icmp_sweep> m_sweep;
    std::unique_ptr<QThread> m_sweepThread;
    std::unique_ptr<QThreadPool> m_lookups;
    std::atomic<bool> m_sweepStop {false};
    std::atomic<std::int64_t> m_inFlight {0}; // outcomes queued to this thread, not yet taken
    std::deque<TPendingRow> m_pending;
    std::uint64_t m_pendingBase = 0; // index of m_pending.front()
    bool m_sweepEnded = false;
    bool m_skipsBroadcast = false;
};

} // namespace corvane::scan
