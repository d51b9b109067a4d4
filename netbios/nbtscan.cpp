#include "netbios/nbtscan.h"

#include "netbios/netBios_procs.h"
#include "platform/Clock.h"
#include "platform/FdCloser.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

time_value time_of_day()
{
    const std::int64_t ms = corvane::platform::monotonic_ms();
    return {static_cast<std::int32_t>(ms / 1000), static_cast<std::int32_t>(ms % 1000) * 1000};
}

time_value time_diff(time_value a, time_value b)
{
    time_value d{a.seconds - b.seconds, a.microseconds - b.microseconds};
    if (d.microseconds < 0) {
        d.seconds -= 1;
        d.microseconds += 1000000;
    }
    return d;
}

bool time_not_before(time_value a, time_value b)
{
    return a.seconds > b.seconds || (a.seconds == b.seconds && a.microseconds >= b.microseconds);
}

time_value send_interval(std::int32_t bandwidth)
{
    if (bandwidth <= 0)
        return {0, 1};
    const std::int32_t us = 624000000 / bandwidth;
    return {us / 1000000, us % 1000000};
}

std::uint32_t scan_transaction_id(time_value now, std::int32_t start_second)
{
    return static_cast<std::uint32_t>((now.seconds - start_second) * 1000 + now.microseconds / 1000);
}

int size_send_buffer(int socket, std::uint32_t addresses)
{
    // A query to an address on the link that has no host stays charged to the socket until address
    // resolution gives up (about 3 s); a UDP socket is writable only while less than half its buffer
    // is charged. At one query per millisecond a few thousand can be held at once. 1024 bytes per
    // query covers the kernel's charge for a 50-byte datagram (832 bytes on x86-64).
    constexpr std::uint32_t held_at_most = 4096;
    constexpr int charge_per_query = 1024;
    const int wanted = static_cast<int>(std::min(addresses, held_at_most)) * charge_per_query;
    int size = 0;
    socklen_t length = sizeof size;
    if (::getsockopt(socket, SOL_SOCKET, SO_SNDBUF, &size, &length) != 0)
        return -1;
    // The kernel doubles the value asked for and reports the doubled size.
    if (size / 2 >= wanted)
        return size;
    if (::setsockopt(socket, SOL_SOCKET, SO_SNDBUFFORCE, &wanted, sizeof wanted) != 0)
        ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &wanted, sizeof wanted);
    int now = 0;
    length = sizeof now;
    return ::getsockopt(socket, SOL_SOCKET, SO_SNDBUF, &now, &length) == 0 ? now : size;
}

namespace {

namespace ipv4 = corvane::ipv4;

// The wait time-out; while draining, the scan ends after this long without a datagram.
constexpr std::int64_t second_ns = 1000000000;

// inet_addr's reading, except that a text that is not an address gives 0 (an empty range) instead
// of INADDR_NONE, which would make the range run on to 255.255.255.255.
ipv4::THostAddr range_end(const QString& text)
{
    return ipv4::parse_lenient(text).value_or(ipv4::TNetAddr {}).host();
}

// 0.0.0.0 is no end of a range; reversed ends (under the signed walk rule) are an empty range.
bool scannable(ipv4::THostAddr first, ipv4::THostAddr last)
{
    return first.value != 0 && last.value != 0 && ipv4::walkable(first, last);
}

QString source_dotted(const sockaddr_in& from)
{
    return ipv4::dotted(ipv4::TNetAddr {from.sin_addr.s_addr});
}

// The nanoseconds left until the interval since last_send has passed on the millisecond clock.
std::int64_t ns_until_due(time_value last_send, time_value interval)
{
    const std::int64_t interval_us = std::int64_t{interval.seconds} * 1000000 + interval.microseconds;
    const std::int64_t due_ms = std::int64_t{last_send.seconds} * 1000 + last_send.microseconds / 1000
        + (interval_us + 999) / 1000;
    return due_ms * 1000000 - corvane::platform::monotonic_ns();
}

} // namespace

TNBTscanThread::TNBTscanThread(QObject* Receiver) : Receiver_(Receiver), HasReceiver_(Receiver != nullptr)
{
    // The end event runs on the creating thread, after the scan thread has finished.
    connect(
        this, &QThread::finished, this,
        [this] {
            if (OnTerminate && (!HasReceiver_ || Receiver_))
                OnTerminate(this);
            if (FreeOnTerminate)
                deleteLater();
        },
        Qt::QueuedConnection);
}

