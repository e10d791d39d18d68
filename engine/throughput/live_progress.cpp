#include "engine/throughput/live_progress.h"

#include <algorithm>
#include <stdexcept>

namespace tarvisko {
namespace {

std::size_t series_index(int direction) {
    if (direction != 0 && direction != 1) throw std::out_of_range("live progress direction");
    return static_cast<std::size_t>(direction);
}

}  // namespace

void reset_live_progress(LiveTraffic& live) {
    std::lock_guard lock(live.mutex);
    live.download_bytes.exchange(0);
    live.upload_bytes.exchange(0);
    live.rate_cap.exchange(0);
    live.series[0] = nlohmann::json::array();
    live.series[1] = nlohmann::json::array();
}

void update_live_progress(LiveTraffic& live, int direction, std::uint64_t bytes) {
    update_live_progress(live, direction, bytes, std::chrono::steady_clock::now());
}

void update_live_progress(LiveTraffic& live, int direction, std::uint64_t bytes,
                          std::chrono::steady_clock::time_point now) {
    const std::size_t index = series_index(direction);
    std::lock_guard lock(live.mutex);
    nlohmann::json& series = live.series[index];
    if (series.empty()) live.series_start[index] = now;
    if (series.size() >= kLiveSeriesLimit) return;
    const std::int64_t ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - live.series_start[index])
            .count();
    if (!series.empty() && series.back().at(0).get<std::int64_t>() >= ms) return;
    series.push_back(nlohmann::json::array({ms, bytes}));
}

void close_live_progress(LiveTraffic& live, int direction, std::uint64_t bytes,
                         std::chrono::steady_clock::time_point end) {
    const std::size_t index = series_index(direction);
    std::lock_guard lock(live.mutex);
    nlohmann::json& series = live.series[index];
    if (series.empty()) {
        live.series_start[index] = end;
        series.push_back(nlohmann::json::array({0, bytes}));
        return;
    }
    const std::int64_t ms = std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(end - live.series_start[index])
               .count());
    // Points taken after the last byte was counted only repeat the final count later on, and
    // would stretch the last interval over time in which nothing moved.
    while (series.size() > 1 && series.back().at(0).get<std::int64_t>() > ms) {
        series.erase(series.size() - 1);
    }
    nlohmann::json& last = series.back();
    if (last.at(0).get<std::int64_t>() < ms) {
        if (series.size() < kLiveSeriesLimit) series.push_back(nlohmann::json::array({ms, bytes}));
    } else if (series.size() > 1) {
        last[1] = bytes;  // a point of the same millisecond takes the final count
    }
}

nlohmann::json read_live_progress(LiveTraffic& live, int direction) {
    const std::size_t index = series_index(direction);
    std::lock_guard lock(live.mutex);
    return live.series[index];
}

}  // namespace tarvisko
