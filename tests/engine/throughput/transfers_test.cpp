// Whole and windowed transfers against the simulated measurement node over real TLS.
#include "engine/throughput/transfers.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "engine/common/ids.h"
#include "engine/common/text.h"
#include "support/simulator_client.h"

namespace tarvisko {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::simulator_add_fault;
using test::simulator_control;

const std::wstring kNodeToken(40, L'n');

nlohmann::json whole_profile(std::uint64_t bytes, std::uint64_t rate = 100000000) {
    return {{"mode", "whole"}, {"bytes", bytes}, {"rate_bps", rate}, {"deadline_s", 30}};
}

nlohmann::json windowed_profile(std::uint64_t bytes, int streams, std::uint64_t rate = 1000000000) {
    return {{"mode", "windowed"}, {"bytes", bytes},    {"rate_bps", rate},
            {"deadline_s", 30},   {"window_ms", 2000}, {"streams", streams}};
}

class TransfersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::simulator_reset();
        session_id = new_uuid_text();
        origin = to_wide(test::simulator_origin());
    }

    // Grants `profile` and reserves this session directly, as the session would; the transfer
    // client's peer is then fixed like the session's.
    void reserve(const nlohmann::json& node_settings) {
        simulator_control("POST", "node/config", node_settings);
        NodeClient main = open_node_client(session_id, origin);
        InternetHandle request = send_node_request(main, L"POST", L"", kNodeToken, 0);
        receive_node_response(main, request.get(), 201);
        const nlohmann::json reply = read_node_reply(request.get(), 8192);
        ticket = to_wide(reply.at("ticket").get<std::string>());
        profile = reply.at("profile");
        client = open_node_client(session_id, origin);
        client.expected_peer = main.expected_peer;
    }

    nlohmann::json whole(bool upload, SteadyTime deadline = Clock::now() + 30s) {
        nlohmann::json result = new_transfer_result();
        run_whole_transfer(client, ticket, upload, profile["bytes"].get<std::uint64_t>(),
                           profile["rate_bps"].get<std::uint64_t>(), deadline, cancel, progress,
                           result);
        return result;
    }

    nlohmann::json windowed(const std::string& direction,
                            SteadyTime deadline = Clock::now() + 30s) {
        nlohmann::json result = new_transfer_result();
        run_windowed_transfer(session_id, origin, client, ticket, direction, profile, deadline,
                              cancel, progress, result);
        return result;
    }

    nlohmann::json node_session() {
        return simulator_control("GET", "node/stats")["sessions"][session_id];
    }

    // Whether the node has answered the last request of this session to `path` (after the
    // session's own part, e.g. "/upload"): a held report or a delayed reply is not answered yet.
    bool node_answered(const std::string& path) {
        const nlohmann::json requests =
            test::simulator_requests("/measure/v1/runs/" + session_id + path);
        EXPECT_FALSE(requests.empty()) << path << " never asked";
        return !requests.empty() && !requests.back()["status"].is_null();
    }

    std::string session_id;
    std::wstring origin;
    std::wstring ticket;
    nlohmann::json profile;
    NodeClient client;
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> live{0};
    TransferProgress progress;
};

void expect_ended(const nlohmann::json& result, const TransferProgress& progress) {
    EXPECT_TRUE(result["started_at"].is_string());
    EXPECT_TRUE(result["ended_at"].is_string());
    EXPECT_TRUE(result["duration_ms"].is_number_float());
    EXPECT_EQ(result["client_bytes"], progress.bytes.load());
    EXPECT_TRUE(progress.finished.load());
    EXPECT_FALSE(progress.running.load());
}

