#include "platform/Neighbour.h"
#include "platform/FdCloser.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include <fcntl.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace corvane::platform {

namespace {

// A dump part is at most 32 KiB (the kernel's cap for netlink skbs it sizes itself); room to spare.
constexpr std::size_t dump_buffer_bytes = 64 * 1024;

// Replies are matched by sequence number, so a late one of an exchange given up on is skipped.
std::atomic<std::uint32_t> g_sequence {0};

int open_rtnetlink()
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return -1;
    // The kernel answers from within send(); the bound only guards against a reply that never comes.
    const timeval timeout {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

template <class Body>
struct netlink_request
{
    nlmsghdr nh;
    Body body;
};

template <class Body>
netlink_request<Body> request_of(std::uint16_t type, std::uint16_t flags)
{
    netlink_request<Body> r {};
    static_assert(offsetof(netlink_request<Body>, body) == NLMSG_HDRLEN);
    r.nh.nlmsg_len = NLMSG_LENGTH(sizeof(Body));
    r.nh.nlmsg_type = type;
    r.nh.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | flags);
    return r;
}

// Sends request and hands take() every reply of its sequence number, up to the end of a dump or the
// single reply of a plain request. 0, or the errno the kernel or the socket gave.
template <class Take>
int exchange(int fd, nlmsghdr* request, std::vector<char>& buffer, Take&& take)
{
    request->nlmsg_seq = ++g_sequence;
    for (;;) {
        if (::send(fd, request, request->nlmsg_len, 0) >= 0)
            break;
        if (errno != EINTR)
            return errno;
    }
    for (;;) {
        iovec iov {buffer.data(), buffer.size()};
        msghdr msg {};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        const ssize_t got = ::recvmsg(fd, &msg, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (msg.msg_flags & MSG_TRUNC)
            return EMSGSIZE;
        int left = static_cast<int>(got);
        for (auto* nh = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(nh, left); nh = NLMSG_NEXT(nh, left)) {
            if (nh->nlmsg_seq != request->nlmsg_seq)
                continue; // the late end of an exchange given up on
            if (nh->nlmsg_type == NLMSG_DONE)
                return 0;
            if (nh->nlmsg_type == NLMSG_ERROR) {
                if (nh->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr)))
                    return EPROTO;
                return -static_cast<const nlmsgerr*>(NLMSG_DATA(nh))->error; // 0: an acknowledgement
            }
            take(nh);
            if (!(nh->nlmsg_flags & NLM_F_MULTI))
                return 0;
        }
    }
}

// The attributes after a message's fixed header.
template <class Header, class Visit>
void for_each_attribute(const nlmsghdr* nh, Visit&& visit)
{
    int left = static_cast<int>(nh->nlmsg_len) - static_cast<int>(NLMSG_LENGTH(sizeof(Header)));
    const auto* first = reinterpret_cast<const char*>(NLMSG_DATA(nh)) + NLMSG_ALIGN(sizeof(Header));
    for (auto* a = reinterpret_cast<const rtattr*>(first); RTA_OK(a, left); a = RTA_NEXT(a, left))
        visit(a->rta_type, RTA_DATA(a), RTA_PAYLOAD(a));
}

neigh_state state_of(std::uint16_t nud)
{
    if (nud & NUD_INCOMPLETE)
        return neigh_state::incomplete;
    if (nud & NUD_FAILED)
        return neigh_state::failed;
    if (nud & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT))
        return neigh_state::resolved;
    return neigh_state::other;
}

std::optional<long> read_number(const std::string& path)
{
    const fd_closer f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (f.fd < 0)
        return std::nullopt;
    char text[32] = {};
    const ssize_t n = ::read(f.fd, text, sizeof text - 1);
    if (n <= 0)
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || errno != 0)
        return std::nullopt;
    return v;
}

} // namespace

