#pragma once
// Upload pump: sends finished recordings from the queue to the server, one session at a time,
// as the opening, each chunk, then the completion. The cursor, failure count, due time and block
// live in the session row, so an interrupted upload resumes exactly where it stopped, in this
// process or a later one, and never resends what the server accepted.
#include <cstdint>
#include <functional>
#include <string>

#include "engine/http/upload_client.h"
#include "engine/queue/queue.h"

namespace tarvisko {

// A fresh unsigned 32-bit value from the system's random generator (BCryptGenRandom).
std::uint32_t system_random_u32();

// What the pump reaches the outside through; tests replace either part.
struct UploadTransport {
    std::function<UploadReply(const UploadEndpoint&, const std::string& path,
                              const std::string& body, bool compressed)>
        put = http_put;
    std::function<std::uint32_t()> random = system_random_u32;
};

// Seconds of back-off after a failed attempt, from the failures counted before it and a random
// value: base = 2^min(failures, 9), delay = base + r % (base + 1), so between base and 2 * base.
std::uint32_t upload_backoff_delay(std::int64_t failures, std::uint32_t r);

// The server's reply to the opening ("open") or the completion ("finish") of session_id, checked
// by the database's JSON functions against the body that was sent; a reply that
// parse_json_document refuses never passes.
bool upload_reply_passes(sqlite3* db, const std::string& reply_body, const std::string& session_id,
                         const std::string& kind, const std::string& sent_body);

// Sends one session as far as it goes. True when it was completed and deleted (or its row is
// gone); false after a failed attempt, whose back-off is recorded in the row. Throws
// "missing local chunk" and SqliteError; a failed request never throws.
bool upload_session_step(UploadQueue& queue, const UploadEndpoint& endpoint,
                         const std::string& session_id, const UploadTransport& transport = {});

inline constexpr int upload_synchronized = 0;
inline constexpr int upload_pending_left = 3;

// One upload pass under "upload.lock": recovers abandoned recordings, then sends every due,
// unblocked finished session bound to (or now claimed by) the configured origin, oldest first.
// A session whose stored id is not a GUID is passed over and left untouched. Returns 0 when no
// finished session and no such damaged row is left in the queue, 3 when some is left or another
// pump holds the lock (then at once, doing nothing). Throws "queue lock unavailable", the recovery's,
// the endpoint's, the compression's and the database's errors, with the lock released.
int upload_pending(UploadQueue& queue, const UploadTransport& transport = {});

}  // namespace tarvisko
