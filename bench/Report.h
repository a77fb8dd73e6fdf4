#pragma once

// Printing of a benchmark's figures: a title, then one line per figure, each with its unit
// and, where there is one, the target it is held against.

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bench {

inline void title(const char* name, const char* what)
{
    std::printf("%s: %s\n", name, what);
#ifdef TACTALON_BUILD_TYPE
    std::printf("  build type: %s\n", TACTALON_BUILD_TYPE);
#endif
}

inline const char* verdict(bool met)
{
    return met ? "met" : "NOT met";
}

// The value below which `fraction` of the sorted `values` lie (nearest rank).
inline double percentile(const std::vector<double>& sorted, double fraction)
{
    if (sorted.empty())
        return 0;
    const auto rank = static_cast<std::size_t>(fraction * double(sorted.size() - 1) + 0.5);
    return sorted[std::min(rank, sorted.size() - 1)];
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return percentile(values, 0.5);
}

} // namespace bench
