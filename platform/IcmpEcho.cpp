#include "platform/IcmpEcho.h"
#include "platform/FdCloser.h"
#include "platform/IcmpSocket.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::platform {

namespace {

std::uint16_t read16(const unsigned char* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::string ping_group_range_text()
{
    std::ifstream in("/proc/sys/net/ipv4/ping_group_range");
    std::string lo, hi;
    if (!(in >> lo >> hi))
        return "unknown";
    return lo + " " + hi;
}

// What the kernel said about each socket, in the words a user can act on.
std::string datagram_refusal(int err)
{
    switch (err) {
    case EACCES:
    case EPERM:
        return "group " + std::to_string(::getgid()) + " is outside net.ipv4.ping_group_range (\""
            + ping_group_range_text() + "\")";
    case EAFNOSUPPORT:
    case EPROTONOSUPPORT:
        return "this kernel has no ICMP datagram sockets";
    default:
        return std::string("ICMP datagram socket: ") + std::strerror(err);
    }
}

std::string raw_refusal(int err)
{
    switch (err) {
    case EACCES:
    case EPERM:
        return "the program lacks CAP_NET_RAW for a raw socket";
    default:
        return std::string("raw ICMP socket: ") + std::strerror(err);
    }
}

std::atomic<std::uint16_t> raw_ident_counter{0};

std::int64_t receive_stamp(msghdr& msg)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec ts{};
            std::memcpy(&ts, CMSG_DATA(c), sizeof(ts));
            return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
        }
    return -1;
}

// One recvmsg into buf, with room for the sender's address and the control messages.
struct received_message
{
    sockaddr_in name{};
    alignas(cmsghdr) unsigned char control[512];
    iovec iov{};
    msghdr msg{};
    ssize_t length = -1;

    received_message(int fd, std::vector<unsigned char>& buf, int flags) : iov{buf.data(), buf.size()}
    {
        msg.msg_name = &name;
        msg.msg_namelen = sizeof(name);
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof(control);
        length = ::recvmsg(fd, &msg, flags);
    }
    received_message(const received_message&) = delete;
    received_message& operator=(const received_message&) = delete;
};

} // namespace

