// The upload pump: cursor, back-off, blocking, reply checks, origin binding and the upload lock
// through a scripted transport; then whole sessions end to end against the provider simulator,
// including a run through randomly injected faults.
#include "engine/http/upload_pump.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/ids.h"
#include "engine/common/json_document.h"
#include "engine/common/text.h"
#include "engine/queue/queue.h"
#include "engine/queue/recording.h"
#include "support/simulator_client.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using test::ScopedEnv;

const std::wstring token(40, L'T');

using test::error_text;

std::string sample_text(int session, int i) {
    return R"({"hop":)" + std::to_string(i) + R"(,"session":)" + std::to_string(session) +
           R"(,"name":"w\u00e9z\u0142 )"
           "\xC5\xBC"
           R"("})";
}

long long now() { return static_cast<long long>(std::time(nullptr)); }

struct Recorded {
    std::string id;
    std::vector<std::string> samples;
};

// A queue directory with the upload configured; records finished sessions into it.
class PumpFixture : public ::testing::Test {
  protected:
    explicit PumpFixture(std::wstring origin = L"https://upload.example.net")
        : origin_env_(L"QUORVEL_API_ORIGIN", origin) {}

    Recorded record(int samples, const std::string& state = "completed", int tag = 0) {
        UploadQueue queue = open_queue();
        Recorded recorded{new_uuid_text(), {}};
        start_recording(queue, recorded.id, "");
        for (int i = 0; i < samples; ++i) {
            recorded.samples.push_back(sample_text(tag, i));
            append_sample(queue, recorded.id, recorded.samples.back());
        }
        finish_recording(queue, recorded.id, state);
        close_queue(queue);
        return recorded;
    }

    std::string column(const std::string& name, const std::string& id) {
        UploadQueue queue = open_queue();
        StatementGuard statement =
            prepare_statement(queue.db, "SELECT " + name + " FROM session WHERE id=?", {id});
        return step_row(statement.get()) ? column_text(statement.get(), 0) : "(no row)";
    }

    long long due(const std::string& id) { return std::stoll(column("due", id)); }

    // The row's due time lies `wait` seconds after some moment between `before` and `after`.
    void expect_wait(const std::string& id, long long wait, long long before, long long after) {
        EXPECT_GE(due(id), before + wait) << id;
        EXPECT_LE(due(id), after + wait) << id;
    }

    void make_due() {
        UploadQueue queue = open_queue();
        run_statement(queue.db, "UPDATE session SET due=0");
    }

    test::TempDir dir_;
    ScopedEnv queue_env_{L"QUORVEL_QUEUE_DIR", dir_.path().wstring()};
    ScopedEnv origin_env_;
    ScopedEnv token_env_{L"QUORVEL_TOKEN", token};
};

struct Call {
    std::string path;
    std::string body;
    bool compressed;
};

// Answers each request with the next scripted reply, or with what the protocol accepts when the
// script is empty; keeps every request.
struct ScriptedServer {
    std::deque<UploadReply> script;
    std::vector<Call> calls;
    std::uint32_t random_value = 0;

    UploadTransport transport() {
        UploadTransport t;
        t.put = [this](const UploadEndpoint&, const std::string& path, const std::string& body,
                       bool compressed) {
            calls.push_back({path, body, compressed});
            if (!script.empty()) {
                UploadReply reply = script.front();
                script.pop_front();
                return reply;
            }
            const std::string id = path.substr(17, 36);
            if (path.find("/chunks/") != std::string::npos) return UploadReply{204, 0, ""};
            if (path.ends_with("/completion")) {
                return UploadReply{200, 0,
                                   nlohmann::json{{"session_id", id},
                                                  {"state", nlohmann::json::parse(body)["state"]}}
                                       .dump()};
            }
            return UploadReply{201, 0, nlohmann::json{{"session_id", id}}.dump()};
        };
        t.random = [this] { return random_value; };
        return t;
    }
    std::vector<std::string> paths() const {
        std::vector<std::string> result;
        for (const Call& call : calls) result.push_back(call.path);
        return result;
    }
};

