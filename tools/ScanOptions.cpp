#include "tools/ScanOptions.h"

#include <arpa/inet.h>

#include <limits>

namespace corvane::scan {

namespace {

QString quoted(const QString& text)
{
    return u'\'' + text + u'\'';
}

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

TRangeResult range_error(const QString& text)
{
    return {std::nullopt, text};
}

TRangeResult checked_range(std::uint32_t first, std::uint32_t last)
{
    if (first > last)
        return range_error(QStringLiteral("reversed range: %1 is above %2").arg(dotted(first), dotted(last)));
    // 0.0.0.0 is no host: the scan thread and the window's sweep both refuse it as an end.
    if (first == 0)
        return range_error(QStringLiteral("a range cannot begin at 0.0.0.0"));
    return {TAddressRange {first, last}, {}};
}

QString not_an_address(const QString& word)
{
    return quoted(word) + QStringLiteral(" is not an IPv4 address");
}

const QString kHint = QStringLiteral("; see corvane-scan --help");

} // namespace

std::optional<std::uint32_t> parse_ipv4(const QString& text)
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
    return value;
}

QString dotted(std::uint32_t hostOrder)
{
    return QString::asprintf("%u.%u.%u.%u", (hostOrder >> 24) & 0xffu, (hostOrder >> 16) & 0xffu,
                             (hostOrder >> 8) & 0xffu, hostOrder & 0xffu);
}

TAddressRange cidr_hosts(std::uint32_t address, int prefix)
{
    const std::uint32_t mask = prefix <= 0 ? 0u : prefix >= 32 ? 0xffffffffu : ~((1u << (32 - prefix)) - 1u);
    const std::uint32_t net = address & mask;
    const std::uint32_t broadcast = net | ~mask;
    if (prefix >= 31)
        return {net, broadcast};
    return {net + 1u, broadcast - 1u};
}

TRangeResult parse_range(const QStringList& words)
{
    if (words.isEmpty() || words.size() > 2)
        return range_error(QStringLiteral("a range is one or two words"));
    // Both ends of FIRST LAST or FIRST-LAST.
    const auto pair = [](const QString& a, const QString& b) {
        const std::optional<std::uint32_t> first = parse_ipv4(a);
        if (!first)
            return range_error(not_an_address(a));
        const std::optional<std::uint32_t> last = parse_ipv4(b);
        if (!last)
            return range_error(not_an_address(b));
        return checked_range(*first, *last);
    };
    if (words.size() == 2)
        return pair(words[0], words[1]);
    const QString& word = words[0];
    if (const qsizetype slash = word.indexOf(u'/'); slash >= 0) {
        const std::optional<std::uint32_t> address = parse_ipv4(word.left(slash));
        if (!address)
            return range_error(not_an_address(word.left(slash)));
        const QString prefixText = word.mid(slash + 1);
        const std::optional<std::int32_t> prefix = parse_non_negative(prefixText);
        if (!prefix || *prefix > 32 || (prefixText.size() > 1 && prefixText.front() == u'0'))
            return range_error(quoted(word) + QStringLiteral(" needs a prefix length from 0 to 32"));
        const TAddressRange hosts = cidr_hosts(*address, *prefix);
        return checked_range(hosts.first, hosts.last);
    }
    if (const qsizetype dash = word.indexOf(u'-'); dash >= 0)
        return pair(word.left(dash), word.mid(dash + 1));
    return pair(word, word);
}

QString nbstat_range_error(const TAddressRange& range)
{
    if (range.first < 0x80000000u && range.last >= 0x80000000u)
        return QStringLiteral("the range %1-%2 crosses 128.0.0.0, which a node-status scan cannot walk; "
                              "scan each side on its own")
            .arg(dotted(range.first), dotted(range.last));
    return {};
}

