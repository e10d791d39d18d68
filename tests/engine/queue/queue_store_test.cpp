#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "engine/queue/queue.h"
#include "engine/queue/raw_db.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;
using test::RawDb;

using test::error_text;

struct QueueDir {
    test::TempDir temp;
    fs::path dir = temp.path() / "data" / "queue";
    test::ScopedEnv env{L"QUORVEL_QUEUE_DIR", dir.wstring()};
    fs::path file() const { return dir / "queue.sqlite3"; }
};

TEST(QueueDirectory, EnvironmentThenLocalAppData) {
    const std::wstring empty;
    {
        test::ScopedEnv queue_dir(L"QUORVEL_QUEUE_DIR", L"relative\\q");
        EXPECT_EQ(queue_directory(), L"relative\\q");
    }
    test::ScopedEnv queue_dir(L"QUORVEL_QUEUE_DIR", &empty);
    {
        test::ScopedEnv local(L"LOCALAPPDATA", L"C:\\Users\\x\\AppData\\Local");
        EXPECT_EQ(queue_directory(), L"C:\\Users\\x\\AppData\\Local\\QUORVEL\\Melvora");
    }
    for (const std::wstring* value : {static_cast<const std::wstring*>(nullptr), &empty}) {
        test::ScopedEnv local(L"LOCALAPPDATA", value);
        EXPECT_EQ(error_text([] { queue_directory(); }), "LOCALAPPDATA unavailable");
    }
}

