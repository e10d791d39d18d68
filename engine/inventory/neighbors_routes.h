#pragma once
// The neighbour cache (ARP and neighbour discovery) and the routing table of the inventory.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>

#include "engine/inventory/ip_tables.h"
#include "engine/inventory/oui_registry.h"

namespace tarvisko {

inline constexpr std::size_t kNeighborCap = 128;
inline constexpr std::size_t kRouteCap = 128;

// Writes "neighbors" (envelope of {"index","ip","mac_id","state","vendor"}, cap 128) and
// "unique_neighbor_macs" (ok envelope of the number of distinct MAC identifiers) into the
// inventory. A failed table read makes both {"reason":"GetIpNetTable2:<code>","status":
// "unavailable"}. Loads the vendor registry itself. Throws only the errors of hmac_sha256.
void collect_neighbors(nlohmann::json& inventory, std::span<const std::uint8_t> privacy_key,
                       const IpTableCalls& calls = windows_ip_table_calls());

// The builder behind collect_neighbors, over rows in table order: rows in state 0 or 1 and rows
// without a MAC identifier (not a six-byte, non-zero, individual address) are neither listed
// nor counted.
void build_neighbors(nlohmann::json& inventory, std::span<const std::uint8_t> privacy_key,
                     std::span<const MIB_IPNET_ROW2> rows, const OuiRegistry& registry);

// Envelope of the route list {"index","metric","next_hop","prefix","prefix_length"}, cap 128,
// or unavailable "GetIpForwardTable2:<code>".
nlohmann::json collect_routes(const IpTableCalls& calls = windows_ip_table_calls());

// The builder behind collect_routes, over rows in table order.
nlohmann::json build_routes(std::span<const MIB_IPFORWARD_ROW2> rows);

}  // namespace tarvisko
