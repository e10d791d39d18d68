#include "engine/runs/host_pings.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvisko {
namespace {

SOCKADDR_INET ipv4_address(const char* text) {
    SOCKADDR_INET address{};
    address.Ipv4.sin_family = AF_INET;
    inet_pton(AF_INET, text, &address.Ipv4.sin_addr);
    return address;
}

SOCKADDR_INET ipv6_address(const char* text) {
    SOCKADDR_INET address{};
    address.Ipv6.sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &address.Ipv6.sin6_addr);
    return address;
}

BestRouteReading route(SOCKADDR_INET source, SOCKADDR_INET next_hop, std::uint32_t index = 7) {
    BestRouteReading reading;
    reading.ok = true;
    reading.source = source;
    reading.next_hop = next_hop;
    reading.interface_index = index;
    return reading;
}

ProbeResult reply(const std::string& responder, std::uint32_t rtt) {
    return {"echo_reply", 0, responder, rtt};
}

// Recorded echo answers, handed out in order per target; a target without answers times out.
struct FakeNetwork {
    BestRouteReading best_route;
    std::map<std::string, std::deque<ProbeResult>> answers;
    std::vector<std::string> opened;
    std::vector<std::string> closed;
    std::vector<std::string> echoes;
    std::function<void()> after_echo;
    int sleeps = 0;

    HostPingCalls calls() {
        HostPingCalls c;
        c.probes.open_echo_target = [this](const Target& target) {
            opened.push_back(target.text);
            EchoTarget echo;
            echo.target = target;
            return echo;
        };
        c.probes.send_echo = [this](const EchoTarget& echo, std::uint8_t ttl,
                                    std::uint32_t timeout) {
            EXPECT_EQ(ttl, 64);
            EXPECT_EQ(timeout, 400u);
            echoes.push_back(echo.target.text);
            ProbeResult result{"timeout", 11010, "", 0};
            auto& queue = answers[echo.target.text];
            if (!queue.empty()) {
                result = queue.front();
                queue.pop_front();
            }
            if (after_echo) after_echo();
            return result;
        };
        c.probes.close_echo_target = [this](EchoTarget& echo) {
            closed.push_back(echo.target.text);
        };
        c.read_best_route = [this](const Target&) { return best_route; };
        c.sleep = [this](std::chrono::milliseconds pause) {
            EXPECT_EQ(pause.count(), 100);
            ++sleeps;
        };
        return c;
    }
};

nlohmann::json reserved_document(const std::string& peer, const std::string& local) {
    return {{"peer", peer}, {"reservation_local_ip", {{"status", "ok"}, {"value", local}}}};
}

TEST(HostPings, WithoutReservationNothingIsPinged) {
    for (const nlohmann::json& peer : {nlohmann::json(nullptr), nlohmann::json(42)}) {
        FakeNetwork network;
        nlohmann::json document{{"peer", peer}};
        std::atomic<bool> cancel{false};
        int saves = 0;
        run_host_pings(
            document, cancel, [&] { ++saves; }, network.calls());
        EXPECT_EQ(saves, 1);
        EXPECT_TRUE(network.opened.empty());
        const std::string untried =
            R"({"planned":5,"reason":"no_reservation","samples":[],"target":null,"timeout_ms":400})";
        EXPECT_EQ(document["host_pings"].dump(),
                  R"({"gateway":)" + untried + R"(,"node":)" + untried + "}");
    }
}

