#pragma once
// What every benchmark reports its figures by: the median of its runs, and the process's peak memory.

#include <sys/resource.h>

#include <algorithm>
#include <vector>

namespace corvane::bench {

// The middle run (the upper one of an even count); 0 with no runs.
inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The process's peak resident memory so far, in KiB.
inline long peak_rss_kib()
{
    rusage u {};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

} // namespace corvane::bench
