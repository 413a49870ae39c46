// Summaries of timing samples: the figures the measurement programs print.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

namespace zelvano::perf {

struct Summary {
    std::size_t count = 0;
    double min = 0;
    double mean = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
};

// Nearest-rank percentile (0 < p <= 100) of sorted values; 0 when empty.
double Percentile(const std::vector<double>& sorted, double p);

// Count, min, mean, median, p99 and max; nothing for no samples.
std::optional<Summary> Summarize(std::vector<double> values);

// Milliseconds between each time point and the one before it.
std::vector<double> IntervalsMs(const std::vector<std::chrono::steady_clock::time_point>& times);

// How far each value lies from the nominal one, either way.
std::vector<double> Deviations(const std::vector<double>& values, double nominal);

}  // namespace zelvano::perf
