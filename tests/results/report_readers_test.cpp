#include "results/report_readers.h"

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "results/fixtures.h"

namespace tarvisko {
namespace {

using nlohmann::json;

json transfer_doc(const json& transfer, const json& profile) {
    return {{"transfers", {{"download", transfer}}}, {"profile", profile}};
}

TEST(StoredNumbers, WhatNoMeasurementCanGiveReadsAsMissing) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        json value;
        std::optional<double> rtt, mtu, amount;
    } cases[] = {
        {0, 0.0, 0.0, 0.0},
        {4, 4.0, 4.0, 4.0},
        {0.25, 0.25, 0.25, 0.25},
        {60000, 60000.0, 60000.0, 60000.0},
        {60000.5, std::nullopt, 60000.5, 60000.5},
        {65535u, std::nullopt, 65535.0, 65535.0},
        {65536, std::nullopt, std::nullopt, 65536.0},
        {1.2e29, std::nullopt, std::nullopt, 1.2e29},
        {1e308, std::nullopt, std::nullopt, 1e308},
        {-0.2, std::nullopt, std::nullopt, std::nullopt},
        {-1, std::nullopt, std::nullopt, std::nullopt},
        {inf, std::nullopt, std::nullopt, std::nullopt},
        {-inf, std::nullopt, std::nullopt, std::nullopt},
        {nan, std::nullopt, std::nullopt, std::nullopt},
        {"12", std::nullopt, std::nullopt, std::nullopt},
        {nullptr, std::nullopt, std::nullopt, std::nullopt},
        {true, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.dump());
        EXPECT_EQ(stored_round_trip_ms(c.value), c.rtt);
        EXPECT_EQ(stored_mtu(c.value), c.mtu);
        EXPECT_EQ(stored_amount(c.value), c.amount);
    }
}

TEST(TransferRate, OnlyCompleteAndConsistentTransfersHaveARate) {
    const json windowed = {{"mode", "windowed"}, {"bytes", 100000000}};
    const json whole = {{"mode", "whole"}, {"bytes", 1048576}};
    const json good = {{"status", "ok"},
                       {"client_bytes", 95000000},
                       {"node_bytes", 95000000},
                       {"duration_ms", 8000}};
    EXPECT_EQ(transfer_rate_mbps(transfer_doc(good, windowed), "download"), 95.0);
    EXPECT_EQ(transfer_rate_mbps(transfer_doc(good, windowed), "upload"), std::nullopt);

    const auto with = [&](const char* key, const json& value) {
        json t = good;
        t[key] = value;
        return t;
    };
    json no_node = good;
    no_node.erase("node_bytes");
    struct Case {
        const char* name;
        json doc;
    };
    const std::vector<Case> none = {
        {"not ok", transfer_doc(with("status", "partial"), windowed)},
        {"zero duration", transfer_doc(with("duration_ms", 0), windowed)},
        {"duration as text", transfer_doc(with("duration_ms", "8000"), windowed)},
        {"no client bytes", transfer_doc(with("client_bytes", 0), windowed)},
        {"node counted otherwise", transfer_doc(with("node_bytes", 94999999), windowed)},
        {"node bytes missing", transfer_doc(no_node, windowed)},
        {"more than the windowed profile allows",
         transfer_doc(good, {{"mode", "windowed"}, {"bytes", 94999999}})},
        {"not exactly the profile's bytes outside windowed mode", transfer_doc(good, whole)},
        {"profile without bytes", transfer_doc(good, {{"mode", "windowed"}})},
        {"no profile", transfer_doc(good, nullptr)},
        {"not a document", json::array()},
    };
    for (const Case& c : none) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(transfer_rate_mbps(c.doc, "download"), std::nullopt);
    }
    // Integer and floating counts compare by value; a missing mode is not windowed.
    const json exact = {{"status", "ok"},
                        {"client_bytes", 1048576.0},
                        {"node_bytes", 1048576},
                        {"duration_ms", 83.886}};
    EXPECT_DOUBLE_EQ(*transfer_rate_mbps(transfer_doc(exact, {{"bytes", 1048576}}), "download"),
                     1048576 * 0.008 / 83.886);
}

