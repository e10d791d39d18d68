#include "engine/http/upload_pump.h"

#include <bcrypt.h>
#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "engine/common/json_document.h"
#include "engine/queue/recording.h"

namespace tarvisko {
namespace {

constexpr char reply_check_sql[] =
    "SELECT CASE WHEN json_valid(?1) THEN lower(json_extract(?1,'$.session_id'))=lower(?2) AND "
    "(?3='open' OR json_extract(?1,'$.state')=json_extract(?4,'$.state')) ELSE 0 END";

enum class Request { opening, chunk, completion };

bool status_accepted(Request request, std::int32_t status) {
    switch (request) {
        case Request::opening:
            return status == 200 || status == 201;
        case Request::chunk:
            return status == 204;
        case Request::completion:
            return status == 200 || status == 202;
    }
    return false;
}

void record_failure(UploadQueue& queue, const std::string& session_id, std::int64_t failures,
                    const UploadReply& reply, std::uint32_t r) {
    const bool blocked = reply.status == 409 || reply.status == 413 || reply.status == 422;
    const std::uint32_t wait = std::max(reply.retry_after_s, upload_backoff_delay(failures, r));
    run_statement(
        queue.db,
        "UPDATE session SET failures=failures+1,last_error=?,blocked=?,"
        "due=strftime('%s','now')+? WHERE id=?",
        {std::to_string(reply.status), blocked ? "1" : "0", std::to_string(wait), session_id});
}

}  // namespace

std::uint32_t system_random_u32() {
    std::uint32_t value = 0;
    // Should the generator ever fail, the back-off keeps its lower bound rather than failing the
    // upload pass.
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return 0;
    }
    return value;
}

std::uint32_t upload_backoff_delay(std::int64_t failures, std::uint32_t r) {
    const std::int64_t exponent = std::clamp<std::int64_t>(failures, 0, 9);
    const std::uint32_t base = 1u << exponent;
    return base + r % (base + 1);
}

bool upload_reply_passes(sqlite3* db, const std::string& reply_body, const std::string& session_id,
                         const std::string& kind, const std::string& sent_body) {
    // The database's JSON functions judge the content; the common gate first refuses what no
    // other reader of foreign JSON accepts (deep nesting, a NUL byte).
    if (!parse_json_document(reply_body)) return false;
    StatementGuard check =
        prepare_statement(db, reply_check_sql, {reply_body, session_id, kind, sent_body});
    if (!step_row(check.get())) return false;
    return sqlite3_column_type(check.get(), 0) == SQLITE_INTEGER &&
           sqlite3_column_int64(check.get(), 0) != 0;
}

bool upload_session_step(UploadQueue& queue, const UploadEndpoint& endpoint,
                         const std::string& session_id, const UploadTransport& transport) {
    const std::string session_path = "/api/v1/sessions/" + session_id;
    for (;;) {
        std::int64_t next = 0;
        std::int64_t chunks = 0;
        std::int64_t failures = 0;
        std::string opening;
        std::string ending;
        {
            StatementGuard row = prepare_statement(
                queue.db, "SELECT next,chunks,failures,opening,ending FROM session WHERE id=?",
                {session_id});
            if (!step_row(row.get())) return true;
            next = sqlite3_column_int64(row.get(), 0);
            chunks = sqlite3_column_int64(row.get(), 1);
            failures = sqlite3_column_int64(row.get(), 2);
            opening = column_text(row.get(), 3);
            ending = column_text(row.get(), 4);
        }

        Request request;
        std::string path;
        std::string body;
        if (next < 0) {
            request = Request::opening;
            path = session_path;
            body = std::move(opening);
        } else if (next != chunks) {
            request = Request::chunk;
            StatementGuard chunk =
                prepare_statement(queue.db, "SELECT body FROM chunk WHERE id=? AND n=?",
                                  {session_id, std::to_string(next)});
            if (!step_row(chunk.get())) throw std::runtime_error("missing local chunk");
            body = column_text(chunk.get(), 0);
            path = session_path + "/chunks/" + std::to_string(next);
        } else {
            request = Request::completion;
            path = session_path + "/completion";
            body = std::move(ending);
        }

        UploadReply reply = transport.put(endpoint, path, body, request == Request::chunk);
        bool accepted = status_accepted(request, reply.status);
        if (accepted && request != Request::chunk &&
            !upload_reply_passes(queue.db, reply.body, session_id,
                                 request == Request::opening ? "open" : "finish", body)) {
            reply.status = upload_reply_rejected;
            accepted = false;
        }
        if (!accepted) {
            record_failure(queue, session_id, failures, reply, transport.random());
            return false;
        }
        if (request == Request::completion) {
            run_statement(queue.db, "DELETE FROM session WHERE id=?", {session_id});
            return true;
        }
        run_statement(queue.db,
                      "UPDATE session SET next=next+1,failures=0,due=0,last_error=0 WHERE id=?",
                      {session_id});
    }
}

int upload_pending(UploadQueue& queue, const UploadTransport& transport) {
    LockFileGuard lock = open_lock_file(queue.directory, L"upload.lock");
    if (!lock.valid()) return upload_pending_left;  // another pump is at work
    // Rows whose id is no GUID stay where they are, untouched: neither recovered nor sent (the id
    // would become part of the request path). While one remains, the queue is not synchronised.
    const std::size_t damaged = recover_abandoned_recordings(queue);
    const UploadEndpoint endpoint = load_upload_endpoint();

    const std::vector<std::string> ids =
        query_strings(queue.db,
                      "SELECT id FROM session WHERE ending IS NOT NULL AND blocked=0 AND "
                      "due<=CAST(strftime('%s','now') AS INTEGER) ORDER BY rowid");
    for (const std::string& id : ids) {
        if (!is_session_id(id)) continue;  // counted below as a finished session left
        run_statement(queue.db, "UPDATE session SET origin=? WHERE id=? AND origin IS NULL",
                      {endpoint.origin, id});
        {
            StatementGuard bound = prepare_statement(
                queue.db, "SELECT 1 FROM session WHERE id=? AND origin=?", {id, endpoint.origin});
            if (!step_row(bound.get())) continue;  // it belongs to another origin
        }
        upload_session_step(queue, endpoint, id, transport);
    }

    const std::vector<std::string> left =
        query_strings(queue.db, "SELECT count(*) FROM session WHERE ending IS NOT NULL");
    const bool none_left = left.empty() || left.front() == "0";
    return none_left && damaged == 0 ? upload_synchronized : upload_pending_left;
}

}  // namespace tarvisko