TEST(HostPings, PingsGatewayThenNodeAndSavesAfterEveryEcho) {
    FakeNetwork network;
    network.best_route = route(ipv4_address("10.0.0.2"), ipv4_address("10.0.0.1"));
    network.answers["10.0.0.1"] = {reply("10.0.0.1", 1),
                                   reply("10.0.0.1", 2),
                                   {"timeout", 11010, "", 0},
                                   reply("10.0.0.1", 3),
                                   {"unreachable", 11003, "10.0.0.9", 0}};
    network.answers["203.0.113.5"] = {reply("203.0.113.5", 20), reply("198.51.100.1", 21),
                                      reply("203.0.113.5", 22), reply("203.0.113.5", 23),
                                      reply("203.0.113.5", 24)};
    nlohmann::json document = reserved_document("203.0.113.5", "10.0.0.2");
    std::atomic<bool> cancel{false};
    std::vector<nlohmann::json> saved;
    run_host_pings(
        document, cancel, [&] { saved.push_back(document["host_pings"]); }, network.calls());

    // Targets first, then one save per echo and one per finished series, then the last one.
    ASSERT_EQ(saved.size(), 14u);
    EXPECT_EQ(saved[0]["gateway"]["reason"], "interrupted");
    EXPECT_EQ(saved[0]["gateway"]["target"], "10.0.0.1");
    EXPECT_EQ(saved[0]["node"]["reason"], "interrupted");
    EXPECT_EQ(saved[0]["node"]["target"], "203.0.113.5");
    EXPECT_EQ(saved[3]["gateway"]["samples"].size(), 3u);
    EXPECT_EQ(saved[7]["node"]["reason"], "interrupted");

    const nlohmann::json& gateway = document["host_pings"]["gateway"];
    const nlohmann::json& node = document["host_pings"]["node"];
    EXPECT_TRUE(gateway["reason"].is_null());
    EXPECT_TRUE(node["reason"].is_null());
    ASSERT_EQ(gateway["samples"].size(), 5u);
    ASSERT_EQ(node["samples"].size(), 5u);
    EXPECT_EQ(gateway["samples"][0]["rtt_ms"], 1);
    EXPECT_EQ(gateway["samples"][0]["responder"], "10.0.0.1");
    EXPECT_EQ(gateway["samples"][2]["status"], "timeout");
    EXPECT_EQ(gateway["samples"][2]["native_code"], 11010);
    EXPECT_TRUE(gateway["samples"][2]["responder"].is_null());
    EXPECT_TRUE(gateway["samples"][2]["rtt_ms"].is_null());
    EXPECT_EQ(gateway["samples"][4]["status"], "unreachable");
    EXPECT_EQ(gateway["samples"][4]["responder"], "10.0.0.9");
    EXPECT_TRUE(gateway["samples"][4]["rtt_ms"].is_null());
    // An echo answered by somebody else is no reply from the target.
    EXPECT_EQ(node["samples"][1]["status"], "other_responder");
    EXPECT_EQ(node["samples"][1]["responder"], "198.51.100.1");
    EXPECT_TRUE(node["samples"][1]["rtt_ms"].is_null());
    EXPECT_EQ(node["samples"][4]["rtt_ms"], 24);

    const std::string first = node["samples"][0].dump();
    EXPECT_EQ(first.find(R"({"at":")"), 0u);
    EXPECT_NE(
        first.find(
            R"(Z","native_code":0,"responder":"203.0.113.5","rtt_ms":20,"status":"echo_reply"})"),
        std::string::npos)
        << first;

    EXPECT_EQ(network.opened, (std::vector<std::string>{"10.0.0.1", "203.0.113.5"}));
    EXPECT_EQ(network.closed, network.opened);
    EXPECT_EQ(network.sleeps, 8);  // none after the last echo of a series
}

TEST(HostPings, UnusableRouteStillPingsTheNode) {
    FakeNetwork network;
    // The reservation left from 10.0.0.2; the best source is now another address.
    network.best_route = route(ipv4_address("10.0.0.3"), ipv4_address("10.0.0.1"));
    nlohmann::json document = reserved_document("203.0.113.5", "10.0.0.2");
    std::atomic<bool> cancel{false};
    run_host_pings(
        document, cancel, [] {}, network.calls());
    const nlohmann::json& gateway = document["host_pings"]["gateway"];
    EXPECT_EQ(gateway["reason"], "route_changed");
    EXPECT_TRUE(gateway["target"].is_null());
    EXPECT_TRUE(gateway["samples"].empty());
    EXPECT_EQ(document["host_pings"]["node"]["samples"].size(), 5u);
    EXPECT_EQ(network.opened, std::vector<std::string>{"203.0.113.5"});
}

TEST(HostPings, CancelDuringGatewaySeriesCancelsBoth) {
    FakeNetwork network;
    network.best_route = route(ipv4_address("10.0.0.2"), ipv4_address("10.0.0.1"));
    std::atomic<bool> cancel{false};
    network.after_echo = [&] {
        if (network.echoes.size() == 2) cancel = true;
    };
    nlohmann::json document = reserved_document("203.0.113.5", "10.0.0.2");
    run_host_pings(
        document, cancel, [] {}, network.calls());
    EXPECT_EQ(document["host_pings"]["gateway"]["samples"].size(), 2u);
    EXPECT_EQ(document["host_pings"]["gateway"]["reason"], "cancelled");
    EXPECT_TRUE(document["host_pings"]["node"]["samples"].empty());
    EXPECT_EQ(document["host_pings"]["node"]["reason"], "cancelled");
    EXPECT_EQ(network.echoes.size(), 2u);
    EXPECT_EQ(network.sleeps, 1);
}

