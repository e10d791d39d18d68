// Target runs recorded in a real queue, with probes fed from a script so that the state rules,
// the report and the recording can be checked without a network.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <stdexcept>
#include <vector>

#include "engine/queue/queue.h"
#include "engine/queue/recording.h"
#include "engine/runs/target_run.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct SentProbe {
    std::uint32_t ttl;
    std::string protocol;
};

// Answers by TTL (missing: time-out); `before` runs inside every probe.
struct Script {
    std::map<std::uint32_t, ProbeResult> by_ttl;
    ProbeResult otherwise{"timeout", 11010, "", 0};
    std::vector<SentProbe> sent;
    std::function<void()> before;

    ProbeResult answer(std::uint32_t ttl, const char* protocol) {
        sent.push_back({ttl, protocol});
        if (before) before();
        auto found = by_ttl.find(ttl);
        return found == by_ttl.end() ? otherwise : found->second;
    }
    ProbeOperations operations() {
        ProbeOperations ops;
        ops.open_echo_target = [](const Target& t) {
            EchoTarget echo;
            echo.target = t;
            return echo;
        };
        ops.close_echo_target = [](EchoTarget&) {};
        ops.send_echo = [this](const EchoTarget&, std::uint8_t ttl, std::uint32_t) {
            return answer(ttl, "icmp");
        };
        ops.tcp_connect_probe = [this](Target, std::uint32_t ttl, std::uint32_t) {
            return answer(ttl, "tcp");
        };
        return ops;
    }
};

struct RecordedRun : ::testing::Test {
    test::TempDir dir;
    test::ScopedEnv queue_dir{L"QUORVEL_QUEUE_DIR", dir.path().wstring()};
    test::ScopedEnv no_origin{L"QUORVEL_API_ORIGIN", nullptr};
    std::atomic<bool> cancel{false};
    Script script;

    TargetRunRequest request() {
        TargetRunRequest r;
        r.purpose = "mtr";
        r.target = "192.0.2.50";
        r.profile_name = "MTR";
        r.protocol = "icmp";
        r.attempts = 2;
        r.max_ttl = 8;
        return r;
    }
    json run(const TargetRunRequest& r, const SampleCallback& callback = {}) {
        return run_target_probe_with(r, cancel, callback, script.operations());
    }
    std::string column(const std::string& sql, const std::string& id) {
        UploadQueue queue = open_queue();
        StatementGuard statement = prepare_statement(queue.db, sql, {id});
        return step_row(statement.get()) ? column_text(statement.get(), 0) : "(no row)";
    }
    std::string ending_state(const std::string& id) {
        const std::string ending = column("SELECT ending FROM session WHERE id=?", id);
        if (ending.empty() || ending == "(no row)") return ending;
        return json::parse(ending)["state"].get<std::string>();
    }
};

