#include "support/My_net_tcpip.h"
#include "platform/Ipv4.h"

#include <memory>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct ifaddrs_deleter
{
    void operator()(ifaddrs* p) const { ::freeifaddrs(p); }
};

struct addrinfo_deleter
{
    void operator()(addrinfo* p) const { ::freeaddrinfo(p); }
};

// First IPv4 address of a name, network order; 0 when there is none.
std::uint32_t first_ipv4(const char* name)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address, not one per socket type
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || !found)
        return 0;
    std::unique_ptr<addrinfo, addrinfo_deleter> list(found);
    return reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
}

using corvane::ipv4::THostAddr;
using corvane::ipv4::TNetAddr;

bool in_loopback_net(std::uint32_t address)
{
    return (TNetAddr{address}.host().value >> 24) == 127;
}

bool carried_by_up_interface(std::uint32_t address, const interface_list& list)
{
    for (const interface_entry& e : list)
        if (e.address == address && (e.flags & IFF_UP))
            return true;
    return false;
}

// The source address the kernel picks for a datagram to a documentation address, which leaves by
// the default route; connect() on UDP only chooses the route and sends nothing. 0 without a route.
std::uint32_t default_route_source()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = THostAddr{0xC0000201}.net().value; // 192.0.2.1, TEST-NET-1
    sockaddr_in from{};
    socklen_t length = sizeof(from);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&from), &length) == 0 && from.sin_family == AF_INET;
    ::close(fd);
    return ok ? from.sin_addr.s_addr : 0;
}

} // namespace

int winsock_startup()
{
    return 0;
}

int winsock_cleanup()
{
    return 0;
}

void get_interface_list(std::int32_t& count, interface_list& list)
{
    ifaddrs* head = nullptr;
    if (::getifaddrs(&head) != 0)
        return;
    std::unique_ptr<ifaddrs, ifaddrs_deleter> owner(head);
    interface_list found;
    for (const ifaddrs* p = head; p; p = p->ifa_next) {
        if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET)
            continue;
        interface_entry e{};
        e.address = reinterpret_cast<const sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr;
        if (p->ifa_netmask && p->ifa_netmask->sa_family == AF_INET)
            e.netmask = reinterpret_cast<const sockaddr_in*>(p->ifa_netmask)->sin_addr.s_addr;
        e.flags = p->ifa_flags;
        found.push_back(e);
    }
    list = std::move(found);
    count = static_cast<std::int32_t>(list.size());
}

QString ip_to_dotted(std::uint32_t value)
{
    return corvane::ipv4::dotted(THostAddr{value});
}

std::uint32_t get_local_ip()
{
    std::int32_t count = 0;
    interface_list list;
    get_interface_list(count, list);

    // Debian maps the host name to 127.0.1.1 or 127.0.0.1; only an adapter's address is of use here.
    char name[256] = {};
    const std::uint32_t named = ::gethostname(name, sizeof(name) - 1) == 0 ? first_ipv4(name) : 0;
    if (named && !in_loopback_net(named) && carried_by_up_interface(named, list))
        return named;

    if (const std::uint32_t routed = default_route_source(); routed && carried_by_up_interface(routed, list))
        return routed;

    for (const interface_entry& e : list)
        if ((e.flags & IFF_UP) && !(e.flags & IFF_LOOPBACK) && !in_loopback_net(e.address))
            return e.address;
    for (const interface_entry& e : list)
        if ((e.flags & IFF_UP) && (e.flags & IFF_LOOPBACK))
            return e.address;
    // Nothing is up: the name's address is all there is.
    return named;
}

QString ip_to_host_name(std::uint32_t address)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof(sa), host, sizeof(host), nullptr, 0,
                      NI_NAMEREQD)
        != 0)
        return QString();
    return QString::fromUtf8(host);
}

QString ip_text_to_host_name(const QString& text)
{
    return ip_to_host_name(corvane::ipv4::inet_addr_value(text).value);
}

std::uint32_t host_name_to_ip(const QString& name)
{
    if (name.isEmpty())
        return 0;
    return TNetAddr{first_ipv4(name.toUtf8().constData())}.host().value;
}

QString host_name_to_ip_text(const QString& name)
{
    return ip_to_dotted(host_name_to_ip(name));
}
