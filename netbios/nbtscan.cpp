#include "netbios/nbtscan.h"

#include "netbios/netBios_procs.h"
#include "platform/ArpSweep.h"
#include "platform/Clock.h"
#include "platform/ErrorQueue.h"
#include "platform/FdCloser.h"
#include "platform/QueryPacer.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

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

// The transaction ids this scan has put on the wire (the low 16 bits of the scan clock).
class TSentIds
{
public:
    void add(std::uint16_t id) { m_bits[id / 64] |= std::uint64_t{1} << (id % 64); }
    bool contains(std::uint16_t id) const { return (m_bits[id / 64] >> (id % 64)) & 1u; }

private:
    std::vector<std::uint64_t> m_bits = std::vector<std::uint64_t>(65536 / 64);
};

// A node-status answer to one of this scan's queries: a response (opcode 0, no error code) carrying an
// NBSTAT record of class IN. Anything else reaching the socket (stray bytes, other hosts' name
// service traffic) makes no host row. The record's type and class end at byte 50.
bool is_status_answer(const nb_status_result& r, const TSentIds& sent)
{
    constexpr std::int32_t type_and_class_end = 50;
    const nb_status_header* h = r.status_header;
    if (!h || r.parsed_length < type_and_class_end)
        return false;
    const std::uint16_t flags = h->header_flags;
    const bool response = (flags & 0x8000) != 0;
    const unsigned opcode = (flags >> 11) & 0xF;
    const unsigned rcode = flags & 0xF;
    return response && opcode == 0 && rcode == 0 && h->rr_type == 0x21 && h->rr_class == 1
        && sent.contains(h->transaction_id);
}

// The addresses a scan walks: StartIP..EndIP under the signed walk rule, or the union of Targets.
struct TOrder
{
    std::vector<ipv4::THostRange> ranges; // ascending (one range for StartIP..EndIP)
    std::vector<std::uint64_t> starts;    // index of each range's first address
    std::uint64_t count = 0;

    void add(ipv4::THostAddr first, std::uint64_t length)
    {
        ranges.push_back({first, ipv4::THostAddr{static_cast<std::uint32_t>(first.value + length - 1)}});
        starts.push_back(count);
        count += length;
    }
    std::uint32_t address(std::uint64_t index) const // network order
    {
        const auto at = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), index) - starts.begin() - 1);
        return ipv4::THostAddr{static_cast<std::uint32_t>(ranges[at].first.value + (index - starts[at]))}.net().value;
    }
    std::optional<std::uint64_t> index(std::uint32_t net_address) const
    {
        if (ranges.empty())
            return std::nullopt;
        const std::uint32_t a = ipv4::TNetAddr{net_address}.host().value;
        // Several ranges are ascending and disjoint: the last one starting at or below a may hold it.
        // One range may wrap (a signed walk from 255.255.255.255 to 0.0.0.0): then it is the only one.
        std::size_t i = 0;
        if (ranges.size() > 1) {
            const auto after = std::upper_bound(ranges.begin(), ranges.end(), a,
                                                [](std::uint32_t v, const ipv4::THostRange& r) { return v < r.first.value; });
            if (after == ranges.begin())
                return std::nullopt;
            i = static_cast<std::size_t>(after - ranges.begin() - 1);
        }
        const std::uint64_t length = (i + 1 < starts.size() ? starts[i + 1] : count) - starts[i];
        // Unsigned: a signed walk may pass from 255.255.255.255 to 0.0.0.0.
        const std::uint32_t offset = a - ranges[i].first.value;
        if (offset < length)
            return starts[i] + offset;
        return std::nullopt;
    }
};