json latency(int valid, int failed, int without_ms = 0) {
    json samples = json::array();
    for (int i = 0; i < valid; ++i) samples.push_back({{"ms", 10 + i}, {"error", nullptr}});
    for (int i = 0; i < failed; ++i) samples.push_back({{"ms", nullptr}, {"error", "timeout"}});
    for (int i = 0; i < without_ms; ++i) samples.push_back(json::object());
    return samples;
}

TEST(MedianPhase, NeedsFiveAndFourFifthsAndToleratesAnyShape) {
    EXPECT_EQ(median_phase_ms(latency(7, 3)), std::nullopt);  // 35 < 40
    EXPECT_EQ(median_phase_ms(latency(8, 2)), 13.5);
    EXPECT_EQ(median_phase_ms(latency(4, 0)), std::nullopt);
    EXPECT_EQ(median_phase_ms(latency(5, 0)), 12.0);
    EXPECT_EQ(median_phase_ms(latency(8, 0, 2)), 13.5);  // no "error" reads as null
    json odd = latency(8, 0);
    odd.push_back(17);  // not an object: counts, without a time
    odd.push_back(nullptr);
    EXPECT_EQ(median_phase_ms(odd), 13.5);
    odd.push_back("x");  // now 8 of 11
    EXPECT_EQ(median_phase_ms(odd), std::nullopt);
    json with_error = latency(8, 0);
    with_error[0]["error"] = "late";  // a time with an error does not count
    EXPECT_EQ(median_phase_ms(with_error), 14.0);
    EXPECT_EQ(median_phase_ms(nullptr), std::nullopt);
    EXPECT_EQ(median_phase_ms(json{{"ms", 5}, {"error", nullptr}}), std::nullopt);
    EXPECT_EQ(median_phase_ms(json::object()), std::nullopt);
}

json iface(const char* id, std::vector<json> ips) {
    json unicast = json::array();
    for (json& ip : ips) unicast.push_back({{"ip", std::move(ip)}, {"prefix_length", 24}});
    return {{"id", id}, {"type", 6}, {"unicast", {{"status", "ok"}, {"value", unicast}}}};
}
json inventory(std::vector<json> interfaces) {
    return {{"interfaces", {{"status", "ok"}, {"value", json(std::move(interfaces))}}}};
}
json reserved(const json& address) {
    return {{"reservation_local_ip", {{"status", "ok"}, {"value", address}}}};
}

TEST(MeasurementInterface, TheOneInterfaceCarryingTheReservationAddress) {
    const json inv = inventory({iface("a", {"::1", "127.0.0.1"}), iface("b", {"10.0.0.2", "fd::2"}),
                                iface("c", {"10.0.0.3"})});
    const json* found = find_measurement_interface(inv, reserved("10.0.0.2"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ((*found)["id"], "b");
    EXPECT_EQ(find_measurement_interface(inv, reserved("10.0.0.9")), nullptr);
    EXPECT_EQ(find_measurement_interface(inv, reserved(nullptr)), nullptr);
    EXPECT_EQ(find_measurement_interface(
                  inv, {{"reservation_local_ip",
                         {{"status", "unavailable"}, {"reason", "no_reservation"}}}}),
              nullptr);
    // On two interfaces the address says nothing about which one carried the test.
    const json twice =
        inventory({iface("a", {"10.0.0.2"}), iface("b", {"fd::2"}), iface("c", {"10.0.0.2"})});
    EXPECT_EQ(find_measurement_interface(twice, reserved("10.0.0.2")), nullptr);
    // Odd shapes are passed over.
    json odd = inv;
    odd["interfaces"]["value"].push_back(7);
    odd["interfaces"]["value"].push_back({{"unicast", {{"value", "10.0.0.2"}}}});
    odd["interfaces"]["value"][0]["unicast"]["value"].push_back(3);
    EXPECT_EQ((*find_measurement_interface(odd, reserved("10.0.0.2")))["id"], "b");
    EXPECT_EQ(find_measurement_interface(nullptr, reserved("10.0.0.2")), nullptr);

    const json report = test::load_result_fixture("diagnostics-report");
    const json* captured = find_measurement_interface(report["inventory"], report["throughput"]);
    ASSERT_NE(captured, nullptr);
    EXPECT_EQ((*captured)["type"], 6);
}

}  // namespace
}  // namespace tarvisko
