// The measurement session against the provider simulator over real TLS, stored in a real queue.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/ids.h"
#include "engine/common/text.h"
#include "engine/queue/queue.h"
#include "engine/queue/recording.h"
#include "engine/throughput/live_progress.h"
#include "engine/throughput/measurement_session.h"
#include "support/simulator_client.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

const std::wstring kNodeToken(40, L'n');
const std::wstring kPortalToken(40, L'p');

class SessionAgainstNode : public ::testing::Test {
  protected:
    void SetUp() override {
        test::simulator_reset();
        // About one second per transfer phase, so that latency is probed under load.
        test::simulator_control("POST", "node/config",
                                {{"pace_bps", 8'000'000},
                                 {"profile",
                                  {{"mode", "whole"},
                                   {"bytes", 1048576},
                                   {"rate_bps", 8'000'000},
                                   {"deadline_s", 30}}}});
        queue = open_queue();
        session_id = new_uuid_text();
        start_recording(queue, session_id, "");
    }
    void TearDown() override { close_queue(queue); }

    nlohmann::json stored_throughput() {
        const auto openings =
            query_strings(queue.db, "SELECT opening FROM session WHERE id='" + session_id + "'");
        EXPECT_EQ(openings.size(), 1u);
        return nlohmann::json::parse(openings.at(0)).at("throughput");
    }