TEST(OpenQueue, CreatesDirectoryFileAndSchema) {
    QueueDir where;
    UploadQueue queue = open_queue();
    ASSERT_NE(queue.db, nullptr);
    EXPECT_EQ(queue.directory, where.dir.wstring());
    EXPECT_EQ(queue.recording_lock, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(fs::exists(where.file()));

    EXPECT_EQ(
        query_strings(queue.db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"),
        (std::vector<std::string>{"chunk", "gateway_seen", "privacy_key", "sample", "session"}));
    EXPECT_EQ(query_strings(queue.db, "PRAGMA user_version"), std::vector<std::string>{"1"});
    EXPECT_EQ(query_strings(queue.db, "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
    EXPECT_EQ(query_strings(queue.db, "PRAGMA foreign_keys"), std::vector<std::string>{"1"});
    EXPECT_EQ(query_strings(queue.db, "PRAGMA synchronous"), std::vector<std::string>{"2"});
    EXPECT_EQ(sqlite3_threadsafe(), 1);

    // Defaults of a fresh session row, as the upload pump expects them.
    run_statement(queue.db, "INSERT INTO session(id,opening) VALUES (?,?)", {"A", "{}"});
    EXPECT_EQ(
        query_strings(queue.db,
                      "SELECT quote(ending)||next||chunks||failures||due||last_error||blocked||"
                      "quote(origin) FROM session"),
        std::vector<std::string>{"NULL-100000NULL"});

    // Reopening a version-1 file runs the idempotent schema again and keeps the rows.
    close_queue(queue);
    UploadQueue again = open_queue();
    EXPECT_EQ(query_strings(again.db, "SELECT id FROM session"), std::vector<std::string>{"A"});
}

TEST(OpenQueue, TwoConnectionsBothWriteWaitingForEachOther) {
    QueueDir where;
    UploadQueue first = open_queue();
    UploadQueue second = open_queue();
    std::thread holder;
    {
        QueueTransaction transaction = begin_transaction(first.db);
        run_statement(first.db, "INSERT INTO session(id,opening) VALUES ('one','{}')");
        holder = std::thread([&transaction] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            commit_transaction(transaction);
        });
        // Waits on the busy time-out until the first writer commits.
        run_statement(second.db, "INSERT INTO session(id,opening) VALUES ('two','{}')");
        holder.join();
    }
    EXPECT_EQ(query_strings(first.db, "SELECT id FROM session ORDER BY id"),
              (std::vector<std::string>{"one", "two"}));
}

TEST(OpenQueue, NewerVersionIsRefusedAndFileUntouched) {
    QueueDir where;
    fs::create_directories(where.dir);
    {
        RawDb raw(where.file());
        raw.exec(
            "PRAGMA journal_mode=WAL; CREATE TABLE future(x); INSERT INTO future VALUES (42);"
            "PRAGMA user_version=2");
    }
    const std::string before = test::file_bytes(where.file());
    EXPECT_EQ(error_text([] { open_queue(); }), "unsupported queue version");
    EXPECT_EQ(test::file_bytes(where.file()), before);
    EXPECT_FALSE(fs::exists(where.dir / "queue.sqlite3-wal"));
    RawDb raw(where.file());
    EXPECT_EQ(raw.text("SELECT group_concat(name) FROM sqlite_master"), "future");
}

TEST(OpenQueue, DamagedFileGivesSqliteErrorAndStaysAsItWas) {
    QueueDir where;
    fs::create_directories(where.dir);
    const std::string garbage(4096, '\x5A');
    {
        std::ofstream out(where.file(), std::ios::binary);
        out << garbage;
    }
    EXPECT_EQ(error_text([] { open_queue(); }), "SQLite error 26");
    EXPECT_EQ(test::file_bytes(where.file()), garbage);
}

TEST(OpenQueue, DirectoryThatCannotBeCreated) {
    test::TempDir temp;
    const fs::path blocker = temp.path() / "file";
    { std::ofstream(blocker) << "x"; }
    test::ScopedEnv env(L"QUORVEL_QUEUE_DIR", (blocker / "queue").wstring());
    try {
        open_queue();
        FAIL() << "expected an error";
    } catch (const fs::filesystem_error& error) {
        EXPECT_NE(std::string(error.what()).find("create_directories"), std::string::npos);
        EXPECT_EQ(error.path1(), blocker / "queue");
    }
}

TEST(QueueSchema, DeletingSessionDeletesSamplesAndChunks) {
    QueueDir where;
    UploadQueue queue = open_queue();
    for (const char* id : {"A", "B"}) {
        run_statement(queue.db, "INSERT INTO session(id,opening) VALUES (?,'{}')", {id});
        run_statement(queue.db, "INSERT INTO sample(id,body) VALUES (?,'s')", {id});
        run_statement(queue.db, "INSERT INTO chunk VALUES (?,'0','c')", {id});
    }
    run_statement(queue.db, "DELETE FROM session WHERE id=?", {"A"});
    EXPECT_EQ(query_strings(queue.db, "SELECT id FROM sample UNION ALL SELECT id FROM chunk"),
              (std::vector<std::string>{"B", "B"}));
    // A sample of an unknown session is refused by the foreign key.
    EXPECT_EQ(error_text(
                  [&] { run_statement(queue.db, "INSERT INTO sample(id,body) VALUES ('C','s')"); }),
              "SQLite error 19");
}

TEST(QueueStatements, ErrorsAndNullColumns) {
    QueueDir where;
    UploadQueue queue = open_queue();
    EXPECT_EQ(error_text([&] { exec_sql(queue.db, "NOT SQL"); }), "SQLite error 1");
    EXPECT_EQ(error_text([&] { query_strings(queue.db, "SELECT * FROM missing"); }),
              "SQLite error 1");
    EXPECT_EQ(error_text([&] {
                  prepare_statement(queue.db, "SELECT ?", {"a", "b"});
              }),
              "SQLite error 25");
    EXPECT_EQ(error_text([&] {
                  run_statement(queue.db, "INSERT INTO session(id,opening) VALUES ('x',NULL)");
              }),
              "SQLite error 19");
    try {
        throw_sqlite_error(5);
    } catch (const SqliteError& error) {
        EXPECT_EQ(error.code(), 5);
        EXPECT_STREQ(error.what(), "SQLite error 5");
    }
    EXPECT_NO_THROW(throw_sqlite_error(0));

    EXPECT_EQ(query_strings(queue.db, "SELECT NULL UNION ALL SELECT 'x'"),
              (std::vector<std::string>{"", "x"}));
    StatementGuard statement =
        prepare_statement(queue.db, "SELECT NULL, ?, ?", {"7", "\xC5\xBC\0z"});
    ASSERT_TRUE(step_row(statement.get()));
    EXPECT_EQ(column_text(statement.get(), 0), "");
    EXPECT_EQ(column_text(statement.get(), 1), "7");
    EXPECT_FALSE(step_row(statement.get()));
}

TEST(QueueStatements, TextParametersKeepEmbeddedBytes) {
    QueueDir where;
    UploadQueue queue = open_queue();
    const std::string body("a\0b\xC5\xBC", 5);
    run_statement(queue.db, "INSERT INTO session(id,opening) VALUES ('s',?)", {body});
    StatementGuard statement = prepare_statement(queue.db, "SELECT opening FROM session");
    ASSERT_TRUE(step_row(statement.get()));
    EXPECT_EQ(column_text(statement.get(), 0), body);
}

TEST(QueueTransaction, RollsBackWhenAnErrorUnwinds) {
    QueueDir where;
    UploadQueue queue = open_queue();
    EXPECT_THROW(
        {
            QueueTransaction transaction = begin_transaction(queue.db);
            run_statement(queue.db, "INSERT INTO session(id,opening) VALUES ('gone','{}')");
            run_statement(queue.db, "INSERT INTO session(id,opening) VALUES ('gone','{}')");
            commit_transaction(transaction);
        },
        SqliteError);
    EXPECT_TRUE(query_strings(queue.db, "SELECT id FROM session").empty());
    {
        QueueTransaction transaction = begin_transaction(queue.db);
        run_statement(queue.db, "INSERT INTO session(id,opening) VALUES ('kept','{}')");
        commit_transaction(transaction);
        EXPECT_TRUE(transaction.committed);
    }
    EXPECT_EQ(query_strings(queue.db, "SELECT id FROM session"), std::vector<std::string>{"kept"});
}

TEST(LockFile, HeldUntilClosedThenGone) {
    test::TempDir temp;
    const std::wstring dir = temp.path().wstring();
    const fs::path file = temp.path() / "upload.lock";
    {
        LockFileGuard first = open_lock_file(dir, L"upload.lock");
        ASSERT_TRUE(first.valid());
        EXPECT_TRUE(fs::exists(file));
        LockFileGuard second = open_lock_file(dir, L"upload.lock");
        EXPECT_FALSE(second.valid());
    }
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(open_lock_file(dir, L"upload.lock").valid());
    EXPECT_EQ(error_text([&] { open_lock_file(dir + L"\\missing", L"upload.lock"); }),
              "queue lock unavailable");
}

// Regression: the queue used to close its recording lock only in an explicit close_queue, so a run
// that failed kept the lock (and its recording unrecoverable) until the process ended.
TEST(UploadQueueGuard, EveryExitPathReleasesLockAndConnection) {
    QueueDir where;
    const fs::path lock = where.dir / "held.lock";
    EXPECT_THROW(
        {
            UploadQueue queue = open_queue();
            queue.recording_lock = open_lock_file(queue.directory, L"held.lock").release();
            ASSERT_TRUE(fs::exists(lock));
            throw std::runtime_error("run failed");
        },
        std::runtime_error);
    EXPECT_FALSE(fs::exists(lock));

    UploadQueue moved_from = open_queue();
    moved_from.recording_lock = open_lock_file(moved_from.directory, L"held.lock").release();
    UploadQueue owner = std::move(moved_from);
    EXPECT_EQ(moved_from.db, nullptr);
    EXPECT_EQ(moved_from.recording_lock, INVALID_HANDLE_VALUE);
    close_queue(moved_from);
    EXPECT_TRUE(fs::exists(lock));
    EXPECT_NO_THROW(query_strings(owner.db, "SELECT 1"));
    close_queue(owner);
    close_queue(owner);
    EXPECT_FALSE(fs::exists(lock));
    EXPECT_EQ(owner.db, nullptr);
    // A closed queue refuses work instead of handing SQLite a null connection.
    EXPECT_EQ(error_text([&] { query_strings(owner.db, "SELECT 1"); }), "SQLite error 21");
    EXPECT_EQ(error_text([&] { exec_sql(owner.db, "SELECT 1"); }), "SQLite error 21");
    EXPECT_EQ(error_text([&] { open_lock_file(owner.directory, L"x.lock"); }),
              "queue lock unavailable");
}

}  // namespace
}  // namespace tarvisko
