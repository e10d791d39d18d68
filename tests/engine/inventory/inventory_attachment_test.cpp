#include "engine/inventory/inventory_attachment.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/envelope.h"
#include "engine/queue/queue.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using test::error_text;

const std::string session_id = "5F0C2A9E-31B4-4C7D-8E2A-6B1D9F3C4E70";
const std::string opening_text =
    R"({"schema_version":1,"device":{"id":"abc","method":"windows_installation_v1","reason":null},)"
    R"("session_id":")" +
    session_id +
    R"(","started_at":"2026-12-10T09:00:00.000Z",)"
    R"("client_version":"1.1.18","mode":"portable"})";

// A queue in a temporary directory with one open recording.
struct QueueFixture : ::testing::Test {
    test::TempDir temp;
    test::ScopedEnv env{L"QUORVEL_QUEUE_DIR", (temp.path() / "queue").wstring()};
    UploadQueue queue = open_queue();

    void SetUp() override {
        run_statement(queue.db, "INSERT INTO session(id,opening) VALUES(?,?)",
                      {session_id, opening_text});
    }

    std::vector<std::string> gateway_rows() {
        std::vector<std::string> rows;
        StatementGuard statement = prepare_statement(
            queue.db,
            "SELECT device||' '||ip||' '||mac||' '||observed FROM gateway_seen ORDER BY device,ip");
        while (step_row(statement.get())) rows.push_back(column_text(statement.get(), 0));
        return rows;
    }
    std::string stored_opening() {
        StatementGuard statement =
            prepare_statement(queue.db, "SELECT opening FROM session WHERE id=?", {session_id});
        return step_row(statement.get()) ? column_text(statement.get(), 0) : "";
    }
};

std::string mac(char c) { return std::string(64, c); }

struct Gateway {
    std::string adapter_id;
    unsigned index;
    std::string ip;
};
struct Neighbor {
    unsigned index;
    std::string ip;
    std::string mac_id;
};

nlohmann::json inventory_with(const std::string& captured_at, const std::vector<Gateway>& gateways,
                              const std::vector<Neighbor>& neighbors) {
    nlohmann::json inventory = nlohmann::json::object();
    inventory["captured_at"] = captured_at;
    inventory["finished_at"] = captured_at;
    inventory["system"] = nlohmann::json::object();
    nlohmann::json adapters = nlohmann::json::array();
    for (const Gateway& gateway : gateways) {
        nlohmann::json* adapter = nullptr;
        for (auto& existing : adapters) {
            if (existing["id"] == gateway.adapter_id) adapter = &existing;
        }
        if (adapter == nullptr) {
            adapters.push_back({{"id", gateway.adapter_id},
                                {"index", gateway.index},
                                {"gateways", json_value_ok(nlohmann::json::array())}});
            adapter = &adapters.back();
        }
        (*adapter)["gateways"]["value"].push_back(gateway.ip);
    }
    inventory["interfaces"] = json_value_ok(adapters);
    nlohmann::json list = nlohmann::json::array();
    for (const Neighbor& neighbor : neighbors) {
        list.push_back({{"index", neighbor.index},
                        {"ip", neighbor.ip},
                        {"mac_id", json_value_ok(neighbor.mac_id)},
                        {"state", 5},
                        {"vendor", json_unavailable("oui_registry_missing")}});
    }
    inventory["neighbors"] = json_value_ok(list);
    inventory["unique_neighbor_macs"] = json_value_ok(neighbors.size());
    inventory["routes"] = json_value_ok(nlohmann::json::array());
    inventory["wifi"] = json_value_ok(nlohmann::json::array());
    inventory["duplicate_addresses"] = json_value_ok(nlohmann::json::array());
    return inventory;
}

const std::string eth = "{6A3C1F00-1111-4A4A-9C9C-0123456789AB}";
const std::string wlan = "{6A3C1F00-2222-4A4A-9C9C-0123456789AB}";