    NodeTraceCallback waiting_trace() {
        return
            [this](const Target& node, const std::string& phase, const std::atomic<bool>& active) {
                while (active.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                traced.push_back(phase + ">" + node.text);
            };
    }

    test::TempDir directory;
    test::ScopedEnv queue_dir{L"QUORVEL_QUEUE_DIR", directory.path().wstring()};
    test::ScopedEnv origin{L"QUORVEL_NODE_ORIGIN", to_wide(test::simulator_origin())};
    test::ScopedEnv node_token{L"QUORVEL_NODE_TOKEN", kNodeToken};
    test::ScopedEnv token{L"QUORVEL_TOKEN", kPortalToken};
    test::ScopedEnv portal{L"QUORVEL_PORTAL_RESERVATION", nullptr};
    UploadQueue queue;
    std::string session_id;
    std::vector<std::string> traced;  // written on the trace thread, read after the session
};

TEST_F(SessionAgainstNode, DirectRunCompletesAndIsStored) {
    std::atomic<bool> cancel{false};
    std::string observed;
    std::vector<std::string> phases;
    const nlohmann::json document =
        run_measurement_session(queue, session_id, cancel, waiting_trace(), &observed, nullptr,
                                [&](const std::string& phase) { phases.push_back(phase); });

    EXPECT_TRUE(document["error"].is_null()) << document.dump();
    EXPECT_EQ(document["node_id"], "sim-node-1");
    EXPECT_TRUE(document["peer"] == "127.0.0.1" || document["peer"] == "::1") << document["peer"];
    EXPECT_EQ(document["reservation_local_ip"]["status"], "ok");
    EXPECT_EQ(observed, "203.0.113.9");
    for (const char* direction : {"download", "upload"}) {
        EXPECT_EQ(document["transfers"][direction]["status"], "ok")
            << document["transfers"][direction];
        EXPECT_EQ(document["transfers"][direction]["client_bytes"], 1048576);
    }
    for (const char* phase : {"baseline", "download", "upload", "recovery"}) {
        ASSERT_FALSE(document["phases"][phase].empty()) << phase;
        for (const nlohmann::json& sample : document["phases"][phase]) {
            EXPECT_TRUE(sample["error"].is_null()) << sample;
            EXPECT_TRUE(sample["ms"].is_number_float());
        }
    }
    EXPECT_EQ(phases, (std::vector<std::string>{"baseline", "download", "upload", "recovery"}));
    const std::string peer = document["peer"];
    EXPECT_EQ(traced, (std::vector<std::string>{"baseline>" + peer, "recovery>" + peer}));
    EXPECT_EQ(stored_throughput(), document);

    const nlohmann::json stats = test::simulator_control("GET", "node/stats");
    std::string lower = session_id;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const nlohmann::json& seen = stats["sessions"].contains(session_id)
                                     ? stats["sessions"][session_id]
                                     : stats["sessions"][lower];
    EXPECT_EQ(seen["finished"], true);
    EXPECT_EQ(seen["reservations"], 1);

    // Every reply is read to its end, so the whole session needs at most two connections: one
    // for the probes (and the reservation and finish) and one for the transfer that runs beside
    // them. Which idle pooled connection a request takes is WinHTTP's choice. A probe that
    // opened a connection of its own would measure a TCP and TLS handshake as latency.
    std::set<int> connections;
    int probes = 0;
    for (const nlohmann::json& request : test::simulator_requests("/measure/")) {
        connections.insert(request["connection"].get<int>());
        if (request["method"] == "HEAD") ++probes;
    }
    EXPECT_GT(probes, 20);
    EXPECT_LE(connections.size(), 2u);
}

TEST_F(SessionAgainstNode, PortalRunFillsLiveProgressAndDesktopTrace) {
    test::simulator_control("POST", "node/config", {{"accepts_desktop_trace", true}});
    test::ScopedEnv use_portal{L"QUORVEL_PORTAL_RESERVATION", std::wstring(L"1")};
    LiveTraffic live;
    live.capacity = false;
    std::vector<nlohmann::json> local_addresses;
    live.local_address_callback = [&](const nlohmann::json& local) {
        local_addresses.push_back(local);
    };
    std::atomic<bool> cancel{false};
    const nlohmann::json document =
        run_measurement_session(queue, session_id, cancel, waiting_trace(), nullptr, &live, {});

    EXPECT_TRUE(document["error"].is_null()) << document.dump();
    const nlohmann::json requests = test::simulator_requests("/api/v1/portal/runs/");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["query"]["profile"], nlohmann::json::array({"legacy"}));
    EXPECT_EQ(live.rate_cap.load(), 8'000'000u);
    EXPECT_EQ(live.download_bytes.load(), 1048576u);
    EXPECT_EQ(live.upload_bytes.load(), 1048576u);
    ASSERT_EQ(local_addresses.size(), 1u);
    EXPECT_EQ(local_addresses[0], document["reservation_local_ip"]["value"]);
    ASSERT_TRUE(document.contains("desktop_trace"));
    EXPECT_EQ(document["desktop_trace"]["session_id"], session_id);
    for (int direction : {0, 1}) {
        const char* name = direction == 0 ? "download" : "upload";
        const nlohmann::json& series = document["desktop_trace"][name];
        ASSERT_FALSE(series.empty()) << name;
        EXPECT_EQ(series[0][0], 0);
        EXPECT_EQ(series.back()[1], 1048576);
        EXPECT_EQ(series, read_live_progress(live, direction));
    }
}