TNBTscanThread::~TNBTscanThread()
{
    if (!isRunning())
        return;
    // The scan may be blocked in a hand-over to this (the owner's) thread: drop pending hand-overs
    // until it has seen the request and ended.
    requestInterruption();
    while (!wait(10))
        QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
}

std::uint32_t TNBTscanThread::QueriesSent() const
{
    return QueriesSent_.load(std::memory_order_relaxed);
}

std::uint32_t TNBTscanThread::WaitingForResolution() const
{
    return WaitingForResolution_.load(std::memory_order_relaxed);
}

std::uint64_t TNBTscanThread::AddressCount() const
{
    const ipv4::THostAddr first = range_end(StartIP);
    const ipv4::THostAddr last = range_end(EndIP);
    return scannable(first, last) ? ipv4::walk_length(first, last) : 0;
}

void TNBTscanThread::run()
{
    RunScan();
}

bool TNBTscanThread::RunOnOwnerThread(const std::function<void()>& fn)
{
    bool ran = false;
    QMetaObject::invokeMethod(
        this,
        [&] {
            if (HasReceiver_ && !Receiver_)
                return;
            fn();
            ran = true;
        },
        Qt::BlockingQueuedConnection);
    return ran;
}

void TNBTscanThread::ReportError(const QString& Text)
{
    ErrorText = Text;
    RunOnOwnerThread([this] { CallOnError(); });
}

void TNBTscanThread::CallOnError()
{
    if (OnError)
        OnError(this, ErrorText);
}

bool TNBTscanThread::DeliverReply()
{
    if (ReportedIPs.contains(ReplyIP))
        return false;
    ReportedIPs.insert(ReplyIP);
    OnReceive(this, ReplyIP, ReplyResult);
    return true;
}

// The loop's state: pacing, the position in the range, and the drain's quiet second.
struct TNBTscanThread::TWalk
{
    time_value interval;
    time_value last_send;
    std::int32_t start_second;
    ipv4::THostAddr current;
    ipv4::THostAddr last;
    bool sending = true;
    bool all_queried = false;
    std::int64_t quiet_until_ns = 0;
    bool quiet_restarts = false;
    sockaddr_in from {};
};

void TNBTscanThread::RunScan()
{
    ReportedIPs.clear();
    QueriesSent_ = 0;
    SetupFailure_ = TScanSetupFailure::None;

    const ipv4::THostAddr first = range_end(StartIP);
    const ipv4::THostAddr last = range_end(EndIP);
    if (!scannable(first, last))
        return;

    // Closed on every way out, a failed bind included.
    const corvane::platform::fd_closer socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    // A walk of all 2^32 addresses counts 0 in 32 bits and keeps the default buffer.
    if (!SetUpSocket(socket.fd, static_cast<std::uint32_t>(ipv4::walk_length(first, last))))
        return;
    QueryRange(socket.fd, first, last);
    FinishScan(socket.fd);
}

void TNBTscanThread::FailSetUp(TScanSetupFailure why, const QString& Text)
{
    SetupFailure_ = why;
    ReportError(Text);
}

bool TNBTscanThread::SetUpSocket(int fd, std::uint32_t addresses)
{
    if (fd < 0) {
        FailSetUp(TScanSetupFailure::Socket, QStringLiteral("Failed to create socket"));
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(UsePort137 ? nb_name_service_port : 0);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == -1) {
        FailSetUp(TScanSetupFailure::Bind, QStringLiteral("Failed to bind"));
        return false;
    }
    // A range larger than the buffer holds only waits for room: every query still goes out.
    if (SizeSendBuffer)
        size_send_buffer(fd, addresses);
    return true;
}

void TNBTscanThread::QueryRange(int fd, ipv4::THostAddr first, ipv4::THostAddr last)
{
    TWalk walk;
    walk.interval = send_interval(Bandwidth);
    walk.last_send = time_of_day();
    walk.start_second = walk.last_send.seconds;
    walk.current = first;
    walk.last = last;

    while (!isInterruptionRequested()) {
        pollfd pfd{fd, POLLIN, 0};
        const TWoke woke = WaitForSocket(pfd, walk);
        // A signal landing on this thread is no failed wait: wait on for what is left of the second.
        if (woke == TWoke::Signal)
            continue;
        if (woke == TWoke::Nothing || isInterruptionRequested()) {
            if (!walk.sending)
                break;
            continue;
        }
        if ((pfd.revents & (POLLIN | POLLERR)) && !ReceiveAnswer(fd, walk))
            continue;
        if (walk.sending && (pfd.revents & POLLOUT)
            && time_not_before(time_diff(time_of_day(), walk.last_send), walk.interval))
            SendNextQuery(fd, walk);
    }
}

