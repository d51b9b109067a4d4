#include "tools/ScanOptions.h"

#include "inventory/Inventory.h"

#include <QFile>
#include <QRegularExpression>

#include <cstdio>

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
    QStringList watchOnly;
    QStringList surveyOnly; // options of a survey, which devices does not run
    bool rateGiven = false;
    bool timeoutGiven = false;
    bool formatGiven = false;
    bool dbGiven = false;
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
    else if (word == QLatin1String("discover"))
        s.command = TCommand::Discover;
    else if (word == QLatin1String("watch"))
        s.command = TCommand::Watch;
    else if (word == QLatin1String("devices"))
        s.command = TCommand::Devices;
    else
        return QStringLiteral("unknown command ") + quoted(word)
            + QStringLiteral(" (nbstat, ping, discover, watch or devices)");
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
        || name == QLatin1String("--serial") || name == QLatin1String("--once");
}

bool takes_value(const QString& name)
{
    return name == QLatin1String("--format") || name == QLatin1String("--bandwidth")
        || name == QLatin1String("--timeout") || name == QLatin1String("--compare") || name == QLatin1String("--rate")
        || name == QLatin1String("--retries") || name == QLatin1String("--targets") || name == QLatin1String("--db")
        || name == QLatin1String("--every") || name == QLatin1String("--gone-after") || name == QLatin1String("--site");
}

// A whole number from low to high, or nothing.
std::optional<std::int32_t> bounded(const QString& v, std::int32_t low, std::int32_t high)
{
    const std::optional<std::int32_t> n = parse_non_negative(v);
    if (!n || *n < low || *n > high)
        return std::nullopt;
    return n;
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
    } else if (name == QLatin1String("--once")) {
        s.o.once = true;
        s.watchOnly << name;
    } else {
        s.o.resolve = true;
        s.pingOnly << name;
    }
}

// --db, --every, --gone-after and --site.
QString take_inventory_value(TParseState& s, const QString& name, const QString& v)
{
    if (name == QLatin1String("--db")) {
        QString why;
        if (!corvane::inventory::parse_db_url(v, &why))
            return QStringLiteral("option --db: ") + why;
        s.o.dbUrl = v;
        s.dbGiven = true;
        return {};
    }
    s.watchOnly << name;
    if (name == QLatin1String("--every")) {
        const std::optional<std::int32_t> secs = parse_duration(v);
        if (!secs)
            return QStringLiteral("option --every needs a duration from 1s to 24h such as 30s, 5m or 1h, not ")
                + quoted(v);
        s.o.everySecs = *secs;
    } else if (name == QLatin1String("--gone-after")) {
        const std::optional<std::int32_t> n = bounded(v, 1, kMaxGoneAfter);
        if (!n)
            return QStringLiteral("option --gone-after needs a whole number from 1 to %1, not ").arg(kMaxGoneAfter)
                + quoted(v);
        s.o.goneAfter = *n;
    } else {
        if (v.trimmed().isEmpty())
            return QStringLiteral("option --site needs a name");
        s.o.site = v;
    }
    return {};
}