TOrder walk_order(const std::vector<ipv4::THostRange>& targets, const QString& start, const QString& end)
{
    TOrder order;
    if (!targets.empty()) {
        for (const ipv4::THostRange& r : ipv4::merge_ranges(targets))
            order.add(r.first, r.count());
        return order;
    }
    const ipv4::THostAddr first = range_end(start);
    const ipv4::THostAddr last = range_end(end);
    if (scannable(first, last))
        order.add(first, ipv4::walk_length(first, last));
    return order;
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

std::uint32_t TNBTscanThread::FailedSends() const
{
    return FailedSends_.load(std::memory_order_relaxed);
}

std::uint32_t TNBTscanThread::WaitingForResolution() const
{
    return WaitingForResolution_.load(std::memory_order_relaxed);
}

std::uint64_t TNBTscanThread::AddressCount() const
{
    return walk_order(Targets, StartIP, EndIP).count;
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

// The loop's state: pacing, the pacer over the addresses, and the drain's quiet second.
struct TNBTscanThread::TWalk
{
    TOrder order;
    std::optional<corvane::platform::query_pacer> pacer;
    // Pacing: the window's one query per tick of the millisecond clock (or per Bandwidth interval) on
    // the scan clock; with a Rate, a grid in nanoseconds.
    time_value interval;
    time_value last_send;
    std::int32_t start_second;
    bool rate_grid = false;
    std::int64_t grid_interval_ns = 0;
    std::int64_t next_due_ns = 0;
    // What the pacer said at the last look: a query, a wait for room, or the end of the pass.
    corvane::platform::query_pacer::step next;
    bool sending = true;
    std::int64_t quiet_until_ns = 0;
    bool quiet_restarts = false;
    sockaddr_in from {};
    TSentIds sent_ids;
    // Datagrams dropped as no answer to this scan: one line for all of them at the end.
    std::uint64_t dropped = 0;
    std::uint32_t dropped_from = 0; // the first sender, network order
    bool dropped_from_others = false;
    // On-link addresses our own address resolution found empty: never queried, counted as done.
    std::uint64_t skipped = 0;

    bool due() const
    {
        if (rate_grid)
            return corvane::platform::monotonic_ns() >= next_due_ns;
        return time_not_before(time_diff(time_of_day(), last_send), interval);
    }
    std::int64_t ns_to_due() const
    {
        return rate_grid ? next_due_ns - corvane::platform::monotonic_ns() : ns_until_due(last_send, interval);
    }
    void attempted()
    {
        last_send = time_of_day();
        if (!rate_grid)
            return;
        // A late send moves the grid instead of bunching the queries that are behind.
        const std::int64_t now = corvane::platform::monotonic_ns();
        next_due_ns = now - next_due_ns > 1000000 ? now + grid_interval_ns : next_due_ns + grid_interval_ns;
    }
};

void TNBTscanThread::RunScan()
{
    ReportedIPs.clear();
    QueriesSent_ = 0;
    FailedSends_ = 0;
    WaitingForResolution_ = 0;
    SetupFailure_ = TScanSetupFailure::None;

    TWalk walk;
    walk.order = walk_order(Targets, StartIP, EndIP);
    if (walk.order.count == 0)
        return;

    // Closed on every way out, a failed bind included.
    const corvane::platform::fd_closer socket(
        ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_UDP));
    // A walk of all 2^32 addresses counts 0 in 32 bits and keeps the default buffer.
    if (!SetUpSocket(socket.fd, static_cast<std::uint32_t>(walk.order.count)))
        return;
    ResolveOnLink(walk);
    if (walk.order.count > 0)
        QueryRange(socket.fd, walk);
    ReportDropped(walk);
    FinishScan(socket.fd);
}

void TNBTscanThread::ReportDropped(const TWalk& walk)
{
    if (walk.dropped == 0)
        return;
    const QString sender = ipv4::dotted(ipv4::TNetAddr{walk.dropped_from});
    if (walk.dropped == 1)
        ReportError(QStringLiteral("Dropped a datagram from %1: not a node-status answer to this scan").arg(sender));
    else
        ReportError(QStringLiteral("Dropped %1 datagrams from %2%3: not node-status answers to this scan")
                        .arg(walk.dropped)
                        .arg(sender, walk.dropped_from_others ? QStringLiteral(" and others") : QString()));
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
    // Without it the kernel drops a query it has no neighbour entry for, and the send says nothing;
    // with it the send reports the refusal, and ICMP errors come to the error queue.
    const int on = 1;
    ::setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on);
    // A range larger than the buffer holds only waits for room: every query still goes out.
    if (SizeSendBuffer)
        size_send_buffer(fd, addresses);
    // Above the window's pace answers can come faster than they are handed over: a second of them
    // waits in the receive buffer instead of being dropped (about 2 KB each as the kernel counts).
    if (Rate > 1000) {
        const int wanted = static_cast<int>(std::min<std::uint32_t>(std::min(addresses - 1, 99999u) + 1,
                                                                    static_cast<std::uint32_t>(std::min(Rate, 100000))))
            * 2048;
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted) != 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    }
    return true;
}

