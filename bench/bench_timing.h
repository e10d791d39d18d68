#pragma once
// Timing shared by the Wi-Fi benchmarks: the median of repeated runs, printed beside a bare loop.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace tarvisko::bench {

// Median of `rounds` runs of the body, in microseconds.
inline double median_us(int rounds, const std::function<void()>& body) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        body();
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        times.push_back(took.count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

inline void report(const char* name, double measured, const char* bare_name, double bare) {
    std::printf("%-44s %10.1f us\n%-44s %10.1f us   (ratio %.1f)\n", name, measured, bare_name,
                bare, bare > 0 ? measured / bare : 0.0);
}

}  // namespace tarvisko::bench
