#include "support/LanRange.h"

#include "support/My_net_tcpip.h"

#include <arpa/inet.h>

#include <vector>

namespace corvane {

TLanRange lan_range(std::uint32_t localIp, std::span<const TLanInterface> interfaces)
{
    for (const TLanInterface& entry : interfaces) {
        if (entry.address != localIp)
            continue;
        const std::uint32_t mask = entry.netmask;
        const std::uint32_t net = localIp & mask;
        TLanRange range;
        range.found = true;
        range.first = htonl(ntohl(net) + 1u);
        range.last = htonl(ntohl(net | ~mask) - 1u);
        return range;
    }
    return {};
}

TLocalLan local_lan()
{
    TLocalLan lan;
    lan.address = get_local_ip();
    std::int32_t count = 0;
    interface_list entries;
    get_interface_list(count, entries);
    std::vector<TLanInterface> list;
    for (std::int32_t i = 0; i < count && i < std::int32_t(entries.size()); ++i)
        list.push_back({entries[std::size_t(i)].address, entries[std::size_t(i)].netmask});
    lan.range = lan_range(lan.address, list);
    for (const TLanInterface& entry : list) {
        if (entry.address == lan.address) {
            lan.netmask = entry.netmask;
            break;
        }
    }
    return lan;
}

QString net_order_dotted(std::uint32_t address)
{
    const std::uint32_t h = ntohl(address);
    return QString::asprintf("%u.%u.%u.%u", (h >> 24) & 0xffu, (h >> 16) & 0xffu, (h >> 8) & 0xffu, h & 0xffu);
}

} // namespace corvane
