#include "support/LanRange.h"

#include "platform/Ipv4.h"
#include "support/My_net_tcpip.h"

#include <vector>

namespace corvane {

TLanRange lan_range(std::uint32_t localIp, std::span<const TLanInterface> interfaces)
{
    for (const TLanInterface& entry : interfaces) {
        if (entry.address != localIp)
            continue;
        // Byte order does not matter to the mask; the +1 and -1 are on host-order numbers.
        const std::uint32_t mask = entry.netmask;
        const ipv4::THostAddr net = ipv4::TNetAddr{localIp & mask}.host();
        const ipv4::THostAddr broadcast = ipv4::TNetAddr{localIp | ~mask}.host();
        TLanRange range;
        range.found = true;
        range.first = ipv4::THostAddr{net.value + 1u}.net().value;
        range.last = ipv4::THostAddr{broadcast.value - 1u}.net().value;
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

} // namespace corvane