namespace {

// How many queries the send buffer holds while they wait for address resolution: the socket is
// writable while less than half of it is charged (832 bytes a query on x86-64).
std::uint32_t buffer_room(int fd)
{
    int size = 0;
    socklen_t length = sizeof size;
    if (::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, &length) != 0 || size <= 0)
        return 0xFFFFFFFFu;
    return std::max<std::uint32_t>(1, static_cast<std::uint32_t>(size / 2 / 832));
}

} // namespace

void TNBTscanThread::QueryRange(int fd, TWalk& walk)
{
    corvane::platform::pacer_options options;
    options.retries = std::clamp(Retries, 0, 10);
    options.buffer_room = buffer_room(fd);
    const TOrder& order = walk.order;
    walk.pacer.emplace(
        corvane::platform::system_pacer_view(), order.count, [&order](std::uint64_t i) { return order.address(i); },
        options, [&order](std::uint32_t a) { return order.index(a); });

    walk.interval = send_interval(Bandwidth);
    walk.last_send = time_of_day();
    walk.start_second = walk.last_send.seconds;
    if (Rate > 0) {
        walk.rate_grid = true;
        walk.grid_interval_ns = 1000000000 / std::clamp(Rate, 1, 100000);
        if (Bandwidth > 0)
            walk.grid_interval_ns = std::max<std::int64_t>(
                walk.grid_interval_ns, (std::int64_t{walk.interval.seconds} * 1000000 + walk.interval.microseconds) * 1000);
        walk.next_due_ns = corvane::platform::monotonic_ns();
    }

    while (!isInterruptionRequested()) {
        pollfd pfd{fd, POLLIN, 0};
        const TWoke woke = WaitForSocket(pfd, walk);
        // A signal landing on this thread is no failed wait: wait on for what is left of the second.
        if (woke == TWoke::Signal)
            continue;
        if (woke == TWoke::Nothing || isInterruptionRequested()) {
            if (!walk.sending && DrainEnded(walk))
                break;
            continue;
        }
        if (pfd.revents & POLLERR)
            ReadErrorQueue(fd, walk);
        if ((pfd.revents & POLLIN) && !ReceiveAnswer(fd, walk))
            continue;
        if (walk.sending && (pfd.revents & POLLOUT) && walk.due())
            SendNextQuery(fd, walk);
    }
    WaitingForResolution_ = 0;
}

bool TNBTscanThread::DrainEnded(TWalk& walk)
{
    // A quiet second after the last pass: the scan is over. Before a further pass, the resolutions
    // still pending end first, so that only addresses without any outcome are asked again.
    corvane::platform::query_pacer& pacer = *walk.pacer;
    if (corvane::platform::monotonic_ns() < walk.quiet_until_ns)
        return false;
    if (!pacer.more_passes())
        return true;
    pacer.refresh();
    WaitingForResolution_ = pacer.pending();
    if (pacer.pending() > 0)
        return false;
    pacer.next_pass();
    walk.sending = true;
    return false;
}

TNBTscanThread::TWoke TNBTscanThread::WaitForSocket(pollfd& pfd, TWalk& walk)
{
    // While sending and not yet due, sleep until the next send is due instead of spinning on a
    // writable socket; answers and errors still wake the wait at once.
    std::int64_t wait_ns = second_ns;
    if (walk.sending) {
        const std::int64_t left = walk.ns_to_due();
        if (left > 0) {
            wait_ns = std::min(left, wait_ns);
        } else {
            walk.next = walk.pacer->next();
            WaitingForResolution_ = walk.pacer->pending();
            switch (walk.next.kind) {
            case corvane::platform::query_pacer::step_kind::query:
                pfd.events |= POLLOUT;
                break;
            case corvane::platform::query_pacer::step_kind::wait:
                wait_ns = std::clamp<std::int64_t>(walk.pacer->wake_ns() - corvane::platform::monotonic_ns(), 0,
                                                   wait_ns);
                break;
            case corvane::platform::query_pacer::step_kind::pass_end:
                // Every address has been queried: from now on only answers are awaited.
                walk.sending = false;
                walk.quiet_restarts = true;
                break;
            }
        }
    }
    if (!walk.sending) {
        if (walk.quiet_restarts) {
            walk.quiet_until_ns = corvane::platform::monotonic_ns() + second_ns;
            walk.quiet_restarts = false;
        }
        std::int64_t left = walk.quiet_until_ns - corvane::platform::monotonic_ns();
        // Waiting for resolutions to end before a further pass: look at the table again soon.
        if (left <= 0 && walk.pacer->more_passes())
            left = std::min<std::int64_t>(walk.pacer->wake_ns() - corvane::platform::monotonic_ns(), second_ns);
        wait_ns = left > 0 ? left : 0;
    }
    const timespec timeout {static_cast<time_t>(wait_ns / second_ns), static_cast<long>(wait_ns % second_ns)};
    const int ready = ::ppoll(&pfd, 1, &timeout, nullptr);
    if (ready < 0 && errno == EINTR)
        return TWoke::Signal;
    return ready <= 0 ? TWoke::Nothing : TWoke::Socket;
}

