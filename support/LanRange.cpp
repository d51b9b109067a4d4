#include "support/LanRange.h"

#include <arpa/inet.h>

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

QString net_order_dotted(std::uint32_t address)
{
    const std::uint32_t h = ntohl(address);
    return QString::asprintf("%u.%u.%u.%u", (h >> 24) & 0xffu, (h >> 16) & 0xffu, (h >> 8) & 0xffu, h & 0xffu);
}

} // namespace corvane
