#pragma once
// The recording queue: one SQLite database ("queue.sqlite3") in the queue directory, plus lock
// files beside it that tell a live recording or a running upload pump from an abandoned one.
//
// Why lock files and not database rows: a process that dies (killed, crashed, power lost inside
// a run) cannot clear a flag it wrote, but Windows deletes a FILE_FLAG_DELETE_ON_CLOSE file with
// its last handle however the holder ended. So "the lock file can be opened" means exactly
// "nobody alive holds it", which no row in the database can tell.
//
// Every statement function below prepares, binds (always as text), steps and finalizes within one
// call; every library failure becomes one SqliteError whose message is "SQLite error <code>".
#include <sqlite3.h>
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/handle_guard.h"

namespace tarvisko {

// A failure of the SQLite library, carrying its primary result code.
class SqliteError : public std::runtime_error {
  public:
    explicit SqliteError(int code);
    int code() const { return code_; }

  private:
    int code_;
};

// One run's handle on the queue. Move-only: whichever object holds the connection closes it (and
// the recording's lock file) when it ends, so an error that unwinds out of a run can never leave
// the lock held for the rest of a long-running process.
struct UploadQueue {
    sqlite3* db = nullptr;
    std::wstring directory;
    // Lock file of the recording started through this object; INVALID_HANDLE_VALUE when none.
    HANDLE recording_lock = INVALID_HANDLE_VALUE;

    UploadQueue() = default;
    UploadQueue(const UploadQueue&) = delete;
    UploadQueue& operator=(const UploadQueue&) = delete;
    UploadQueue(UploadQueue&& other) noexcept;
    UploadQueue& operator=(UploadQueue&& other) noexcept;
    ~UploadQueue();
};

using StatementGuard = HandleGuard<sqlite3_stmt*>;
using LockFileGuard = HandleGuard<HANDLE>;

// QUORVEL_QUEUE_DIR when set, else %LOCALAPPDATA%\QUORVEL\Melvora; throws
// "LOCALAPPDATA unavailable".
std::wstring queue_directory();
// Creates the directory and database when missing, sets the pragmas and the schema. Throws a
// filesystem_error of "create_directories", SqliteError or "unsupported queue version"; a failed
// open leaves no connection open and the file as it was.
UploadQueue open_queue();
// Closes the recording's lock file (which deletes it) and the connection. Safe to call again.
void close_queue(UploadQueue& queue);

void exec_sql(sqlite3* db, const std::string& sql);
// Prepares the whole text and binds each parameter as text to positions 1, 2, ...
StatementGuard prepare_statement(sqlite3* db, const std::string& sql,
                                 const std::vector<std::string>& parameters = {});
// True on a row, false when done; any other result throws SqliteError.
bool step_row(sqlite3_stmt* statement);
// NULL gives the empty text.
std::string column_text(sqlite3_stmt* statement, int column);
// Column 0 of every row (NULL as empty text).
std::vector<std::string> query_strings(sqlite3* db, const std::string& sql);
// Prepares, binds and steps once; a row or done is success.
void run_statement(sqlite3* db, const std::string& sql,
                   const std::vector<std::string>& parameters = {});
// Nothing for 0, else throws SqliteError(code).
void throw_sqlite_error(int code);
void finalize_statement(sqlite3_stmt* statement);
void close_lock_file(HANDLE handle);

// Opens `name` in the queue directory as a lock file. Returns an empty guard when somebody else
// holds it (sharing violation); throws "queue lock unavailable" for any other failure.
LockFileGuard open_lock_file(const std::wstring& directory, const std::wstring& name);

// Write-transaction guard: "BEGIN IMMEDIATE" when made (waiting up to the busy time-out for the
// write lock); "ROLLBACK" when it ends uncommitted.
struct QueueTransaction {
    sqlite3* db = nullptr;
    bool committed = false;

    explicit QueueTransaction(sqlite3* connection);
    QueueTransaction(const QueueTransaction&) = delete;
    QueueTransaction& operator=(const QueueTransaction&) = delete;
    ~QueueTransaction();
};

QueueTransaction begin_transaction(sqlite3* db);
// "COMMIT"; marks the transaction committed only when it succeeded.
void commit_transaction(QueueTransaction& transaction);
// "ROLLBACK" unless committed, ignoring that statement's own result.
void rollback_unless_committed(QueueTransaction& transaction);

}  // namespace tarvisko
