#include "engine/queue/queue.h"

#include <climits>
#include <filesystem>
#include <system_error>
#include <utility>

#include "engine/common/system.h"

namespace tarvisko {

namespace {

// Run as one script: the leading blanks and line breaks carry no meaning to SQLite.
constexpr const char* schema_script = R"(
          CREATE TABLE IF NOT EXISTS session(
            id TEXT PRIMARY KEY, opening TEXT NOT NULL, ending TEXT, next INTEGER NOT NULL DEFAULT -1,
            chunks INTEGER NOT NULL DEFAULT 0, failures INTEGER NOT NULL DEFAULT 0, due INTEGER NOT NULL DEFAULT 0,
            last_error INTEGER NOT NULL DEFAULT 0, blocked INTEGER NOT NULL DEFAULT 0, origin TEXT);
          CREATE TABLE IF NOT EXISTS sample(
            n INTEGER PRIMARY KEY, id TEXT NOT NULL REFERENCES session ON DELETE CASCADE, body TEXT NOT NULL);
          CREATE INDEX IF NOT EXISTS sample_session ON sample(id,n);
          CREATE TABLE IF NOT EXISTS chunk(
            id TEXT REFERENCES session ON DELETE CASCADE, n INTEGER, body TEXT NOT NULL, PRIMARY KEY(id,n));
          CREATE TABLE IF NOT EXISTS privacy_key(k INTEGER PRIMARY KEY CHECK(k=1), protected BLOB NOT NULL);
          CREATE TABLE IF NOT EXISTS gateway_seen(device TEXT, ip TEXT, mac TEXT NOT NULL, observed TEXT NOT NULL,
            PRIMARY KEY(device,ip));
          PRAGMA user_version=1;
        )";

constexpr int supported_version = 1;
constexpr int busy_timeout_ms = 10000;

// Switching a new file to the WAL journal needs an exclusive lock taken from a shared one. When two
// processes open a new queue at the same moment, both hold the shared lock and SQLite answers one
// of them SQLITE_BUSY at once, without the busy handler (waiting could deadlock). Retrying the
// pragmas until the busy time-out gives the same patience every other statement gets.
void set_connection_pragmas(sqlite3* db) {
    const ULONGLONG deadline = GetTickCount64() + busy_timeout_ms;
    for (;;) {
        const int result = sqlite3_exec(
            db, "PRAGMA foreign_keys=ON; PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL", nullptr,
            nullptr, nullptr);
        if (result != SQLITE_BUSY || GetTickCount64() >= deadline) {
            throw_sqlite_error(result);
            return;
        }
        Sleep(10);
    }
}

}  // namespace

SqliteError::SqliteError(int code)
    : std::runtime_error("SQLite error " + std::to_string(code)), code_(code) {}

UploadQueue::UploadQueue(UploadQueue&& other) noexcept
    : db(std::exchange(other.db, nullptr)),
      directory(std::move(other.directory)),
      recording_lock(std::exchange(other.recording_lock, INVALID_HANDLE_VALUE)) {
    other.directory.clear();
}

UploadQueue& UploadQueue::operator=(UploadQueue&& other) noexcept {
    if (this != &other) {
        close_queue(*this);
        db = std::exchange(other.db, nullptr);
        directory = std::move(other.directory);
        other.directory.clear();
        recording_lock = std::exchange(other.recording_lock, INVALID_HANDLE_VALUE);
    }
    return *this;
}

UploadQueue::~UploadQueue() { close_queue(*this); }

std::wstring queue_directory() {
    const std::wstring configured = read_environment_variable(L"QUORVEL_QUEUE_DIR");
    if (!configured.empty()) return configured;
    const std::wstring local = read_environment_variable(L"LOCALAPPDATA");
    if (local.empty()) throw std::runtime_error("LOCALAPPDATA unavailable");
    return (std::filesystem::path(local) / L"QUORVEL" / L"Melvora").wstring();
}

