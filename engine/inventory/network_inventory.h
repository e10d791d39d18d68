#pragma once
// The network inventory: one snapshot of the computer and its network taken at the start of a
// full test (machine, adapters and addresses, neighbours, routes, per-adapter traffic over half
// a second, Wi-Fi). Stored and uploaded, so its key names and value shapes are a format.
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include <nlohmann/json.hpp>

namespace tarvisko {

// The section readers and clocks that collect_inventory drives, in the order it calls them.
// The two interface counter snapshots stay inside the table: snapshot_interface_counters(0) and
// (1) take the first and second one and return the steady-clock time (ns) at which each was
// read; collect_interfaces then works with both.
struct InventoryCollectors {
    std::function<std::string()> utc_now;
    std::function<nlohmann::json()> collect_system;
    std::function<std::int64_t(int which)> snapshot_interface_counters;
    std::function<nlohmann::json(std::span<const std::uint8_t> key)> collect_wifi;
    std::function<nlohmann::json()> collect_routes;
    std::function<void(nlohmann::json& inventory, std::span<const std::uint8_t> key)> collect_neighbors;
    std::function<void(nlohmann::json& inventory, std::span<const std::uint8_t> key)> collect_interfaces;
    std::function<std::int64_t()> steady_now_ns;
    std::function<void(std::int64_t milliseconds)> sleep_ms;
};

// Collects the whole document (without "gateway_changes") on the caller's thread. Blocks until
// at least 500 ms passed since the first counter snapshot. Section failures become
// "unavailable" envelopes; only errors of the MAC identifier, of UTF-16 conversion and memory
// exhaustion propagate.
nlohmann::json collect_inventory(const InventoryCollectors& collectors,
                                 std::span<const std::uint8_t> privacy_key);

}  // namespace tarvisko
