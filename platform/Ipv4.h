#pragma once
// IPv4 addresses: the two byte orders as distinct types, dotted text, the two parses and the walk
// rule of a range. Widget-free; every front end and the engine use it.

#include <QString>

#include <bit>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvane::ipv4 {

namespace detail {
constexpr std::uint32_t swap_to_host(std::uint32_t v)
{
    if constexpr (std::endian::native == std::endian::big)
        return v;
    else
        return __builtin_bswap32(v);
}
} // namespace detail

struct THostAddr;

// An address as it sits in in_addr.s_addr and on the wire.
struct TNetAddr {
    std::uint32_t value = 0;
    constexpr THostAddr host() const;
    constexpr bool operator==(const TNetAddr&) const = default;
};

// An address as a number: 10.0.0.1 is 0x0A000001, so +1 is the next address.
struct THostAddr {
    std::uint32_t value = 0;
    constexpr TNetAddr net() const { return {detail::swap_to_host(value)}; }
    constexpr bool operator==(const THostAddr&) const = default;
};

constexpr THostAddr TNetAddr::host() const { return {detail::swap_to_host(value)}; }

// What inet_addr gives for text that is not an address (and for 255.255.255.255).
inline constexpr TNetAddr kInetAddrNone {0xFFFFFFFFu};

// "a.b.c.d", as inet_ntoa writes it.
QString dotted(THostAddr address);
QString dotted(TNetAddr address);

// inet_aton's rules: shorthand ("10.1"), octal and hex parts, text after a blank ignored.
// Nothing for text that is not an address.
std::optional<TNetAddr> parse_lenient(const QString& text);
// inet_addr: the lenient parse, with kInetAddrNone for text that is not an address.
TNetAddr inet_addr_value(const QString& text);

// Exactly four decimal octets 0..255, no leading zeros, nothing else: what a user typing a
// dotted quad means, and nothing a lenient parse would reinterpret.
std::optional<THostAddr> parse_strict(const QString& text);

// The walk rule of a range: both ends compared as signed host-order numbers, so 128.0.0.0 and
// above lie below 0.0.0.0 and no walk crosses from 127.255.255.255 to 128.0.0.0.
constexpr std::int32_t signed_host(THostAddr a) { return static_cast<std::int32_t>(a.value); }
constexpr bool walkable(THostAddr first, THostAddr last) { return signed_host(first) <= signed_host(last); }
// Addresses from first to last under the walk rule; 0 when they are reversed.
constexpr std::uint64_t walk_length(THostAddr first, THostAddr last)
{
    if (!walkable(first, last))
        return 0;
    return static_cast<std::uint64_t>(std::int64_t{signed_host(last)} - signed_host(first) + 1);
}

// Both ends included, first <= last as plain numbers.
struct THostRange {
    THostAddr first;
    THostAddr last;
    constexpr std::uint64_t count() const { return std::uint64_t {last.value} - first.value + 1; }
    constexpr bool operator==(const THostRange&) const = default;
};

// The union of ranges as few ranges as it takes, ascending: each address once, in plain order.
std::vector<THostRange> merge_ranges(std::vector<THostRange> ranges);
// Addresses in the ranges as merge_ranges gives them.
std::uint64_t address_count(const std::vector<THostRange>& merged);

} // namespace corvane::ipv4
