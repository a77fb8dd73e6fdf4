#pragma once

// Printing of a benchmark's figures: a title, then one line per figure, each with its unit
// and, where there is one, the target it is held against.

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
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

// printf into a string, for the table's cells.
[[gnu::format(printf, 1, 2)]] inline std::string format(const char* pattern, ...)
{
    char text[256];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

// One row of the table scripts/bench prints at the end: a figure beside its target and beside
// the baseline measured in the same run that gives it meaning on a shared, noisy machine.
inline void tableRow(const std::string& figure, const std::string& value, const std::string& target,
                     bool met, const std::string& baseline)
{
    std::printf("table|%s|%s|%s|%s|%s\n", figure.c_str(), value.c_str(), target.c_str(),
                verdict(met), baseline.c_str());
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
