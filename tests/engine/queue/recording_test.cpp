#include "engine/queue/recording.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/ids.h"
#include "engine/queue/queue.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;

using test::error_text;

using test::QueueDir;

const std::string time_form = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)";

std::string one(UploadQueue& queue, const std::string& sql, const std::string& id) {
    StatementGuard statement = prepare_statement(queue.db, sql, {id});
    return step_row(statement.get()) ? column_text(statement.get(), 0) : "(no row)";
}

std::vector<std::string> chunks_of(UploadQueue& queue, const std::string& id) {
    StatementGuard statement =
        prepare_statement(queue.db, "SELECT n, body FROM chunk WHERE id=? ORDER BY n", {id});
    std::vector<std::string> bodies;
    while (step_row(statement.get())) {
        EXPECT_EQ(column_text(statement.get(), 0), std::to_string(bodies.size()));
        bodies.push_back(column_text(statement.get(), 1));
    }
    return bodies;
}

std::string sample_text(int i) {
    return R"({"at":"2026-12-10T10:00:00.000Z","hop":)" + std::to_string(i) +
           R"(,"name":"w\u00e9z\u0142 )"
           "\xC5\xBC"
           R"("})";
}

TEST(StartRecording, WritesTheOpeningInItsOrderAndHoldsTheLock) {
    QueueDir where;
    UploadQueue queue = open_queue();
    const std::string id = new_uuid_text();
    const std::string measurement = R"({"target":"example","kind":"trace"})";
    const std::string device = start_recording(queue, id, measurement);
    EXPECT_TRUE(std::regex_match(
        device,
        std::regex(
            R"(\{"id":"[0-9a-f-]{36}","method":"windows_installation_v1","reason":null\})")));
    EXPECT_TRUE(fs::exists(where.lock(id)));
    EXPECT_NE(queue.recording_lock, INVALID_HANDLE_VALUE);

    const std::string opening = one(queue, "SELECT opening FROM session WHERE id=?", id);
    const std::regex form(
        R"(\{"schema_version":1,"device":)" +
        std::regex_replace(device, std::regex(R"([{}\[\]().*+?^$|\\])"), R"(\$&)") +
        R"(,"session_id":")" + id + R"(","started_at":")" + time_form +
        R"(","client_version":"1\.1\.18","mode":"portable","measurement":\{"target":"example","kind":"trace"\}\})");
    EXPECT_TRUE(std::regex_match(opening, form)) << opening;
    EXPECT_EQ(
        one(queue,
            "SELECT quote(ending)||next||chunks||failures||due||last_error||blocked||quote(origin) "
            "FROM session WHERE id=?",
            id),
        "NULL-100000NULL");

    // A full test gives no measurement: the key is left out.
    UploadQueue other = open_queue();
    const std::string full = new_uuid_text();
    start_recording(other, full, "");
    const std::string full_opening = one(other, "SELECT opening FROM session WHERE id=?", full);
    EXPECT_TRUE(full_opening.ends_with(R"(","client_version":"1.1.18","mode":"portable"})"))
        << full_opening;

    close_queue(queue);
    EXPECT_FALSE(fs::exists(where.lock(id)));
    EXPECT_TRUE(fs::exists(where.lock(full)));
}

TEST(StartRecording, RefusalsLeaveNoRowAndNoLock) {
    QueueDir where;
    // Nested, so that an id climbing out of the queue directory would still land in the temp dir.
    test::ScopedEnv nested(L"QUORVEL_QUEUE_DIR", (where.temp.path() / "a" / "b" / "q").wstring());
    UploadQueue queue = open_queue();
    for (const std::string bad :
         {"..\\..\\evil", "", "{00112233-4455-6677-8899-AABBCCDDEEFF}",
          "00112233-4455-6677-8899-AABBCCDDEEF", "0011223344556677-8899-AABBCCDDEEFF-"}) {
        EXPECT_EQ(error_text([&] { start_recording(queue, bad, ""); }), "invalid session ID");
    }
    for (const auto& entry : fs::recursive_directory_iterator(where.temp.path())) {
        EXPECT_NE(entry.path().extension(), ".lock") << entry.path();
    }

    // The lock held elsewhere: "recording already exists", nothing inserted.
    const std::string id = new_uuid_text();
    {
        LockFileGuard held =
            open_lock_file(queue.directory, std::wstring(id.begin(), id.end()) + L".lock");
        EXPECT_EQ(error_text([&] { start_recording(queue, id, ""); }), "recording already exists");
    }
    EXPECT_EQ(query_strings(queue.db, "SELECT count(*) FROM session"),
              std::vector<std::string>{"0"});

    // An existing row: the insert fails and the new lock file is gone again.
    run_statement(queue.db, "INSERT INTO session(id,opening) VALUES (?,'{}')", {id});
    EXPECT_EQ(error_text([&] { start_recording(queue, id, ""); }), "SQLite error 19");
    EXPECT_FALSE(fs::exists(fs::path(queue.directory) / (id + ".lock")));
    EXPECT_EQ(queue.recording_lock, INVALID_HANDLE_VALUE);
}

