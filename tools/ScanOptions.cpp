#include "tools/ScanOptions.h"

namespace corvane::scan {

namespace {

QString quoted(const QString& text)
{
    return u'\'' + text + u'\'';
}

const QString kHint = QStringLiteral("; see corvane-scan --help");

// What the words of the command line have given so far.
struct TParseState
{
    TScanOptions o;
    std::optional<TCommand> command;
    QStringList rangeWords;
    QStringList nbstatOnly; // options given that only nbstat takes
    QStringList pingOnly;
};

// The steps below give an error line without the hint, or an empty text.

// A word that is no option: the command first, then the words of RANGE.
QString take_word(TParseState& s, const QString& word)
{
    if (s.command) {
        s.rangeWords << word;
        return {};
    }
    if (word == QLatin1String("nbstat"))
        s.command = TCommand::Nbstat;
    else if (word == QLatin1String("ping"))
        s.command = TCommand::Ping;
    else
        return QStringLiteral("unknown command ") + quoted(word) + QStringLiteral(" (nbstat or ping)");
    return {};
}

// --help and --version answer at once, whatever follows.
std::optional<TCommand> answered_at_once(const QString& arg)
{
    if (arg == QLatin1String("-h") || arg == QLatin1String("--help"))
        return TCommand::Help;
    if (arg == QLatin1String("-V") || arg == QLatin1String("--version"))
        return TCommand::Version;
    return std::nullopt;
}

bool is_flag(const QString& name)
{
    return name == QLatin1String("--names") || name == QLatin1String("--port137") || name == QLatin1String("--resolve")
        || name == QLatin1String("--serial");
}

bool takes_value(const QString& name)
{
    return name == QLatin1String("--format") || name == QLatin1String("--bandwidth")
        || name == QLatin1String("--timeout") || name == QLatin1String("--compare");
}

void take_flag(TParseState& s, const QString& name)
{
    if (name == QLatin1String("--names")) {
        s.o.names = true;
        s.nbstatOnly << name;
    } else if (name == QLatin1String("--port137")) {
        s.o.port137 = true;
        s.nbstatOnly << name;
    } else if (name == QLatin1String("--serial")) {
        s.o.serial = true;
        s.pingOnly << name;
    } else {
        s.o.resolve = true;
        s.pingOnly << name;
    }
}

QString take_value(TParseState& s, const QString& name, const QString& v)
{
    if (name == QLatin1String("--compare")) {
        if (v.isEmpty())
            return QStringLiteral("option --compare needs a file name");
        s.o.compareFile = v;
        s.nbstatOnly << name;
        return {};
    }
    if (name == QLatin1String("--format")) {
        if (v == QLatin1String("txt"))
            s.o.format = TFormat::Txt;
        else if (v == QLatin1String("csv"))
            s.o.format = TFormat::Csv;
        else if (v == QLatin1String("json"))
            s.o.format = TFormat::Json;
        else
            return QStringLiteral("unknown format ") + quoted(v) + QStringLiteral(" (txt, csv or json)");
        return {};
    }
    const std::optional<std::int32_t> n = parse_non_negative(v);
    if (!n)
        return QStringLiteral("option ") + name + QStringLiteral(" needs a whole number from 0 to 2147483647, not ")
            + quoted(v);
    if (name == QLatin1String("--bandwidth")) {
        s.o.bandwidth = *n;
        s.nbstatOnly << name;
    } else {
        s.o.timeoutMs = *n;
        s.pingOnly << name;
    }
    return {};
}

// One word that starts with '-': a flag, or an option with its value inline ("--name=value") or
// in the next word, which i then moves past.
QString take_option(TParseState& s, const QStringList& args, qsizetype& i)
{
    const QString& arg = args[i];
    QString name = arg;
    std::optional<QString> value;
    if (const qsizetype eq = arg.indexOf(u'='); arg.startsWith(QLatin1String("--")) && eq > 2) {
        name = arg.left(eq);
        value = arg.mid(eq + 1);
    }
    if (is_flag(name)) {
        if (value)
            return QStringLiteral("option ") + name + QStringLiteral(" takes no value");
        take_flag(s, name);
        return {};
    }
    if (!takes_value(name))
        return QStringLiteral("unknown option ") + quoted(arg);
    if (!value && i + 1 < args.size())
        value = args[++i];
    if (!value)
        return QStringLiteral("option ") + name + QStringLiteral(" needs a value");
    return take_value(s, name, *value);
}

// Once every word is read: the command and the options that belong to it.
QString check_command(TParseState& s)
{
    if (!s.command)
        return QStringLiteral("no command given (nbstat or ping)");
    s.o.command = *s.command;
    if (s.o.command == TCommand::Ping && !s.nbstatOnly.isEmpty())
        return QStringLiteral("option ") + s.nbstatOnly.first() + QStringLiteral(" belongs to nbstat, not ping");
    if (s.o.command == TCommand::Nbstat && !s.pingOnly.isEmpty())
        return QStringLiteral("option ") + s.pingOnly.first() + QStringLiteral(" belongs to ping, not nbstat");
    if (s.o.command == TCommand::Nbstat && s.o.names && s.o.format == TFormat::Csv)
        return QStringLiteral("option --names has no csv form; --format json carries the name tables");
    return {};
}

// RANGE, when given; without it the scan takes the local subnet.
QString take_range(TParseState& s)
{
    if (s.rangeWords.isEmpty())
        return {};
    if (s.rangeWords.size() > 2)
        return QStringLiteral("too many arguments from ") + quoted(s.rangeWords[2]);
    TRangeResult r = parse_range(s.rangeWords);
    if (!r.range)
        return r.error;
    if (s.o.command == TCommand::Nbstat)
        if (const QString e = nbstat_range_error(*r.range); !e.isEmpty())
            return e;
    s.o.range = r.range;
    return {};
}

} // namespace

TParseResult parse_scan_options(const QStringList& args)
{
    const auto fail = [](const QString& text) { return TParseResult {std::nullopt, text + kHint}; };

    TParseState s;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString error;
        if (optionsEnded || !arg.startsWith(u'-') || arg == QLatin1String("-")) {
            error = take_word(s, arg);
        } else if (const std::optional<TCommand> answer = answered_at_once(arg)) {
            TScanOptions o;
            o.command = *answer;
            return {o, {}};
        } else {
            error = take_option(s, args, i);
        }
        if (!error.isEmpty())
            return fail(error);
    }
    if (const QString e = check_command(s); !e.isEmpty())
        return fail(e);
    if (const QString e = take_range(s); !e.isEmpty())
        return fail(e);
    return {s.o, {}};
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