std::optional<TAddressRange> local_scan_range(const TLocalLan& lan)
{
    if (!lan.range.found)
        return std::nullopt;
    const std::uint32_t first = ntohl(lan.range.first);
    const std::uint32_t last = ntohl(lan.range.last);
    if (first <= last)
        return TAddressRange {first, last};
    const std::uint32_t mask = ntohl(lan.netmask);
    if (mask == 0xffffffffu)
        return cidr_hosts(ntohl(lan.address), 32);
    if (mask == 0xfffffffeu)
        return cidr_hosts(ntohl(lan.address), 31);
    return std::nullopt;
}

TParseResult parse_scan_options(const QStringList& args)
{
    const auto fail = [](const QString& text) { return TParseResult {std::nullopt, text + kHint}; };

    TScanOptions o;
    std::optional<TCommand> command;
    QStringList rangeWords;
    QStringList nbstatOnly;
    QStringList pingOnly;
    bool optionsEnded = false;

    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || !arg.startsWith(u'-') || arg == QLatin1String("-")) {
            if (!command) {
                if (arg == QLatin1String("nbstat"))
                    command = TCommand::Nbstat;
                else if (arg == QLatin1String("ping"))
                    command = TCommand::Ping;
                else
                    return fail(QStringLiteral("unknown command ") + quoted(arg) + QStringLiteral(" (nbstat or ping)"));
            } else {
                rangeWords << arg;
            }
            continue;
        }
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            TScanOptions help;
            help.command = TCommand::Help;
            return {help, {}};
        }
        if (arg == QLatin1String("-V") || arg == QLatin1String("--version")) {
            TScanOptions version;
            version.command = TCommand::Version;
            return {version, {}};
        }

        QString name = arg;
        std::optional<QString> inlineValue;
        if (const qsizetype eq = arg.indexOf(u'='); arg.startsWith(QLatin1String("--")) && eq > 2) {
            name = arg.left(eq);
            inlineValue = arg.mid(eq + 1);
        }
        const auto flag = [&]() -> bool { return !inlineValue; };
        const auto value = [&]() -> std::optional<QString> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };

        if (name == QLatin1String("--names") || name == QLatin1String("--port137")
            || name == QLatin1String("--resolve") || name == QLatin1String("--serial")) {
            if (!flag())
                return fail(QStringLiteral("option ") + name + QStringLiteral(" takes no value"));
            if (name == QLatin1String("--names")) {
                o.names = true;
                nbstatOnly << name;
            } else if (name == QLatin1String("--port137")) {
                o.port137 = true;
                nbstatOnly << name;
            } else if (name == QLatin1String("--serial")) {
                o.serial = true;
                pingOnly << name;
            } else {
                o.resolve = true;
                pingOnly << name;
            }
        } else if (name == QLatin1String("--format") || name == QLatin1String("--bandwidth")
                   || name == QLatin1String("--timeout") || name == QLatin1String("--compare")) {
            const std::optional<QString> v = value();
            if (!v)
                return fail(QStringLiteral("option ") + name + QStringLiteral(" needs a value"));
            if (name == QLatin1String("--compare")) {
                if (v->isEmpty())
                    return fail(QStringLiteral("option --compare needs a file name"));
                o.compareFile = *v;
                nbstatOnly << name;
            } else if (name == QLatin1String("--format")) {
                if (*v == QLatin1String("txt"))
                    o.format = TFormat::Txt;
                else if (*v == QLatin1String("csv"))
                    o.format = TFormat::Csv;
                else if (*v == QLatin1String("json"))
                    o.format = TFormat::Json;
                else
                    return fail(QStringLiteral("unknown format ") + quoted(*v) + QStringLiteral(" (txt, csv or json)"));
            } else {
                const std::optional<std::int32_t> n = parse_non_negative(*v);
                if (!n)
                    return fail(QStringLiteral("option ") + name
                                + QStringLiteral(" needs a whole number from 0 to 2147483647, not ") + quoted(*v));
                if (name == QLatin1String("--bandwidth")) {
                    o.bandwidth = *n;
                    nbstatOnly << name;
                } else {
                    o.timeoutMs = *n;
                    pingOnly << name;
                }
            }
        } else {
            return fail(QStringLiteral("unknown option ") + quoted(arg));
        }
    }

    if (!command)
        return fail(QStringLiteral("no command given (nbstat or ping)"));
    o.command = *command;
    if (o.command == TCommand::Ping && !nbstatOnly.isEmpty())
        return fail(QStringLiteral("option ") + nbstatOnly.first() + QStringLiteral(" belongs to nbstat, not ping"));
    if (o.command == TCommand::Nbstat && !pingOnly.isEmpty())
        return fail(QStringLiteral("option ") + pingOnly.first() + QStringLiteral(" belongs to ping, not nbstat"));
    if (o.command == TCommand::Nbstat && o.names && o.format == TFormat::Csv)
        return fail(QStringLiteral("option --names has no csv form; --format json carries the name tables"));

    if (!rangeWords.isEmpty()) {
        if (rangeWords.size() > 2)
            return fail(QStringLiteral("too many arguments from ") + quoted(rangeWords[2]));
        TRangeResult r = parse_range(rangeWords);
        if (!r.range)
            return fail(r.error);
        if (o.command == TCommand::Nbstat)
            if (const QString e = nbstat_range_error(*r.range); !e.isEmpty())
                return fail(e);
        o.range = r.range;
    }
    return {o, {}};
}