std::optional<std::vector<neigh_entry>> read_neighbours()
{
    const fd_closer fd(open_rtnetlink());
    if (fd.fd < 0)
        return std::nullopt;
    auto request = request_of<ndmsg>(RTM_GETNEIGH, NLM_F_DUMP);
    request.body.ndm_family = AF_INET;

    std::vector<neigh_entry> entries;
    std::vector<char> buffer(dump_buffer_bytes);
    const int error = exchange(fd.fd, &request.nh, buffer, [&entries](const nlmsghdr* nh) {
        if (nh->nlmsg_type != RTM_NEWNEIGH || nh->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)))
            return;
        const auto* ndm = static_cast<const ndmsg*>(NLMSG_DATA(nh));
        if (ndm->ndm_family != AF_INET)
            return;
        neigh_entry e;
        e.ifindex = ndm->ndm_ifindex;
        e.state = state_of(ndm->ndm_state);
        bool hasAddress = false;
        for_each_attribute<ndmsg>(nh, [&](unsigned type, const void* data, std::size_t size) {
            if (type == NDA_DST && size == sizeof e.address) {
                std::memcpy(&e.address, data, size);
                hasAddress = true;
            } else if (type == NDA_LLADDR && size == sizeof(mac_bytes)) {
                mac_bytes mac;
                std::memcpy(mac.data(), data, size);
                e.lladdr = mac;
            }
        });
        if (hasAddress)
            entries.push_back(e);
    });
    if (error != 0)
        return std::nullopt;
    return entries;
}

neigh_limits read_neigh_limits()
{
    neigh_limits limits;
    // Only the first namespace has the default/ folder; elsewhere the table is seen in part only.
    const std::optional<long> low = read_number("/proc/sys/net/ipv4/neigh/default/gc_thresh1");
    const std::optional<long> cap = read_number("/proc/sys/net/ipv4/neigh/default/gc_thresh3");
    if (!low || !cap) {
        limits.machine_wide = false;
        return limits;
    }
    limits.gc_thresh1 = static_cast<int>(*low);
    limits.gc_thresh3 = static_cast<int>(*cap);
    return limits;
}

std::optional<int> read_neigh_entries()
{
    // A heading, then one line per CPU; the first column, the table's count, is the same on each.
    const fd_closer f(::open("/proc/net/stat/arp_cache", O_RDONLY | O_CLOEXEC));
    if (f.fd < 0)
        return std::nullopt;
    char text[512] = {};
    const ssize_t n = ::read(f.fd, text, sizeof text - 1);
    const char* line = n > 0 ? std::strchr(text, '\n') : nullptr;
    if (!line)
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long count = std::strtoul(line + 1, &end, 16);
    if (end == line + 1 || errno != 0 || (*end != ' ' && *end != '\n'))
        return std::nullopt;
    return static_cast<int>(count);
}

std::int64_t resolution_time_ms(int ifindex)
{
    constexpr std::int64_t linux_default = 3000;
    char name[IF_NAMESIZE] = {};
    if (ifindex <= 0 || !::if_indextoname(static_cast<unsigned>(ifindex), name))
        return linux_default;
    const std::string dir = std::string("/proc/sys/net/ipv4/neigh/") + name + '/';
    // A new entry starts its probe count at ucast_solicit and turns FAILED at ucast + app + mcast
    // probes, one per retrans_time: ucast_solicit only counts for entries that had an address.
    const std::optional<long> mcast = read_number(dir + "mcast_solicit");
    const std::optional<long> app = read_number(dir + "app_solicit");
    const std::optional<long> retrans = read_number(dir + "retrans_time_ms");
    if (!mcast || !app || !retrans)
        return linux_default;
    return std::int64_t(*mcast + *app) * *retrans;
}

struct route_oracle::state
{
    fd_closer fd {open_rtnetlink()};
    std::vector<char> buffer = std::vector<char>(dump_buffer_bytes);
    std::unordered_map<int, unsigned> linkFlags; // ifindex -> IFF_*

    std::optional<unsigned> flagsOf(int ifindex)
    {
        if (const auto known = linkFlags.find(ifindex); known != linkFlags.end())
            return known->second;
        auto request = request_of<ifinfomsg>(RTM_GETLINK, 0);
        request.body.ifi_family = AF_UNSPEC;
        request.body.ifi_index = ifindex;
        std::optional<unsigned> flags;
        exchange(fd.fd, &request.nh, buffer, [&flags](const nlmsghdr* nh) {
            if (nh->nlmsg_type == RTM_NEWLINK && nh->nlmsg_len >= NLMSG_LENGTH(sizeof(ifinfomsg)))
                flags = static_cast<const ifinfomsg*>(NLMSG_DATA(nh))->ifi_flags;
        });
        if (flags)
            linkFlags.emplace(ifindex, *flags);
        return flags;
    }
};