TEST(FinishRecording, CutsSamplesIntoChunksOf64) {
    const struct {
        int samples;
        std::vector<int> sizes;
    } cases[] = {{0, {}},       {1, {1}},        {63, {63}},        {64, {64}},
                 {65, {64, 1}}, {128, {64, 64}}, {129, {64, 64, 1}}};
    QueueDir where;
    UploadQueue queue = open_queue();
    const std::string neighbour = new_uuid_text();
    start_recording(queue, neighbour, "");
    for (const auto& c : cases) {
        UploadQueue run = open_queue();
        const std::string id = new_uuid_text();
        start_recording(run, id, "");
        std::vector<std::string> samples;
        for (int i = 0; i < c.samples; ++i) {
            samples.push_back(sample_text(i));
            append_sample(run, id, samples.back());
            append_sample(queue, neighbour, "{\"other\":" + std::to_string(i) + "}");
        }
        EXPECT_EQ(read_session_samples(run, id), samples);
        finish_recording(run, id, "completed");

        const std::vector<std::string> chunks = chunks_of(run, id);
        ASSERT_EQ(chunks.size(), c.sizes.size()) << c.samples;
        std::size_t next = 0;
        for (std::size_t n = 0; n < chunks.size(); ++n) {
            std::string joined;
            for (int k = 0; k < c.sizes[n]; ++k) joined += (k ? "," : "") + samples[next++];
            EXPECT_EQ(chunks[n], R"({"schema_version":1,"samples":[)" + joined + "]}");
        }
        EXPECT_TRUE(std::regex_match(
            one(run, "SELECT ending FROM session WHERE id=?", id),
            std::regex(R"(\{"schema_version":1,"state":"completed","ended_at":")" + time_form +
                       R"(","chunk_count":)" + std::to_string(c.sizes.size()) + "\\}")));
        EXPECT_EQ(one(run, "SELECT chunks FROM session WHERE id=?", id),
                  std::to_string(c.sizes.size()));
        EXPECT_TRUE(read_session_samples(run, id).empty());
    }
    // The neighbour's samples stayed where they were.
    EXPECT_EQ(read_session_samples(queue, neighbour).size(), 1u + 63 + 64 + 65 + 128 + 129);
    EXPECT_TRUE(chunks_of(queue, neighbour).empty());
}

TEST(FinishRecording, SecondFinishChangesNothing) {
    QueueDir where;
    UploadQueue queue = open_queue();
    const std::string id = new_uuid_text();
    start_recording(queue, id, "");
    append_sample(queue, id, "{}");
    finish_recording(queue, id, "cancelled");
    const std::string ending = one(queue, "SELECT ending FROM session WHERE id=?", id);
    EXPECT_NE(ending.find(R"("state":"cancelled")"), std::string::npos);
    finish_recording(queue, id, "partial");
    EXPECT_EQ(one(queue, "SELECT ending FROM session WHERE id=?", id), ending);
    EXPECT_EQ(chunks_of(queue, id).size(), 1u);
}

TEST(FinishRecording, AFailureRollsEverythingBack) {
    QueueDir where;
    UploadQueue queue = open_queue();
    const std::string id = new_uuid_text();
    start_recording(queue, id, "");
    for (int i = 0; i < 100; ++i) append_sample(queue, id, sample_text(i));
    // A stray chunk row numbered 1 makes the second chunk's insert fail after the first succeeded.
    run_statement(queue.db, "INSERT INTO chunk VALUES (?,'1','stray')", {id});
    EXPECT_EQ(error_text([&] { finish_recording(queue, id, "completed"); }), "SQLite error 19");
    // Only the stray row is left: chunk 0, written before the failure, was rolled back.
    EXPECT_EQ(query_strings(queue.db, "SELECT group_concat(n) FROM chunk"),
              std::vector<std::string>{"1"});
    EXPECT_EQ(one(queue, "SELECT quote(ending)||chunks FROM session WHERE id=?", id), "NULL0");
    EXPECT_EQ(read_session_samples(queue, id).size(), 100u);
    EXPECT_TRUE(sqlite3_get_autocommit(queue.db));
}

TEST(AttachThroughput, RewritesTheOpeningSorted) {
    QueueDir where;
    UploadQueue queue = open_queue();
    const std::string id = new_uuid_text();
    start_recording(queue, id, "");
    attach_throughput(queue, id, R"({"z":1,"a":"\u017c"})");
    attach_throughput(queue, id, R"({"z":2,"a":"\u017c"})");
    const std::string opening = one(queue, "SELECT opening FROM session WHERE id=?", id);
    const nlohmann::json parsed = nlohmann::json::parse(opening);
    std::vector<std::string> keys;
    for (const auto& item : parsed.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"client_version", "device", "mode", "schema_version",
                                              "session_id", "started_at", "throughput"}));
    EXPECT_EQ(opening, parsed.dump());
    EXPECT_NE(opening.find(R"("throughput":{"a":")"
                           "\xC5\xBC"
                           R"(","z":2})"),
              std::string::npos);

    EXPECT_THROW(attach_throughput(queue, id, "{not json"), nlohmann::json::parse_error);
    EXPECT_EQ(one(queue, "SELECT opening FROM session WHERE id=?", id), opening);
    EXPECT_EQ(error_text([&] { attach_throughput(queue, new_uuid_text(), "{}"); }),
              "missing recording session");
    finish_recording(queue, id, "completed");
    EXPECT_EQ(error_text([&] { attach_throughput(queue, id, "{}"); }), "missing recording session");
}