TEST_F(RecordedRun, CompletedTraceReportAndRecording) {
    script.by_ttl = {{1, {"ttl_expired", 11013, "10.0.0.1", 1}},
                     {3, {"echo_reply", 0, "192.0.2.50", 4}}};
    std::vector<json> live;
    const json report = run(request(), [&](const json& sample) { live.push_back(sample); });

    EXPECT_EQ(report["state"], "completed");
    EXPECT_EQ(report["error"], "");
    EXPECT_EQ(report["synchronized"], false);  // no upload origin configured
    EXPECT_EQ(report["version"], "1.1.18");
    EXPECT_TRUE(std::regex_match(
        report["session_id"].get<std::string>(),
        std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
    const std::regex time_form(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    EXPECT_TRUE(std::regex_match(report["started_at"].get<std::string>(), time_form));
    EXPECT_TRUE(std::regex_match(report["ended_at"].get<std::string>(), time_form));
    EXPECT_TRUE(report["device"].contains("method"));
    EXPECT_EQ(report["measurement"]["targets"], json::array({"192.0.2.50"}));
    EXPECT_EQ(report["measurement"]["technique"], "trace");
    EXPECT_EQ(report["measurement"]["target_name"], "192.0.2.50");

    // Two walks of three hops; the report and the live view saw the same samples.
    ASSERT_EQ(report["mtr_samples"].size(), 6u);
    EXPECT_EQ(json(live), report["mtr_samples"]);
    EXPECT_EQ(report["mtr_samples"][5]["attempt"], 2);
    EXPECT_EQ(report["mtr_samples"][5]["ttl"], 3);

    // The recording is finished with the run's state, its samples in one chunk, the opening
    // carrying the measurement as its last member, and no lock file left.
    const std::string id = report["session_id"];
    EXPECT_EQ(ending_state(id), "completed");
    EXPECT_EQ(column("SELECT chunks FROM session WHERE id=?", id), "1");
    const std::string opening = column("SELECT opening FROM session WHERE id=?", id);
    EXPECT_NE(opening.find(",\"measurement\":" + report["measurement"].dump() + "}"),
              std::string::npos)
        << opening;
    EXPECT_FALSE(fs::exists(dir.path() / (id + ".lock")));
}

TEST_F(RecordedRun, StateRules) {
    struct Case {
        const char* name;
        ProbeResult answer;
        bool cancel_first;
        const char* state;
        std::size_t samples;
    };
    const std::vector<Case> cases = {
        {"every probe unavailable", {"unavailable", 1231, "", 0}, false, "partial", 2},
        {"only time-outs", {"timeout", 11010, "", 0}, false, "completed", 16},
        {"cancelled", {"timeout", 11010, "", 0}, true, "cancelled", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        script = Script{};
        script.otherwise = c.answer;
        cancel = c.cancel_first;
        const json report = run(request());
        EXPECT_EQ(report["state"], c.state);
        EXPECT_EQ(report["error"], "");
        EXPECT_EQ(report["mtr_samples"].size(), c.samples);
        EXPECT_EQ(ending_state(report["session_id"]), c.state);
    }
}

TEST_F(RecordedRun, EchoRunProbesOnceAtTheMaximumTtl) {
    TargetRunRequest r = request();
    r.echo = true;
    r.max_ttl = 30;
    r.attempts = 3;
    r.protocol = "tcp";
    script.otherwise = {"tcp_connected", 0, "192.0.2.50", 2};
    const json report = run(r);
    ASSERT_EQ(script.sent.size(), 3u);
    for (const SentProbe& probe : script.sent) {
        EXPECT_EQ(probe.ttl, 30u);
        EXPECT_EQ(probe.protocol, "tcp");
    }
    EXPECT_EQ(report["measurement"]["technique"], "echo");
    EXPECT_EQ(report["mtr_samples"][0]["tcp_port"], 443);
    EXPECT_EQ(report["state"], "completed");
}

TEST_F(RecordedRun, FailingCallbackBecomesTheReportError) {
    const json report =
        run(request(), [](const json&) { throw std::runtime_error("view closed"); });
    EXPECT_EQ(report["error"], "view closed");
    EXPECT_EQ(report["state"], "partial");
    EXPECT_EQ(report["mtr_samples"].size(), 1u);  // stored before the callback failed
    EXPECT_EQ(ending_state(report["session_id"]), "partial");
}

TEST_F(RecordedRun, RefusedRequestsRecordNothing) {
    TargetRunRequest bad = request();
    bad.attempts = 0;
    EXPECT_THROW(run(bad), std::invalid_argument);
    TargetRunRequest gaming = request();
    gaming.purpose = "gaming";
    gaming.target_kind = "official_diagnostic";
    gaming.target = "10.20.30.40";
    EXPECT_THROW(run(gaming), std::invalid_argument);
    EXPECT_TRUE(script.sent.empty());
    EXPECT_FALSE(fs::exists(dir.path() / "queue.sqlite3"));
}

// An error that leaves the run between the start and the end of its recording must not leave the
// recording looking alive for the rest of the process: the lock file goes with the run, and an
// upload pass in the same process finishes the recording as "partial" with what was recorded.
TEST_F(RecordedRun, RecordingLeftByAnErrorIsRecoveredInTheSameProcess) {
    TargetRunRequest r = request();
    r.attempts = 1;
    script.before = [&] {
        if (script.sent.size() == 2) {
            // Hide the sample table: storing this probe and reading the samples back both fail.
            UploadQueue outside = open_queue();
            exec_sql(outside.db, "ALTER TABLE sample RENAME TO sample_hidden");
        }
    };
    try {
        run(r);
        ADD_FAILURE() << "the run did not fail";
    } catch (const SqliteError& e) {
        EXPECT_EQ(std::string(e.what()), "SQLite error 1");
    }

    UploadQueue queue = open_queue();
    exec_sql(queue.db, "DROP TABLE IF EXISTS sample; ALTER TABLE sample_hidden RENAME TO sample");
    const std::vector<std::string> unfinished =
        query_strings(queue.db, "SELECT id FROM session WHERE ending IS NULL");
    ASSERT_EQ(unfinished.size(), 1u);
    const std::string id = unfinished[0];
    EXPECT_FALSE(fs::exists(dir.path() / (id + ".lock")));

    recover_abandoned_recordings(queue);
    EXPECT_EQ(ending_state(id), "partial");
    const std::string chunk = column("SELECT body FROM chunk WHERE id=?", id);
    ASSERT_NE(chunk, "(no row)");
    EXPECT_EQ(json::parse(chunk)["samples"].size(), 1u);

    // Winsock was cleaned up as often as it was started: a fresh start and cleanup pair leaves
    // no reference behind, so WSACleanup after it reports "not initialised".
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    WSACleanup();
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

}  // namespace
}  // namespace tarvisko