int pump(ScriptedServer& server) {
    UploadQueue queue = open_queue();
    return upload_pending(queue, server.transport());
}

TEST(UploadBackoff, DelayLiesBetweenBaseAndTwiceBase) {
    const std::uint32_t most = 0xFFFFFFFFu;
    for (std::int64_t failures = 0; failures <= 12; ++failures) {
        const std::uint32_t base = 1u << std::min<std::int64_t>(failures, 9);
        EXPECT_EQ(upload_backoff_delay(failures, 0), base) << failures;
        EXPECT_EQ(upload_backoff_delay(failures, base), 2 * base) << failures;
        EXPECT_EQ(upload_backoff_delay(failures, base + 1), base) << failures;
        const std::uint32_t any = upload_backoff_delay(failures, most);
        EXPECT_GE(any, base);
        EXPECT_LE(any, 2 * base);
    }
    EXPECT_EQ(upload_backoff_delay(-3, 1), 2u);  // a damaged count backs off like the first failure
    EXPECT_EQ(upload_backoff_delay(1'000'000, 7), 519u);
}

TEST(UploadReplyCheck, SqlOnTheReplyBody) {
    test::TempDir dir;
    ScopedEnv queue_env(L"QUORVEL_QUEUE_DIR", dir.path().wstring());
    UploadQueue queue = open_queue();
    const std::string id = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
    const std::string ending =
        R"({"schema_version":1,"state":"partial","ended_at":"x","chunk_count":0})";
    struct Case {
        std::string reply;
        std::string kind;
        bool passes;
    };
    for (const Case& c : std::vector<Case>{
             {R"({"session_id":"6f9619ff-8b86-d011-b42d-00c04fc964ff"})", "open", true},
             {R"({"session_id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","state":"x"})", "open", true},
             {R"({"session_id":"6F9619FF-8B86-D011-B42D-00C04FC964FE"})", "open", false},
             {R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF"})", "open", false},
             {R"(["6F9619FF-8B86-D011-B42D-00C04FC964FF"])", "open", false},
             {"", "open", false},
             {"not json", "open", false},
             {R"({"session_id":"6F9619FF-8B86-D011-B42D-00C04FC964FF")", "open", false},
             {R"({"session_id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","state":"partial"})",
              "finish", true},
             {R"({"session_id":"6f9619ff-8b86-d011-b42d-00c04fc964ff","state":"partial"})",
              "finish", true},
             {R"({"session_id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","state":"completed"})",
              "finish", false},
             {R"({"session_id":"6F9619FF-8B86-D011-B42D-00C04FC964FF"})", "finish", false},
             {R"({"session_id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","state":"partial')", "finish",
              false},
             {R"({"session_id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","x":)" +
                  test::nested_arrays(json_depth_limit - 1) + "}",
              "open", true},
             {R"({"session_id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","x":)" +
                  test::nested_arrays(json_depth_limit) + "}",
              "open", false},
             {std::string(R"({"session_id":"6F9619FF-8B86-D011-B42D-00C04FC964FF"})") + '\0',
              "open", false},
         }) {
        EXPECT_EQ(upload_reply_passes(queue.db, c.reply, id, c.kind, ending), c.passes)
            << c.kind << " " << c.reply;
    }
}

using UploadPumpTest = PumpFixture;