int TNBTscanThread::ReadErrorQueue(int fd, TWalk& walk)
{
    // ICMP errors for earlier queries: port unreachable (a host without the name service), host
    // unreachable (from a router, or this machine's own failed address resolution). Each ends its
    // address, which answers nothing: no line.
    const int read = corvane::platform::read_error_queue(fd, [&](const corvane::platform::TQueuedError& e) {
        walk.pacer->ended(e.destination);
        // Only the address itself saying "port unreachable" shows a host; a router's or our own
        // resolution's "host unreachable" shows none.
        if (OnPresence && e.portUnreachable() && e.offender && e.offender->sin_addr.s_addr == e.destination)
            OnPresence(e.destination, TPresence::PortUnreachable);
    });
    WaitingForResolution_ = walk.pacer->pending();
    return read;
}

bool TNBTscanThread::ReceiveAnswer(int fd, TWalk& walk)
{
    alignas(8) std::uint8_t buffer[1024];
    socklen_t from_length = sizeof walk.from;
    const ssize_t got = ::recvfrom(fd, buffer, sizeof buffer, MSG_TRUNC | MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&walk.from), &from_length);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return false;
    // An ICMP error pending on the socket, not a datagram: its entry waits in the error queue.
    if (got < 0 && corvane::platform::is_icmp_error(errno)) {
        ReadErrorQueue(fd, walk);
        return true;
    }
    // Bound to port 137 the socket also hears the name service's requests: registrations
    // that every host broadcasts, our own query to an address of this machine. They are no
    // answers: taking one would use up the sender's single delivery, and letting them hold the
    // drain open would keep the scan going as long as hosts broadcast. On a port of its own the
    // socket hears only what is sent to it, and all of that is delivered.
    const auto request_on_137 = [&](const nb_status_result* r) {
        return UsePort137 && r->status_header && r->parsed_length >= 4 && (r->status_header->header_flags & 0x8000) == 0;
    };
    nb_status_result* result = got > 0 && got <= static_cast<ssize_t>(sizeof buffer)
        ? parse_response(buffer, static_cast<std::int32_t>(got))
        : nullptr;
    if (result && request_on_137(result)) {
        release_result(result);
        return false;
    }
    // Like the requests, neither an answer nor a reason to keep the drain open; but said once.
    if (result && !is_status_answer(*result, walk.sent_ids)) {
        release_result(result);
        if (walk.dropped++ == 0)
            walk.dropped_from = walk.from.sin_addr.s_addr;
        else if (walk.from.sin_addr.s_addr != walk.dropped_from)
            walk.dropped_from_others = true;
        return false;
    }
    walk.quiet_restarts = true;
    if (got > 0)
        walk.pacer->answered(walk.from.sin_addr.s_addr);
    // MSG_TRUNC makes a datagram larger than the buffer report its real length: not a
    // silently cut answer but a failed receive.
    if (got <= 0 || got > static_cast<ssize_t>(sizeof buffer)) {
        ReportError(QStringLiteral("Recieved failed from ") + source_dotted(walk.from));
        return false;
    }
    if (!result) {
        ReportError(QStringLiteral("parse_response returned NULL"));
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
    using corvane::platform::query_pacer;
    const query_pacer::step step = walk.next;
    if (step.kind != query_pacer::step_kind::query)
        return;
    walk.next = {};
    const std::uint32_t tid = scan_transaction_id(time_of_day(), walk.start_second);
    if (send_status_query(fd, step.destination, static_cast<std::uint16_t>(tid & 0xFFFF)) == -1) {
        const int err = errno;
        // An ICMP error of an earlier query may be what the send reported: read the queue first.
        const bool queued = ReadErrorQueue(fd, walk) > 0;
        if (walk.pacer->send_failed(step, err, queued) != query_pacer::send_result::resend) {
            FailedSends_.fetch_add(1, std::memory_order_relaxed);
            ReportError(QStringLiteral("Send to %1 failed: %2")
                            .arg(ipv4::dotted(ipv4::TNetAddr{step.destination}), walk.pacer->failure_text()));
        }
    } else {
        walk.sent_ids.add(static_cast<std::uint16_t>(tid & 0xFFFF));
        walk.pacer->sent(step);
    }
    QueriesSent_.store(static_cast<std::uint32_t>(walk.skipped + walk.pacer->queried()), std::memory_order_relaxed);
    WaitingForResolution_.store(walk.pacer->pending(), std::memory_order_relaxed);
    walk.attempted();
}