QString take_value(TParseState& s, const QString& name, const QString& v)
{
    if (name == QLatin1String("--db") || name == QLatin1String("--every") || name == QLatin1String("--gone-after")
        || name == QLatin1String("--site"))
        return take_inventory_value(s, name, v);
    if (name == QLatin1String("--rate") || name == QLatin1String("--timeout") || name == QLatin1String("--targets"))
        s.surveyOnly << name;
    if (name == QLatin1String("--compare")) {
        if (v.isEmpty())
            return QStringLiteral("option --compare needs a file name");
        s.o.compareFile = v;
        s.nbstatOnly << name;
        return {};
    }
    if (name == QLatin1String("--targets")) {
        if (v.isEmpty())
            return QStringLiteral("option --targets needs a file name");
        s.o.targetsFile = v;
        return {};
    }
    if (name == QLatin1String("--rate") || name == QLatin1String("--retries")) {
        const bool rate = name == QLatin1String("--rate");
        const std::int32_t low = rate ? 1 : 0, high = rate ? kMaxRate : kMaxRetries;
        const std::optional<std::int32_t> n = bounded(v, low, high);
        if (!n)
            return QStringLiteral("option %1 needs a whole number from %2 to %3, not ").arg(name).arg(low).arg(high)
                + quoted(v);
        if (rate) {
            s.o.rate = *n;
            s.rateGiven = true;
        } else {
            s.o.retries = *n;
            s.nbstatOnly << name;
        }
        return {};
    }
    if (name == QLatin1String("--format")) {
        s.formatGiven = true;
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
        s.timeoutGiven = true;
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
        return QStringLiteral("no command given (nbstat, ping, discover, watch or devices)");
    s.o.command = *s.command;
    const auto notOf = [](const QString& option, const char* owner, const char* command) {
        return QStringLiteral("option %1 belongs to %2, not %3").arg(option, QLatin1String(owner), QLatin1String(command));
    };
    if (s.o.command == TCommand::Devices) {
        // It reads the inventory only: no survey, no range.
        for (const QStringList* only : {&s.nbstatOnly, &s.pingOnly, &s.watchOnly, &s.surveyOnly})
            if (!only->isEmpty())
                return QStringLiteral("option %1 belongs to a survey, not devices").arg(only->first());
        if (!s.rangeWords.isEmpty())
            return QStringLiteral("devices lists the inventory and takes no RANGE");
        return {};
    }
    if (s.o.command != TCommand::Watch && !s.watchOnly.isEmpty())
        return notOf(s.watchOnly.first(), "watch", s.o.command == TCommand::Nbstat ? "nbstat"
                                                   : s.o.command == TCommand::Ping  ? "ping"
                                                                                    : "discover");
    if (s.o.command == TCommand::Ping && s.dbGiven)
        return QStringLiteral("option --db belongs to discover, nbstat, watch and devices, not ping");
    if (s.o.command == TCommand::Watch) {
        if (s.formatGiven)
            return QStringLiteral("option --format is not watch's: it prints each event as one JSON line");
        if (!s.nbstatOnly.isEmpty())
            return notOf(s.nbstatOnly.first(), "nbstat", "watch");
        s.pingOnly.removeAll(QStringLiteral("--timeout"));
        if (!s.pingOnly.isEmpty())
            return notOf(s.pingOnly.first(), "ping", "watch");
        if (!s.timeoutGiven)
            s.o.timeoutMs = 1000;
    }
    if (s.o.command == TCommand::Discover) {
        // Discover waits for late answers too.
        s.pingOnly.removeAll(QStringLiteral("--timeout"));
        if (!s.timeoutGiven)
            s.o.timeoutMs = 1000;
        if (!s.nbstatOnly.isEmpty())
            return QStringLiteral("option ") + s.nbstatOnly.first() + QStringLiteral(" belongs to nbstat, not discover");
        if (!s.pingOnly.isEmpty())
            return QStringLiteral("option ") + s.pingOnly.first() + QStringLiteral(" belongs to ping, not discover");
    }
    if (s.o.command == TCommand::Ping && !s.nbstatOnly.isEmpty())
        return QStringLiteral("option ") + s.nbstatOnly.first() + QStringLiteral(" belongs to nbstat, not ping");
    if (s.o.command == TCommand::Nbstat && !s.pingOnly.isEmpty())
        return QStringLiteral("option ") + s.pingOnly.first() + QStringLiteral(" belongs to ping, not nbstat");
    if (s.o.command == TCommand::Ping && s.o.serial && s.rateGiven)
        return QStringLiteral("option --rate paces the parallel sweep; --serial waits for each address");
    if (s.o.command == TCommand::Nbstat && s.o.names && s.o.format == TFormat::Csv)
        return QStringLiteral("option --names has no csv form; --format json carries the name tables");
    return {};
}

QString file_label(const QString& file)
{
    return file == QLatin1String("-") ? QStringLiteral("standard input") : file;
}

// The RANGEs on the command line, then the --targets lines; without any the scan takes the local subnet.
QString take_ranges(TParseState& s, QString& fileError)
{
    const TRangeGroups groups = group_range_words(s.rangeWords);
    if (!groups.error.isEmpty())
        return groups.error;
    std::vector<TAddressRange> given;
    for (const QStringList& words : groups.ranges) {
        const TRangeResult r = parse_range(words);
        if (!r.range)
            return r.error;
        given.push_back(*r.range);
    }
    if (!s.o.targetsFile.isEmpty()) {
        TTargetsResult t = read_targets(s.o.targetsFile);
        if (!t.error.isEmpty()) {
            fileError = t.error;
            return {};
        }
        given.insert(given.end(), t.ranges.begin(), t.ranges.end());
        if (t.ranges.empty() && given.empty()) {
            fileError = file_label(s.o.targetsFile) + QStringLiteral(": no RANGE in it");
            return {};
        }
    }
    s.o.rangeCount = static_cast<int>(given.size());
    // One RANGE is walked under the window's rule; several in plain order, which crosses 128.0.0.0.
    if (given.size() == 1 && s.o.command == TCommand::Nbstat)
        if (const QString e = nbstat_range_error(given.front()); !e.isEmpty())
            return e;
    s.o.ranges = corvane::ipv4::merge_ranges(std::move(given));
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
    QString fileError;
    if (const QString e = take_ranges(s, fileError); !e.isEmpty())
        return fail(e);
    if (!fileError.isEmpty())
        return {std::nullopt, fileError};
    return {s.o, {}};
}

TRangeGroups group_range_words(const QStringList& words)
{
    TRangeGroups g;
    int plainInRow = 0;
    for (const QString& word : words) {
        const bool plain = !word.contains(u'-') && !word.contains(u'/');
        if (!plain) {
            plainInRow = 0;
            g.ranges.append(QStringList {word});
            continue;
        }
        ++plainInRow;
        if (plainInRow == 2) {
            g.ranges.last().append(word);
            continue;
        }
        if (plainInRow == 3) {
            const QStringList& pair = g.ranges.last();
            g.error = QStringLiteral("%1 after FIRST LAST %2 %3 is a third address in a row; "
                                     "give further ranges as FIRST-LAST or ADDRESS/PREFIX")
                          .arg(quoted(word), pair[0], pair[1]);
            return g;
        }
        g.ranges.append(QStringList {word});
    }
    return g;
}

namespace {

// Text from a file as one line of a message: control and format characters as \xNN or \uNNNN (a NUL
// or an escape sequence would cut or garble the line), cut after most characters.
QString message_text(const QString& text, qsizetype most)
{
    QString out;
    qsizetype shown = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++shown) {
        if (shown == most)
            return out + QStringLiteral("...");
        const QChar c = text.at(i);
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else if (c.category() == QChar::Other_Format)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace

TTargetsResult parse_targets(const QString& name, const QByteArray& text)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    TTargetsResult t;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = QString::fromUtf8(lines[i]);
        if (const qsizetype hash = line.indexOf(u'#'); hash >= 0)
            line.truncate(hash);
        const QStringList words = line.split(blanks, Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        const TRangeResult r = parse_range(words);
        if (!r.range) {
            QString shown = QString::fromUtf8(lines[i]);
            if (shown.endsWith(u'\r'))
                shown.chop(1);
            t.error = QStringLiteral("%1: line %2: '%3': %4")
                          .arg(name, QString::number(i + 1), message_text(shown, 80), message_text(r.error, 160));
            t.ranges.clear();
            return t;
        }
        t.ranges.push_back(*r.range);
    }
    return t;
}

TTargetsResult read_targets(const QString& file)
{
    QFile f(file);
    const bool opened = file == QLatin1String("-") ? f.open(stdin, QIODevice::ReadOnly) : f.open(QIODevice::ReadOnly);
    if (!opened)
        return {{}, file_label(file) + QStringLiteral(": cannot be read: ") + f.errorString()};
    const QByteArray text = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return {{}, file_label(file) + QStringLiteral(": cannot be read: ") + f.errorString()};
    return parse_targets(file_label(file), text);
}

std::optional<std::int32_t> parse_duration(const QString& text)
{
    if (text.size() < 2)
        return std::nullopt;
    const QChar unit = text.back();
    const std::int64_t scale = unit == u's' ? 1 : unit == u'm' ? 60 : unit == u'h' ? 3600 : 0;
    const std::optional<std::int32_t> n = parse_non_negative(text.chopped(1));
    if (scale == 0 || !n || *n == 0 || *n * scale > kMaxEverySecs)
        return std::nullopt;
    return static_cast<std::int32_t>(*n * scale);
}

QString local_range_error(const TAddressRange& local)
{
    // The hosts of a /16.
    constexpr std::uint64_t most = 65534;
    if (local.count() <= most)
        return {};
    return QStringLiteral("the local subnet %1-%2 has %3 addresses, more than a /16; give a RANGE")
        .arg(dotted(local.first), dotted(local.last))
        .arg(local.count());
}

QString usage_text()
{
    return QStringLiteral(
        "Usage: corvane-scan nbstat [--format txt|csv|json] [--names] [--bandwidth BITS] [--port137]\n"
        "                           [--compare FILE] [--retries N] [--rate N] [--targets FILE] [--db URL]\n"
        "                           [RANGE...]\n"
        "       corvane-scan ping [--format txt|csv|json] [--timeout MS] [--resolve] [--serial] [--rate N]\n"
        "                         [--targets FILE] [RANGE...]\n"
        "       corvane-scan discover [--format txt|csv|json] [--rate N] [--timeout MS] [--targets FILE]\n"
        "                             [--db URL] [RANGE...]\n"
        "       corvane-scan watch [--every DURATION] [--once] [--db URL] [--gone-after N] [--site NAME]\n"
        "                          [--rate N] [--timeout MS] [--targets FILE] [RANGE...]\n"
        "       corvane-scan devices [--db URL] [--format txt|csv|json]\n"
        "       corvane-scan --help | --version\n"
        "\n"
        "Surveys an IPv4 range from the command line with the engine of the Corvane window.\n"
        "\n"
        "Commands:\n"
        "  nbstat            NetBIOS node-status scan (UDP 137); prints the network list\n"
        "  ping              ICMP echo sweep, one line per address in address order; one echo\n"
        "                    per millisecond without waiting for answers\n"
        "  discover          every device that shows itself by any evidence (ARP reply, neighbour\n"
        "                    entry, node-status answer, echo reply, port unreachable), with its\n"
        "                    MAC, vendor and names from NetBIOS, mDNS, LLMNR and reverse DNS\n"
        "  watch             the discover survey again and again, each recorded into the inventory;\n"
        "                    prints each event (new, back, gone, address-changed, name-changed,\n"
        "                    mac-changed) as one JSON line\n"
        "  devices           lists the inventory: every device the recorded surveys have seen\n"
        "\n"
        "RANGE (default: the local subnet, as the window's \"Get LAN IPs\" finds it, up to a /16):\n"
        "  FIRST LAST        both ends included, e.g. 192.168.1.1 192.168.1.254\n"
        "  FIRST-LAST        the same in one word\n"
        "  ADDRESS/PREFIX    the subnet's hosts without network and broadcast address;\n"
        "                    /31 gives both addresses, /32 the one address\n"
        "  ADDRESS           that address alone\n"
        "Several RANGEs (and --targets) are scanned as one: their union, each address once, in\n"
        "ascending order. Two addresses side by side are always FIRST LAST; a third in a row is\n"
        "refused: give further ranges as FIRST-LAST or ADDRESS/PREFIX.\n"
        "\n"
        "Options:\n"
        "  --format FORMAT   txt (default), csv or json\n"
        "  --names           nbstat, txt: each host's name table after the list\n"
        "  --bandwidth BITS  nbstat: send-rate limit in bits per second (0: none, the default)\n"
        "  --port137         nbstat: send from local UDP port 137 instead of a free port\n"
        "  --compare FILE    nbstat: mark each host new, changed or same against FILE (a network\n"
        "                    list the window saved, or corvane-scan txt or json output) and list\n"
        "                    its hosts that did not answer as gone; txt adds a report after the list\n"
        "  --retries N       nbstat: query an address that neither answered nor failed address\n"
        "                    resolution up to N more times, 0 to 10 (default 0); for lossy links\n"
        "  --rate N          queries (echoes) per second, 1 to 100000 (default: one per\n"
        "                    millisecond); on-link addresses still wait for room in the machine's\n"
        "                    neighbour table; not with --serial\n"
        "  --targets FILE    more RANGEs, one a line ('#' comments, blank lines); - reads stdin\n"
        "  --timeout MS      ping: time-out per address in milliseconds (default 30); discover and\n"
        "                    watch: how long to wait for late answers (default 1000)\n"
        "  --db URL          the inventory: sqlite:PATH or postgresql://USER@HOST[:PORT]/DB (the\n"
        "                    password from PGPASSWORD or ~/.pgpass); discover and nbstat record\n"
        "                    into it only when given; watch and devices default to\n"
        "                    $XDG_DATA_HOME/corvane/inventory.sqlite\n"
        "  --every DURATION  watch: from the start of one survey to the start of the next, such as\n"
        "                    30s, 5m or 1h, 1s to 24h (default 5m)\n"
        "  --once            watch: one survey, then exit (for cron and systemd timers)\n"
        "  --gone-after N    watch: a device missed by N surveys in a row that covered its address\n"
        "                    is gone, 1 to 1000 (default 2)\n"
        "  --site NAME       watch: the scanner's name in the inventory (default: the host name)\n"
        "  --resolve         ping: name each answering host (lookups run side by side)\n"
        "  --serial          ping: one address at a time, each waiting out its answer, as the\n"
        "                    window sweeps\n"
        "  -h, --help        this text\n"
        "  -V, --version     the program's file version\n"
        "\n"
        "Exit status: 0 a scan ran (hosts found or not), 1 the scan could not start\n"
        "(socket, local subnet, ICMP engine) or its results could not be written,\n"
        "2 bad command line, a --compare or --targets FILE that cannot be read, or a local subnet\n"
        "larger than a /16 without RANGE, 3 the survey ran (its list printed) but the inventory\n"
        "could not be opened or updated.\n"
        "\n"
        "Vendor names (json \"vendor\", csv Vendor) come from the IEEE registry of the ieee-data\n"
        "package; for hosts that report the adapter address 00.00.00.00.00.00 from the address the\n"
        "neighbour table holds for them (json \"neighbour_mac\", csv NeighbourMac).\n"
        "\n"
        "discover resolves on-link addresses with ARP frames of its own when it has CAP_NET_RAW\n"
        "(root, or setcap cap_net_raw+p on the program); without it the evidence is what the\n"
        "kernel resolved for its queries and what answered them. The machine's own addresses are\n"
        "not listed.\n");
}

} // namespace corvane::scan
