// The full diagnostics run for real: the client in one namespace, the simulated node, portal and
// upload server behind a router in another, reached by a DNS name in the server's certificate.
// Run by tools/netns/with-node.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/system.h"
#include "engine/common/text.h"
#include "engine/runs/desktop_test.h"
#include "engine/throughput/live_progress.h"
#include "support/simulator_client.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

const std::wstring kToken(40, L't');
const std::wstring kNodeToken(40, L'n');

class FullRunInNamespaces : public ::testing::Test {
  protected:
    void SetUp() override {
        test::simulator_reset_when_ready(20);
        node = to_utf8(read_environment_variable(L"TARVISKO_NETNS_TARGET"));
        ASSERT_FALSE(node.empty()) << "run through tools/netns/with-node";
    }

    // Runs the test; `cancel_at` names the phase at whose start the user cancels.
    nlohmann::json run(const std::string& cancel_at = {}) {
        std::atomic<bool> cancel{false};
        const PhaseCallback phase = [&](const std::string& name) {
            phases.push_back(name);
            if (name == cancel_at) cancel = true;
        };
        return run_desktop_test(cancel, phase, live);
    }

    nlohmann::json uploaded(const std::string& session_id) {
        const nlohmann::json sessions = test::simulator_control("GET", "upload/sessions");
        return sessions["sessions"].value(session_id, nlohmann::json());
    }

    nlohmann::json node_stats(const std::string& session_id) {
        std::string lower = session_id;
        for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        const nlohmann::json stats = test::simulator_control("GET", "node/stats")["sessions"];
        return stats.contains(session_id) ? stats[session_id]
                                          : stats.value(lower, nlohmann::json());
    }

    // The run ended in `state` and that very state reached the upload server with the rest.
    void expect_delivered(const nlohmann::json& report, const std::string& state) {
        EXPECT_EQ(report["state"], state);
        EXPECT_EQ(report["synchronized"], true);
        const nlohmann::json session = uploaded(report["desktop_trace"]["session_id"]);
        ASSERT_TRUE(session.is_object()) << "nothing uploaded";
        EXPECT_EQ(session["completed"], true);
        EXPECT_EQ(session["ending"]["state"], state);
        EXPECT_EQ(session["samples"], report["mtr_samples"]);
        const nlohmann::json& opening = session["opening"];
        EXPECT_EQ(opening["throughput"], report["throughput"]);
        EXPECT_EQ(opening["inventory"], report["inventory"]);
        EXPECT_EQ(opening["device"], report["device"]);
        // Keys of the rewritten opening are in ascending order.
        const std::string text = session["opening_text"];
        EXPECT_EQ(text.rfind(R"({"client_version":)", 0), 0u) << text.substr(0, 80);
    }

    test::TempDir directory;
    test::ScopedEnv queue_dir{L"QUORVEL_QUEUE_DIR", directory.path().wstring()};
    test::ScopedEnv node_origin{L"QUORVEL_NODE_ORIGIN", to_wide(test::simulator_origin())};
    test::ScopedEnv api_origin{L"QUORVEL_API_ORIGIN", to_wide(test::simulator_origin())};
    test::ScopedEnv token{L"QUORVEL_TOKEN", kToken};
    test::ScopedEnv node_token{L"QUORVEL_NODE_TOKEN", kNodeToken};
    test::ScopedEnv portal{L"QUORVEL_PORTAL_RESERVATION", nullptr};
    LiveTraffic live;
    std::string node;
    std::vector<std::string> phases;
};

