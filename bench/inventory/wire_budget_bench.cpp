// Time of trimming large synthetic inventories to the wire budget. Prints one line per size.
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/common/envelope.h"
#include "engine/inventory/inventory_attachment.h"

namespace {

nlohmann::json synthetic_inventory(unsigned neighbors, unsigned routes) {
    nlohmann::json inventory = nlohmann::json::object();
    inventory["captured_at"] = "2026-12-10T08:00:00.000Z";
    inventory["finished_at"] = "2026-12-10T08:00:00.600Z";
    inventory["system"] = nlohmann::json::object();
    nlohmann::json neighbor_list = nlohmann::json::array();
    for (unsigned n = 0; n < neighbors; ++n) {
        neighbor_list.push_back(
            {{"index", n % 4},
             {"ip", "10.1." + std::to_string(n / 250) + "." + std::to_string(n % 250)},
             {"mac_id", tarvisko::json_value_ok(std::string(64, 'a'))},
             {"state", 5},
             {"vendor", tarvisko::json_unavailable("oui_unknown")}});
    }
    nlohmann::json route_list = nlohmann::json::array();
    for (unsigned r = 0; r < routes; ++r) {
        route_list.push_back(
            {{"index", r % 9},
             {"metric", r},
             {"next_hop", "0.0.0.0"},
             {"prefix", "172.16." + std::to_string(r / 256) + "." + std::to_string(r % 256)},
             {"prefix_length", 32}});
    }
    inventory["neighbors"] = tarvisko::json_value_ok(neighbor_list);
    inventory["routes"] = tarvisko::json_value_ok(route_list);
    return inventory;
}

}  // namespace

int main() {
    for (unsigned count : {1000u, 5000u, 20000u, 50000u}) {
        nlohmann::json inventory = synthetic_inventory(count, count);
        const std::size_t before = inventory.dump().size();
        const auto start = std::chrono::steady_clock::now();
        tarvisko::trim_to_wire_budget(inventory);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        std::printf("%6u neighbours + %6u routes: %9zu -> %6zu bytes in %8.1f ms\n", count, count,
                    before, inventory.dump().size(), ms);
    }
    return 0;
}
