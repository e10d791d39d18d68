#include "engine/inventory/neighbors_routes.h"

#include <algorithm>
#include <set>
#include <string>

#include "engine/common/envelope.h"
#include "engine/common/handle_guard.h"
#include "engine/common/hash.h"
#include "engine/inventory/address_text.h"

namespace tarvisko {

namespace {

std::span<const std::uint8_t> physical_address(const MIB_IPNET_ROW2& row) {
    const std::size_t length =
        std::min<std::size_t>(row.PhysicalAddressLength, sizeof row.PhysicalAddress);
    return {row.PhysicalAddress, length};
}

}  // namespace

void build_neighbors(nlohmann::json& inventory, std::span<const std::uint8_t> privacy_key,
                     std::span<const MIB_IPNET_ROW2> rows, const OuiRegistry& registry) {
    nlohmann::json list = nlohmann::json::array();
    std::set<std::string> distinct;
    std::uint64_t count = 0;
    for (const MIB_IPNET_ROW2& row : rows) {
        if (row.State == NlnsUnreachable || row.State == NlnsIncomplete) continue;
        const auto address = physical_address(row);
        std::string mac_id = hmac_sha256(address, privacy_key);
        if (mac_id.empty()) continue;
        distinct.insert(mac_id);
        ++count;
        if (count > kNeighborCap) continue;
        nlohmann::json neighbor = nlohmann::json::object();
        neighbor["index"] = static_cast<std::uint32_t>(row.InterfaceIndex);
        neighbor["ip"] = sockaddr_to_text(row.Address);
        neighbor["state"] = static_cast<std::int32_t>(row.State);
        neighbor["mac_id"] = json_value_ok(std::move(mac_id));
        neighbor["vendor"] = describe_hardware_address(registry, address);
        list.push_back(std::move(neighbor));
    }
    inventory["neighbors"] = json_value_partial(std::move(list), count);
    inventory["unique_neighbor_macs"] = json_value_ok(static_cast<std::uint64_t>(distinct.size()));
}

void collect_neighbors(nlohmann::json& inventory, std::span<const std::uint8_t> privacy_key,
                       const IpTableCalls& calls) {
    MIB_IPNET_TABLE2* table = nullptr;
    const DWORD result = calls.get_ip_net_table2(AF_UNSPEC, &table);
    // Wine answers AF_UNSPEC with 1 and still hands back a table: free whatever came back.
    HandleGuard<void*> guard(table, calls.free_mib_table);
    if (result != NO_ERROR || table == nullptr) {
        const std::string reason = "GetIpNetTable2:" + std::to_string(result);
        inventory["unique_neighbor_macs"] = json_unavailable(reason);
        inventory["neighbors"] = json_unavailable(reason);
        return;
    }
    const std::shared_ptr<const OuiRegistry> registry = load_oui_registry();
    build_neighbors(inventory, privacy_key, {table->Table, table->NumEntries}, *registry);
}

nlohmann::json build_routes(std::span<const MIB_IPFORWARD_ROW2> rows) {
    nlohmann::json list = nlohmann::json::array();
    const std::size_t kept = std::min(rows.size(), kRouteCap);
    for (const MIB_IPFORWARD_ROW2& row : rows.first(kept)) {
        nlohmann::json route = nlohmann::json::object();
        route["index"] = static_cast<std::uint32_t>(row.InterfaceIndex);
        route["prefix"] = sockaddr_to_text(row.DestinationPrefix.Prefix);
        route["prefix_length"] = static_cast<std::uint32_t>(row.DestinationPrefix.PrefixLength);
        route["next_hop"] = sockaddr_to_text(row.NextHop);
        route["metric"] = static_cast<std::uint32_t>(row.Metric);
        list.push_back(std::move(route));
    }
    return json_value_partial(std::move(list), rows.size());
}

nlohmann::json collect_routes(const IpTableCalls& calls) {
    MIB_IPFORWARD_TABLE2* table = nullptr;
    const DWORD result = calls.get_ip_forward_table2(AF_UNSPEC, &table);
    HandleGuard<void*> guard(table, calls.free_mib_table);
    if (result != NO_ERROR || table == nullptr) {
        return json_unavailable("GetIpForwardTable2:" + std::to_string(result));
    }
    return build_routes({table->Table, table->NumEntries});
}

}  // namespace tarvisko
