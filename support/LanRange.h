#pragma once
// The local subnet's host range, from the local address and the interface list. Widget-free: the
// window and the headless front end both use it.

#include "platform/Ipv4.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

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
// get_interface_list's entries, in the system's order.
std::vector<TLanInterface> local_interfaces();

// Address ranges as a user types them, in the window's fields and on corvane-scan's command line.

// Decimal digits only, at most 2147483647.
std::optional<std::int32_t> parse_non_negative(const QString& text);

// The hosts of address/prefix: network and broadcast left out up to /30; a /31 is a point-to-point
// link whose two addresses are both hosts; a /32 is the one address. Host bits in address are ignored.
ipv4::THostRange cidr_hosts(ipv4::THostAddr address, int prefix);

// RANGE given as one word (FIRST-LAST, CIDR, a single address) or two (FIRST LAST).
struct TRangeResult
{
    std::optional<ipv4::THostRange> range;
    QString error; // one line when range is empty
};
TRangeResult parse_range(const QStringList& words);

// The scan thread and the window's sweep walk a range under the signed walk rule, so neither can walk
// from the lower half of the address space into the upper one: the error line, or empty. survey
// names the walk in the line ("a node-status scan").
QString walk_range_error(const ipv4::THostRange& range, const QString& survey);
QString nbstat_range_error(const ipv4::THostRange& range);

// The range a scan without RANGE takes: the window's subnet range; for a /31 or /32, where that comes
// out reversed, the hosts of the interface's address and mask as a typed CIDR would give them.
// Empty when no interface carries the local address.
std::optional<ipv4::THostRange> local_scan_range(const TLocalLan& lan);

} // namespace corvane