route_oracle::route_oracle() : m_state(std::make_unique<state>()) { }

route_oracle::~route_oracle() = default;

// One RTM_GETROUTE per destination rather than a dump matched here: the kernel's own lookup follows
// policy rules, every table, metrics and multipath as the send will, at one short round trip.
route_info route_oracle::route(std::uint32_t destination)
{
    route_info info;
    if (m_state->fd.fd < 0) {
        info.kind = route_kind::on_link;
        return info;
    }
    struct
    {
        nlmsghdr nh;
        rtmsg rtm;
        rtattr dst;
        std::uint32_t address;
    } request {};
    static_assert(sizeof request == NLMSG_LENGTH(sizeof(rtmsg)) + RTA_LENGTH(sizeof(std::uint32_t)));
    request.nh.nlmsg_len = sizeof request;
    request.nh.nlmsg_type = RTM_GETROUTE;
    request.nh.nlmsg_flags = NLM_F_REQUEST;
    request.rtm.rtm_family = AF_INET;
    request.rtm.rtm_dst_len = 32;
    request.dst.rta_type = RTA_DST;
    request.dst.rta_len = RTA_LENGTH(sizeof(std::uint32_t));
    request.address = destination;

    unsigned type = RTN_UNSPEC;
    const int error = exchange(m_state->fd.fd, &request.nh, m_state->buffer, [&](const nlmsghdr* nh) {
        if (nh->nlmsg_type != RTM_NEWROUTE || nh->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg)))
            return;
        type = static_cast<const rtmsg*>(NLMSG_DATA(nh))->rtm_type;
        for_each_attribute<rtmsg>(nh, [&](unsigned attribute, const void* data, std::size_t size) {
            if (attribute == RTA_OIF && size == sizeof(int))
                std::memcpy(&info.ifindex, data, size);
            else if (attribute == RTA_GATEWAY && size == sizeof info.gateway)
                std::memcpy(&info.gateway, data, size);
        });
    });
    return classify(error, type, info);
}

route_info route_oracle::classify(int error, unsigned type, route_info info)
{
    if (error == EAGAIN || error == EINTR || error == ENOBUFS || error == EMSGSIZE) {
        // The socket failed, not the lookup: the cautious guess costs pacing, never a query.
        info = {route_kind::on_link, 0, 0};
        return info;
    }
    // Blackhole, unreachable and prohibit routes answer EINVAL, EHOSTUNREACH and EACCES; no route at
    // all ENETUNREACH.
    if (error != 0 || type == RTN_UNSPEC) {
        info = {route_kind::unreachable, info.ifindex, 0};
        return info;
    }
    switch (type) {
    case RTN_UNICAST: {
        const std::optional<unsigned> flags = m_state->flagsOf(info.ifindex);
        if (flags && (*flags & (IFF_LOOPBACK | IFF_NOARP))) {
            info.kind = route_kind::no_neighbour;
            info.gateway = 0;
        } else {
            info.kind = info.gateway != 0 ? route_kind::routed : route_kind::on_link;
        }
        break;
    }
    case RTN_LOCAL:
    case RTN_BROADCAST:
    case RTN_MULTICAST:
    case RTN_ANYCAST:
        info.kind = route_kind::no_neighbour;
        info.gateway = 0;
        break;
    default: // RTN_BLACKHOLE, RTN_UNREACHABLE, RTN_PROHIBIT, RTN_THROW, RTN_NAT, ...
        info.kind = route_kind::unreachable;
        info.gateway = 0;
        break;
    }
    return info;
}

