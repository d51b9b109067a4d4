#pragma once
// The Ping page's parallel sweep: the echoes go out from a thread of their own, one per millisecond
// tick without waiting for answers, and the rows come back on the owner's thread in address order
// with the texts the one-at-a-time sweep gives them.

#include "platform/Ipv4.h"
#include "support/ResultRows.h"

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

class QThread;
namespace corvane::platform {
class icmp_sweep;
}
struct TIcmpEchoReply;

class TPingSweep : public QObject
{
public:
    struct TSettings
    {
        corvane::ipv4::THostAddr first;
        corvane::ipv4::THostAddr last;
        int timeoutMs = 1000;
        // The echo as TPing sends it.
        int size = 56;
        int ttl = 64;
        int flags = 0;
        bool resolve = false; // the caption names the host of a reply
    };
    using TRowEvent = std::function<void(corvane::TPingRow row)>;
    using TDisplayEvent = std::function<void(const QString& text)>;
    using TEndEvent = std::function<void()>;

    explicit TPingSweep(QObject* parent = nullptr);
    // Waits for the sending thread, which ends within a wake-up of the stop, and the lookups.
    ~TPingSweep() override;

    // Starts the sweep; throws ERangeError for settings the one-echo engine refuses as well.
    void start(const TSettings& settings);
    // No row is handed over after this; the end event follows from the event loop.
    void stop();

    // The addresses of the walk, and those handed over as rows so far.
    std::uint64_t total() const { return m_total; }
    std::uint64_t done() const { return m_base; }
    bool stopped() const { return m_stopped; }

    // On this object's thread: each row in address order, each reason an echo could not be tried
    // (possibly more than once), and the end.
    TRowEvent OnRow;
    TDisplayEvent OnDisplay;
    TEndEvent OnEnd;

private:
    struct TPending
    {
        corvane::TPingRow row;
        std::uint32_t replies = 0;
        bool named = true; // false while its lookup runs
        QString name;
    };
    void sweepOnThread(std::uint64_t count);
    void result(std::uint64_t index, const TIcmpEchoReply& reply, std::uint32_t replies);
    void named(std::uint64_t index, const QString& name);
    void flush();
    void end();

    TSettings m_settings;
    std::unique_ptr<corvane::platform::icmp_sweep> m_sweep;
    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_stop {false};
    std::atomic<std::int64_t> m_inFlight {0}; // outcomes queued to this thread, not yet taken
    std::deque<TPending> m_pending;
    std::uint64_t m_base = 0; // index of m_pending.front(): rows handed over
    std::uint64_t m_total = 0;
    bool m_skipsBroadcast = false;
    bool m_sent = false; // the sending thread has returned
    bool m_stopped = false;
    bool m_ended = false;
    QThreadPool m_lookups;
};
