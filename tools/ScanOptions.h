#pragma once
// Command line of corvane-scan: commands, options and address ranges. Widget-free and pure, so the
// whole grammar is tested without running a scan.

#include "platform/Ipv4.h"
#include "support/LanRange.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace corvane::scan {

// Both ends included, first <= last as plain numbers.
using TAddressRange = corvane::ipv4::THostRange;

// The hosts of address/prefix: network and broadcast left out up to /30; a /31 is a point-to-point
// link whose two addresses are both hosts; a /32 is the one address. Host bits in address are ignored.
TAddressRange cidr_hosts(corvane::ipv4::THostAddr address, int prefix);

// RANGE given as one word (FIRST-LAST, CIDR, a single address) or two (FIRST LAST).
struct TRangeResult
{
    std::optional<TAddressRange> range;
    QString error; // one line when range is empty
};
TRangeResult parse_range(const QStringList& words);

// The scan thread walks a range under the signed walk rule, so a node-status scan cannot walk from
// the lower half of the address space into the upper one: the error line, or empty.
QString nbstat_range_error(const TAddressRange& range);

// The range a scan without RANGE takes: the window's subnet range; for a /31 or /32, where that comes
// out reversed, the hosts of the interface's address and mask as a typed CIDR would give them.
// Empty when no interface carries the local address.
std::optional<TAddressRange> local_scan_range(const TLocalLan& lan);

enum class TCommand { Help, Version, Nbstat, Ping };
enum class TFormat { Txt, Csv, Json };

struct TScanOptions
{
    TCommand command = TCommand::Help;
    TFormat format = TFormat::Txt;
    bool names = false; // nbstat: name tables after the list (txt)
    std::int32_t bandwidth = 0; // nbstat: bits per second, 0 no limit
    bool port137 = false; // nbstat
    QString compareFile; // nbstat: an earlier list to compare with, empty for none
    std::int32_t timeoutMs = 30; // ping: the window's default
    bool resolve = false; // ping
    bool serial = false; // ping: one address at a time, as the window sweeps
    std::optional<TAddressRange> range; // none: the local subnet
};

struct TParseResult
{
    std::optional<TScanOptions> options;
    QString error; // one line, without the program name, when options is empty
};

// args without the program name.
TParseResult parse_scan_options(const QStringList& args);

QString usage_text();

} // namespace corvane::scan