std::uint16_t icmp_checksum(const void* data, std::size_t len)
{
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint32_t sum = 0;
    for (; len > 1; p += 2, len -= 2)
        sum += static_cast<std::uint32_t>((p[0] << 8) | p[1]);
    if (len == 1)
        sum += static_cast<std::uint32_t>(p[0] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    // Returned in network order, ready to be stored as is.
    return htons(static_cast<std::uint16_t>(~sum & 0xFFFF));
}

std::uint32_t icmp_error_status(int type, int code)
{
    switch (type) {
    case ICMP_DEST_UNREACH:
        switch (code) {
        case ICMP_NET_UNREACH:
        case ICMP_NET_UNKNOWN:
        case ICMP_NET_ANO:
        case ICMP_NET_UNR_TOS:
            return ip_status::dest_net_unreachable;
        case ICMP_PROT_UNREACH:
            return ip_status::dest_prot_unreachable;
        case ICMP_PORT_UNREACH:
            return ip_status::dest_port_unreachable;
        case ICMP_FRAG_NEEDED:
            return ip_status::packet_too_big;
        case ICMP_SR_FAILED:
            return ip_status::bad_route;
        default:
            return ip_status::dest_host_unreachable;
        }
    case ICMP_TIME_EXCEEDED:
        return code == ICMP_EXC_FRAGTIME ? ip_status::ttl_expired_reassem : ip_status::ttl_expired_transit;
    case ICMP_PARAMETERPROB:
        return ip_status::param_problem;
    case ICMP_SOURCE_QUENCH:
        return ip_status::source_quench;
    default:
        return 0;
    }
}

std::uint32_t send_errno_status(int err)
{
    switch (err) {
    case EHOSTUNREACH:
    case EACCES: // a "prohibit" route, or a broadcast address
        return ip_status::dest_host_unreachable;
    case ENETUNREACH:
        return ip_status::dest_net_unreachable;
    case EMSGSIZE:
        return ip_status::packet_too_big;
    case EINVAL: // a "blackhole" route
        return ip_status::bad_route;
    case ENOBUFS:
    case ENOMEM:
        return ip_status::no_resources;
    default:
        return ip_status::general_failure;
    }
}

icmp_socket open_icmp_socket()
{
    icmp_socket s;
    // The datagram socket needs no privilege; the raw one is the fallback for root or CAP_NET_RAW.
    fd_closer dgram{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP)};
    if (dgram.fd >= 0) {
        const int on = 1;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        socklen_t len = sizeof(local);
        // Binding fixes the identifier now: the kernel writes the socket's port into every request.
        if (::setsockopt(dgram.fd, SOL_IP, IP_RECVERR, &on, sizeof(on)) == 0
            && ::setsockopt(dgram.fd, SOL_IP, IP_RECVTTL, &on, sizeof(on)) == 0
            && ::setsockopt(dgram.fd, SOL_IP, IP_RECVTOS, &on, sizeof(on)) == 0
            && ::bind(dgram.fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0
            && ::getsockname(dgram.fd, reinterpret_cast<sockaddr*>(&local), &len) == 0) {
            s.ident = ntohs(local.sin_port);
            s.fd = dgram.release();
            s.kind = icmp_echo_handle::socket_kind::datagram;
            return s;
        }
        s.failure_text = std::string("ICMP datagram socket set-up failed: ") + std::strerror(errno);
        return s;
    }
    const int dgram_err = errno;
    if (dgram_err != EACCES && dgram_err != EPERM && dgram_err != EAFNOSUPPORT && dgram_err != EPROTONOSUPPORT) {
        s.failure_text = "ICMP socket failed: " + datagram_refusal(dgram_err);
        return s;
    }

    fd_closer raw{::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)};
    if (raw.fd < 0) {
        const int raw_err = errno;
        s.failure_text = "ICMP sockets not permitted: " + datagram_refusal(dgram_err) + " and " + raw_refusal(raw_err)
            + "; set net.ipv4.ping_group_range (sysctl net.ipv4.ping_group_range=\"0 2147483647\") or grant the "
              "program the capability (setcap cap_net_raw+ep)";
        return s;
    }
    // Only answers and errors; the filter drops our own requests seen on loopback, among others.
    icmp_filter filter{};
    filter.data = ~((1U << ICMP_ECHOREPLY) | (1U << ICMP_DEST_UNREACH) | (1U << ICMP_SOURCE_QUENCH)
                    | (1U << ICMP_TIME_EXCEEDED) | (1U << ICMP_PARAMETERPROB));
    ::setsockopt(raw.fd, SOL_RAW, ICMP_FILTER, &filter, sizeof(filter));
    // Every raw ICMP socket of the host sees every answer, so the identifier must differ per handle.
    s.ident = static_cast<std::uint16_t>(::getpid() * 31 + raw_ident_counter.fetch_add(1) * 7919);
    s.fd = raw.release();
    s.kind = icmp_echo_handle::socket_kind::raw;
    return s;
}

std::uint32_t apply_echo_options(int fd, const TIpOptionInfo* options, std::string& failure_text)
{
    const int ttl = options ? options->Ttl : 64;
    const int tos = options ? options->Tos : 0;
    const bool df = options && (options->Flags & ip_flag_df);
    // Linux refuses TTL 0: such a request could not leave the host anyway.
    if (ttl == 0)
        return ip_status::bad_option;
    const int pmtu = df ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    if (::setsockopt(fd, SOL_IP, IP_TTL, &ttl, sizeof(ttl)) != 0
        || ::setsockopt(fd, SOL_IP, IP_TOS, &tos, sizeof(tos)) != 0
        || ::setsockopt(fd, SOL_IP, IP_MTU_DISCOVER, &pmtu, sizeof(pmtu)) != 0) {
        failure_text = std::string("ICMP socket options refused: ") + std::strerror(errno);
        return ip_status::general_failure;
    }
    return 0;
}

