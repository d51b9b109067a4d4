#include "platform/ArpSweep.h"

#include "platform/Clock.h"
#include "platform/FdCloser.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/capability.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvane::platform {

namespace {

constexpr std::uint16_t ethertype_arp = 0x0806;
constexpr std::uint16_t arp_request = 1;
constexpr std::uint16_t arp_reply_op = 2;

void put16(std::uint8_t* at, std::uint16_t v)
{
    at[0] = static_cast<std::uint8_t>(v >> 8);
    at[1] = static_cast<std::uint8_t>(v & 0xFF);
}

std::uint16_t get16(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

bool all_of_byte(const mac_bytes& mac, std::uint8_t b)
{
    return std::all_of(mac.begin(), mac.end(), [b](std::uint8_t x) { return x == b; });
}

// The capability sets of this thread (capabilities are per thread on Linux).
bool read_caps(__user_cap_header_struct& header, __user_cap_data_struct (&data)[2])
{
    header = {_LINUX_CAPABILITY_VERSION_3, 0};
    std::memset(data, 0, sizeof data);
    return ::syscall(SYS_capget, &header, data) == 0;
}

constexpr std::uint32_t net_raw_bit = 1u << CAP_NET_RAW; // CAP_NET_RAW (13) lives in the first word

// Raises CAP_NET_RAW to effective while it lives, when it is permitted and not already effective
// (as with `setcap cap_net_raw+p`), and lowers it again after.
class net_raw_raised
{
public:
    net_raw_raised()
    {
        __user_cap_header_struct header;
        if (!read_caps(header, m_data) || !(m_data[0].permitted & net_raw_bit) || (m_data[0].effective & net_raw_bit))
            return;
        m_data[0].effective |= net_raw_bit;
        m_raised = ::syscall(SYS_capset, &header, m_data) == 0;
    }
    ~net_raw_raised()
    {
        if (!m_raised)
            return;
        __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
        m_data[0].effective &= ~net_raw_bit;
        ::syscall(SYS_capset, &header, m_data);
    }
    net_raw_raised(const net_raw_raised&) = delete;
    net_raw_raised& operator=(const net_raw_raised&) = delete;

private:
    __user_cap_data_struct m_data[2] {};
    bool m_raised = false;
};

} // namespace

arp_frame build_arp_request(const mac_bytes& sender_mac, std::uint32_t sender_ip, std::uint32_t target_ip)
{
    arp_frame f {};
    std::fill_n(f.begin(), 6, std::uint8_t {0xFF});
    std::copy(sender_mac.begin(), sender_mac.end(), f.begin() + 6);
    put16(&f[12], ethertype_arp);
    put16(&f[14], ARPHRD_ETHER);
    put16(&f[16], ETH_P_IP);
    f[18] = 6;
    f[19] = 4;
    put16(&f[20], arp_request);
    std::copy(sender_mac.begin(), sender_mac.end(), f.begin() + 22);
    std::memcpy(&f[28], &sender_ip, 4);
    // Target hardware address (32..37) stays zero: it is what we ask for.
    std::memcpy(&f[38], &target_ip, 4);
    return f;
}

std::optional<arp_reply> parse_arp_reply(const std::uint8_t* frame, std::size_t length)
{
    if (!frame || length < arp_frame_size)
        return std::nullopt;
    if (get16(frame + 12) != ethertype_arp || get16(frame + 14) != ARPHRD_ETHER || get16(frame + 16) != ETH_P_IP
        || frame[18] != 6 || frame[19] != 4 || get16(frame + 20) != arp_reply_op)
        return std::nullopt;
    arp_reply r;
    std::copy_n(frame + 22, 6, r.sender_mac.begin());
    std::memcpy(&r.sender_ip, frame + 28, 4);
    std::uint32_t target_ip = 0;
    std::memcpy(&target_ip, frame + 38, 4);
    if (all_of_byte(r.sender_mac, 0) || all_of_byte(r.sender_mac, 0xFF) || (r.sender_mac[0] & 1))
        return std::nullopt;
    if (r.sender_ip == 0 || r.sender_ip == 0xFFFFFFFFu)
        return std::nullopt;
    // A gratuitous announcement answers nobody's question.
    if (r.sender_ip == target_ip)
        return std::nullopt;
    return r;
}

bool can_resolve_addresses()
{
    __user_cap_header_struct header;
    __user_cap_data_struct data[2];
    // Permitted is enough: the sweep raises it to effective around opening its socket.
    return read_caps(header, data) && (data[0].permitted & net_raw_bit);
}

std::optional<arp_interface> arp_interface_by_index(int ifindex)
{
    char name[IF_NAMESIZE] = {};
    if (ifindex <= 0 || !::if_indextoname(static_cast<unsigned>(ifindex), name))
        return std::nullopt;
    const fd_closer fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd.fd < 0)
        return std::nullopt;
    ifreq req {};
    std::memcpy(req.ifr_name, name, sizeof req.ifr_name);
    if (::ioctl(fd.fd, SIOCGIFFLAGS, &req) != 0 || !(req.ifr_flags & IFF_UP)
        || (req.ifr_flags & (IFF_NOARP | IFF_LOOPBACK)))
        return std::nullopt;
    if (::ioctl(fd.fd, SIOCGIFHWADDR, &req) != 0 || req.ifr_hwaddr.sa_family != ARPHRD_ETHER)
        return std::nullopt;
    arp_interface iface;
    iface.ifindex = ifindex;
    iface.name = QString::fromLocal8Bit(name);
    std::memcpy(iface.mac.data(), req.ifr_hwaddr.sa_data, 6);
    if (::ioctl(fd.fd, SIOCGIFADDR, &req) != 0)
        return std::nullopt;
    iface.address = reinterpret_cast<const sockaddr_in*>(&req.ifr_addr)->sin_addr.s_addr;
    if (::ioctl(fd.fd, SIOCGIFNETMASK, &req) != 0)
        return std::nullopt;
    iface.netmask = reinterpret_cast<const sockaddr_in*>(&req.ifr_netmask)->sin_addr.s_addr;
    return iface;
}