TEST_F(UploadPumpTest, SendsOpeningChunksAndCompletionThenDeletesTheSession) {
    const Recorded two_chunks = record(65);
    const Recorded empty = record(0);
    ScriptedServer server;
    EXPECT_EQ(pump(server), upload_synchronized);
    const std::string a = "/api/v1/sessions/" + two_chunks.id;
    const std::string b = "/api/v1/sessions/" + empty.id;
    EXPECT_EQ(server.paths(), (std::vector<std::string>{a, a + "/chunks/0", a + "/chunks/1",
                                                        a + "/completion", b, b + "/completion"}));
    EXPECT_FALSE(server.calls[0].compressed);
    EXPECT_TRUE(server.calls[1].compressed);
    EXPECT_FALSE(server.calls[3].compressed);
    EXPECT_EQ(nlohmann::json::parse(server.calls[0].body)["session_id"], two_chunks.id);
    EXPECT_EQ(nlohmann::json::parse(server.calls[2].body)["samples"].size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(server.calls[3].body)["chunk_count"], 2);
    EXPECT_EQ(column("id", two_chunks.id), "(no row)");
    EXPECT_EQ(column("id", empty.id), "(no row)");
}

TEST_F(UploadPumpTest, EmptyQueueSendsNothingButNeedsTheEndpoint) {
    ScriptedServer server;
    EXPECT_EQ(pump(server), upload_synchronized);
    EXPECT_TRUE(server.calls.empty());
    ScopedEnv no_token(L"QUORVEL_TOKEN", nullptr);
    EXPECT_EQ(error_text([&] { pump(server); }), "set QUORVEL_API_ORIGIN and QUORVEL_TOKEN");
}

TEST_F(UploadPumpTest, FailedRequestIsResumedAtTheCursorAndNeverResent) {
    const Recorded recorded = record(130);  // three chunks
    ScriptedServer server;
    server.script = {UploadReply{201, 0, R"({"session_id":")" + recorded.id + "\"}"},
                     UploadReply{204, 0, ""}, UploadReply{503, 0, ""}};
    long long before = now();
    EXPECT_EQ(pump(server), upload_pending_left);
    long long after = now();
    EXPECT_EQ(column("next", recorded.id), "1");
    EXPECT_EQ(column("failures", recorded.id), "1");
    EXPECT_EQ(column("last_error", recorded.id), "503");
    EXPECT_EQ(column("blocked", recorded.id), "0");
    EXPECT_EQ(column("origin", recorded.id), "https://upload.example.net:443");
    expect_wait(recorded.id, 1, before, after);  // base 1, r = 0

    // Not due yet: the next pass leaves it alone (due pushed out so a slow machine cannot reach
    // it).
    {
        UploadQueue queue = open_queue();
        run_statement(queue.db, "UPDATE session SET due=strftime('%s','now')+3600");
    }
    server.calls.clear();
    EXPECT_EQ(pump(server), upload_pending_left);
    EXPECT_TRUE(server.calls.empty());

    // A second failure doubles the base; r picks within it.
    make_due();
    server.random_value = 2;
    server.script = {UploadReply{-12002, 0, ""}};
    before = now();
    EXPECT_EQ(pump(server), upload_pending_left);
    after = now();
    EXPECT_EQ(column("failures", recorded.id), "2");
    EXPECT_EQ(column("last_error", recorded.id), "-12002");
    expect_wait(recorded.id, 4, before, after);  // 2 + 2 % 3

    make_due();
    server.calls.clear();
    EXPECT_EQ(pump(server), upload_synchronized);
    const std::string a = "/api/v1/sessions/" + recorded.id;
    EXPECT_EQ(server.paths(),
              (std::vector<std::string>{a + "/chunks/1", a + "/chunks/2", a + "/completion"}));
}

