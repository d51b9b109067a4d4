#include "support/LanRange.h"

#include "platform/Ipv4.h"
#include "support/My_net_tcpip.h"

#include <limits>
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

std::vector<TLanInterface> local_interfaces()
{
    std::int32_t count = 0;
    interface_list entries;
    get_interface_list(count, entries);
    std::vector<TLanInterface> list;
    for (std::int32_t i = 0; i < count && i < std::int32_t(entries.size()); ++i)
        list.push_back({entries[std::size_t(i)].address, entries[std::size_t(i)].netmask});
    return list;
}

TLocalLan local_lan()
{
    TLocalLan lan;
    lan.address = get_local_ip();
    const std::vector<TLanInterface> list = local_interfaces();
    lan.range = lan_range(lan.address, list);
    for (const TLanInterface& entry : list) {
        if (entry.address == lan.address) {
            lan.netmask = entry.netmask;
            break;
        }
    }
    return lan;
}

namespace {

using ipv4::dotted;
using ipv4::parse_strict;
using ipv4::THostAddr;
using ipv4::TNetAddr;

QString quoted(const QString& text)
{
    return u'\'' + text + u'\'';
}

TRangeResult range_error(const QString& text)
{
    return {std::nullopt, text};
}

TRangeResult checked_range(THostAddr first, THostAddr last)
{
    if (first.value > last.value)
        return range_error(QStringLiteral("reversed range: %1 is above %2").arg(dotted(first), dotted(last)));
    // 0.0.0.0 is no host: the scan thread and the window's sweep both refuse it as an end.
    if (first.value == 0)
        return range_error(QStringLiteral("a range cannot begin at 0.0.0.0"));
    return {ipv4::THostRange {first, last}, {}};
}

QString not_an_address(const QString& word)
{
    return quoted(word) + QStringLiteral(" is not an IPv4 address");
}

} // namespace

std::optional<std::int32_t> parse_non_negative(const QString& text)
{
    if (text.isEmpty() || text.size() > 10)
        return std::nullopt;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    const qint64 value = text.toLongLong();
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

ipv4::THostRange cidr_hosts(THostAddr address, int prefix)
{
    const std::uint32_t mask = prefix <= 0 ? 0u : prefix >= 32 ? 0xffffffffu : ~((1u << (32 - prefix)) - 1u);
    const std::uint32_t net = address.value & mask;
    const std::uint32_t broadcast = net | ~mask;
    if (prefix >= 31)
        return {{net}, {broadcast}};
    return {{net + 1u}, {broadcast - 1u}};
}

TRangeResult parse_range(const QStringList& words)
{
    if (words.isEmpty() || words.size() > 2)
        return range_error(QStringLiteral("a range is one or two words"));
    // Both ends of FIRST LAST or FIRST-LAST.
    const auto pair = [](const QString& a, const QString& b) {
        // A half-typed range is told by the part that is missing, not as an empty address.
        if (a.isEmpty())
            return range_error(QStringLiteral("the range has no first address"));
        if (b.isEmpty())
            return range_error(QStringLiteral("the range has no last address"));
        const std::optional<THostAddr> first = parse_strict(a);
        if (!first)
            return range_error(not_an_address(a));
        const std::optional<THostAddr> last = parse_strict(b);
        if (!last)
            return range_error(not_an_address(b));
        return checked_range(*first, *last);
    };
    if (words.size() == 2)
        return pair(words[0], words[1]);
    const QString& word = words[0];
    if (const qsizetype slash = word.indexOf(u'/'); slash >= 0) {
        if (slash == 0)
            return range_error(QStringLiteral("the range has no address before ") + word);
        const std::optional<THostAddr> address = parse_strict(word.left(slash));
        if (!address)
            return range_error(not_an_address(word.left(slash)));
        const QString prefixText = word.mid(slash + 1);
        const std::optional<std::int32_t> prefix = parse_non_negative(prefixText);
        if (!prefix || *prefix > 32 || (prefixText.size() > 1 && prefixText.front() == u'0'))
            return range_error(quoted(word) + QStringLiteral(" needs a prefix length from 0 to 32"));
        const ipv4::THostRange hosts = cidr_hosts(*address, *prefix);
        return checked_range(hosts.first, hosts.last);
    }
    if (const qsizetype dash = word.indexOf(u'-'); dash >= 0)
        return pair(word.left(dash), word.mid(dash + 1));
    return pair(word, word);
}

QString walk_range_error(const ipv4::THostRange& range, const QString& survey)
{
    if (!corvane::ipv4::walkable(range.first, range.last))
        return QStringLiteral("the range %1-%2 crosses 128.0.0.0, which %3 cannot walk; scan each side on its own")
            .arg(dotted(range.first), dotted(range.last), survey);
    return {};
}

QString nbstat_range_error(const ipv4::THostRange& range)
{
    return walk_range_error(range, QStringLiteral("a node-status scan"));
}

std::optional<ipv4::THostRange> local_scan_range(const TLocalLan& lan)
{
    if (!lan.range.found)
        return std::nullopt;
    const THostAddr first = TNetAddr {lan.range.first}.host();
    const THostAddr last = TNetAddr {lan.range.last}.host();
    if (first.value <= last.value)
        return ipv4::THostRange {first, last};
    const std::uint32_t mask = TNetAddr {lan.netmask}.host().value;
    const THostAddr address = TNetAddr {lan.address}.host();
    if (mask == 0xffffffffu)
        return cidr_hosts(address, 32);
    if (mask == 0xfffffffeu)
        return cidr_hosts(address, 31);
    return std::nullopt;
}

} // namespace corvane
