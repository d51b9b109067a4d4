#include "platform/IcmpSweep.h"
#include "platform/IcmpSocket.h"
#include "platform/Ipv4.h"
#include "platform/QueryPacer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace corvane::platform {

namespace {

// One sequence number per address in flight: at most this many are out at once.
constexpr std::uint64_t sequence_space = 65536;

// Kernel receive stamps are wall-clock times.
std::int64_t real_us()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Grows a socket buffer; the FORCE variant passes net.core.[rw]mem_max where we have CAP_NET_ADMIN.
void grow_buffer(int fd, int option, int force_option, int bytes)
{
    int current = 0;
    socklen_t len = sizeof(current);
    // The kernel reports twice what was set.
    if (::getsockopt(fd, SOL_SOCKET, option, &current, &len) == 0 && current / 2 >= bytes)
        return;
    if (::setsockopt(fd, SOL_SOCKET, force_option, &bytes, sizeof(bytes)) != 0)
        ::setsockopt(fd, SOL_SOCKET, option, &bytes, sizeof(bytes));
}

struct slot
{
    enum class state : std::uint8_t
    {
        free,
        outstanding,
        done
    };
    state st = state::free;
    std::uint32_t to = 0; // network order
    bool reused = false;  // an earlier address had this slot and sequence
    std::int64_t sent_mono = 0;
    std::int64_t sent_real = 0;
    TIcmpEchoReply record{};
    std::uint32_t replies = 0;
};

} // namespace

int icmp_sweep::buffer_bytes(std::uint64_t count)
{
    // About 2 KB of kernel memory per queued request; ARP gives up after 3 s, so 3,000 at most at one per ms.
    return static_cast<int>(std::clamp<std::uint64_t>(count, 128, 4096) * 2048);
}

icmp_sweep::icmp_sweep()
{
    icmp_socket s = open_icmp_socket();
    m_fd = s.fd;
    m_kind = s.kind;
    m_ident = s.ident;
    m_failure_text = std::move(s.failure_text);
    if (m_fd >= 0) {
        const int on = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
        // Without it a raw socket's echo that finds the neighbour table full is dropped and the send
        // says nothing (the datagram socket has it already).
        ::setsockopt(m_fd, SOL_IP, IP_RECVERR, &on, sizeof(on));
    }
}

void icmp_sweep::set_rate(std::int32_t per_second)
{
    m_interval_us = per_second > 0 ? std::max<std::int64_t>(1, 1000000 / per_second) : 1000;
}