TEST_F(UploadPumpTest, AcceptedStatusesAndReplyChecks) {
    struct Case {
        const char* what;
        int accepted_before;  // requests answered normally first
        UploadReply reply;
        std::string last_error;
        std::string next;
    };
    // Each case: a fresh session with one chunk; the named request gets the reply.
    for (const Case& c : std::vector<Case>{
             {"204 to the opening", 0, {204, 0, ""}, "204", "-1"},
             {"202 to the opening", 0, {202, 0, R"({"session_id":"X"})"}, "202", "-1"},
             {"opening reply for another session",
              0,
              {201, 0, R"({"session_id":"other"})"},
              "-13",
              "-1"},
             {"opening reply not JSON", 0, {200, 0, "<html>"}, "-13", "-1"},
             {"200 to a chunk", 1, {200, 0, ""}, "200", "0"},
             {"201 to a chunk", 1, {201, 0, ""}, "201", "0"},
             {"completion with another state", 2, {200, 0, "STATE:completed"}, "-13", "1"},
             {"completion without state", 2, {202, 0, "STATE:"}, "-13", "1"},
             {"201 to the completion", 2, {201, 0, "STATE:partial"}, "201", "1"},
             {"reply too large", 0, {upload_reply_rejected, 0, ""}, "-13", "-1"},
         }) {
        const Recorded recorded = record(3, "partial");
        ScriptedServer server;
        UploadReply reply = c.reply;
        if (reply.body.starts_with("STATE:")) {
            const std::string state = reply.body.substr(6);
            nlohmann::json body{{"session_id", recorded.id}};
            if (!state.empty()) body["state"] = state;
            reply.body = body.dump();
        }
        UploadTransport transport = server.transport();
        int calls = 0;
        const auto normal = transport.put;
        transport.put = [&](const UploadEndpoint& e, const std::string& p, const std::string& b,
                            bool z) {
            return calls++ == c.accepted_before ? reply : normal(e, p, b, z);
        };
        {
            UploadQueue queue = open_queue();
            EXPECT_EQ(upload_pending(queue, transport), upload_pending_left) << c.what;
        }
        EXPECT_EQ(column("last_error", recorded.id), c.last_error) << c.what;
        EXPECT_EQ(column("next", recorded.id), c.next) << c.what;
        EXPECT_EQ(column("blocked", recorded.id), "0") << c.what;
        UploadQueue queue = open_queue();
        run_statement(queue.db, "DELETE FROM session");
    }
    // The accepted variants: a lower-case id in the opening reply, 202 to the completion.
    const Recorded recorded = record(1, "partial");
    ScriptedServer server;
    std::string lower = recorded.id;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    server.script = {
        UploadReply{200, 0, R"({"session_id":")" + lower + "\"}"}, UploadReply{204, 0, ""},
        UploadReply{202, 0, nlohmann::json{{"session_id", lower}, {"state", "partial"}}.dump()}};
    EXPECT_EQ(pump(server), upload_synchronized);
}

TEST_F(UploadPumpTest, ConflictStatusesBlockTheSession) {
    for (const int status : {409, 413, 422}) {
        const Recorded recorded = record(1);
        ScriptedServer server;
        server.script = {UploadReply{status, 0, ""}};
        EXPECT_EQ(pump(server), upload_pending_left);
        EXPECT_EQ(column("blocked", recorded.id), "1");
        EXPECT_EQ(column("last_error", recorded.id), std::to_string(status));
        make_due();
        server.calls.clear();
        EXPECT_EQ(pump(server), upload_pending_left);
        EXPECT_TRUE(server.calls.empty()) << status;  // a blocked session is never tried again
        UploadQueue queue = open_queue();
        run_statement(queue.db, "DELETE FROM session");
    }
}

TEST_F(UploadPumpTest, RetryAfterOutweighsTheRandomDelay) {
    struct Case {
        std::uint32_t retry_after;
        std::uint32_t random_value;
        long long expected;
    };
    for (const Case& c : std::vector<Case>{{3600, 0, 3600}, {0, 1, 2}, {1, 1, 2}, {0, 0, 1}}) {
        const Recorded recorded = record(0);
        ScriptedServer server;
        server.random_value = c.random_value;
        server.script = {UploadReply{503, c.retry_after, ""}};
        const long long before = now();
        EXPECT_EQ(pump(server), upload_pending_left);
        expect_wait(recorded.id, c.expected, before, now());
        UploadQueue queue = open_queue();
        run_statement(queue.db, "DELETE FROM session");
    }
    // The largest Retry-After still lands in the row as a number of seconds.
    const Recorded recorded = record(0);
    ScriptedServer server;
    server.script = {UploadReply{503, 0xFFFFFFFFu, ""}};
    const long long before = now();
    pump(server);
    expect_wait(recorded.id, 4294967295LL, before, now());
}