TEST_F(QueueFixture, GatewayHistoryAcrossTests) {
    const std::vector<Gateway> gateways = {{eth, 7, "192.168.1.1"}};
    const struct {
        const char* captured_at;
        std::string router_mac;
        std::string expected;
    } tests[] = {
        {"2026-12-01T08:00:00.000Z", mac('a'),
         R"({"reason":"no_previous_gateway_observation","status":"unavailable"})"},
        {"2026-12-02T08:00:00.000Z", mac('a'), R"({"status":"ok","value":[]})"},
        {"2026-12-03T08:00:00.000Z", mac('b'),
         R"({"status":"ok","value":[{"current_mac_id":")" + mac('b') + R"(","interface_id":")" +
             eth + R"(","ip":"192.168.1.1","previous_mac_id":")" + mac('a') + R"("}]})"},
        {"2026-12-04T08:00:00.000Z", mac('b'), R"({"status":"ok","value":[]})"},
    };
    for (const auto& t : tests) {
        const nlohmann::json inventory =
            inventory_with(t.captured_at, gateways, {{7, "192.168.1.1", t.router_mac}});
        EXPECT_EQ(detect_gateway_changes(queue.db, inventory).dump(), t.expected) << t.captured_at;
        EXPECT_EQ(gateway_rows(), std::vector<std::string>{eth + " 192.168.1.1 " + t.router_mac +
                                                           " " + t.captured_at});
    }
}

TEST_F(QueueFixture, LaterOrEqualObservationIsNeitherComparedNorOverwritten) {
    for (const char* stored : {"2026-12-05T08:00:00.000Z", "2026-12-05T08:00:00.001Z"}) {
        run_statement(queue.db, "DELETE FROM gateway_seen");
        run_statement(queue.db, "INSERT INTO gateway_seen VALUES(?,?,?,?)",
                      {eth, "10.0.0.1", mac('c'), stored});
        const nlohmann::json inventory = inventory_with(
            "2026-12-05T08:00:00.000Z", {{eth, 3, "10.0.0.1"}}, {{3, "10.0.0.1", mac('d')}});
        EXPECT_EQ(detect_gateway_changes(queue.db, inventory).dump(),
                  R"({"reason":"no_previous_gateway_observation","status":"unavailable"})");
        EXPECT_EQ(gateway_rows(),
                  std::vector<std::string>{eth + " 10.0.0.1 " + mac('c') + " " + stored});
    }
}

TEST_F(QueueFixture, TwoAdaptersOnOneGatewayKeepTwoRows) {
    const nlohmann::json inventory = inventory_with(
        "2026-12-01T08:00:00.000Z", {{eth, 7, "192.168.1.1"}, {wlan, 9, "192.168.1.1"}},
        {{7, "192.168.1.1", mac('a')}, {9, "192.168.1.1", mac('a')}});
    detect_gateway_changes(queue.db, inventory);
    EXPECT_EQ(gateway_rows().size(), 2u);
}

TEST_F(QueueFixture, IncompleteObservationsMakeThePartialForm) {
    const std::string first = "2026-12-01T08:00:00.000Z";
    const std::string second = "2026-12-02T08:00:00.000Z";
    detect_gateway_changes(
        queue.db, inventory_with(first, {{eth, 7, "192.168.1.1"}}, {{7, "192.168.1.1", mac('a')}}));
    const std::string partial_empty =
        R"({"reason":"gateway_observation_incomplete","status":"partial","total":0,"value":[]})";

    // A gateway seen for the first time beside a known one.
    nlohmann::json inventory =
        inventory_with(second, {{eth, 7, "192.168.1.1"}, {eth, 7, "fe80::1"}},
                       {{7, "192.168.1.1", mac('a')}, {7, "fe80::1", mac('e')}});
    EXPECT_EQ(detect_gateway_changes(queue.db, inventory).dump(), partial_empty);

    // A gateway without a neighbour entry (matched by index and address together).
    inventory = inventory_with("2026-12-03T08:00:00.000Z",
                               {{eth, 7, "192.168.1.1"}, {eth, 7, "192.168.1.254"}},
                               {{7, "192.168.1.1", mac('a')}, {8, "192.168.1.254", mac('f')}});
    EXPECT_EQ(detect_gateway_changes(queue.db, inventory).dump(), partial_empty);

    // Neighbour list cut at its cap, or an adapter whose gateway list was cut.
    inventory = inventory_with("2026-12-04T08:00:00.000Z", {{eth, 7, "192.168.1.1"}},
                               {{7, "192.168.1.1", mac('b')}});
    inventory["neighbors"] = json_value_partial(inventory["neighbors"]["value"], 300);
    const nlohmann::json changes = detect_gateway_changes(queue.db, inventory);
    EXPECT_EQ(changes["status"], "partial");
    EXPECT_EQ(changes["total"], 1);
    EXPECT_EQ(changes["value"][0]["previous_mac_id"], mac('a'));
    inventory = inventory_with("2026-12-05T08:00:00.000Z", {{eth, 7, "192.168.1.1"}},
                               {{7, "192.168.1.1", mac('b')}});
    inventory["interfaces"]["value"][0]["gateways"] = json_value_partial({"192.168.1.1"}, 20);
    EXPECT_EQ(detect_gateway_changes(queue.db, inventory).dump(), partial_empty);
}