// Many lookups in one send: the kernel answers each request of the batch in turn, so a /16 costs a
// few hundred system calls instead of 131,072.
std::vector<route_info> route_oracle::route_many(const std::vector<std::uint32_t>& destinations)
{
    std::vector<route_info> out(destinations.size());
    if (m_state->fd.fd < 0) {
        for (route_info& r : out)
            r = {route_kind::on_link, 0, 0};
        return out;
    }
    struct request_t
    {
        nlmsghdr nh;
        rtmsg rtm;
        rtattr dst;
        std::uint32_t address;
    };
    // Replies of a batch wait in the socket's receive buffer, about 4 KiB each as the kernel counts
    // them; 32 fit in the default 208 KiB.
    constexpr std::size_t batch = 32;
    std::vector<request_t> requests(batch);
    for (std::size_t first = 0; first < destinations.size(); first += batch) {
        const std::size_t n = std::min(batch, destinations.size() - first);
        const std::uint32_t base = g_sequence.fetch_add(static_cast<std::uint32_t>(n)) + 1;
        for (std::size_t i = 0; i < n; ++i) {
            request_t& q = requests[i];
            q = {};
            q.nh.nlmsg_len = sizeof q;
            q.nh.nlmsg_type = RTM_GETROUTE;
            q.nh.nlmsg_flags = NLM_F_REQUEST;
            q.nh.nlmsg_seq = base + static_cast<std::uint32_t>(i);
            q.rtm.rtm_family = AF_INET;
            q.rtm.rtm_dst_len = 32;
            q.dst.rta_type = RTA_DST;
            q.dst.rta_len = RTA_LENGTH(sizeof(std::uint32_t));
            q.address = destinations[first + i];
        }
        std::vector<int> errors(n, EAGAIN);
        std::vector<unsigned> types(n, RTN_UNSPEC);
        std::size_t answered = 0;
        int failed = 0;
        while (::send(m_state->fd.fd, requests.data(), n * sizeof(request_t), 0) < 0)
            if (errno != EINTR) {
                failed = errno;
                break;
            }
        // One reply per request, each its own datagram: many taken in one call.
        constexpr std::size_t slot = dump_buffer_bytes / batch;
        std::vector<iovec> iov(n);
        std::vector<mmsghdr> msgs(n);
        while (failed == 0 && answered < n) {
            for (std::size_t i = 0; i < n; ++i) {
                iov[i] = {m_state->buffer.data() + i * slot, slot};
                msgs[i] = {};
                msgs[i].msg_hdr.msg_iov = &iov[i];
                msgs[i].msg_hdr.msg_iovlen = 1;
            }
            const int got
                = ::recvmmsg(m_state->fd.fd, msgs.data(), static_cast<unsigned>(n - answered), MSG_WAITFORONE, nullptr);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                failed = errno;
                break;
            }
            for (int m = 0; m < got; ++m) {
                if (msgs[m].msg_hdr.msg_flags & MSG_TRUNC)
                    continue; // its lookup stays unanswered: the cautious guess
                int left = static_cast<int>(msgs[m].msg_len);
                for (auto* nh = static_cast<nlmsghdr*>(iov[m].iov_base); NLMSG_OK(nh, left);
                     nh = NLMSG_NEXT(nh, left)) {
                    const std::uint32_t k = nh->nlmsg_seq - base;
                    if (k >= n || errors[k] != EAGAIN)
                        continue; // the late end of an exchange given up on
                    route_info& info = out[first + k];
                    if (nh->nlmsg_type == NLMSG_ERROR) {
                        errors[k] = nh->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))
                            ? EPROTO
                            : -static_cast<const nlmsgerr*>(NLMSG_DATA(nh))->error;
                        if (errors[k] == 0)
                            errors[k] = EPROTO; // a lookup is answered by a route, not an acknowledgement
                    } else if (nh->nlmsg_type == RTM_NEWROUTE && nh->nlmsg_len >= NLMSG_LENGTH(sizeof(rtmsg))) {
                        errors[k] = 0;
                        types[k] = static_cast<const rtmsg*>(NLMSG_DATA(nh))->rtm_type;
                        for_each_attribute<rtmsg>(nh, [&](unsigned attribute, const void* data, std::size_t size) {
                            if (attribute == RTA_OIF && size == sizeof(int))
                                std::memcpy(&info.ifindex, data, size);
                            else if (attribute == RTA_GATEWAY && size == sizeof info.gateway)
                                std::memcpy(&info.gateway, data, size);
                        });
                    } else {
                        continue;
                    }
                    ++answered;
                }
            }
        }
        for (std::size_t i = 0; i < n; ++i)
            out[first + i]
                = classify(failed != 0 && errors[i] == EAGAIN ? failed : errors[i], types[i], out[first + i]);
    }
    return out;
}

} // namespace corvane::platform