UploadQueue open_queue() {
    UploadQueue queue;
    queue.recording_lock = INVALID_HANDLE_VALUE;
    queue.directory = queue_directory();

    std::error_code error;
    std::filesystem::create_directories(queue.directory, error);
    if (error) {
        throw std::filesystem::filesystem_error("create_directories",
                                                std::filesystem::path(queue.directory), error);
    }

    const std::wstring file = (std::filesystem::path(queue.directory) / L"queue.sqlite3").wstring();
    sqlite3* db = nullptr;
    const int opened = sqlite3_open16(file.c_str(), &db);
    if (opened != SQLITE_OK) {
        sqlite3_close_v2(db);
        throw_sqlite_error(opened);
    }
    // From here the queue object owns the connection: any error below closes it on the way out,
    // after the transaction guard (declared later, destroyed first) has rolled back.
    queue.db = db;

    throw_sqlite_error(sqlite3_busy_timeout(db, busy_timeout_ms));
    set_connection_pragmas(db);

    QueueTransaction transaction = begin_transaction(db);
    {
        StatementGuard version = prepare_statement(db, "PRAGMA user_version");
        if (!step_row(version.get()) ||
            sqlite3_column_int64(version.get(), 0) > supported_version) {
            throw std::runtime_error("unsupported queue version");
        }
    }
    exec_sql(db, schema_script);
    commit_transaction(transaction);
    return queue;
}

void close_queue(UploadQueue& queue) {
    close_lock_file(std::exchange(queue.recording_lock, INVALID_HANDLE_VALUE));
    if (queue.db != nullptr) sqlite3_close_v2(std::exchange(queue.db, nullptr));
    queue.directory.clear();
    queue.directory.shrink_to_fit();
}

void throw_sqlite_error(int code) {
    if (code != SQLITE_OK) throw SqliteError(code);
}

void exec_sql(sqlite3* db, const std::string& sql) {
    // A closed or moved-from queue has no connection; SQLite itself would not check.
    if (db == nullptr) throw SqliteError(SQLITE_MISUSE);
    throw_sqlite_error(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr));
}

void finalize_statement(sqlite3_stmt* statement) { sqlite3_finalize(statement); }

StatementGuard prepare_statement(sqlite3* db, const std::string& sql,
                                 const std::vector<std::string>& parameters) {
    if (db == nullptr) throw SqliteError(SQLITE_MISUSE);
    sqlite3_stmt* raw = nullptr;
    const int prepared = sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr);
    StatementGuard statement(raw, finalize_statement, nullptr);
    throw_sqlite_error(prepared);
    int position = 1;
    for (const std::string& parameter : parameters) {
        if (parameter.size() > static_cast<std::size_t>(INT_MAX)) throw SqliteError(SQLITE_TOOBIG);
        throw_sqlite_error(sqlite3_bind_text(statement.get(), position++, parameter.data(),
                                             static_cast<int>(parameter.size()), SQLITE_TRANSIENT));
    }
    return statement;
}

bool step_row(sqlite3_stmt* statement) {
    const int result = sqlite3_step(statement);
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    throw SqliteError(result);
}

std::string column_text(sqlite3_stmt* statement, int column) {
    const auto* text = sqlite3_column_text(statement, column);
    if (text == nullptr) return {};
    const int length = sqlite3_column_bytes(statement, column);
    return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
}

std::vector<std::string> query_strings(sqlite3* db, const std::string& sql) {
    StatementGuard statement = prepare_statement(db, sql);
    std::vector<std::string> values;
    while (step_row(statement.get())) values.push_back(column_text(statement.get(), 0));
    return values;
}

void run_statement(sqlite3* db, const std::string& sql,
                   const std::vector<std::string>& parameters) {
    StatementGuard statement = prepare_statement(db, sql, parameters);
    step_row(statement.get());
}

void close_lock_file(HANDLE handle) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

LockFileGuard open_lock_file(const std::wstring& directory, const std::wstring& name) {
    // An empty directory (a closed queue) would put the lock in the current directory.
    if (directory.empty()) throw std::runtime_error("queue lock unavailable");
    const std::wstring path = (std::filesystem::path(directory) / name).wstring();
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                    FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (handle != INVALID_HANDLE_VALUE || GetLastError() == ERROR_SHARING_VIOLATION) {
        return LockFileGuard(handle, close_lock_file, INVALID_HANDLE_VALUE);
    }
    throw std::runtime_error("queue lock unavailable");
}

QueueTransaction::QueueTransaction(sqlite3* connection) : db(connection) {
    exec_sql(db, "BEGIN IMMEDIATE");
}

QueueTransaction::~QueueTransaction() { rollback_unless_committed(*this); }

QueueTransaction begin_transaction(sqlite3* db) { return QueueTransaction(db); }

void commit_transaction(QueueTransaction& transaction) {
    exec_sql(transaction.db, "COMMIT");
    transaction.committed = true;
}

void rollback_unless_committed(QueueTransaction& transaction) {
    if (transaction.committed || transaction.db == nullptr) return;
    sqlite3_exec(transaction.db, "ROLLBACK", nullptr, nullptr, nullptr);
    // Rolled back once; a second call (the destructor after an explicit call) does nothing.
    transaction.db = nullptr;
}

}  // namespace tarvisko
