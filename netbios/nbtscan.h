#pragma once
// TNBTscanThread: one node-status scan of an IPv4 range in the background.
//
// Create it (it is not running yet), set the fields, then Resume(). OnReceive, OnError and OnTerminate
// run on the thread that created the object while the scan thread waits for them. With
// FreeOnTerminate the object deletes itself after OnTerminate.

#include "netbios/netBios_types.h"
#include "platform/Ipv4.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

struct pollfd;

// A time as whole seconds and microseconds (0 .. 999999).
struct time_value
{
    std::int32_t seconds;
    std::int32_t microseconds;
};

// The scan clock: a monotonic millisecond clock split into seconds and microseconds, so pacing and
// transaction ids never go back (not even across midnight).
time_value time_of_day();
time_value time_diff(time_value a, time_value b);
bool time_not_before(time_value a, time_value b);
// The pause between two queries: 78 bytes on the wire (query, UDP and IPv4 headers) at bandwidth
// bits per second; 1 microsecond when bandwidth is 0 or less.
time_value send_interval(std::int32_t bandwidth);
// Milliseconds since the scan's start second T0; the wire carries the low 16 bits.
std::uint32_t scan_transaction_id(time_value now, std::int32_t start_second);
// Grows the socket's send buffer to hold the queries of a range of that many addresses while they
// wait for address resolution (SO_SNDBUFFORCE where the process may, else SO_SNDBUF, which the
// kernel caps at twice net.core.wmem_max); never shrinks it. Gives the buffer size it then has.
int size_send_buffer(int socket, std::uint32_t addresses);

// Why a scan ended in its set-up, beside the line it reported ("Failed to create socket",
// "Failed to bind"); None when the set-up went through or the range was empty.
enum class TScanSetupFailure { None, Socket, Bind };

class TNBTscanThread : public QThread
{
    Q_OBJECT

public:
    using TReceiveEvent = std::function<void(TNBTscanThread* Sender, const QString& IP, nb_status_result* Result)>;
    using TErrorEvent = std::function<void(TNBTscanThread* Sender, const QString& Text)>;
    using TNotifyEvent = std::function<void(TNBTscanThread* Sender)>;

    // Receiver, when given, guards the hand-overs: once it is destroyed nothing more is handed over,
    // and results that could not be handed over are released by the thread.
    explicit TNBTscanThread(QObject* Receiver = nullptr);
    ~TNBTscanThread() override;

    QString StartIP;
    QString EndIP;
    QString ErrorText;
    bool UsePort137 = false;
    bool FreeResults = true;
    std::int32_t Bandwidth = 0;
    bool SizeSendBuffer = true; // false keeps the system's default send buffer (for measurements)
    QString ReplyIP;
    nb_status_result* ReplyResult = nullptr;
    QSet<QString> ReportedIPs;
    TReceiveEvent OnReceive;
    TErrorEvent OnError;
    TNotifyEvent OnTerminate; // the end event
    bool FreeOnTerminate = false;
    // When not empty, the scan walks these instead of StartIP..EndIP: their union, ascending in plain
    // order, each address once (corvane-scan's several ranges).
    std::vector<corvane::ipv4::THostRange> Targets;
    // Addresses that neither answered nor failed address resolution are queried again, up to this many
    // more times (0..10). The window leaves it at 0: one query per address.
    std::int32_t Retries = 0;
    // Queries per second (1..100000); 0 or less: one per tick of the millisecond clock, the window's pace.
    // With a Bandwidth as well, the slower of the two.
    std::int32_t Rate = 0;
    // Signs of a host that come without an answer; the devices survey counts them, the window does not.
    enum class TPresence { PortUnreachable };
    // When set, called on the scan thread for a port unreachable sent by the queried address itself
    // (address in network order).
    std::function<void(std::uint32_t Address, TPresence How)> OnPresence;

    void Resume() { start(); }
    void Terminate() { requestInterruption(); }
    bool Terminated() const { return isInterruptionRequested(); }

    // Addresses queried so far in the current scan, each counted once, also those whose send failed
    // (readable from any thread; for progress display).
    std::uint32_t QueriesSent() const;
    // Addresses of the current scan that could not be queried at all: each send failure reported as
    // "Send to ... failed" (readable from any thread; for the end-of-scan summary).
    std::uint32_t FailedSends() const;
    // Queries to on-link addresses whose address resolution is still pending (readable from any thread).
    std::uint32_t WaitingForResolution() const;
    // The number of addresses a scan queries (of Targets, or from StartIP to EndIP); 0 for a range it refuses.
    std::uint64_t AddressCount() const;
    // The set-up failure of the last scan; read it after the scan or from OnError.
    TScanSetupFailure SetupFailure() const { return SetupFailure_; }

protected:
    void run() override;
    void RunScan();
    void ReportError(const QString& Text);
    void CallOnError();
    bool DeliverReply();

private:
    struct TWalk; // the loop's pacing, the pacer over the addresses, the drain's quiet second
    enum class TWoke { Signal, Nothing, Socket };

    // The scan's steps.
    bool SetUpSocket(int fd, std::uint32_t addresses);
    // With CAP_NET_RAW, a large range's on-link addresses that do not answer our own address
    // resolution leave the walk: nobody there can answer a query.
    void ResolveOnLink(TWalk& walk);
    void QueryRange(int fd, TWalk& walk);
    void FinishScan(int fd);
    void ReportDropped(const TWalk& walk);
    // One pass of the loop: wait, read the error queue, take one answer (false: skip this pass's send),
    // send the next query.
    TWoke WaitForSocket(pollfd& pfd, TWalk& walk);
    int ReadErrorQueue(int fd, TWalk& walk);
    bool ReceiveAnswer(int fd, TWalk& walk);
    void SendNextQuery(int fd, TWalk& walk);
    bool DrainEnded(TWalk& walk);
    void FailSetUp(TScanSetupFailure why, const QString& Text);

    // Runs fn on the creating thread and waits for it; false when it could not run there.
    bool RunOnOwnerThread(const std::function<void()>& fn);

    QPointer<QObject> Receiver_;
    bool HasReceiver_;
    std::atomic<std::uint32_t> QueriesSent_{0};
    std::atomic<std::uint32_t> FailedSends_{0};
    std::atomic<std::uint32_t> WaitingForResolution_{0};
    TScanSetupFailure SetupFailure_ = TScanSetupFailure::None;
};
