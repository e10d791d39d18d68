// Records one session of N probe samples (default 100,000) and finishes it, and does the same
// inserts through a minimal loop of raw sqlite3 calls on an identically configured database, so
// that the cost of the queue's own layer shows as a ratio.
// Usage: queue_bench.exe [samples]
#include <sqlite3.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/common/ids.h"
#include "engine/queue/queue.h"
#include "engine/queue/recording.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string probe_sample(int i) {
    return R"({"at":"2026-12-10T10:00:00.000Z","error":null,"hop":)" + std::to_string(i % 30 + 1) +
           R"(,"ip":"203.0.113.)" + std::to_string(i % 250 + 1) + R"(","ms":)" +
           std::to_string(12 + i % 7) + R"(.25,"seq":)" + std::to_string(i) +
           R"(,"status":"ok","ttl":)" + std::to_string(i % 30 + 1) + "}";
}

// The raw loop: one prepared statement, bound and stepped per sample, each insert its own
// transaction, as the queue's appends are.
double raw_inserts(const std::filesystem::path& file, const std::string& session_id, int count) {
    sqlite3* db = nullptr;
    sqlite3_open16(file.wstring().c_str(), &db);
    sqlite3_busy_timeout(db, 10000);
    sqlite3_exec(db,
                 "PRAGMA foreign_keys=ON; PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                 "CREATE TABLE session(id TEXT PRIMARY KEY, opening TEXT NOT NULL, ending TEXT);"
                 "CREATE TABLE sample(n INTEGER PRIMARY KEY, id TEXT NOT NULL REFERENCES session "
                 "ON DELETE CASCADE, body TEXT NOT NULL);"
                 "CREATE INDEX sample_session ON sample(id,n);",
                 nullptr, nullptr, nullptr);
    const std::string insert_session =
        "INSERT INTO session(id,opening) VALUES ('" + session_id + "','{}')";
    sqlite3_exec(db, insert_session.c_str(), nullptr, nullptr, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO sample(id,body) VALUES (?,?)", -1, &statement, nullptr);
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const std::string body = probe_sample(i);
        sqlite3_bind_text(statement, 1, session_id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(statement, 2, body.c_str(), static_cast<int>(body.size()),
                          SQLITE_TRANSIENT);
        if (sqlite3_step(statement) != SQLITE_DONE) std::fprintf(stderr, "raw insert failed\n");
        sqlite3_reset(statement);
    }
    const double elapsed = seconds_since(start);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: queue_bench [samples]\n");
        return 2;
    }
    const auto dir =
        std::filesystem::temp_directory_path() / ("tarvisko-bench-" + tarvisko::new_uuid_text());
    std::filesystem::create_directories(dir / "queue");
    std::filesystem::create_directories(dir / "raw");
    SetEnvironmentVariableW(L"QUORVEL_QUEUE_DIR", (dir / "queue").wstring().c_str());

    try {
        const std::string session_id = tarvisko::new_uuid_text();
        double append_seconds = 0;
        double finish_seconds = 0;
        {
            tarvisko::UploadQueue queue = tarvisko::open_queue();
            tarvisko::start_recording(queue, session_id, "");
            auto start = Clock::now();
            for (int i = 0; i < count; ++i)
                tarvisko::append_sample(queue, session_id, probe_sample(i));
            append_seconds = seconds_since(start);
            start = Clock::now();
            tarvisko::finish_recording(queue, session_id, "completed");
            finish_seconds = seconds_since(start);
        }
        const double raw_seconds = raw_inserts(dir / "raw" / "raw.sqlite3", session_id, count);

        std::printf("samples                      %d\n", count);
        std::printf("append_sample                %.0f samples/s (%.2f s)\n",
                    count / append_seconds, append_seconds);
        std::printf("raw sqlite3 insert loop      %.0f samples/s (%.2f s)\n", count / raw_seconds,
                    raw_seconds);
        std::printf("append_sample / raw (time)   %.2f\n", append_seconds / raw_seconds);
        std::printf("finish_recording             %.0f samples/s (%.2f s, %d chunks)\n",
                    count / finish_seconds, finish_seconds, (count + 63) / 64);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "benchmark failed: %s\n", error.what());
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
        return 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
