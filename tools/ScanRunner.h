#pragma once
// Runs one corvane-scan command on the main thread's event loop: the node-status scan in its
// TNBTscanThread (hand-overs arrive on this thread), or the ping sweep with TPing, one address per
// pass of the loop so that an interrupt is seen between two echoes.

#include "tools/ScanOptions.h"
#include "tools/ScanOutput.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
class TNBTscanThread;
class TPing;

namespace corvane::scan {

// SIGINT and SIGTERM through a self-pipe into the event loop: the first one emits interrupted(); a
// second one ends the process at once with status 130.
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
    // Stops the scan or sweep; what was found is still printed.
    void stop();

Q_SIGNALS:
    void finished(int status);

private:
    bool resolveRange();
    void startNbstat();
    void nbstatDone();
    void startPing();
    void pingStep();
    void pingReply(std::int32_t replies);
    void pingDone();
    void errorLine(const QString& text);
    void writeOut(const QByteArray& bytes);
    void finish(int status);

    TScanOptions m_options;
    TAddressRange m_range;
    std::unique_ptr<TProgressLine> m_progress;
    bool m_stopRequested = false;
    bool m_finished = false;
    int m_writeError = 0; // errno of the first failed write to stdout

    std::unique_ptr<TNBTscanThread> m_scan;
    std::vector<TFoundHost> m_hosts;
    std::vector<std::optional<corvane::TMacAddress>> m_vendorMacs; // parallel to m_hosts
    corvane::TVendorRegistry m_vendors;
    std::optional<QList<TNetworkListRow>> m_before; // the --compare list
    bool m_setupFailed = false;

    std::unique_ptr<TPing> m_ping;
    std::uint32_t m_current = 0;
    std::uint64_t m_pinged = 0;
    std::uint64_t m_answered = 0;
    std::vector<TPingResult> m_pingRows;
    QSet<QString> m_displayed;
};

} // namespace corvane::scan
