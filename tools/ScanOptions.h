#pragma once
// Command line of corvane-scan: commands, options and address ranges. Widget-free; it reads nothing but
// a --targets file, so the whole grammar is tested without running a scan.

#include "platform/Ipv4.h"
#include "support/LanRange.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace corvane::scan {

// The range words and their rules are the window's as well (support/LanRange.h).
using TAddressRange = corvane::ipv4::THostRange;
using corvane::cidr_hosts;
using corvane::local_scan_range;
using corvane::nbstat_range_error;
using corvane::parse_non_negative;
using corvane::parse_range;
using corvane::TRangeResult;

enum class TCommand { Help, Version, Nbstat, Ping, Discover, Watch, Devices };
enum class TFormat { Txt, Csv, Json };

struct TScanOptions
{
    TCommand command = TCommand::Help;
    TFormat format = TFormat::Txt;
    bool names = false; // nbstat: name tables after the list (txt)
    std::int32_t bandwidth = 0; // nbstat: bits per second, 0 no limit
    bool port137 = false; // nbstat
    QString compareFile; // nbstat: an earlier list to compare with, empty for none
    std::int32_t timeoutMs = 30; // ping: the window's default; discover: how long late answers are awaited (1000)
    bool resolve = false; // ping
    bool serial = false; // ping: one address at a time, as the window sweeps
    std::int32_t retries = 0; // nbstat: more queries to an address that neither answered nor failed resolution
    std::int32_t rate = 0; // queries (echoes) per second; 0: one per millisecond tick
    QString targetsFile; // --targets: "-" is standard input; empty for none
    // The union of every RANGE and --targets line, merged: ascending, each address once. Empty: the
    // local subnet.
    std::vector<TAddressRange> ranges;
    // RANGEs given, --targets lines included. One is walked as the window walks its range; several
    // are walked as their union in plain address order.
    int rangeCount = 0;
    // The inventory: discover and nbstat record into it only when --db is given; watch and devices
    // use the default file without it.
    QString dbUrl; // empty: not given
    std::int32_t everySecs = 300; // watch: from the start of one survey to the start of the next
    bool once = false;            // watch: one survey, then exit
    std::int32_t goneAfter = 2;   // watch: missed surveys that make a device gone
    QString site;                 // watch: the scanner's name in the inventory; empty: the host name
};

inline constexpr std::int32_t kMaxRetries = 10;
inline constexpr std::int32_t kMaxRate = 100000;
inline constexpr std::int32_t kMaxEverySecs = 24 * 3600;
inline constexpr std::int32_t kMaxGoneAfter = 1000;

// "30s", "5m", "1h": seconds from 1 to kMaxEverySecs, or nothing.
std::optional<std::int32_t> parse_duration(const QString& text);

struct TParseResult
{
    std::optional<TScanOptions> options;
    QString error; // one line, without the program name, when options is empty
};

// args without the program name. Reads the --targets file (stdin for "-").
TParseResult parse_scan_options(const QStringList& args);

// RANGE words as they stand on the command line, grouped into RANGEs: a word holding '-' or '/' is a
// RANGE; two plain addresses side by side are FIRST LAST, a lone one is that address; a third plain
// address in a row is refused, since it cannot be told whether it begins a pair or stands alone.
struct TRangeGroups
{
    QList<QStringList> ranges;
    QString error; // one line when not empty
};
TRangeGroups group_range_words(const QStringList& words);

// The RANGEs of a --targets text, one a line (FIRST LAST too); '#' starts a comment, blank lines are
// skipped. name is how errors call the file ("hosts.txt: line 3: ...").
struct TTargetsResult
{
    std::vector<TAddressRange> ranges; // as the lines give them, not merged
    QString error;
};
TTargetsResult parse_targets(const QString& name, const QByteArray& text);
// The same from the file, or from standard input for "-".
TTargetsResult read_targets(const QString& file);

// A scan without RANGE refuses a local subnet larger than a /16: the error line, or empty.
QString local_range_error(const TAddressRange& local);

QString usage_text();

} // namespace corvane::scan