TEST_F(TransfersTest, WholeDownloadAndUploadAgreeWithNode) {
    reserve({{"profile", whole_profile(3 * 1048576 + 5)}});
    progress.live_counter = &live;
    const nlohmann::json down = whole(false);
    EXPECT_EQ(down["status"], "ok") << down.dump();
    EXPECT_TRUE(down["reason"].is_null());
    EXPECT_EQ(down["client_bytes"], 3 * 1048576 + 5);
    EXPECT_EQ(down["node_bytes"], 3 * 1048576 + 5);
    EXPECT_TRUE(down["node_duration_ms"].is_number());
    expect_ended(down, progress);
    EXPECT_EQ(live.load(), 3u * 1048576u + 5u);

    TransferProgress up_progress;
    up_progress.live_counter = &live;
    nlohmann::json up = new_transfer_result();
    run_whole_transfer(client, ticket, true, 3 * 1048576 + 5, 1000000000, Clock::now() + 30s,
                       cancel, up_progress, up);
    EXPECT_EQ(up["status"], "ok") << up.dump();
    EXPECT_EQ(up["node_bytes"], 3 * 1048576 + 5);
    EXPECT_EQ(node_session()["upload_received"], 3 * 1048576 + 5);
    EXPECT_EQ(live.load(), 2u * (3u * 1048576u + 5u));
}

TEST_F(TransfersTest, WholeTransferFaults) {
    struct Case {
        bool upload;
        nlohmann::json node;
        const char* reason;
        const char* status;
    };
    const Case cases[] = {
        {false, {{"extra_bytes", 1}}, "unexpected_extra_bytes", "partial"},
        {false, {{"missing_bytes", 1}}, "short_transfer", "partial"},
        {false, {{"report_bytes_delta", -1}}, "node_count_mismatch", "partial"},
        // A count 2^32 too high is no match, though its low 32 bits are.
        {false, {{"report_bytes_delta", 4294967296LL}}, "node_count_mismatch", "partial"},
        {false, {{"report_complete", false}}, "node_count_mismatch", "partial"},
        {true, {{"report_bytes_delta", -1}}, "node_count_mismatch", "partial"},
        {true, {{"report_complete", false}}, "node_count_mismatch", "partial"},
    };
    for (const Case& c : cases) {
        SetUp();
        nlohmann::json settings = c.node;
        settings["profile"] = whole_profile(200000);
        reserve(settings);
        TransferProgress fresh;
        nlohmann::json result = new_transfer_result();
        run_whole_transfer(client, ticket, c.upload, 200000, 100000000, Clock::now() + 30s, cancel,
                           fresh, result);
        EXPECT_EQ(result["reason"], c.reason) << settings.dump();
        EXPECT_EQ(result["status"], c.status) << settings.dump();
        expect_ended(result, fresh);
    }
}

TEST_F(TransfersTest, WholeStatusAndReportErrors) {
    reserve({{"profile", whole_profile(100000)}});
    simulator_add_fault(
        {{"path", "/measure/v1/runs/" + session_id + "/download"}, {"status", 503}});
    nlohmann::json result = whole(false);
    EXPECT_EQ(result["reason"], "node_http_503");
    EXPECT_EQ(result["status"], "unavailable");
    EXPECT_EQ(result["client_bytes"], 0);

    // A malformed node report ends in the JSON library's message.
    TransferProgress fresh;
    simulator_add_fault(
        {{"path", "/measure/v1/runs/" + session_id + "/status"},
         {"status", 200},
         {"body", R"({"download":{"bytes":"many","duration_ms":1,"complete":true}})"}});
    result = new_transfer_result();
    run_whole_transfer(client, ticket, false, 100000, 100000000, Clock::now() + 30s, cancel, fresh,
                       result);
    EXPECT_EQ(result["status"], "partial");
    EXPECT_NE(result["reason"].get<std::string>().find("type must be number"), std::string::npos)
        << result["reason"];
}

TEST_F(TransfersTest, CancelBeforeFirstByteAndPassedDeadline) {
    reserve({{"profile", whole_profile(100000)}});
    cancel = true;
    nlohmann::json result = whole(true);
    EXPECT_EQ(result["status"], "unavailable");
    EXPECT_EQ(result["reason"], "cancelled");
    EXPECT_EQ(result["client_bytes"], 0);
    expect_ended(result, progress);

    cancel = false;
    TransferProgress fresh;
    result = new_transfer_result();
    run_whole_transfer(client, ticket, false, 100000, 100000000, Clock::now() - 1ms, cancel, fresh,
                       result);
    EXPECT_EQ(result["reason"], "deadline_exceeded");
    EXPECT_EQ(result["status"], "unavailable");
}