// A full test appends route-trace samples on one thread while its own thread rewrites the opening
// through the same connection.
TEST(RecordingThreads, AppendsAndOpeningRewritesShareOneQueue) {
    QueueDir where;
    UploadQueue queue = open_queue();
    const std::string id = new_uuid_text();
    start_recording(queue, id, "");
    std::string trace_error;
    std::thread trace([&] {
        try {
            for (int i = 0; i < 200; ++i) append_sample(queue, id, sample_text(i));
        } catch (const std::exception& error) {
            trace_error = error.what();
        }
    });
    for (int i = 0; i < 50; ++i)
        attach_throughput(queue, id, "{\"step\":" + std::to_string(i) + "}");
    trace.join();
    EXPECT_EQ(trace_error, "");
    const std::vector<std::string> samples = read_session_samples(queue, id);
    ASSERT_EQ(samples.size(), 200u);
    EXPECT_EQ(samples.back(), sample_text(199));
    EXPECT_NE(one(queue, "SELECT opening FROM session WHERE id=?", id)
                  .find(R"("throughput":{"step":49})"),
              std::string::npos);
}

TEST(RecoverAbandoned, FinishesClosedRecordingsAndSkipsLiveOnes) {
    QueueDir where;
    const std::string abandoned = new_uuid_text();
    const std::string live = new_uuid_text();
    const std::string finished = new_uuid_text();
    UploadQueue recorder = open_queue();
    start_recording(recorder, live, "");
    append_sample(recorder, live, "{\"live\":1}");
    {
        UploadQueue done = open_queue();
        start_recording(done, finished, "");
        finish_recording(done, finished, "completed");
    }
    UploadQueue pump = open_queue();

    // Regression: a run that fails after starting its recording must not keep the lock; the queue
    // closes it on the way out, and the next pass recovers the session.
    EXPECT_THROW(
        {
            UploadQueue run = open_queue();
            start_recording(run, abandoned, "");
            for (int i = 0; i < 70; ++i) append_sample(run, abandoned, sample_text(i));
            throw std::runtime_error("probe failed");
        },
        std::runtime_error);
    EXPECT_FALSE(fs::exists(where.lock(abandoned)));

    const std::string finished_ending =
        one(pump, "SELECT ending FROM session WHERE id=?", finished);
    recover_abandoned_recordings(pump);
    EXPECT_NE(
        one(pump, "SELECT ending FROM session WHERE id=?", abandoned).find(R"("state":"partial")"),
        std::string::npos);
    EXPECT_EQ(chunks_of(pump, abandoned).size(), 2u);
    EXPECT_EQ(one(pump, "SELECT quote(ending) FROM session WHERE id=?", live), "NULL");
    EXPECT_EQ(read_session_samples(pump, live).size(), 1u);
    EXPECT_EQ(one(pump, "SELECT ending FROM session WHERE id=?", finished), finished_ending);
    EXPECT_FALSE(fs::exists(where.lock(abandoned)));
    EXPECT_TRUE(fs::exists(where.lock(live)));
}

TEST(RecoverAbandoned, AStoredIdThatIsNoGuidIsLeftAloneAndTheOthersRecovered) {
    QueueDir where;
    UploadQueue queue = open_queue();
    for (const std::string bad : {"..\\upload", "00112233-4455-6677-8899-AABBCCDDEEF"}) {
        const std::string good = new_uuid_text();
        {
            UploadQueue run = open_queue();
            start_recording(run, good, "");
            append_sample(run, good, "{}");
        }
        run_statement(queue.db, "DELETE FROM session WHERE id<>?", {good});
        run_statement(queue.db, "INSERT INTO session(id,opening) VALUES (?,'{}')", {bad});
        EXPECT_EQ(recover_abandoned_recordings(queue), 1u) << bad;
        EXPECT_NE(one(queue, "SELECT ending FROM session WHERE id=?", good).find("partial"),
                  std::string::npos);
        EXPECT_EQ(chunks_of(queue, good).size(), 1u);
        EXPECT_EQ(one(queue, "SELECT quote(ending) FROM session WHERE id=?", bad), "NULL");
        EXPECT_EQ(one(queue, "SELECT opening FROM session WHERE id=?", bad), "{}");
    }
}

}  // namespace
}  // namespace tarvisko
