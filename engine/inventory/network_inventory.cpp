#include "engine/inventory/network_inventory.h"

#include <algorithm>

namespace tarvisko {
namespace {

// The traffic window: per-adapter rates are measured over at least this long.
constexpr std::int64_t traffic_window_ns = 500'000'000;
constexpr std::int64_t longest_sleep_ms = 24LL * 60 * 60 * 1000;

// Waits until the steady clock has passed `deadline_ns`, sleeping the remaining time rounded up
// to whole milliseconds; returns at once when it already has.
void wait_until(const InventoryCollectors& collectors, std::int64_t deadline_ns) {
    for (;;) {
        const std::int64_t now = collectors.steady_now_ns();
        if (now >= deadline_ns) return;
        const std::int64_t remaining_ms = (deadline_ns - now + 999'999) / 1'000'000;
        collectors.sleep_ms(std::min(remaining_ms, longest_sleep_ms));
    }
}

}  // namespace

nlohmann::json collect_inventory(const InventoryCollectors& collectors,
                                 std::span<const std::uint8_t> privacy_key) {
    nlohmann::json inventory = nlohmann::json::object();
    inventory["captured_at"] = collectors.utc_now();
    inventory["system"] = collectors.collect_system();

    // The slow Wi-Fi, route and neighbour readings run inside the traffic window, which starts
    // at the first snapshot's own time stamp, not at the start of the call.
    const std::int64_t first_taken_at = collectors.snapshot_interface_counters(0);
    inventory["wifi"] = collectors.collect_wifi(privacy_key);
    inventory["routes"] = collectors.collect_routes();
    collectors.collect_neighbors(inventory, privacy_key);
    wait_until(collectors, first_taken_at + traffic_window_ns);
    collectors.snapshot_interface_counters(1);
    collectors.collect_interfaces(inventory, privacy_key);

    inventory["finished_at"] = collectors.utc_now();
    return inventory;
}

}  // namespace tarvisko
