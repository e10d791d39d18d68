#include "engine/inventory/network_inventory.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/common/ids.h"
#include "engine/inventory/interfaces.h"
#include "engine/inventory/neighbors_routes.h"
#include "engine/inventory/system_description.h"
#include "engine/inventory/wifi.h"

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
    const InterfaceCounterSnapshot first = collectors.snapshot_interface_counters();
    inventory["wifi"] = collectors.collect_wifi(privacy_key);
    inventory["routes"] = collectors.collect_routes();
    collectors.collect_neighbors(inventory, privacy_key);
    wait_until(collectors, first.taken_at + traffic_window_ns);
    const InterfaceCounterSnapshot second = collectors.snapshot_interface_counters();
    collectors.collect_interfaces(inventory, privacy_key, first, second);

    inventory["finished_at"] = collectors.utc_now();
    return inventory;
}

nlohmann::json collect_inventory(std::span<const std::uint8_t> privacy_key) {
    return collect_inventory(system_inventory_collectors(), privacy_key);
}

const InventoryCollectors& system_inventory_collectors() {
    static const InventoryCollectors collectors = [] {
        InventoryCollectors c;
        c.utc_now = [] { return utc_timestamp_now(); };
        c.collect_system = [] { return collect_system(); };
        c.snapshot_interface_counters = [] { return snapshot_interface_counters(); };
        c.collect_wifi = [](std::span<const std::uint8_t> key) { return collect_wifi(key); };
        c.collect_routes = [] { return collect_routes(); };
        c.collect_neighbors = [](nlohmann::json& inventory, std::span<const std::uint8_t> key) {
            collect_neighbors(inventory, key);
        };
        c.collect_interfaces = [](nlohmann::json& inventory, std::span<const std::uint8_t> key,
                                  const InterfaceCounterSnapshot& first,
                                  const InterfaceCounterSnapshot& second) {
            collect_interfaces(inventory, key, first, second);
        };
        c.steady_now_ns = [] {
            return static_cast<std::int64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(
                    std::chrono::steady_clock::now().time_since_epoch())
                    .count());
        };
        c.sleep_ms = [](std::int64_t milliseconds) {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        };
        return c;
    }();
    return collectors;
}

}  // namespace tarvisko
