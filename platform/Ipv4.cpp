#include "platform/Ipv4.h"

#include <algorithm>

#include <QStringList>

#include <arpa/inet.h>

namespace corvane::ipv4 {

QString dotted(THostAddr address)
{
    const std::uint32_t h = address.value;
    return QString::asprintf("%u.%u.%u.%u", (h >> 24) & 0xffu, (h >> 16) & 0xffu, (h >> 8) & 0xffu, h & 0xffu);
}

QString dotted(TNetAddr address)
{
    return dotted(address.host());
}

std::optional<TNetAddr> parse_lenient(const QString& text)
{
    in_addr a {};
    if (::inet_aton(text.toLatin1().constData(), &a) == 0)
        return std::nullopt;
    return TNetAddr {a.s_addr};
}

TNetAddr inet_addr_value(const QString& text)
{
    return parse_lenient(text).value_or(kInetAddrNone);
}

std::optional<THostAddr> parse_strict(const QString& text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.front() == u'0'))
            return std::nullopt;
        for (QChar c : part)
            if (c < u'0' || c > u'9')
                return std::nullopt;
        const int octet = part.toInt();
        if (octet > 255)
            return std::nullopt;
        value = (value << 8) | static_cast<std::uint32_t>(octet);
    }
    return THostAddr {value};
}

std::vector<THostRange> merge_ranges(std::vector<THostRange> ranges)
{
    std::sort(ranges.begin(), ranges.end(),
              [](const THostRange& a, const THostRange& b) { return a.first.value < b.first.value; });
    std::vector<THostRange> merged;
    for (const THostRange& r : ranges) {
        // Overlapping or adjacent: one range. last + 1 is taken in 64 bits, so 255.255.255.255 cannot wrap.
        if (!merged.empty() && std::uint64_t {r.first.value} <= std::uint64_t {merged.back().last.value} + 1) {
            merged.back().last.value = std::max(merged.back().last.value, r.last.value);
            continue;
        }
        merged.push_back(r);
    }
    return merged;
}

std::uint64_t address_count(const std::vector<THostRange>& merged)
{
    std::uint64_t n = 0;
    for (const THostRange& r : merged)
        n += r.count();
    return n;
}

} // namespace corvane::ipv4
