#include "engine/inventory/network_inventory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/envelope.h"

namespace tarvisko {
namespace {

const std::vector<std::uint8_t> test_key(32, 0x33);

// Fake readers over a fake steady clock: each reader advances the clock by its configured cost
// and writes its name into the call log.
struct FakeMachine {
    std::int64_t now_ns = 7'000'000'123;
    std::int64_t wifi_ns = 40'000'000, routes_ns = 30'000'000, neighbors_ns = 50'000'000;
    std::int64_t sleep_shortfall_ns = 0;  // a sleep that wakes this much early
    std::vector<std::string> log;
    std::vector<std::int64_t> sleeps;
    std::int64_t snapshot_at[2] = {0, 0};
    int clock_text = 0;
    int snapshots = 0;

    InventoryCollectors collectors() {
        InventoryCollectors c;
        c.utc_now = [this] {
            log.push_back("utc_now");
            return "2026-12-10T10:00:0" + std::to_string(clock_text++) + ".250Z";
        };
        c.collect_system = [this] {
            log.push_back("system");
            nlohmann::json system = nlohmann::json::object();
            system["architecture"] = "x64";
            return system;
        };
        c.snapshot_interface_counters = [this] {
            const int which = snapshots++;
            log.push_back("snapshot" + std::to_string(which));
            now_ns += 1'000'000;  // the table call itself
            snapshot_at[which] = now_ns;
            InterfaceCounterSnapshot snapshot;
            snapshot.taken_at = now_ns;
            snapshot.status = static_cast<std::uint32_t>(100 + which);
            return snapshot;
        };
        c.collect_wifi = [this](std::span<const std::uint8_t> key) {
            log.push_back("wifi");
            EXPECT_TRUE(std::equal(key.begin(), key.end(), test_key.begin(), test_key.end()));
            now_ns += wifi_ns;
            return json_value_ok(nlohmann::json::array());
        };
        c.collect_routes = [this] {
            log.push_back("routes");
            now_ns += routes_ns;
            return json_value_ok(nlohmann::json::array());
        };
        c.collect_neighbors = [this](nlohmann::json& inventory, std::span<const std::uint8_t> key) {
            log.push_back("neighbors");
            EXPECT_EQ(key.size(), test_key.size());
            now_ns += neighbors_ns;
            inventory["neighbors"] = json_value_ok(nlohmann::json::array());
            inventory["unique_neighbor_macs"] = json_value_ok(0);
        };
        c.collect_interfaces = [this](nlohmann::json& inventory, std::span<const std::uint8_t> key,
                                      const InterfaceCounterSnapshot& first,
                                      const InterfaceCounterSnapshot& second) {
            log.push_back("interfaces");
            EXPECT_EQ(first.status, 100u);
            EXPECT_EQ(second.status, 101u);
            EXPECT_EQ(first.taken_at, snapshot_at[0]);
            EXPECT_EQ(second.taken_at, snapshot_at[1]);
            EXPECT_EQ(key.size(), test_key.size());
            inventory["interfaces"] = json_value_ok(nlohmann::json::array());
            inventory["duplicate_addresses"] = json_value_ok(nlohmann::json::array());
        };
        c.steady_now_ns = [this] { return now_ns; };
        c.sleep_ms = [this](std::int64_t ms) {
            sleeps.push_back(ms);
            now_ns += ms * 1'000'000 - sleep_shortfall_ns;
            sleep_shortfall_ns = 0;
        };
        return c;
    }
};

TEST(CollectInventory, CallsReadersInOrderAndSerialisesSortedKeys) {
    FakeMachine machine;
    const nlohmann::json inventory = collect_inventory(machine.collectors(), test_key);
    EXPECT_EQ(machine.log,
              (std::vector<std::string>{"utc_now", "system", "snapshot0", "wifi", "routes",
                                        "neighbors", "snapshot1", "interfaces", "utc_now"}));
    EXPECT_EQ(inventory["captured_at"], "2026-12-10T10:00:00.250Z");
    EXPECT_EQ(inventory["finished_at"], "2026-12-10T10:00:01.250Z");
    EXPECT_FALSE(inventory.contains("gateway_changes"));
    std::vector<std::string> keys;
    for (const auto& item : inventory.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"captured_at", "duplicate_addresses", "finished_at",
                                              "interfaces", "neighbors", "routes", "system",
                                              "unique_neighbor_macs", "wifi"}));
    EXPECT_EQ(inventory.dump().rfind(R"({"captured_at":)", 0), 0u);
}

TEST(CollectInventory, TrafficWindowRunsFromTheFirstSnapshot) {
    const struct {
        const char* name;
        std::int64_t readers_ns;    // time taken by Wi-Fi, routes and neighbours together
        std::int64_t shortfall_ns;  // how early the first sleep wakes
        std::vector<std::int64_t> sleeps;
    } cases[] = {
        {"quick readers sleep the rest", 120'000'000, 0, {380}},
        {"a partial millisecond rounds up", 120'400'000, 0, {380}},
        {"an early wake sleeps again", 120'000'000, 2'500'000, {380, 3}},
        {"exactly the window", 500'000'000, 0, {}},
        {"slow readers never sleep", 2'000'000'000, 0, {}},
    };
    for (const auto& c : cases) {
        FakeMachine machine;
        machine.wifi_ns = c.readers_ns;
        machine.routes_ns = 0;
        machine.neighbors_ns = 0;
        machine.sleep_shortfall_ns = c.shortfall_ns;
        collect_inventory(machine.collectors(), test_key);
        EXPECT_EQ(machine.sleeps, c.sleeps) << c.name;
        const std::int64_t interval = machine.snapshot_at[1] - machine.snapshot_at[0];
        EXPECT_GE(interval, 500'000'000) << c.name;
        // The second snapshot follows the wait (or the readers) at once.
        EXPECT_LT(interval, std::max<std::int64_t>(c.readers_ns, 500'000'000) + 2'000'000)
            << c.name;
    }
}

TEST(CollectInventory, ErrorsOfIdentifiersPropagateUnchanged) {
    FakeMachine machine;
    InventoryCollectors collectors = machine.collectors();
    collectors.collect_neighbors = [](nlohmann::json&, std::span<const std::uint8_t>) {
        throw std::runtime_error("HMAC calculation failed");
    };
    try {
        collect_inventory(collectors, test_key);
        FAIL() << "expected an error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "HMAC calculation failed");
    }
    EXPECT_EQ(machine.log.back(), "routes");
}

}  // namespace
}  // namespace tarvisko