std::vector<unsigned char> echo_request_packet(std::uint16_t ident, std::uint16_t sequence, const void* data,
                                               std::uint16_t size, bool raw)
{
    std::vector<unsigned char> packet(icmp_header_size + size);
    packet[0] = ICMP_ECHO;
    packet[1] = 0;
    packet[4] = static_cast<unsigned char>(ident >> 8);
    packet[5] = static_cast<unsigned char>(ident);
    packet[6] = static_cast<unsigned char>(sequence >> 8);
    packet[7] = static_cast<unsigned char>(sequence);
    if (size)
        std::memcpy(packet.data() + icmp_header_size, data, size);
    if (raw) {
        const std::uint16_t sum = icmp_checksum(packet.data(), packet.size());
        std::memcpy(packet.data() + 2, &sum, 2);
    }
    return packet;
}

bool read_icmp_error_queue(int fd, std::vector<unsigned char>& buf, icmp_message& m)
{
    // Datagram sockets get ICMP errors only here; payload is the ICMP header we sent.
    m = icmp_message{};
    received_message r(fd, buf, MSG_ERRQUEUE | MSG_DONTWAIT);
    const ssize_t n = r.length;
    if (n < 0)
        return false;
    const sock_extended_err* ee = nullptr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&r.msg); c; c = CMSG_NXTHDR(&r.msg, c))
        if (c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR)
            ee = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
    if (!ee || n < static_cast<ssize_t>(icmp_header_size) || buf[0] != ICMP_ECHO)
        return true;
    std::uint32_t status = ip_status::general_failure;
    if (ee->ee_origin == SO_EE_ORIGIN_ICMP)
        status = icmp_error_status(ee->ee_type, ee->ee_code);
    else if (ee->ee_origin == SO_EE_ORIGIN_LOCAL)
        status = send_errno_status(static_cast<int>(ee->ee_errno));
    if (status == 0)
        status = ip_status::general_failure;
    sockaddr_in offender{};
    std::memcpy(&offender, SO_EE_OFFENDER(ee), sizeof(offender));
    m.what = icmp_message::type::error;
    m.ident = read16(&buf[4]);
    m.sequence = read16(&buf[6]);
    m.status = status;
    m.from = offender.sin_family == AF_INET ? offender.sin_addr.s_addr : 0;
    m.destination = r.name.sin_addr.s_addr; // the error queue names the echo's destination
    m.stamp_us = receive_stamp(r.msg);
    return true;
}