void TNBTscanThread::ResolveOnLink(TWalk& walk)
{
    namespace platform = corvane::platform;
    // Up to a few hundred on-link addresses the kernel's resolution costs no time (the pacer's table
    // budget holds them); beyond a million, looking up every address's route would.
    constexpr std::uint64_t fits_table = 512;
    constexpr std::uint64_t most_routes = std::uint64_t {1} << 20;
    if (walk.order.count <= fits_table || walk.order.count > most_routes || !platform::can_resolve_addresses())
        return;
    std::vector<std::uint32_t> kept; // host order: routed, local and unreachable ones, then who answered
    const TOrder& order = walk.order;
    const std::vector<platform::on_link_part> parts = platform::split_on_link(
        order.count, [&order](std::uint64_t i) { return order.address(i); },
        [&kept](std::uint32_t a) { kept.push_back(ntohl(a)); });
    std::uint64_t on_link = 0;
    for (const platform::on_link_part& part : parts)
        on_link += part.addresses.size();
    if (on_link <= fits_table || isInterruptionRequested())
        return;

    platform::arp_sweep_options options;
    options.rate = Rate > 0 ? std::clamp(Rate, 1, 100000) : 1000;
    // A frame is 84 bytes on the wire with its padding, preamble and gap.
    if (Bandwidth > 0)
        options.rate = std::clamp(std::min(options.rate, Bandwidth / 672), 1, 100000);
    // A reply on the link comes within milliseconds; arp-scan waits 500 ms for one too.
    options.wait_ns = 500'000'000;
    options.stopped = [this] { return isInterruptionRequested(); };
    // Until the sweep ends, the addresses it asked are waiting for address resolution.
    options.progress = [this](std::size_t asked, std::size_t answered) {
        WaitingForResolution_.store(static_cast<std::uint32_t>(asked - answered), std::memory_order_relaxed);
    };
    const platform::arp_survey survey = platform::resolve_on_link(parts, options);
    WaitingForResolution_ = 0;
    if (!survey.ran) {
        // Today's path: the kernel resolves as the queries go.
        return;
    }
    // On-link addresses the sweep did not ask (outside the interface's subnet) are queried as today.
    std::vector<std::uint32_t> swept(survey.swept.size());
    std::transform(survey.swept.begin(), survey.swept.end(), swept.begin(), [](std::uint32_t a) { return ntohl(a); });
    for (const platform::on_link_part& part : parts)
        for (std::uint32_t a : part.addresses)
            if (!std::binary_search(swept.begin(), swept.end(), ntohl(a)))
                kept.push_back(ntohl(a));
    for (const platform::arp_reply& r : survey.replies)
        kept.push_back(ntohl(r.sender_ip));
    std::sort(kept.begin(), kept.end());
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());

    TOrder narrowed;
    for (std::size_t i = 0; i < kept.size();) {
        std::size_t j = i + 1;
        while (j < kept.size() && kept[j] == kept[j - 1] + 1)
            ++j;
        narrowed.add(ipv4::THostAddr {kept[i]}, j - i);
        i = j;
    }
    walk.skipped = walk.order.count - narrowed.count;
    walk.order = std::move(narrowed);
    QueriesSent_.store(static_cast<std::uint32_t>(walk.skipped), std::memory_order_relaxed);
}

void TNBTscanThread::FinishScan(int fd)
{
    ::shutdown(fd, SHUT_RDWR);
    ReportedIPs.clear();
}