arp_sweep::arp_sweep(int fd, arp_interface iface)
    : m_fd(fd)
    , m_iface(std::move(iface))
{ }

arp_sweep::~arp_sweep()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::unique_ptr<arp_sweep> arp_sweep::open(const arp_interface& iface, QString* why)
{
    const auto fail = [why](const QString& text) {
        if (why)
            *why = text;
        return nullptr;
    };
    fd_closer fd(-1);
    {
        const net_raw_raised raised;
        fd.fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ethertype_arp));
    }
    if (fd.fd < 0)
        return fail(QStringLiteral("no packet socket: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    sockaddr_ll local {};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ethertype_arp);
    local.sll_ifindex = iface.ifindex;
    if (::bind(fd.fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return fail(
            QStringLiteral("cannot bind to %1: %2").arg(iface.name, QString::fromLocal8Bit(std::strerror(errno))));
    // Our own broadcasts would come back to us once each: not worth reading.
    const int on = 1;
    ::setsockopt(fd.fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on);
    // Replies of a busy link wait here while the loop sends.
    const int room = 4 << 20;
    if (::setsockopt(fd.fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) != 0)
        ::setsockopt(fd.fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    return std::unique_ptr<arp_sweep>(new arp_sweep(fd.release(), iface));
}

std::vector<arp_reply> arp_sweep::run(const std::vector<std::uint32_t>& addresses, const arp_sweep_options& options,
                                      const std::function<void(const arp_reply&)>& on_reply,
                                      const std::atomic<bool>* stop)
{
    std::vector<arp_reply> found;
    const std::uint32_t subnet = m_iface.address & m_iface.netmask;
    std::unordered_set<std::uint32_t> asked;
    for (std::uint32_t a : addresses)
        if ((a & m_iface.netmask) == subnet && a != m_iface.address)
            asked.insert(a);
    std::unordered_set<std::uint32_t> answered;
    const auto stopped
        = [&] { return (stop && stop->load(std::memory_order_relaxed)) || (options.stopped && options.stopped()); };
    std::unordered_set<std::uint32_t> sent;
    const auto report = [&] {
        if (options.progress)
            options.progress(sent.size(), answered.size());
    };

    const auto read_replies = [&] {
        alignas(8) std::uint8_t buffer[128];
        for (;;) {
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            const std::optional<arp_reply> r
                = parse_arp_reply(buffer, std::min(static_cast<std::size_t>(got), sizeof buffer));
            if (!r || !sent.contains(r->sender_ip) || !answered.insert(r->sender_ip).second)
                continue;
            found.push_back(*r);
            if (on_reply)
                on_reply(*r);
            report();
        }
    };
    // Until deadline (monotonic ns), reading replies as they come.
    const auto wait_until = [&](std::int64_t deadline) {
        for (;;) {
            read_replies();
            const std::int64_t left = deadline - monotonic_ns();
            if (left <= 0 || stopped())
                return;
            // Short slices so that a stop from another thread is seen soon.
            const std::int64_t slice = std::min<std::int64_t>(left, 50'000'000);
            const timespec timeout {static_cast<time_t>(slice / 1'000'000'000),
                                    static_cast<long>(slice % 1'000'000'000)};
            pollfd pfd {m_fd, POLLIN, 0};
            ::ppoll(&pfd, 1, &timeout, nullptr);
        }
    };

    sockaddr_ll to {};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ethertype_arp);
    to.sll_ifindex = m_iface.ifindex;
    to.sll_halen = 6;
    std::fill_n(to.sll_addr, 6, std::uint8_t {0xFF});

    const std::int64_t interval = 1'000'000'000 / std::clamp(options.rate, 1, 100'000);
    std::int64_t due = monotonic_ns();
    // Each try walks the addresses in the order given; a further try asks only the silent ones.
    for (int attempt = 0; attempt < std::max(1, options.tries) && !stopped(); ++attempt) {
        for (std::uint32_t a : addresses) {
            if (stopped())
                break;
            if (!asked.contains(a) || answered.contains(a))
                continue;
            wait_until(due);
            if (stopped())
                break;
            const arp_frame frame = build_arp_request(m_iface.mac, m_iface.address, a);
            for (int held = 0; held < 100; ++held) {
                if (::sendto(m_fd, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to)
                    >= 0)
                    break;
                // A full device queue passes in a moment; anything else will not: the address stays silent.
                if (errno != ENOBUFS && errno != EAGAIN && errno != EINTR)
                    break;
                wait_until(monotonic_ns() + 1'000'000);
            }
            if (attempt == 0 && sent.insert(a).second)
                report();
            // Wake-ups come late on a busy machine: catch up, but never by more than a burst of 20 ms
            // of frames, so the pace holds on average without flooding the link.
            due += interval;
            due = std::max(due, monotonic_ns() - 20'000'000);
        }
    }
    if (!stopped())
        wait_until(monotonic_ns() + options.wait_ns);
    return found;
}

std::vector<on_link_part> split_on_link(std::uint64_t count, const std::function<std::uint32_t(std::uint64_t)>& address,
                                        const std::function<void(std::uint32_t)>& other)
{
    std::vector<on_link_part> parts;
    route_oracle routes;
    std::vector<std::uint32_t> chunk;
    for (std::uint64_t first = 0; first < count; first += 4096) {
        chunk.clear();
        for (std::uint64_t i = first; i < std::min(count, first + 4096); ++i)
            chunk.push_back(address(i));
        const std::vector<route_info> found = routes.route_many(chunk);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            const route_info& r = found[i];
            // ifindex 0: rtnetlink failed; the kernel's own resolution stays in charge of such an address.
            if (r.kind != route_kind::on_link || r.ifindex <= 0) {
                if (other)
                    other(chunk[i]);
                continue;
            }
            auto part = std::find_if(parts.begin(), parts.end(),
                                     [&](const on_link_part& p) { return p.ifindex == r.ifindex; });
            if (part == parts.end())
                part = parts.insert(parts.end(), on_link_part {r.ifindex, {}});
            part->addresses.push_back(chunk[i]);
        }
    }
    return parts;
}

arp_survey resolve_on_link(const std::vector<on_link_part>& parts, const arp_sweep_options& options,
                           const std::function<void(const arp_reply&)>& on_reply, const std::atomic<bool>* stop)
{
    arp_survey survey;
    if (!can_resolve_addresses()) {
        survey.why = QStringLiteral("no CAP_NET_RAW");
        return survey;
    }
    std::vector<std::pair<arp_interface, std::vector<std::uint32_t>>> swept;
    for (const on_link_part& part : parts) {
        const std::optional<arp_interface> iface = arp_interface_by_index(part.ifindex);
        if (!iface) {
            survey.why = QStringLiteral("interface %1 has no address resolution").arg(part.ifindex);
            return survey;
        }
        std::vector<std::uint32_t> mine;
        for (std::uint32_t a : part.addresses)
            if ((a & iface->netmask) == (iface->address & iface->netmask) && a != iface->address)
                mine.push_back(a);
        swept.emplace_back(*iface, std::move(mine));
    }
    // All sockets first: the sweep is all or nothing, so a caller never mixes the two ways of resolving.
    std::vector<std::unique_ptr<arp_sweep>> sweeps;
    for (const auto& [iface, addresses] : swept) {
        sweeps.push_back(arp_sweep::open(iface, &survey.why));
        if (!sweeps.back())
            return survey;
    }
    survey.ran = true;
    survey.why.clear();
    std::size_t asked_before = 0;
    std::size_t answered_before = 0;
    for (std::size_t i = 0; i < sweeps.size(); ++i) {
        arp_sweep_options these = options;
        if (options.progress)
            these.progress = [&](std::size_t asked, std::size_t answered) {
                options.progress(asked_before + asked, answered_before + answered);
            };
        std::vector<arp_reply> replies = sweeps[i]->run(swept[i].second, these, on_reply, stop);
        asked_before += swept[i].second.size();
        answered_before += replies.size();
        survey.replies.insert(survey.replies.end(), replies.begin(), replies.end());
        survey.swept.insert(survey.swept.end(), swept[i].second.begin(), swept[i].second.end());
    }
    std::sort(survey.swept.begin(), survey.swept.end(),
              [](std::uint32_t a, std::uint32_t b) { return ntohl(a) < ntohl(b); });
    survey.swept.erase(std::unique(survey.swept.begin(), survey.swept.end()), survey.swept.end());
    return survey;
}

arp_survey resolve_on_link(const std::vector<std::uint32_t>& addresses, const arp_sweep_options& options,
                           const std::function<void(const arp_reply&)>& on_reply, const std::atomic<bool>* stop)
{
    const std::vector<on_link_part> parts
        = split_on_link(addresses.size(), [&](std::uint64_t i) { return addresses[static_cast<std::size_t>(i)]; });
    return resolve_on_link(parts, options, on_reply, stop);
}

} // namespace corvane::platform