TEST_F(TransfersTest, StalledDownloadEndsOnTheReceiveTimeout) {
    // The node stops sending after 64 KiB for longer than the 4 s receive time-out.
    reserve({{"profile", whole_profile(200000)}, {"stall_after_bytes", 65536}, {"stall_ms", 6000}});
    const nlohmann::json result = whole(false);
    EXPECT_EQ(result["status"], "partial") << result.dump();
    EXPECT_EQ(result["reason"].get<std::string>().rfind("winhttp_", 0), 0u) << result.dump();
    EXPECT_EQ(result["client_bytes"], 65536);
}

TEST_F(TransfersTest, WholeUploadReportWaitEndsAtTheDeadline) {
    // The node takes the body, then keeps its report back for 30 s; the session deadline, 1.5 s
    // away, bounds the wait for it.
    reserve({{"profile", whole_profile(200000)}});
    simulator_add_fault({{"path", "/measure/v1/runs/" + session_id + "/upload"},
                         {"when", "after"},
                         {"delay_ms", 30000}});
    const nlohmann::json result = whole(true, Clock::now() + 1500ms);
    EXPECT_EQ(result["status"], "partial") << result.dump();
    EXPECT_EQ(result["reason"].get<std::string>().rfind("winhttp_", 0), 0u) << result.dump();
    EXPECT_EQ(result["client_bytes"], 200000);
    // The transfer ended while the reply was still held back: the deadline ended the wait.
    EXPECT_FALSE(node_answered("/upload"));
}

TEST_F(TransfersTest, StopEndsTheWaitForAHeldReport) {
    // The node takes the whole body, then keeps its report back for 30 s; a stop while the
    // client waits for it ends the transfer as "cancelled" at once. Table: the whole upload's
    // report, and the windowed upload's commit; the user's cancel, and the session's own stop.
    struct Case {
        bool windowed;
        bool user;
    };
    for (const Case& c : {Case{false, true}, Case{true, true}, Case{false, false}}) {
        SCOPED_TRACE(std::string(c.windowed ? "windowed" : "whole") +
                     (c.user ? " cancel" : " halt"));
        SetUp();
        reserve({{"profile", c.windowed ? windowed_profile(1048576, 2) : whole_profile(200000)},
                 {"hold_report_ms", 30000}});
        std::atomic<bool> halt{false};
        const TransferStop stop(cancel, &halt);
        TransferProgress fresh;
        nlohmann::json result = new_transfer_result();
        std::thread transfer([&] {
            if (c.windowed) {
                run_windowed_transfer(session_id, origin, client, ticket, "upload", profile,
                                      Clock::now() + 60s, stop, fresh, result);
            } else {
                run_whole_transfer(client, ticket, true, 200000, 100000000, Clock::now() + 60s,
                                   stop, fresh, result);
            }
        });
        // Stop once the node holds the report, i.e. while the client waits for it.
        bool held = false;
        for (int i = 0; i < 2000 && !held; ++i) {
            held = node_session()["held_reports"] == 1;
            if (!held) std::this_thread::sleep_for(10ms);
        }
        (c.user ? cancel : halt) = true;
        transfer.join();
        EXPECT_TRUE(held);
        EXPECT_EQ(result["reason"], "cancelled") << result.dump();
        EXPECT_EQ(result["status"], "partial");
        EXPECT_TRUE(result["node_bytes"].is_null());
        EXPECT_EQ(result["client_bytes"], node_session()["upload_received"]);
        expect_ended(result, fresh);
        // The transfer ended while the node still held the report: it did not wait for it.
        EXPECT_FALSE(node_answered(c.windowed ? "/commit/upload" : "/upload"));
        cancel = false;
    }
}

