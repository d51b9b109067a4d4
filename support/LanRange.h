#pragma once
// The local subnet's host range, from the local address and the interface list. Widget-free: the
// window and the headless front end both use it.

#include <QString>

#include <cstdint>
#include <span>

namespace corvane {

// Both values as the socket library stores them: network byte order.
struct TLanInterface
{
    std::uint32_t address = 0;
    std::uint32_t netmask = 0;
};

struct TLanRange
{
    bool found = false;       // an interface carries the local address
    std::uint32_t first = 0;  // network order
    std::uint32_t last = 0;   // network order
};

// The first interface, in the given order, whose address equals localIp decides the mask.
// first = net + 1 and last = broadcast - 1, as numbers in host order with 32-bit wrap-around; a /32
// therefore gives first above last, and that is kept.
TLanRange lan_range(std::uint32_t localIp, std::span<const TLanInterface> interfaces);

// What SetLocalIPRange finds: the local address, the mask of the first interface carrying it, and
// lan_range of the two. netmask is 0 and range.found false when no interface carries the address.
struct TLocalLan
{
    std::uint32_t address = 0; // network order; 0 when the local address is unknown
    std::uint32_t netmask = 0; // network order
    TLanRange range;
};

// From get_local_ip and get_interface_list, in the system's interface order.
TLocalLan local_lan();

} // namespace corvane