bool read_icmp_packet(int fd, bool raw, std::vector<unsigned char>& buf, icmp_message& m)
{
    m = icmp_message{};
    received_message r(fd, buf, MSG_DONTWAIT);
    if (r.length < 0)
        return false; // EAGAIN, or an error already reported through the error queue
    const auto n = static_cast<std::size_t>(r.length);
    m.from = r.name.sin_addr.s_addr;
    m.stamp_us = receive_stamp(r.msg);

    std::size_t icmp_at = 0;
    if (raw) {
        if (n < sizeof(iphdr))
            return true;
        const std::size_t ihl = static_cast<std::size_t>(buf[0] & 0x0F) * 4;
        if (ihl < sizeof(iphdr) || n < ihl + icmp_header_size)
            return true;
        m.tos = buf[1];
        m.flags = static_cast<std::uint8_t>(buf[6] >> 5);
        m.ttl = buf[8];
        icmp_at = ihl;
        if (icmp_checksum(&buf[icmp_at], n - icmp_at) != 0)
            return true;
    } else {
        if (n < icmp_header_size)
            return true;
        for (cmsghdr* c = CMSG_FIRSTHDR(&r.msg); c; c = CMSG_NXTHDR(&r.msg, c)) {
            if (c->cmsg_level != SOL_IP)
                continue;
            if (c->cmsg_type == IP_TTL) {
                int v = 0;
                std::memcpy(&v, CMSG_DATA(c), sizeof(v));
                m.ttl = static_cast<std::uint8_t>(v);
            } else if (c->cmsg_type == IP_TOS) {
                m.tos = *CMSG_DATA(c);
            }
        }
    }
    const unsigned char* icmp = &buf[icmp_at];
    const std::size_t icmp_len = n - icmp_at;

    if (icmp[0] == ICMP_ECHOREPLY) {
        m.what = icmp_message::type::reply;
        m.ident = read16(&icmp[4]);
        m.sequence = read16(&icmp[6]);
        m.data_at = icmp_at + icmp_header_size;
        m.data_len = icmp_len - icmp_header_size;
        return true;
    }

    // A raw socket sees ICMP errors as packets: the quoted request tells whose echo it was.
    const std::uint32_t status = icmp_error_status(icmp[0], icmp[1]);
    if (!raw || status == 0 || icmp_len < icmp_header_size + sizeof(iphdr) + icmp_header_size)
        return true;
    const unsigned char* inner_ip = icmp + icmp_header_size;
    const std::size_t inner_ihl = static_cast<std::size_t>(inner_ip[0] & 0x0F) * 4;
    if (inner_ip[9] != IPPROTO_ICMP || inner_ihl < sizeof(iphdr)
        || icmp_len < icmp_header_size + inner_ihl + icmp_header_size)
        return true;
    const unsigned char* inner = inner_ip + inner_ihl;
    if (inner[0] != ICMP_ECHO)
        return true;
    m.what = icmp_message::type::error;
    m.ident = read16(&inner[4]);
    m.sequence = read16(&inner[6]);
    m.status = status;
    std::memcpy(&m.destination, inner_ip + 16, sizeof m.destination);
    return true;
}