TEST_F(QueueFixture, NothingObservedOrNothingReadable) {
    const char* none = R"({"reason":"no_observed_gateway_mac","status":"unavailable"})";
    nlohmann::json inventory = inventory_with("2026-12-01T08:00:00.000Z", {}, {});
    EXPECT_EQ(detect_gateway_changes(queue.db, inventory).dump(), none);
    inventory = inventory_with("2026-12-01T08:00:00.000Z", {{eth, 7, "192.168.1.1"}},
                               {{7, "192.168.1.1", mac('a')}});
    inventory["neighbors"] = json_unavailable("GetIpNetTable2:1");
    EXPECT_EQ(detect_gateway_changes(queue.db, inventory).dump(), none);
    EXPECT_TRUE(gateway_rows().empty());
}

// The trimming rule as stated, one full serialisation per pass: the oracle for the real one.
void reference_trim(nlohmann::json& inventory, std::size_t budget) {
    const char* order[] = {"interfaces",          "routes",         "neighbors", "wifi",
                           "duplicate_addresses", "gateway_changes"};
    while (inventory.dump().size() > budget) {
        const char* chosen = nullptr;
        std::size_t chosen_size = 0;
        for (const char* name : order) {
            if (!inventory.contains(name) || !inventory[name].is_object() ||
                !inventory[name].contains("value"))
                continue;
            const nlohmann::json& value = inventory[name]["value"];
            if (value.is_null() || value.empty()) continue;
            const std::size_t size = value.dump().size();
            if (chosen == nullptr || size > chosen_size) {
                chosen = name;
                chosen_size = size;
            }
        }
        if (chosen == nullptr) throw std::runtime_error("inventory exceeds wire budget");
        nlohmann::json& section = inventory[chosen];
        if (!section.contains("total")) section["total"] = section["value"].size();
        section["status"] = "partial";
        section["reason"] = "wire_budget";
        section["value"].erase(section["value"].size() - 1);
    }
}

// A machine with many adapters and thousands of neighbours and routes, of varied sizes.
nlohmann::json large_inventory(unsigned adapters, unsigned neighbors, unsigned routes) {
    nlohmann::json inventory = inventory_with("2026-12-01T08:00:00.000Z", {}, {});
    inventory["system"] = {{"architecture", "x64"}, {"cpu_model", json_value_ok("Synthetic CPU")}};
    nlohmann::json adapter_list = nlohmann::json::array();
    for (unsigned a = 0; a < adapters; ++a) {
        nlohmann::json unicast = nlohmann::json::array();
        for (unsigned u = 0; u < a % 32; ++u) {
            unicast.push_back({{"dad_state", 4},
                               {"ip", "fd00:" + std::to_string(a) + "::" + std::to_string(u)},
                               {"prefix_length", 64}});
        }
        adapter_list.push_back({{"id", "{ADAPTER-" + std::to_string(a) + "}"},
                                {"index", a + 1},
                                {"model", json_value_ok("Synthetic Ethernet " + std::to_string(a))},
                                {"unicast", json_value_ok(unicast)},
                                {"gateways", json_value_ok({"10.0." + std::to_string(a) + ".1"})}});
    }
    inventory["interfaces"] = json_value_partial(adapter_list, adapters + 7);
    nlohmann::json neighbor_list = nlohmann::json::array();
    for (unsigned n = 0; n < neighbors; ++n) {
        neighbor_list.push_back(
            {{"index", n % 5 + 1},
             {"ip", "10.1." + std::to_string(n / 250) + "." + std::to_string(n % 250)},
             {"mac_id", json_value_ok(std::string(64, "0123456789abcdef"[n % 16]))},
             {"state", 5},
             {"vendor", n % 3 ? json_value_ok("Vendor " + std::string(n % 40, 'v'))
                              : json_unavailable("oui_unknown")}});
    }
    inventory["neighbors"] = json_value_ok(neighbor_list);
    nlohmann::json route_list = nlohmann::json::array();
    for (unsigned r = 0; r < routes; ++r) {
        route_list.push_back(
            {{"index", r % 9},
             {"metric", r},
             {"next_hop", "0.0.0.0"},
             {"prefix", "172.16." + std::to_string(r / 256) + "." + std::to_string(r % 256)},
             {"prefix_length", 32}});
    }
    inventory["routes"] = json_value_ok(route_list);
    return inventory;
}

