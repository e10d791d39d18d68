#pragma once
// Live progress of a full test: byte counters and one time series per direction, written by the
// engine's threads and read by the window's live timer.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>

namespace tarvisko {

struct LiveTraffic {
    // Cumulative payload bytes since the last reset, added by the transfer threads.
    std::atomic<std::uint64_t> download_bytes{0};
    std::atomic<std::uint64_t> upload_bytes{0};
    // Bits per second of the node profile's rate cap.
    std::atomic<std::uint64_t> rate_cap{0};
    // Set by the shell before a run: the capacity reservation profile when true.
    bool capacity = false;
    // Called once per session with the local address of the reservation connection.
    std::function<void(const nlohmann::json&)> local_address_callback;
    // Guards `series` and `series_start`; never held while calling out.
    std::mutex mutex;
    // Index 0 download, 1 upload; points are [ms since the first point, bytes so far].
    std::array<nlohmann::json, 2> series{nlohmann::json::array(), nlohmann::json::array()};
    std::array<std::chrono::steady_clock::time_point, 2> series_start{};
};

constexpr std::size_t kLiveSeriesLimit = 1024;

// Counters and rate cap to 0, both series emptied; the flag, callback and start times stay.
void reset_live_progress(LiveTraffic& live);
// Appends [ms, bytes] to the series of `direction` (0 download, 1 upload) unless the series is
// full or its last point is not older than ms. Throws std::out_of_range for another direction.
void update_live_progress(LiveTraffic& live, int direction, std::uint64_t bytes);
// The same at a given steady time.
void update_live_progress(LiveTraffic& live, int direction, std::uint64_t bytes,
                          std::chrono::steady_clock::time_point now);
// Ends a transfer's series with its final count at `end`, the moment its last byte was counted
// (not when the transfer's thread was joined, which may be much later): points stamped after
// `end` are dropped, a point in the same millisecond takes the final count, otherwise [ms, bytes]
// is appended as by update_live_progress. Throws std::out_of_range for another direction.
void close_live_progress(LiveTraffic& live, int direction, std::uint64_t bytes,
                         std::chrono::steady_clock::time_point end);
// A copy of one series; throws std::out_of_range for a direction other than 0 or 1.
nlohmann::json read_live_progress(LiveTraffic& live, int direction);

}  // namespace tarvisko
