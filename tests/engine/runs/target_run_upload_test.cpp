// A real target run (ICMP echoes to loopback) recorded in a real queue and uploaded over TLS to the
// provider simulator.
#include <gtest/gtest.h>

#include <string>

#include "engine/common/text.h"
#include "engine/queue/queue.h"
#include "engine/runs/target_run.h"
#include "support/simulator_client.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;

struct UploadedRun : ::testing::Test {
    test::TempDir dir;
    test::ScopedEnv queue_dir{L"QUORVEL_QUEUE_DIR", dir.path().wstring()};
    std::wstring origin_text = to_wide(test::simulator_origin());
    test::ScopedEnv origin{L"QUORVEL_API_ORIGIN", origin_text};
    test::ScopedEnv token{L"QUORVEL_TOKEN", L"tk_0123456789abcdef0123456789abcdef"};
    std::atomic<bool> cancel{false};

    void SetUp() override { test::simulator_reset(); }

    static TargetRunRequest loopback_echo() {
        TargetRunRequest r;
        r.purpose = "monitor";
        r.target = "127.0.0.1";
        r.profile_name = "Monitoring";
        r.protocol = "icmp";
        r.attempts = 3;
        r.max_ttl = 16;
        r.echo = true;
        return r;
    }
    static std::string queued(const std::string& sql) {
        UploadQueue queue = open_queue();
        const auto rows = query_strings(queue.db, sql);
        return rows.empty() ? "(none)" : rows[0];
    }
};

TEST_F(UploadedRun, RunIsUploadedAndLeavesTheQueueEmpty) {
    const json report = run_target_probe(loopback_echo(), cancel, {});
    EXPECT_EQ(report["state"], "completed");
    EXPECT_EQ(report["error"], "");
    EXPECT_EQ(report["synchronized"], true);
    ASSERT_EQ(report["mtr_samples"].size(), 3u);
    for (const json& sample : report["mtr_samples"]) {
        EXPECT_EQ(sample["status"], "echo_reply");
        EXPECT_EQ(sample["responder"], "127.0.0.1");
        EXPECT_EQ(sample["ttl"], 16);
    }

    const std::string id = report["session_id"];
    const json sessions = test::simulator_control("GET", "upload/sessions")["sessions"];
    ASSERT_TRUE(sessions.contains(id));
    const json& uploaded = sessions[id];
    EXPECT_EQ(uploaded["completed"], true);
    EXPECT_EQ(uploaded["samples"], report["mtr_samples"]);
    EXPECT_EQ(uploaded["opening"]["measurement"], report["measurement"]);
    EXPECT_EQ(uploaded["opening"]["device"], report["device"]);
    EXPECT_EQ(uploaded["ending"]["state"], "completed");
    EXPECT_EQ(queued("SELECT count(*) FROM session"), "0");
}

TEST_F(UploadedRun, ServerDownLeavesTheSessionForTheNextPass) {
    test::simulator_add_fault({{"path", "/api/"}, {"drop", "before_reply"}, {"count", -1}});
    const json report = run_target_probe(loopback_echo(), cancel, {});
    EXPECT_EQ(report["synchronized"], false);
    EXPECT_EQ(report["state"], "completed");
    const std::string id = report["session_id"];
    EXPECT_EQ(queued("SELECT id FROM session WHERE ending IS NOT NULL"), id);

    // The server is back. The stored back-off is moved to now instead of waiting it out.
    test::simulator_reset();
    {
        UploadQueue queue = open_queue();
        exec_sql(queue.db, "UPDATE session SET due=0");
    }
    const json next = run_target_probe(loopback_echo(), cancel, {});
    EXPECT_EQ(next["synchronized"], true);
    const json sessions = test::simulator_control("GET", "upload/sessions")["sessions"];
    EXPECT_EQ(sessions[id]["completed"], true);
    EXPECT_EQ(sessions[id]["samples"], report["mtr_samples"]);
    EXPECT_EQ(sessions[next["session_id"].get<std::string>()]["completed"], true);
}

}  // namespace
}  // namespace tarvisko
