#pragma once
// Timing shared by the benchmarks: the median of repeated runs, printed beside a bare loop.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

namespace tarvisko::bench {

// The middle value (the upper one of an even count); the values must not be empty.
inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The times of `rounds` runs of the body, in microseconds, in the order they ran.
inline std::vector<double> run_times_us(int rounds, const std::function<void()>& body) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        body();
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        times.push_back(took.count());
    }
    return times;
}

// Median of `rounds` runs of the body, in microseconds.
inline double median_us(int rounds, const std::function<void()>& body) {
    return median(run_times_us(rounds, body));
}

inline void report(const char* name, double measured, const char* bare_name, double bare) {
    std::printf("%-44s %10.1f us\n%-44s %10.1f us   (ratio %.1f)\n", name, measured, bare_name,
                bare, bare > 0 ? measured / bare : 0.0);
}

}  // namespace tarvisko::bench
