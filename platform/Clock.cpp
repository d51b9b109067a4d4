#include "platform/Clock.h"

#include <time.h>

namespace corvane::platform {

std::int64_t monotonic_ns()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t monotonic_ms()
{
    return monotonic_ns() / 1000000;
}

} // namespace corvane::platform