TEST_F(UploadPumpTest, SessionStaysWithTheOriginThatClaimedIt) {
    const Recorded recorded = record(1);
    ScriptedServer server;
    server.script = {UploadReply{503, 0, ""}};
    EXPECT_EQ(pump(server), upload_pending_left);
    EXPECT_EQ(column("origin", recorded.id), "https://upload.example.net:443");
    make_due();
    {
        ScopedEnv other(L"QUORVEL_API_ORIGIN", L"https://other.example.net:443");
        server.calls.clear();
        EXPECT_EQ(pump(server), upload_pending_left);
        EXPECT_TRUE(server.calls.empty());
    }
    // The same origin written differently is the same origin.
    ScopedEnv same(L"QUORVEL_API_ORIGIN", L"https://UPLOAD.example.net:443/");
    EXPECT_EQ(pump(server), upload_synchronized);
}

TEST_F(UploadPumpTest, SecondPumpReturnsAtOnce) {
    const Recorded recorded = record(1);
    LockFileGuard held = open_lock_file(dir_.path().wstring(), L"upload.lock");
    ASSERT_TRUE(held.valid());
    ScriptedServer server;
    EXPECT_EQ(pump(server), upload_pending_left);
    EXPECT_TRUE(server.calls.empty());
    held.reset();
    EXPECT_EQ(pump(server), upload_synchronized);
}

TEST_F(UploadPumpTest, TwoPumpsOnTwoThreads) {
    record(200);
    record(10);
    // The first pump is held inside its first request until the second has returned.
    HANDLE inside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ScriptedServer first;
    UploadTransport slow = first.transport();
    const auto normal = slow.put;
    slow.put = [&](const UploadEndpoint& e, const std::string& p, const std::string& b, bool z) {
        SetEvent(inside);
        WaitForSingleObject(release, 10000);
        return normal(e, p, b, z);
    };
    int first_result = -1;
    std::thread worker([&] {
        UploadQueue queue = open_queue();
        first_result = upload_pending(queue, slow);
    });
    ASSERT_EQ(WaitForSingleObject(inside, 10000), WAIT_OBJECT_0);
    ScriptedServer second;
    EXPECT_EQ(pump(second), upload_pending_left);
    EXPECT_TRUE(second.calls.empty());
    SetEvent(release);
    worker.join();
    EXPECT_EQ(first_result, upload_synchronized);
    CloseHandle(inside);
    CloseHandle(release);
}

TEST_F(UploadPumpTest, ErrorsPassOutWithTheLockReleased) {
    const Recorded recorded = record(65);
    {
        UploadQueue queue = open_queue();
        run_statement(queue.db, "DELETE FROM chunk WHERE id=? AND n=1", {recorded.id});
    }
    ScriptedServer server;
    EXPECT_EQ(error_text([&] { pump(server); }), "missing local chunk");
    EXPECT_EQ(column("next", recorded.id), "1");
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "upload.lock"));

    // A bad endpoint ends the pass after the recovery has finished an abandoned recording.
    UploadQueue queue = open_queue();
    const std::string abandoned = new_uuid_text();
    start_recording(queue, abandoned, "");
    close_queue(queue);
    ScopedEnv bad(L"QUORVEL_API_ORIGIN", L"http://upload.example.net");
    EXPECT_EQ(error_text([&] { pump(server); }),
              "HTTPS origin required, without credentials, path or query");
    EXPECT_NE(column("ending", abandoned), "");
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "upload.lock"));
}