TEST_F(SessionAgainstNode, StopWhileTheNodeHoldsTheUploadReport) {
    // The node takes the upload's body, then keeps its report back for 30 s; the user stops the
    // test while the session waits for it.
    test::simulator_control("POST", "node/config", {{"hold_report_ms", 30000}});
    std::atomic<bool> cancel{false};
    std::atomic<bool> over{false};
    std::thread stopper([&] {
        try {
            while (!over.load() && !cancel.load()) {
                const nlohmann::json stats = test::simulator_control("GET", "node/stats");
                for (const nlohmann::json& seen : stats["sessions"]) {
                    if (seen["held_reports"] == 1) cancel = true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        } catch (const std::exception&) {
            cancel = true;  // the assertions below then show what happened
        }
    });
    const nlohmann::json document =
        run_measurement_session(queue, session_id, cancel, waiting_trace(), nullptr, nullptr, {});
    over = true;
    stopper.join();

    EXPECT_EQ(document["error"], "cancelled");
    EXPECT_EQ(document["transfers"]["download"]["status"], "ok");
    EXPECT_EQ(document["transfers"]["upload"]["reason"], "cancelled") << document["transfers"];
    EXPECT_EQ(document["transfers"]["upload"]["client_bytes"], 1048576);
    EXPECT_TRUE(document["phases"]["recovery"].empty());
    EXPECT_EQ(stored_throughput(), document);
    const nlohmann::json stats = test::simulator_control("GET", "node/stats");
    ASSERT_EQ(stats["sessions"].size(), 1u);
    const nlohmann::json& seen = stats["sessions"].front();
    EXPECT_EQ(seen["held_reports"], 1);
    EXPECT_EQ(seen["finished"], true);  // "/finish" still went out
    // The session ended while the report was still held back: it did not wait for it.
    std::vector<nlohmann::json> uploads;
    for (const nlohmann::json& request : test::simulator_requests("/measure/")) {
        const std::string path = request["path"];
        if (path.ends_with("/upload") && path.find("/blocks/") == std::string::npos) {
            uploads.push_back(request);
        }
    }
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_TRUE(uploads[0]["status"].is_null()) << uploads[0]["status"];
}

TEST_F(SessionAgainstNode, StoreFailureDuringADownloadStopsIt) {
    // A download of 16 MiB paced to 8 Mbit/s would run for 17 s. The recording goes away as the
    // download phase begins, so the session's first store of the phase fails while the transfer
    // runs: the transfer must be told to stop, not waited for.
    test::simulator_control("POST", "node/config",
                            {{"profile",
                              {{"mode", "whole"},
                               {"bytes", 16 * 1048576},
                               {"rate_bps", 8'000'000},
                               {"deadline_s", 60}}}});
    std::atomic<bool> cancel{false};
    const PhaseCallback phase = [&](const std::string& name) {
        if (name == "download") finish_recording(queue, session_id, "partial");
    };
    // The last store fails too (the recording is gone), which leaves the session.
    EXPECT_THROW(run_measurement_session(queue, session_id, cancel, waiting_trace(), nullptr,
                                         nullptr, phase),
                 std::runtime_error);
    const nlohmann::json stats = test::simulator_control("GET", "node/stats");
    ASSERT_EQ(stats["sessions"].size(), 1u);
    const nlohmann::json& seen = stats["sessions"].front();
    EXPECT_LT(seen["download_sent"].get<std::uint64_t>(), 8u * 1048576u) << seen;
    EXPECT_EQ(seen["upload_received"], 0);
    EXPECT_EQ(seen["finished"], false);
}

TEST_F(SessionAgainstNode, UnsetOriginEndsBeforeAnyRequest) {
    test::ScopedEnv no_origin{L"QUORVEL_NODE_ORIGIN", nullptr};
    std::atomic<bool> cancel{false};
    const nlohmann::json document =
        run_measurement_session(queue, session_id, cancel, waiting_trace(), nullptr, nullptr, {});
    EXPECT_EQ(document["error"], "node_https_origin_required");
    EXPECT_TRUE(document["node_id"].is_null());
    EXPECT_TRUE(document["ended_at"].is_string());
    for (const char* phase : {"baseline", "download", "upload", "recovery"}) {
        EXPECT_TRUE(document["phases"][phase].empty());
    }
    EXPECT_EQ(stored_throughput(), document);
    EXPECT_TRUE(test::simulator_requests("/measure").empty());
}

TEST_F(SessionAgainstNode, MissingRecordingLeavesTheSession) {
    finish_recording(queue, session_id, "partial");
    std::atomic<bool> cancel{false};
    EXPECT_THROW(
        run_measurement_session(queue, session_id, cancel, waiting_trace(), nullptr, nullptr, {}),
        std::runtime_error);
    EXPECT_TRUE(test::simulator_requests("/measure").empty());
}

}  // namespace
}  // namespace tarvisko