// Every cut section keeps a prefix of its list and says how many there were.
void expect_cut_from_the_end(const nlohmann::json& original, const nlohmann::json& trimmed) {
    for (const char* name : {"interfaces", "routes", "neighbors"}) {
        const nlohmann::json& before = original[name];
        const nlohmann::json& after = trimmed[name];
        const std::size_t kept = after["value"].size();
        for (std::size_t i = 0; i < kept; ++i)
            ASSERT_EQ(after["value"][i], before["value"][i]) << name;
        if (kept < before["value"].size()) {
            EXPECT_EQ(after["status"], "partial") << name;
            EXPECT_EQ(after["reason"], "wire_budget") << name;
            EXPECT_EQ(after["total"], before.value("total", before["value"].size())) << name;
        } else {
            EXPECT_EQ(after, before) << name;
        }
    }
}

TEST(WireBudget, LargeInventoryFitsAndMatchesTheRule) {
    const struct {
        unsigned adapters, neighbors, routes;
        std::size_t budget;
    } cases[] = {
        {60, 3000, 4000, inventory_wire_budget},
        {40, 200, 150, 30000},
        {3, 400, 20, 20000},
        {50, 10, 600, 15000},
    };
    for (const auto& c : cases) {
        const nlohmann::json original = large_inventory(c.adapters, c.neighbors, c.routes);
        ASSERT_GT(original.dump().size(), c.budget);
        nlohmann::json trimmed = original;
        trim_to_wire_budget(trimmed, c.budget);
        EXPECT_LE(trimmed.dump().size(), c.budget);
        expect_cut_from_the_end(original, trimmed);
        if (c.budget < inventory_wire_budget) {
            nlohmann::json expected = original;
            reference_trim(expected, c.budget);
            EXPECT_EQ(trimmed, expected) << c.adapters << " adapters, budget " << c.budget;
        }
    }
}

TEST(WireBudget, LargestSectionLosesEntriesFromItsEnd) {
    nlohmann::json inventory = large_inventory(2, 1490, 10);
    const std::size_t size = inventory.dump().size();
    ASSERT_GT(size, 280000u);
    ASSERT_LT(size, 320000u);
    const nlohmann::json original = inventory;
    trim_to_wire_budget(inventory);
    EXPECT_LE(inventory.dump().size(), inventory_wire_budget);
    EXPECT_EQ(inventory["neighbors"]["total"], 1490);
    EXPECT_EQ(inventory["neighbors"]["reason"], "wire_budget");
    EXPECT_EQ(inventory["routes"], original["routes"]);
    EXPECT_EQ(inventory["interfaces"], original["interfaces"]);
    // It stopped as soon as the document fitted: one more entry would not.
    nlohmann::json one_more = inventory;
    one_more["neighbors"]["value"].push_back(
        original["neighbors"]["value"][inventory["neighbors"]["value"].size()]);
    EXPECT_GT(one_more.dump().size(), inventory_wire_budget);
}

TEST(WireBudget, TieCutsTheEarlierSectionAndRowLimitKeepsItsTotal) {
    nlohmann::json inventory = inventory_with("2026-12-01T08:00:00.000Z", {}, {});
    const nlohmann::json items = {"aaaa", "bbbb", "cccc"};
    inventory["routes"] = json_value_partial(items, 300);
    inventory["wifi"] = json_value_ok(items);
    trim_to_wire_budget(inventory, inventory.dump().size() - 1);
    EXPECT_EQ(inventory["routes"].dump(),
              R"({"reason":"wire_budget","status":"partial","total":300,"value":["aaaa","bbbb"]})");
    EXPECT_EQ(inventory["wifi"], json_value_ok(items));
}

