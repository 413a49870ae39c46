#include "Stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace zelvano::perf {

double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty())
        return 0;
    // Nearest rank: the smallest value with at least p per cent at or below it.
    const auto rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

std::optional<Summary> Summarize(std::vector<double> values) {
    if (values.empty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    Summary s;
    s.count = n;
    s.min = values.front();
    s.max = values.back();
    s.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(n);
    s.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    s.p99 = Percentile(values, 99);
    return s;
}

std::vector<double> IntervalsMs(const std::vector<std::chrono::steady_clock::time_point>& times) {
    std::vector<double> out;
    for (std::size_t i = 1; i < times.size(); ++i) {
        out.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
    }
    return out;
}

std::vector<double> Deviations(const std::vector<double>& values, double nominal) {
    std::vector<double> out;
    out.reserve(values.size());
    for (double v : values)
        out.push_back(std::fabs(v - nominal));
    return out;
}

}  // namespace zelvano::perf