QString usage_text()
{
    return QStringLiteral(
        "Usage: corvane-scan nbstat [--format txt|csv|json] [--names] [--bandwidth BITS] [--port137]\n"
        "                           [--compare FILE] [RANGE]\n"
        "       corvane-scan ping [--format txt|csv|json] [--timeout MS] [--resolve] [--serial] [RANGE]\n"
        "       corvane-scan --help | --version\n"
        "\n"
        "Surveys an IPv4 range from the command line with the engine of the Corvane window.\n"
        "\n"
        "Commands:\n"
        "  nbstat            NetBIOS node-status scan (UDP 137); prints the network list\n"
        "  ping              ICMP echo sweep, one line per address in address order; one echo\n"
        "                    per millisecond without waiting for answers\n"
        "\n"
        "RANGE (default: the local subnet, as the window's \"Get LAN IPs\" finds it):\n"
        "  FIRST LAST        both ends included, e.g. 192.168.1.1 192.168.1.254\n"
        "  FIRST-LAST        the same in one word\n"
        "  ADDRESS/PREFIX    the subnet's hosts without network and broadcast address;\n"
        "                    /31 gives both addresses, /32 the one address\n"
        "  ADDRESS           that address alone\n"
        "\n"
        "Options:\n"
        "  --format FORMAT   txt (default), csv or json\n"
        "  --names           nbstat, txt: each host's name table after the list\n"
        "  --bandwidth BITS  nbstat: send-rate limit in bits per second (0: none, the default)\n"
        "  --port137         nbstat: send from local UDP port 137 instead of a free port\n"
        "  --compare FILE    nbstat: mark each host new, changed or same against FILE (a network\n"
        "                    list the window saved, or corvane-scan txt or json output) and list\n"
        "                    its hosts that did not answer as gone; txt adds a report after the list\n"
        "  --timeout MS      ping: time-out per address in milliseconds (default 30)\n"
        "  --resolve         ping: name each answering host (lookups run side by side)\n"
        "  --serial          ping: one address at a time, each waiting out its answer, as the\n"
        "                    window sweeps\n"
        "  -h, --help        this text\n"
        "  -V, --version     the program's file version\n"
        "\n"
        "Exit status: 0 a scan ran (hosts found or not), 1 the scan could not start\n"
        "(socket, local subnet, ICMP engine) or its results could not be written,\n"
        "2 bad command line or a --compare FILE that cannot be read.\n"
        "\n"
        "Vendor names (json \"vendor\", csv Vendor) come from the IEEE registry of the ieee-data\n"
        "package; for hosts that report the adapter address 00.00.00.00.00.00 from the address the\n"
        "neighbour table holds for them (json \"neighbour_mac\", csv NeighbourMac).\n");
}

} // namespace corvane::scan