TEST_F(UploadPumpTest, SessionsWithADamagedIdArePassedOverUntouched) {
    const Recorded good = record(1);
    {
        UploadQueue queue = open_queue();
        run_statement(queue.db, "INSERT INTO session(id,opening) VALUES ('..\\open','{}')");
        run_statement(queue.db,
                      "INSERT INTO session(id,opening,ending,next) VALUES ('x/../y','{}','{}',0)");
    }
    ScriptedServer server;
    EXPECT_EQ(pump(server), upload_pending_left);
    EXPECT_EQ(server.paths(), (std::vector<std::string>{"/api/v1/sessions/" + good.id,
                                                        "/api/v1/sessions/" + good.id + "/chunks/0",
                                                        "/api/v1/sessions/" + good.id +
                                                            "/completion"}));
    EXPECT_EQ(column("id", good.id), "(no row)");
    EXPECT_EQ(column("quote(ending)", "..\\open"), "NULL");
    EXPECT_EQ(column("origin", "x/../y"), "");
    EXPECT_EQ(column("failures", "x/../y"), "0");

    // Still pending on every later pass while the damaged rows remain, and only then done.
    EXPECT_EQ(pump(server), upload_pending_left);
    EXPECT_EQ(server.calls.size(), 3u);
    {
        UploadQueue queue = open_queue();
        run_statement(queue.db, "DELETE FROM session");
    }
    EXPECT_EQ(pump(server), upload_synchronized);
}

// End to end: the real client against the simulator over TLS.
class UploadPumpSimulatorTest : public PumpFixture {
  protected:
    UploadPumpSimulatorTest() : PumpFixture(to_wide(test::simulator_origin())) {}
    void SetUp() override { test::simulator_reset(); }

    static nlohmann::json server_sessions() {
        return test::simulator_control("GET", "upload/sessions")["sessions"];
    }
    int pump_real() {
        UploadQueue queue = open_queue();
        return upload_pending(queue);
    }
    // Every recorded session reached the server completed, with exactly its samples in order.
    static nlohmann::json expect_arrived_whole(const std::vector<Recorded>& recorded) {
        const nlohmann::json sessions = server_sessions();
        EXPECT_EQ(sessions.size(), recorded.size());
        for (const Recorded& r : recorded) {
            if (!sessions.contains(r.id)) {
                ADD_FAILURE() << "missing " << r.id;
                continue;
            }
            const nlohmann::json& session = sessions.at(r.id);
            EXPECT_TRUE(session["completed"].get<bool>()) << r.id;
            std::vector<std::string> arrived;
            for (const auto& sample : session["samples"]) arrived.push_back(sample.dump());
            std::vector<std::string> expected;
            for (const auto& text : r.samples) {
                expected.push_back(nlohmann::json::parse(text).dump());
            }
            EXPECT_EQ(arrived, expected) << r.id;
            EXPECT_EQ(session["ending"]["chunk_count"], session["chunks"].size()) << r.id;
        }
        return sessions;
    }
};

TEST_F(UploadPumpSimulatorTest, RecordedSessionsArriveWholeAndInOrder) {
    const std::vector<Recorded> recorded{record(0, "cancelled"), record(64),
                                         record(65, "partial", 1)};
    EXPECT_EQ(pump_real(), upload_synchronized);
    const nlohmann::json sessions = expect_arrived_whole(recorded);
    ASSERT_TRUE(sessions.contains(recorded[2].id));
    // Chunk texts arrive exactly as stored, and the queue is empty.
    EXPECT_EQ(sessions.at(recorded[2].id)["chunk_texts"][1],
              R"({"schema_version":1,"samples":[)" + recorded[2].samples[64] + "]}");
    UploadQueue queue = open_queue();
    EXPECT_EQ(query_strings(queue.db, "SELECT count(*) FROM session"),
              std::vector<std::string>{"0"});
}