timespec wait_timespec(std::int64_t us)
{
    us = std::max<std::int64_t>(0, us);
    return {static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
}

bool is_answer_to(const icmp_message& m, std::uint16_t ident, std::uint16_t sequence)
{
    return m.what != icmp_message::type::other && m.ident == ident && m.sequence == sequence;
}

std::uint32_t fill_echo_record(const icmp_message& m, const std::vector<unsigned char>& buf,
                               std::uint32_t round_trip_ms, TIcmpEchoReply& record, unsigned char* data_out,
                               std::uint32_t data_room)
{
    record.Address = m.from;
    record.RoundTripTime = round_trip_ms;
    record.Options.Ttl = m.ttl;
    record.Options.Tos = m.tos;
    record.Options.Flags = m.flags;
    if (m.what == icmp_message::type::error)
        return m.status;
    const std::size_t copied = std::min<std::size_t>(m.data_len, data_room);
    if (copied && data_out)
        std::memcpy(data_out, buf.data() + m.data_at, copied);
    record.DataSize = static_cast<std::uint16_t>(copied);
    return ip_status::success;
}

icmp_echo_handle::icmp_echo_handle()
{
    open_socket();
}

icmp_echo_handle::~icmp_echo_handle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool icmp_echo_handle::open_socket()
{
    icmp_socket s = open_icmp_socket();
    if (s.fd < 0) {
        m_failure_text = std::move(s.failure_text);
        return false;
    }
    m_fd = s.fd;
    m_kind = s.kind;
    m_ident = s.ident;
    return true;
}

void icmp_echo_handle::drain()
{
    // Leftovers of earlier echoes; bounded so that a flood cannot hold us here.
    unsigned char scrap[512];
    for (int i = 0; i < 4096; ++i) {
        if (::recv(m_fd, scrap, sizeof(scrap), MSG_DONTWAIT) < 0 && errno != EINTR && errno != ECONNREFUSED
            && errno != EHOSTUNREACH && errno != ENETUNREACH && errno != EMSGSIZE)
            break;
    }
    if (m_kind == socket_kind::datagram) {
        for (int i = 0; i < 4096; ++i) {
            msghdr msg{};
            if (::recvmsg(m_fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0 && errno != EINTR)
                break;
        }
    }
}

std::uint32_t icmp_echo_handle::send_echo(std::uint32_t dest_net_order, const void* data, std::uint16_t size,
                                          const TIpOptionInfo* options, void* reply_buffer,
                                          std::uint32_t reply_size, std::uint32_t timeout_ms)
{
    m_failure_text.clear();
    TIcmpEchoReply record{};
    auto finish = [&](std::uint32_t status, std::uint32_t count) {
        record.Status = status;
        m_last_error = status;
        if (reply_buffer && reply_size >= sizeof(record))
            std::memcpy(reply_buffer, &record, sizeof(record));
        return count;
    };
    if (!reply_buffer || reply_size < sizeof(record))
        return finish(ip_status::buf_too_small, 0);
    if (m_fd < 0 && !open_socket())
        return finish(ip_status::general_failure, 0);

    if (const std::uint32_t refused = apply_echo_options(m_fd, options, m_failure_text))
        return finish(refused, 0);

    drain();

    const std::uint16_t sequence = ++m_sequence;
    const std::vector<unsigned char> packet
        = echo_request_packet(m_ident, sequence, data, size, m_kind == socket_kind::raw);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = dest_net_order;
    const std::int64_t sent_us = monotonic_us();
    if (::sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) < 0) {
        const int err = errno;
        const std::uint32_t status = send_errno_status(err);
        if (status == ip_status::general_failure)
            m_failure_text = std::string("ICMP echo could not be sent: ") + std::strerror(err);
        return finish(status, 0);
    }

    const std::int64_t deadline_us = sent_us + static_cast<std::int64_t>(timeout_ms) * 1000;
    auto* data_out = static_cast<unsigned char*>(reply_buffer) + sizeof(record);
    const std::uint32_t status = wait_reply(m_ident, sequence, deadline_us, sent_us, record, data_out,
                                            reply_size - static_cast<std::uint32_t>(sizeof(record)));
    if (status == ip_status::req_timed_out)
        return finish(status, 0);
    return finish(status, 1);
}

short icmp_echo_handle::wait_ready(std::int64_t deadline_us) const
{
    for (;;) {
        pollfd pfd{m_fd, POLLIN, 0};
        // ppoll, not poll: rounding each wait up to whole milliseconds adds up over a sweep.
        const timespec left = wait_timespec(deadline_us - monotonic_us());
        const int ready = ::ppoll(&pfd, 1, &left, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0 ? pfd.revents : 0;
    }
}

std::uint32_t icmp_echo_handle::wait_reply(std::uint16_t ident, std::uint16_t sequence, std::int64_t deadline_us,
                                           std::int64_t sent_us, TIcmpEchoReply& record, unsigned char* data_out,
                                           std::uint32_t data_room)
{
    std::vector<unsigned char> buf(icmp_receive_room);
    const bool raw = m_kind == socket_kind::raw;
    const auto take = [&](const icmp_message& m) {
        const auto round_trip_ms = static_cast<std::uint32_t>((monotonic_us() - sent_us) / 1000);
        return fill_echo_record(m, buf, round_trip_ms, record, data_out, data_room);
    };

    for (;;) {
        const short events = wait_ready(deadline_us);
        if (!events)
            return ip_status::req_timed_out;

        icmp_message m;
        if (events & POLLERR) {
            const bool got = read_icmp_error_queue(m_fd, buf, m);
            if (got && is_answer_to(m, ident, sequence))
                return take(m);
            // Someone else's error and no packet waiting: wait again. An empty queue with POLLERR is a
            // pending socket error, which the plain read below clears.
            if (got && !(events & POLLIN))
                continue;
        }

        // Otherwise someone else's, or a late answer to an earlier echo.
        if (read_icmp_packet(m_fd, raw, buf, m) && is_answer_to(m, ident, sequence))
            return take(m);
    }
}

} // namespace corvane::platform
