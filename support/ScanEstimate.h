#pragma once
// How long a survey of a range takes, the question a large range asks before it starts, and the
// progress texts while it runs. Widget-free.

#include "platform/Ipv4.h"
#include "support/LanRange.h"
#include "support/ScanInput.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

// A range above this many addresses is asked about before it starts.
inline constexpr std::uint64_t kLargeRange = 65536;

// The kernel's neighbour table lets about this many on-link addresses wait for address resolution
// at once (gc_thresh3 1024, less the machine's own entries), each for about this long when no host
// answers: the pace of a node-status scan over a mostly empty local subnet.
inline constexpr std::uint64_t kPendingResolutions = 1000;
inline constexpr std::int64_t kResolutionMs = 3000;

struct TScanEstimate
{
    std::uint64_t addresses = 0;
    std::uint64_t onLink = 0; // of them, inside a subnet of a local interface
    std::int64_t ms = 0; // node-status: expected; ping: at most
};

// The subnets of the local interfaces that resolve addresses (loopback needs no neighbour entry).
std::vector<ipv4::THostRange> on_link_nets(const std::vector<TLanInterface>& interfaces);

// Node-status: one query per millisecond tick, an on-link address no faster than the neighbour table
// allows (kResolutionMs / kPendingResolutions each), and a second for late answers. Ping: one address
// at a time, each that does not answer waiting out the time-out.
TScanEstimate estimate_scan(TSurvey survey, const ipv4::THostRange& range,
                            const std::vector<ipv4::THostRange>& onLinkNets, int timeoutMs);

// "45 seconds", "12 minutes", "4.7 hours", "3 days": rounded, for a person reading it.
QString duration_text(std::int64_t ms);

// The question before a large range: its ends, the count, the time and what the time rests on.
QString large_range_question(TSurvey survey, const ipv4::THostRange& range, const TScanEstimate& estimate,
                             int timeoutMs);

// The time a survey still needs at the pace it has kept so far; nothing for the first 5 seconds
// and once every address is done, when the pace says little.
std::optional<std::int64_t> time_left_ms(std::uint64_t done, std::uint64_t total, std::int64_t elapsedMs);

// The progress bar's text. waiting: queries whose address resolution is pending; drains: the scan
// waits for late answers once every address is queried.
QString progress_text(std::uint64_t done, std::uint64_t total, std::uint64_t waiting, bool drains,
                      std::optional<std::int64_t> leftMs);

} // namespace corvane