TEST_F(FullRunInNamespaces, CompletesAndIsDelivered) {
    test::ScopedEnv use_portal{L"QUORVEL_PORTAL_RESERVATION", std::wstring(L"1")};
    live.capacity = true;
    const nlohmann::json report = run();

    expect_delivered(report, "completed");
    EXPECT_EQ(phases, (std::vector<std::string>{"baseline", "download", "upload", "recovery",
                                                "ping", "sync"}));
    const nlohmann::json& throughput = report["throughput"];
    EXPECT_TRUE(throughput["error"].is_null()) << throughput["error"];
    EXPECT_EQ(throughput["peer"], node);
    EXPECT_EQ(throughput["transfers"]["download"]["status"], "ok");
    EXPECT_EQ(throughput["transfers"]["upload"]["status"], "ok");
    EXPECT_EQ(report["observed_ip"], "203.0.113.9");

    // Route samples toward the node from both idle phases: the router, then the node itself.
    ASSERT_FALSE(report["mtr_samples"].empty());
    bool saw_router = false;
    bool saw_node = false;
    for (const nlohmann::json& sample : report["mtr_samples"]) {
        EXPECT_EQ(sample["target"], node);
        EXPECT_TRUE(sample["phase"] == "baseline" || sample["phase"] == "recovery") << sample;
        saw_router |= sample["status"] == "ttl_expired";
        saw_node |= sample["status"] == "echo_reply" && sample["responder"] == node;
    }
    EXPECT_TRUE(saw_router);
    EXPECT_TRUE(saw_node);

    // Host pings: the node answers; the gateway needs GetBestRoute2, which Wine lacks.
    const nlohmann::json& pings = throughput["host_pings"];
    EXPECT_EQ(pings["node"]["target"], node);
    EXPECT_TRUE(pings["node"]["reason"].is_null());
    ASSERT_EQ(pings["node"]["samples"].size(), 5u);
    EXPECT_EQ(pings["node"]["samples"][0]["status"], "echo_reply");
    if (pings["gateway"]["target"].is_null()) {
        EXPECT_EQ(pings["gateway"]["reason"], "route_lookup_failed");
    } else {
        EXPECT_EQ(pings["gateway"]["samples"].size(), 5u);
    }

    EXPECT_TRUE(report["inventory"].is_object());
    EXPECT_FALSE(report["inventory"].empty());
    EXPECT_FALSE(report["desktop_trace"]["download"].empty());
    EXPECT_TRUE(node_stats(report["desktop_trace"]["session_id"])["finished"].get<bool>());
}

TEST_F(FullRunInNamespaces, CancelAtEachPhaseStillFinishes) {
    for (const std::string phase : {"baseline", "download", "upload", "recovery", "ping"}) {
        SCOPED_TRACE(phase);
        phases.clear();
        const nlohmann::json report = run(phase);
        expect_delivered(report, "cancelled");
        // Cancelled after the session, the throughput document itself stays clean.
        if (phase == "ping") {
            EXPECT_TRUE(report["throughput"]["error"].is_null());
            EXPECT_EQ(report["throughput"]["host_pings"]["node"]["reason"], "cancelled");
        } else {
            EXPECT_EQ(report["throughput"]["error"], "cancelled");
        }
        const nlohmann::json stats = node_stats(report["desktop_trace"]["session_id"]);
        EXPECT_EQ(stats["finished"], true) << "no /finish";
        EXPECT_EQ(phases.back(), "sync");
    }
}

TEST_F(FullRunInNamespaces, RejectedReservationIsPartial) {
    test::simulator_add_fault({{"path", "/measure/v1/runs/"}, {"method", "POST"}, {"status", 403}});
    const nlohmann::json report = run();
    expect_delivered(report, "partial");
    EXPECT_EQ(report["throughput"]["error"], "node_http_403");
    EXPECT_TRUE(report["throughput"]["host_pings"]["node"]["target"].is_null());
    EXPECT_EQ(report["throughput"]["host_pings"]["node"]["reason"], "no_reservation");
}

TEST_F(FullRunInNamespaces, StallingNodeIsPartial) {
    // The download stops after 64 KiB and stays silent longer than the receive time-out.
    test::simulator_control("POST", "node/config",
                            {{"stall_after_bytes", 65536}, {"stall_ms", 20000}});
    const nlohmann::json report = run();
    expect_delivered(report, "partial");
    EXPECT_EQ(report["throughput"]["error"], "incomplete_transfer");
    EXPECT_NE(report["throughput"]["transfers"]["download"]["status"], "ok");
}

TEST_F(FullRunInNamespaces, PassedDeadlineIsPartial) {
    // A download paced far below what the profile's deadline allows.
    test::simulator_control(
        "POST", "node/config",
        {{"pace_bps", 400'000},
         {"profile",
          {{"mode", "whole"}, {"bytes", 1048576}, {"rate_bps", 100'000'000}, {"deadline_s", 10}}}});
    const nlohmann::json report = run();
    expect_delivered(report, "partial");
    EXPECT_EQ(report["throughput"]["error"], "deadline_exceeded");
    EXPECT_EQ(report["throughput"]["transfers"]["download"]["reason"], "deadline_exceeded");
}

}  // namespace
}  // namespace tarvisko
