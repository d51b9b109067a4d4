#pragma once
#include <cstdint>

namespace corvane::platform {

// Milliseconds on a monotonic clock: never jumps back (midnight, NTP, DST), so pacing and
// transaction ids derived from it stay sane for the whole of a scan.
std::int64_t monotonic_ms();
// The same clock in nanoseconds; monotonic_ms() is this value divided by 1,000,000.
std::int64_t monotonic_ns();

} // namespace corvane::platform