TEST_F(UploadPumpSimulatorTest, ServerFaultsAreRecordedInTheRow) {
    const Recorded recorded = record(1);
    const std::string base = "/api/v1/sessions/" + recorded.id;
    test::simulator_add_fault({{"path", base},
                               {"match", "exact"},
                               {"status", 503},
                               {"headers", {{"Retry-After", "3600"}}}});
    const long long before = now();
    EXPECT_EQ(pump_real(), upload_pending_left);
    expect_wait(recorded.id, 3600, before, now());
    EXPECT_EQ(column("last_error", recorded.id), "503");

    make_due();
    test::simulator_add_fault(
        {{"path", base + "/completion"},
         {"status", 200},
         {"body", R"({"session_id":")" + recorded.id + R"(","state":"cancelled"})"}});
    EXPECT_EQ(pump_real(), upload_pending_left);
    EXPECT_EQ(column("last_error", recorded.id), "-13");
    EXPECT_EQ(column("next", recorded.id), "1");

    // The next pass sends the completion again, not the chunk the server already took.
    make_due();
    EXPECT_EQ(pump_real(), upload_synchronized);
    EXPECT_EQ(column("id", recorded.id), "(no row)");
    EXPECT_EQ(test::simulator_requests(base + "/chunks/").size(), 1u);
    EXPECT_EQ(test::simulator_requests(base + "/completion").size(), 2u);
}

TEST_F(UploadPumpSimulatorTest, ClosedPortIsAWindowsError) {
    const Recorded recorded = record(1);
    ScopedEnv closed(L"QUORVEL_API_ORIGIN", L"https://localhost:1");
    EXPECT_EQ(pump_real(), upload_pending_left);
    EXPECT_EQ(column("last_error", recorded.id), "-12029");
    EXPECT_EQ(column("origin", recorded.id), "https://localhost:1");
}

TEST_F(UploadPumpSimulatorTest, EverySessionArrivesThroughRandomFaults) {
    const unsigned seed = std::random_device{}();
    std::printf("fault seed %u\n", seed);
    std::vector<Recorded> recorded;
    for (const int samples : {0, 1, 63, 64, 65, 130, 200}) {
        recorded.push_back(record(samples, "completed", samples));
    }
    const int rule =
        test::simulator_add_fault({{"path", "/api/v1/sessions/"},
                                   {"count", -1},
                                   {"probability", 0.35},
                                   {"seed", seed},
                                   {"choices",
                                    {{{"status", 500}},
                                     {{"status", 503}, {"headers", {{"Retry-After", "1"}}}},
                                     {{"drop", "before_reply"}},
                                     {{"when", "after"}, {"drop", "before_reply"}},
                                     {{"when", "after"}, {"drop", "mid_reply"}},
                                     {{"when", "after"}, {"delay_ms", 400}},
                                     {{"when", "after"}, {"status", 502}}}}});
    int passes = 0;
    int result = upload_pending_left;
    while (result != upload_synchronized && passes < 200) {
        result = pump_real();
        ++passes;
        make_due();  // instead of waiting out the back-off
    }
    ASSERT_EQ(result, upload_synchronized) << "seed " << seed;

    expect_arrived_whole(recorded);
    UploadQueue queue = open_queue();
    EXPECT_EQ(query_strings(queue.db, "SELECT count(*) FROM session"),
              std::vector<std::string>{"0"});
    EXPECT_EQ(query_strings(queue.db, "SELECT count(*) FROM chunk"), std::vector<std::string>{"0"});
    int faults = 0;
    for (const auto& f : test::simulator_faults()) {
        if (f["id"] == rule) faults = f["applied"].get<int>();
    }
    std::printf("went through %d faults in %d passes (%zu requests)\n", faults, passes,
                test::simulator_requests("/api/").size());
    EXPECT_GT(faults, 0);
}

}  // namespace
}  // namespace tarvisko
