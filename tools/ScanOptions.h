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

// The range words and their rules are the window's as well (support/LanRange.h).
using TAddressRange = corvane::ipv4::THostRange;
using corvane::cidr_hosts;
using corvane::local_scan_range;
using corvane::nbstat_range_error;
using corvane::parse_non_negative;
using corvane::parse_range;
using corvane::TRangeResult;

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
