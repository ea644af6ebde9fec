#pragma once
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

// Seconds on the steady clock; only differences mean anything.
inline double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The value at `percent` of the sorted values (50: the median); 0 for none.
inline double Percentile(std::vector<double> values, int percent) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * static_cast<std::size_t>(percent) / 100)];
}

inline double Median(std::vector<double> values) {
    return Percentile(std::move(values), 50);
}

// Best wall-clock time of `runs` calls of `body`, in milliseconds.
inline double BestMs(int runs, const std::function<void()>& body) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        body();
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}