TNBTscanThread::TWoke TNBTscanThread::WaitForSocket(pollfd& pfd, TWalk& walk)
{
    // While sending and not yet due, sleep until the next millisecond tick instead of spinning
    // on a writable socket; answers still wake the wait at once.
    std::int64_t wait_ns = second_ns;
    if (walk.sending) {
        const std::int64_t left = ns_until_due(walk.last_send, walk.interval);
        if (left <= 0)
            pfd.events |= POLLOUT;
        else
            wait_ns = left < wait_ns ? left : wait_ns;
    } else {
        if (walk.quiet_restarts) {
            walk.quiet_until_ns = corvane::platform::monotonic_ns() + second_ns;
            walk.quiet_restarts = false;
        }
        const std::int64_t left = walk.quiet_until_ns - corvane::platform::monotonic_ns();
        wait_ns = left > 0 ? left : 0;
    }
    const timespec timeout {static_cast<time_t>(wait_ns / second_ns), static_cast<long>(wait_ns % second_ns)};
    const int ready = ::ppoll(&pfd, 1, &timeout, nullptr);
    if (ready < 0 && errno == EINTR)
        return TWoke::Signal;
    return ready <= 0 ? TWoke::Nothing : TWoke::Socket;
}

bool TNBTscanThread::ReceiveAnswer(int fd, TWalk& walk)
{
    walk.quiet_restarts = true;
    alignas(8) std::uint8_t buffer[1024];
    socklen_t from_length = sizeof walk.from;
    const ssize_t got = ::recvfrom(fd, buffer, sizeof buffer, MSG_TRUNC | MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&walk.from), &from_length);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return false;
    // MSG_TRUNC makes a datagram larger than the buffer report its real length: not a
    // silently cut answer but a failed receive.
    if (got <= 0 || got > static_cast<ssize_t>(sizeof buffer)) {
        ReportError(QStringLiteral("Recieved failed from ") + source_dotted(walk.from));
        return false;
    }
    nb_status_result* result = parse_response(buffer, static_cast<std::int32_t>(got));
    if (!result) {
        ReportError(QStringLiteral("parse_response returned NULL"));
        return false;
    }
    // Bound to port 137 the socket also hears the name service's requests: registrations
    // that every host broadcasts, our own query to an address of this machine. They are no
    // answers, and taking one would use up the sender's single delivery. On a port of its
    // own the socket hears only what is sent to it, and all of that is delivered.
    if (UsePort137 && result->status_header && result->parsed_length >= 4
        && (result->status_header->header_flags & 0x8000) == 0) {
        release_result(result);
        return false;
    }
    bool handed_over = false;
    if (OnReceive) {
        ReplyIP = source_dotted(walk.from);
        ReplyResult = result;
        RunOnOwnerThread([this, &handed_over] { handed_over = DeliverReply(); });
        ReplyResult = nullptr;
    }
    if (!handed_over || FreeResults)
        release_result(result);
    return true;
}

void TNBTscanThread::SendNextQuery(int fd, TWalk& walk)
{
    if (walk.all_queried) {
        walk.sending = false;
        walk.quiet_restarts = true;
        return;
    }
    const ipv4::THostAddr to = walk.current;
    const std::uint32_t tid = scan_transaction_id(time_of_day(), walk.start_second);
    if (send_status_query(fd, to.net().value, static_cast<std::uint16_t>(tid & 0xFFFF)) == -1)
        ReportError(QStringLiteral("Send to %1 failed").arg(ipv4::dotted(to)));
    QueriesSent_.fetch_add(1, std::memory_order_relaxed);
    // The address after the last one is never formed, so a range ending at
    // 127.255.255.255 (or 255.255.255.255) cannot wrap.
    if (walk.current == walk.last)
        walk.all_queried = true;
    else
        ++walk.current.value;
    walk.last_send = time_of_day();
}

void TNBTscanThread::FinishScan(int fd)
{
    ::shutdown(fd, SHUT_RDWR);
    ReportedIPs.clear();
}