TEST_F(TransfersTest, WindowedUploadRateAboveThirtyTwoBits) {
    // 4.3 Gbit/s read as 32 bits is 5.0 Mbit/s, which would pace 16 MiB over 27 s and leave
    // most of the budget unsent when the 10 s window closes.
    nlohmann::json fast = windowed_profile(16 * 1048576, 4, 4'300'000'000);
    fast["window_ms"] = 10000;
    reserve({{"profile", fast}});
    const nlohmann::json result = windowed("upload");
    EXPECT_EQ(result["status"], "ok") << result.dump();
    EXPECT_EQ(result["client_bytes"], 16 * 1048576);
    EXPECT_EQ(node_session()["upload_received"], 16 * 1048576);
}

TEST_F(TransfersTest, WholeUploadIsPacedFromTheStart) {
    // Two pieces of 32 KiB at 262,144 bit/s: the second may leave only 2 s after the request.
    reserve({{"profile", whole_profile(65536, 262144)}});
    const auto started = Clock::now();
    const nlohmann::json result = whole(true);
    EXPECT_EQ(result["status"], "ok") << result.dump();
    EXPECT_GE(Clock::now() - started, 2s);
    EXPECT_GE(result["duration_ms"].get<double>(), 2000.0);
}

TEST_F(TransfersTest, WindowedDownloadBlocksAreUniqueAndNeverSmall) {
    const std::uint64_t budget = 6 * 1048576 + 1000;
    reserve({{"profile", windowed_profile(budget, 3)}});
    progress.live_counter = &live;
    const nlohmann::json result = windowed("download");
    EXPECT_EQ(result["status"], "ok") << result.dump();
    const auto moved = result["client_bytes"].get<std::uint64_t>();
    EXPECT_LE(moved, budget);
    EXPECT_LT(budget - moved, 65536u);
    EXPECT_EQ(result["node_bytes"], moved);
    expect_ended(result, progress);
    EXPECT_EQ(live.load(), moved);

    const nlohmann::json blocks = node_session()["blocks"];
    std::set<int> sequences;
    std::uint64_t total = 0;
    for (const nlohmann::json& block : blocks) {
        EXPECT_GE(block["n"].get<int>(), 65536);
        EXPECT_LE(block["n"].get<int>(), 1048576);
        EXPECT_TRUE(sequences.insert(block["seq"].get<int>()).second)
            << "sequence reused: " << block;
        total += block["n"].get<std::uint64_t>();
    }
    EXPECT_EQ(total, moved);
    EXPECT_EQ(*sequences.rbegin(), static_cast<int>(sequences.size()) - 1);
    EXPECT_EQ(node_session()["commits"]["download"]["bytes"], moved);
}

TEST_F(TransfersTest, WindowedRemainderBelowOneBlockIsNeverSent) {
    // One stream: the first block takes 65,536 bytes, the 1000 left can start no block.
    reserve({{"profile", windowed_profile(65536 + 1000, 1)}});
    const nlohmann::json result = windowed("download");
    EXPECT_EQ(result["status"], "ok") << result.dump();
    EXPECT_EQ(result["client_bytes"], 65536);
    EXPECT_EQ(node_session()["blocks"].size(), 1u);
}

TEST_F(TransfersTest, WindowedUploadThroughTransferThread) {
    reserve({{"profile", windowed_profile(3 * 1048576, 4)}});
    nlohmann::json result = new_transfer_result();
    const std::string direction = "upload";
    const SteadyTime deadline = Clock::now() + 30s;
    std::thread thread(run_transfer_thread,
                       TransferJob{true, session_id, origin, client, ticket, direction, profile,
                                   deadline, cancel, progress, result, 3 * 1048576, 1000000000});
    thread.join();
    EXPECT_EQ(result["status"], "ok") << result.dump();
    const nlohmann::json node = node_session();
    EXPECT_EQ(node["upload_received"], 3 * 1048576);
    for (const nlohmann::json& block : node["blocks"]) EXPECT_EQ(block["bytes"], block["n"]);
    // Each stream reads every block's reply to its end and so keeps its one connection.
    std::set<int> connections;
    const nlohmann::json requests =
        test::simulator_requests("/measure/v1/runs/" + session_id + "/blocks/upload/");
    for (const nlohmann::json& request : requests) connections.insert(request["connection"].get<int>());
    EXPECT_GT(requests.size(), 4u);
    EXPECT_LE(connections.size(), 4u);
}

TEST_F(TransfersTest, WindowedFaults) {
    struct Case {
        const char* direction;
        nlohmann::json node;
        nlohmann::json fault;  // path suffix after the run base, or null
        const char* reason;
    };
    const Case cases[] = {
        {"download", {{"extra_bytes", 1}}, nullptr, "unexpected_extra_bytes"},
        {"download", {{"missing_bytes", 1}}, nullptr, "short_block"},
        {"download", {{"report_bytes_delta", -1}}, nullptr, "node_count_mismatch"},
        {"upload", {{"report_complete", false}}, nullptr, "node_count_mismatch"},
        // The result names the failing block's failure, and nothing is committed.
        {"download", nlohmann::json::object(), "/blocks/download/3", "node_http_500"},
        {"upload", nlohmann::json::object(), "/blocks/upload/2", "node_http_500"},
        {"download", nlohmann::json::object(), "/commit/download", "node_http_500"},
    };
    for (const Case& c : cases) {
        SetUp();
        nlohmann::json settings = c.node;
        settings["profile"] = windowed_profile(8 * 1048576, 3);
        reserve(settings);
        if (!c.fault.is_null()) {
            simulator_add_fault(
                {{"path", "/measure/v1/runs/" + session_id + c.fault.get<std::string>()},
                 {"match", "exact"},
                 {"status", 500}});
        }
        TransferProgress fresh;
        nlohmann::json result = new_transfer_result();
        run_windowed_transfer(session_id, origin, client, ticket, c.direction, profile,
                              Clock::now() + 30s, cancel, fresh, result);
        EXPECT_EQ(result["reason"], c.reason) << settings.dump() << c.fault;
        EXPECT_NE(result["status"], "ok");
        expect_ended(result, fresh);
        if (!c.fault.is_null() && c.fault.get<std::string>().find("blocks") != std::string::npos) {
            EXPECT_TRUE(node_session()["commits"].empty());
        }
    }
}

TEST_F(TransfersTest, WindowedFailingBlockStopsTheOtherStreams) {
    // Paced at 64 KiB per 2 s, the first block may start at 2 s and the next two at 4 s and
    // 6 s. When the first one fails, the streams waiting for their start give up at once
    // rather than send theirs.
    reserve({{"profile", windowed_profile(8 * 1048576, 3, 65536 * 8 / 2)}});
    const std::string first = "/measure/v1/runs/" + session_id + "/blocks/upload/0";
    simulator_add_fault({{"path", first}, {"match", "exact"}, {"status", 500}});
    TransferProgress fresh;
    nlohmann::json result = new_transfer_result();
    run_windowed_transfer(session_id, origin, client, ticket, "upload", profile,
                          Clock::now() + 30s, cancel, fresh, result);
    EXPECT_EQ(result["reason"], "node_http_500") << result.dump();
    expect_ended(result, fresh);
    const nlohmann::json requests =
        test::simulator_requests("/measure/v1/runs/" + session_id + "/blocks/");
    ASSERT_EQ(requests.size(), 1u) << requests.dump();
    EXPECT_EQ(requests[0]["path"], first);
    EXPECT_LE(result["client_bytes"].get<std::uint64_t>(), 65536u);
    EXPECT_TRUE(node_session()["commits"].empty());
}

TEST_F(TransfersTest, WindowedCancelAndPeerGuard) {
    reserve({{"profile", windowed_profile(2 * 1048576, 2)}});
    cancel = true;
    nlohmann::json result = windowed("download");
    EXPECT_EQ(result["reason"], "transfer_interrupted");
    EXPECT_EQ(result["status"], "unavailable");
    EXPECT_EQ(result["client_bytes"], 0);
    EXPECT_TRUE(node_session()["blocks"].empty());

    // Every stream inherits the transfer client's peer.
    cancel = false;
    client.expected_peer = "192.0.2.44";
    TransferProgress fresh;
    result = new_transfer_result();
    run_windowed_transfer(session_id, origin, client, ticket, "download", profile,
                          Clock::now() + 30s, cancel, fresh, result);
    EXPECT_EQ(result["reason"], "node_address_changed");
}

TEST_F(TransfersTest, WindowedUploadPacingHoldsTheRate) {
    // 1 MiB at 4 Mbit/s: the last block may not start before about 2 s of pacing.
    nlohmann::json slow = windowed_profile(1048576, 2, 4194304);
    reserve({{"profile", slow}});
    const auto started = Clock::now();
    const nlohmann::json result = windowed("upload");
    EXPECT_EQ(result["status"], "ok") << result.dump();
    EXPECT_GE(Clock::now() - started, 1500ms);
}

}  // namespace
}  // namespace tarvisko