TEST(WireBudget, NothingLeftToCutIsAnError) {
    nlohmann::json inventory = inventory_with("2026-12-01T08:00:00.000Z", {}, {});
    inventory["routes"] = json_unavailable("GetIpForwardTable2:5");
    inventory["wifi"] = json_value_ok({"only"});
    inventory["system"] = {{"cpu_model", json_value_ok(std::string(1000, 'x'))}};
    EXPECT_EQ(error_text([&] { trim_to_wire_budget(inventory, 900); }),
              "inventory exceeds wire budget");
    EXPECT_TRUE(inventory["wifi"]["value"].empty());
    EXPECT_EQ(inventory["system"]["cpu_model"]["value"].get<std::string>().size(), 1000u);

    // A value that is not a list has no last element to cut: an error, not an endless loop.
    inventory["duplicate_addresses"] = json_value_ok({{"unexpected", std::string(200, 'y')}});
    EXPECT_EQ(error_text([&] { trim_to_wire_budget(inventory, 900); }),
              "inventory exceeds wire budget");
    EXPECT_EQ(inventory["duplicate_addresses"]["status"], "ok");
}

TEST_F(QueueFixture, StoredOpeningCarriesTheTrimmedInventory) {
    nlohmann::json inventory = large_inventory(60, 3000, 4000);
    inventory["interfaces"]["value"][0]["index"] = 7;
    inventory["neighbors"]["value"][0] = {
        {"index", 7}, {"ip", "10.0.0.1"}, {"mac_id", json_value_ok(mac('a'))}};
    const std::string text = store_inventory(queue, session_id, inventory);
    EXPECT_EQ(stored_opening(), text);
    const nlohmann::json opening = nlohmann::json::parse(text);
    EXPECT_EQ(text.rfind(R"({"client_version":"1.1.18","device":{"id":"abc",)", 0), 0u);
    std::vector<std::string> keys;
    for (const auto& item : opening.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"client_version", "device", "inventory", "mode",
                                              "schema_version", "session_id", "started_at"}));
    EXPECT_LE(opening["inventory"].dump().size(), inventory_wire_budget);
    EXPECT_EQ(opening["inventory"]["gateway_changes"]["reason"], "no_previous_gateway_observation");
    EXPECT_EQ(gateway_rows(), std::vector<std::string>{"{ADAPTER-0} 10.0.0.1 " + mac('a') +
                                                       " 2026-12-01T08:00:00.000Z"});
}

TEST_F(QueueFixture, FailureLeavesOpeningAndObservationsAsTheyWere) {
    const nlohmann::json good = inventory_with(
        "2026-12-01T08:00:00.000Z", {{eth, 7, "192.168.1.1"}}, {{7, "192.168.1.1", mac('a')}});
    nlohmann::json too_large = good;
    too_large["system"] = {{"cpu_model", json_value_ok(std::string(inventory_wire_budget, 'x'))}};
    nlohmann::json bad_text = good;
    bad_text["neighbors"]["value"][0]["vendor"] = json_value_ok("Vendor \xC3");

    EXPECT_EQ(error_text([&] { store_inventory(queue, session_id, too_large); }),
              "inventory exceeds wire budget");
    EXPECT_NE(error_text([&] { store_inventory(queue, session_id, bad_text); }), "(no error)");
    EXPECT_EQ(
        error_text([&] { store_inventory(queue, "0E1D2C3B-0000-4000-8000-000000000000", good); }),
        "missing recording session");
    run_statement(queue.db, "UPDATE session SET ending='{}' WHERE id=?", {session_id});
    EXPECT_EQ(error_text([&] { store_inventory(queue, session_id, good); }),
              "missing recording session");
    EXPECT_EQ(stored_opening(), opening_text);
    EXPECT_TRUE(gateway_rows().empty());
    // The transaction is over: the connection takes a new one.
    run_statement(queue.db, "UPDATE session SET ending=NULL WHERE id=?", {session_id});
    EXPECT_NE(store_inventory(queue, session_id, good).find("\"inventory\""), std::string::npos);
}

}  // namespace
}  // namespace tarvisko