TEST(HostPings, FailingSaveOrBadPeerPropagates) {
    {
        FakeNetwork network;
        network.best_route = route(ipv4_address("10.0.0.2"), ipv4_address("10.0.0.1"));
        nlohmann::json document = reserved_document("203.0.113.5", "10.0.0.2");
        std::atomic<bool> cancel{false};
        int saves = 0;
        auto failing_save = [&] {
            if (++saves == 3) throw std::runtime_error("SQLite error 13");
        };
        EXPECT_THROW(run_host_pings(document, cancel, failing_save, network.calls()),
                     std::runtime_error);
        // The echo channel opened for the series is released all the same.
        EXPECT_EQ(network.closed, network.opened);
        EXPECT_EQ(document["host_pings"]["gateway"]["reason"], "interrupted");
    }
    {
        FakeNetwork network;
        nlohmann::json document = reserved_document("node.example", "10.0.0.2");
        std::atomic<bool> cancel{false};
        EXPECT_THROW(run_host_pings(
                         document, cancel, [] {}, network.calls()),
                     std::invalid_argument);
        EXPECT_THROW(run_host_pings(document, cancel, {}, network.calls()), std::invalid_argument);
    }
}

TEST(HostPings, GatewayChoiceFromTheBestRoute) {
    const Target node4 = parse_ip_literal("203.0.113.5");
    const Target node6 = parse_ip_literal("2001:db8::5");
    BestRouteReading failed;
    struct Case {
        const char* name;
        BestRouteReading route;
        const Target& node;
        std::string local;
        std::string reason;  // empty: found
        std::string gateway;
    };
    const std::vector<Case> cases = {
        {"lookup failed", failed, node4, "10.0.0.2", "route_lookup_failed", ""},
        {"source moved", route(ipv4_address("10.0.0.3"), ipv4_address("10.0.0.1")), node4,
         "10.0.0.2", "route_changed", ""},
        {"no local address known", route(ipv4_address("10.0.0.2"), ipv4_address("10.0.0.1")), node4,
         "", "route_changed", ""},
        {"on link v4", route(ipv4_address("10.0.0.2"), ipv4_address("0.0.0.0")), node4, "10.0.0.2",
         "no_separate_gateway", ""},
        {"on link v6", route(ipv6_address("2001:db8::2"), ipv6_address("::")), node6, "2001:db8::2",
         "no_separate_gateway", ""},
        {"hop is the node", route(ipv4_address("10.0.0.2"), ipv4_address("203.0.113.5")), node4,
         "10.0.0.2", "no_separate_gateway", ""},
        {"hop of another family", route(ipv4_address("10.0.0.2"), ipv6_address("fe80::1")), node4,
         "10.0.0.2", "no_separate_gateway", ""},
        {"link-local without scope", route(ipv6_address("2001:db8::2"), ipv6_address("fe80::1"), 0),
         node6, "2001:db8::2", "missing_interface_scope", ""},
        {"link-local with scope", route(ipv6_address("2001:db8::2"), ipv6_address("fe80::1"), 12),
         node6, "2001:db8::2", "", "fe80::1"},
        {"multicast hop", route(ipv4_address("10.0.0.2"), ipv4_address("224.0.0.1")), node4,
         "10.0.0.2", "invalid_gateway", ""},
        {"plain gateway", route(ipv4_address("10.0.0.2"), ipv4_address("10.0.0.1")), node4,
         "10.0.0.2", "", "10.0.0.1"},
        {"global v6 gateway", route(ipv6_address("2001:db8::2"), ipv6_address("2001:db8::1")),
         node6, "2001:db8::2", "", "2001:db8::1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const GatewayCheck check = check_best_route(c.route, c.node, c.local);
        EXPECT_EQ(check.found, c.reason.empty());
        EXPECT_EQ(check.reason, c.reason);
        EXPECT_EQ(check.gateway.text, c.gateway);
        if (std::string(c.name) == "link-local with scope") {
            EXPECT_EQ(check.gateway.address.si_family, AF_INET6);
            EXPECT_EQ(check.gateway.address.Ipv6.sin6_scope_id, 12u);
        }
    }
}

TEST(HostPings, SystemRouteLookupAnswers) {
    // Wine's GetBestRoute2 is a stub, so under Wine this is "route_lookup_failed"; on Windows the
    // loopback destination is on-link. Either way the real call returns a decision.
    const GatewayCheck check = check_best_route(parse_ip_literal("127.0.0.1"), "127.0.0.1");
    EXPECT_FALSE(check.found);
    EXPECT_FALSE(check.reason.empty());
}

}  // namespace
}  // namespace tarvisko
