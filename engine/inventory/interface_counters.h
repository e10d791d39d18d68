#pragma once
// Two readings of the interface table, at least half a second apart, give each adapter object
// its link speed, counters and traffic.
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <span>

#include "engine/inventory/ip_tables.h"

namespace tarvisko {

// One reading of the interface table.
struct InterfaceCounterSnapshot {
    // Interface LUID -> copy of its row; a LUID met twice keeps its first row.
    std::map<std::uint64_t, MIB_IF_ROW2> rows;
    // Result of GetIfTable2 (the map is empty when it failed).
    std::uint32_t status = 0;
    // Steady clock in nanoseconds, read right after the table call returned.
    std::int64_t taken_at = 0;
};

// Never fails: a failed call is kept in status with an empty map.
InterfaceCounterSnapshot snapshot_interface_counters(
    const IpTableCalls& calls = windows_ip_table_calls());

// The builder behind snapshot_interface_counters.
InterfaceCounterSnapshot make_counter_snapshot(std::uint32_t status,
                                               std::span<const MIB_IF_ROW2> rows,
                                               std::int64_t taken_at);

// Writes "link", "counters" and "traffic" into the adapter object for the adapter with this
// LUID, from the first and second snapshots.
void interface_traffic(nlohmann::json& adapter, std::uint64_t luid,
                       const InterfaceCounterSnapshot& first,
                       const InterfaceCounterSnapshot& second);

}  // namespace tarvisko
