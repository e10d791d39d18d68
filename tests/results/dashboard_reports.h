#pragma once
// A hand-made full-test report with what the captured run lacks under Wine: a Wi-Fi adapter with
// its radio, neighbours and gateway pings. Cases change it through JSON pointers.
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace tarvisko::test {

inline nlohmann::json ok(nlohmann::json value) {
    return {{"status", "ok"}, {"value", std::move(value)}};
}

inline nlohmann::json echo(const nlohmann::json& rtt, const std::string& responder) {
    return {{"status", "echo_reply"}, {"responder", responder}, {"rtt_ms", rtt}};
}

inline nlohmann::json lost() {
    return {{"status", "timeout"}, {"responder", nullptr}, {"rtt_ms", nullptr}};
}

inline nlohmann::json ping_series(const std::string& target, nlohmann::json samples,
                                  const nlohmann::json& reason = nullptr) {
    return {{"target", target},
            {"planned", 5},
            {"timeout_ms", 400},
            {"reason", reason},
            {"samples", std::move(samples)}};
}

inline nlohmann::json latency(const nlohmann::json& ms, const nlohmann::json& error = nullptr) {
    return {{"at", "2024-05-06T07:08:01.000Z"}, {"ms", ms}, {"error", error}};
}

inline nlohmann::json unicast(const std::string& ip, int dad_state = 4) {
    return {{"ip", ip}, {"prefix_length", 64}, {"dad_state", dad_state}};
}

// Wi-Fi adapter 7 at 192.168.1.20 carries the test; a wired adapter 3 is up beside it.
inline nlohmann::json hand_report() {
    using nlohmann::json;
    const json wifi_adapter = {
        {"id", "{AB12-CD34}"},
        {"index", 7},
        {"type", 71},
        {"oper_status", 1},
        {"mtu", 1500},
        {"model", ok("Radio AX")},
        {"driver", ok("2.1")},
        {"dns", ok(json::array({"192.168.1.1"}))},
        {"unicast",
         ok(json::array({unicast("192.168.1.20"), unicast("2a01:4f8::20"), unicast("fe80::20")}))}};
    const json wired_adapter = {{"id", "{EE00}"},
                                {"index", 3},
                                {"type", 6},
                                {"oper_status", 1},
                                {"mtu", 1500},
                                {"model", ok("Wired GbE")},
                                {"driver", ok("9.9")},
                                {"dns", ok(json::array())},
                                {"unicast", ok(json::array({unicast("10.0.0.5")}))}};
    json node = json::array();
    for (const double ms : {20.0, 22.0, 21.0, 25.0, 20.0}) node.push_back(echo(ms, "192.0.2.10"));
    json baseline = json::array();
    for (const double ms : {10.0, 12.0, 11.0, 13.0, 10.0}) baseline.push_back(latency(ms));
    return {
        {"synchronized", false},
        {"observed_ip", "198.51.100.20"},
        {"throughput",
         {{"session_id", "S1"},
          {"started_at", "2024-05-06T07:08:00.000Z"},
          {"ended_at", "2024-05-06T07:08:09.123Z"},
          {"error", nullptr},
          {"peer", "192.0.2.10"},
          {"profile", {{"mode", "windowed"}, {"bytes", 100000000}, {"rate_bps", 0}}},
          {"transfers",
           {{"download",
             {{"status", "ok"},
              {"client_bytes", 50000000},
              {"node_bytes", 50000000},
              {"duration_ms", 4000}}},
            {"upload",
             {{"status", "ok"},
              {"client_bytes", 10000000},
              {"node_bytes", 10000000},
              {"duration_ms", 4000}}}}},
          {"phases", {{"baseline", baseline}, {"recovery", baseline}}},
          {"host_pings",
           {{"gateway", ping_series("192.168.1.1", json::array({echo(2, "192.168.1.1"), lost(),
                                                                echo(4, "192.168.1.1")}))},
            {"node", ping_series("192.0.2.10", node)}}},
          {"reservation_local_ip", ok("192.168.1.20")}}},
        {"desktop_trace",
         {{"session_id", "S1"},
          {"download", json::array({json::array({0, 0}), json::array({1000, 6250000})})},
          {"upload", json::array({json::array({0, 0}), json::array({500, 62500})})}}},
        {"inventory",
         {{"system",
           {{"cpu_model", ok("Test CPU")},
            {"logical_processors", 4},
            {"memory", ok({{"total_bytes", 17179869184LL}, {"available_bytes", 8000000000LL}})}}},
          {"interfaces", ok(json::array({wifi_adapter, wired_adapter}))},
          {"neighbors",
           ok(json::array({{{"index", 7},
                            {"ip", "192.168.1.1"},
                            {"mac_id", ok("m1")},
                            {"vendor", ok("RouterCo")}},
                           {{"index", 7},
                            {"ip", "192.168.1.30"},
                            {"mac_id", ok("m2")},
                            {"vendor", {{"status", "unavailable"}, {"reason", "oui_unknown"}}}},
                           {{"index", 3},
                            {"ip", "10.0.0.1"},
                            {"mac_id", ok("m9")},
                            {"vendor", ok("Other")}}}))},
          {"wifi", ok(json::array({{{"id", "{ab12-cd34}"},
                                    {"connection", ok({{"phy", "ax"},
                                                       {"signal_pct", 72},
                                                       {"rx_kbps", 866700},
                                                       {"tx_kbps", 433300}})},
                                    {"channel", ok(36)}}}))}}}};
}

// The report with each (pointer, value) pair set in turn; the text "remove" removes the member.
inline nlohmann::json patched(nlohmann::json report,
                              const std::vector<std::pair<std::string, nlohmann::json>>& patches) {
    for (const auto& [pointer, value] : patches) {
        const nlohmann::json::json_pointer path(pointer);
        if (value == "remove") {
            report[path.parent_pointer()].erase(path.back());
        } else {
            report[path] = value;
        }
    }
    return report;
}

}  // namespace tarvisko::test
