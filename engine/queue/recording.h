#pragma once
// A recording: the queued form of one run. One session row holds the opening document and, while
// the run goes on, its samples one row each; finishing cuts the samples into chunks of 64 and
// writes the ending document, in one transaction. The upload pump sends the opening, the chunks
// and then the ending.
#include <cstddef>
#include <string>
#include <vector>

#include "engine/queue/queue.h"

namespace tarvisko {

// The working state of finish_recording while it cuts samples into chunks.
struct ChunkBuilder {
    std::size_t pending = 0;  // samples joined since the last chunk, 0 to 64
    UploadQueue* queue = nullptr;
    std::string session_id;
    std::size_t next_chunk = 0;  // number of the next chunk row; at the end the chunk count
    std::string joined;          // the pending sample texts joined by commas
};

inline constexpr std::size_t samples_per_chunk = 64;

// True for a 36-character id that, in braces, is a GUID in registry form. Only such ids become
// lock-file names.
bool is_session_id(const std::string& session_id);

// Takes the session's lock file (held in queue.recording_lock until close_queue), builds the device
// identity and inserts the session row with the opening document. Returns the compact device
// identity text. Throws "invalid session ID", "recording already exists", "queue lock
// unavailable" or SqliteError; a failure leaves no lock file and no row.
std::string start_recording(UploadQueue& queue, const std::string& session_id,
                            const std::string& measurement);
// Stores one probe sample text as it is.
void append_sample(UploadQueue& queue, const std::string& session_id, const std::string& sample);
// Sets "throughput" in the open recording's opening document (rewritten in sorted compact form).
// Throws "missing recording session" or the JSON parse error.
void attach_throughput(UploadQueue& queue, const std::string& session_id,
                       const std::string& throughput);
// The samples not yet cut into chunks, in recording order.
std::vector<std::string> read_session_samples(UploadQueue& queue, const std::string& session_id);
// Moves the samples into chunks and writes the ending with the state ("completed", "partial" or
// "cancelled"), atomically. A finished session is left unchanged.
void finish_recording(UploadQueue& queue, const std::string& session_id, const std::string& state);
// Writes the pending samples as the next chunk row; nothing when none are pending.
void flush_chunk(ChunkBuilder& builder);
// Finishes as "partial" every unfinished session whose lock file nobody holds. A stored id that is
// not a GUID (damage from outside: it could name a file outside the queue) is left untouched and
// counted, so that one bad row never stops the recovery of the others. Returns that count.
std::size_t recover_abandoned_recordings(UploadQueue& queue);

}  // namespace tarvisko
