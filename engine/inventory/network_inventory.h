#pragma once
// The network inventory: one snapshot of the computer and its network taken at the start of a
// full test (machine, adapters and addresses, neighbours, routes, per-adapter traffic over half
// a second, Wi-Fi). Stored and uploaded, so its key names and value shapes are a format.
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "engine/inventory/interface_counters.h"

namespace tarvisko {

// The section readers and clocks that collect_inventory drives. The product uses
// system_inventory_collectors(); tests hand in fakes to check order, timing and errors.
struct InventoryCollectors {
    std::function<std::string()> utc_now;
    std::function<nlohmann::json()> collect_system;
    std::function<InterfaceCounterSnapshot()> snapshot_interface_counters;
    std::function<nlohmann::json(std::span<const std::uint8_t> key)> collect_wifi;
    std::function<nlohmann::json()> collect_routes;
    std::function<void(nlohmann::json& inventory, std::span<const std::uint8_t> key)>
        collect_neighbors;
    std::function<void(nlohmann::json& inventory, std::span<const std::uint8_t> key,
                       const InterfaceCounterSnapshot& first,
                       const InterfaceCounterSnapshot& second)>
        collect_interfaces;
    // The same steady clock the snapshots are stamped with.
    std::function<std::int64_t()> steady_now_ns;
    std::function<void(std::int64_t milliseconds)> sleep_ms;
};

// The Windows readers and the real clock.
const InventoryCollectors& system_inventory_collectors();

// Collects the whole document (without "gateway_changes") on the caller's thread. Blocks until
// at least 500 ms passed since the first counter snapshot. Section failures become
// "unavailable" envelopes; only errors of the MAC identifier, of UTF-16 conversion and memory
// exhaustion propagate.
nlohmann::json collect_inventory(std::span<const std::uint8_t> privacy_key);
nlohmann::json collect_inventory(const InventoryCollectors& collectors,
                                 std::span<const std::uint8_t> privacy_key);

}  // namespace tarvisko