icmp_sweep::~icmp_sweep()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void icmp_sweep::run(std::uint64_t count, const address_fn& address, const void* data, std::uint16_t size,
                     const TIpOptionInfo* options, std::uint32_t timeout_ms, const result_fn& result,
                     const display_fn& display, const std::atomic<bool>* stop)
{
    m_sent = 0;
    const auto stopping = [&] { return stop && stop->load(std::memory_order_relaxed); };
    // Every echo fails alike: the outcome the one-echo facility gives each address.
    const auto fail_all = [&](std::uint32_t status) {
        for (std::uint64_t i = 0; i < count && !stopping(); ++i) {
            TIcmpEchoReply r{};
            r.Status = status;
            m_sent.fetch_add(1, std::memory_order_relaxed);
            result(i, r, 0);
        }
    };
    if (count == 0)
        return;
    if (m_fd < 0) {
        if (display)
            display(m_failure_text);
        fail_all(ip_status::general_failure);
        return;
    }
    std::string option_text;
    if (const std::uint32_t refused = apply_echo_options(m_fd, options, option_text)) {
        if (display && !option_text.empty())
            display(option_text);
        fail_all(refused);
        return;
    }
    grow_buffer(m_fd, SO_SNDBUF, SO_SNDBUFFORCE, buffer_bytes(count));
    grow_buffer(m_fd, SO_RCVBUF, SO_RCVBUFFORCE, buffer_bytes(count));

    const bool raw = m_kind == icmp_echo_handle::socket_kind::raw;
    const std::uint64_t window = std::min(count, sequence_space);
    std::vector<slot> slots(window);
    std::vector<unsigned char> buf(icmp_receive_room);
    const auto base = static_cast<std::uint16_t>(monotonic_us());
    const std::int64_t timeout_us = static_cast<std::int64_t>(timeout_ms) * 1000;
    std::uint64_t next_send = 0, next_out = 0;

    // On-link echoes are kept within the neighbour table's room; an address keeps its entry pending
    // after its slot timed out, until the kernel's resolution ends.
    query_pacer pacer(system_pacer_view(), count, address);

    const auto take = [&](const icmp_message& m, std::int64_t now) {
        if (m.what == icmp_message::type::other || m.ident != m_ident)
            return;
        if (m.what == icmp_message::type::reply)
            pacer.answered(m.from);
        else
            pacer.ended(m.destination);
        const std::uint64_t at = static_cast<std::uint16_t>(m.sequence - base);
        if (at >= window || slots[at].st != slot::state::outstanding)
            return; // answered already, timed out, or never ours
        slot& s = slots[at];
        // Above 65,536 addresses a slot and its sequence come round again: a late answer to the address
        // before must not pass for this one's. Hosts answer an echo to a group from their own address.
        if (s.reused) {
            const bool group = (ipv4::TNetAddr{s.to}.host().value >> 28) == 0xE;
            if (m.what == icmp_message::type::reply ? !group && m.from != s.to : m.destination != s.to)
                return;
        }
        const std::int64_t after = m.stamp_us >= 0 ? m.stamp_us - s.sent_real : now - s.sent_mono;
        if (after > timeout_us)
            return; // late: the address has timed out
        // The sweep hands over no echoed data, only its size.
        const auto round_trip_ms = static_cast<std::uint32_t>(std::max<std::int64_t>(0, after) / 1000);
        s.record.Status = fill_echo_record(m, buf, round_trip_ms, s.record, nullptr, size);
        s.replies = 1;
        s.st = slot::state::done;
    };

    // Gives how many entries the error queue held.
    const auto receive_all = [&] {
        int queued = 0;
        // Bounded, so that a flood of foreign ICMP cannot keep the sends back.
        for (int i = 0; i < 20000; ++i) {
            icmp_message m;
            const std::int64_t now = monotonic_us();
            if (read_icmp_error_queue(m_fd, buf, m)) {
                ++queued;
                // A raw socket sees the same error as a packet, with the packet's options: take that.
                if (!raw)
                    take(m, now);
                else if (m.what == icmp_message::type::error && m.ident == m_ident)
                    pacer.ended(m.destination);
                continue;
            }
            if (read_icmp_packet(m_fd, raw, buf, m)) {
                take(m, now);
                continue;
            }
            // Nothing waiting; other errors are the socket's pending error, cleared by the read.
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return queued;
        }
        return queued;
    };

    // Hands over, in index order, every address whose outcome is known; the oldest send times out first.
    const auto deliver = [&](std::int64_t now) {
        while (next_out < next_send) {
            slot& s = slots[next_out % window];
            if (s.st == slot::state::outstanding) {
                if (now - s.sent_mono < timeout_us)
                    return;
                s.record = TIcmpEchoReply{};
                s.record.Status = ip_status::req_timed_out;
                s.replies = 0;
            }
            result(next_out, s.record, s.replies);
            s.st = slot::state::free;
            ++next_out;
        }
    };

    std::int64_t next_tick = monotonic_us();
    bool send_blocked = false;
    for (;;) {
        if (m_abandon_on_stop && stopping())
            return;
        receive_all();
        std::int64_t now = monotonic_us();
        deliver(now);
        const bool sending = next_send < count && !stopping();
        if (!sending && next_out == next_send)
            return;

        bool room_wait = false;
        if (sending && now >= next_tick && next_send - next_out < window) {
            const query_pacer::step step = pacer.next();
            room_wait = step.kind != query_pacer::step_kind::query;
            if (!room_wait) {
                slot& s = slots[next_send % window];
                const auto sequence = static_cast<std::uint16_t>(base + next_send);
                const std::vector<unsigned char> packet = echo_request_packet(m_ident, sequence, data, size, raw);
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_addr.s_addr = step.destination;
                const ssize_t rc = ::sendto(m_fd, packet.data(), packet.size(), MSG_DONTWAIT,
                                            reinterpret_cast<const sockaddr*>(&to), sizeof(to));
                const int err = errno;
                // One echo per tick, never two in one: a late tick starts the grid afresh.
                next_tick = now >= next_tick + m_interval_us ? now + m_interval_us : next_tick + m_interval_us;
                send_blocked = rc < 0 && (err == EAGAIN || err == EWOULDBLOCK);
                query_pacer::send_result failed = query_pacer::send_result::resend;
                if (rc < 0) {
                    // An earlier echo's ICMP error may be what the send reported: read the queue first.
                    const bool queued = receive_all() > 0;
                    failed = pacer.send_failed(step, err, queued);
                    if (failed == query_pacer::send_result::resend)
                        continue; // held: the same address goes again
                } else {
                    pacer.sent(step);
                }
                s.to = step.destination;
                s.reused = next_send >= window;
                s.sent_mono = monotonic_us();
                s.sent_real = real_us();
                s.record = TIcmpEchoReply{};
                s.replies = 0;
                s.st = slot::state::outstanding;
                if (rc < 0) {
                    s.record.Status = send_errno_status(err);
                    s.st = slot::state::done;
                    if (display && failed == query_pacer::send_result::give_up)
                        display("ICMP echo to " + ipv4::dotted(ipv4::TNetAddr{step.destination}).toStdString()
                                + " could not be sent: " + pacer.failure_text().toStdString());
                    else if (s.record.Status == ip_status::general_failure && display)
                        display(std::string("ICMP echo could not be sent: ") + std::strerror(err));
                }
                ++next_send;
                m_sent.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
        }

        // Sleep until the next tick, the oldest time-out, room in the table, or an answer.
        std::int64_t wake = now + 50000;
        if (sending && next_send - next_out < window)
            wake = std::min(wake, send_blocked ? now + 1000 : room_wait ? pacer.wake_ns() / 1000 : next_tick);
        if (next_out < next_send)
            wake = std::min(wake, slots[next_out % window].sent_mono + timeout_us);
        pollfd pfd{m_fd, static_cast<short>(POLLIN | (send_blocked ? POLLOUT : 0)), 0};
        const timespec ts = wait_timespec(wake - now);
        ::ppoll(&pfd, 1, &ts, nullptr);
        if (pfd.revents & POLLOUT)
            send_blocked = false;
    }
}

} // namespace corvane::platform
