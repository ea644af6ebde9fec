#pragma once
#include <algorithm>
#include <chrono>
#include <functional>

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
