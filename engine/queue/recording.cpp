#include "engine/queue/recording.h"

#include <objbase.h>

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "engine/common/ids.h"
#include "engine/common/text.h"
#include "engine/common/version.h"
#include "engine/identity/identity.h"

namespace tarvisko {

namespace {

std::wstring lock_name(const std::string& session_id) { return to_wide(session_id + ".lock"); }

// Assembled by concatenation so that the keys keep this written order.
std::string opening_document(const std::string& device, const std::string& session_id,
                             const std::string& started_at, const std::string& measurement) {
    std::string text = "{\"schema_version\":1,\"device\":" + device + ",\"session_id\":\"" +
                       session_id + "\",\"started_at\":\"" + started_at +
                       "\",\"client_version\":\"" + program_version + "\",\"mode\":\"portable\"";
    if (!measurement.empty()) text += ",\"measurement\":" + measurement;
    return text + "}";
}

std::string ending_document(const std::string& state, std::size_t chunk_count) {
    return "{\"schema_version\":1,\"state\":\"" + state + "\",\"ended_at\":\"" +
           utc_timestamp_now() + "\",\"chunk_count\":" + std::to_string(chunk_count) + "}";
}

}  // namespace

bool is_session_id(const std::string& session_id) {
    if (session_id.size() != 36) return false;
    GUID guid{};
    return SUCCEEDED(IIDFromString(to_wide("{" + session_id + "}").c_str(), &guid));
}

std::string start_recording(UploadQueue& queue, const std::string& session_id,
                            const std::string& measurement) {
    // The id becomes a file name: anything but a GUID could name a path outside the queue.
    if (!is_session_id(session_id)) throw std::invalid_argument("invalid session ID");
    LockFileGuard lock = open_lock_file(queue.directory, lock_name(session_id));
    if (!lock.valid()) throw std::runtime_error("recording already exists");

    const std::string device = build_device_identity(queue).dump();
    const std::string opening =
        opening_document(device, session_id, utc_timestamp_now(), measurement);
    run_statement(queue.db, "INSERT INTO session(id,opening) VALUES (?,?)", {session_id, opening});

    // One recording per queue object; an earlier lock would otherwise stay held until exit.
    close_lock_file(queue.recording_lock);
    queue.recording_lock = lock.release();
    return device;
}

void append_sample(UploadQueue& queue, const std::string& session_id, const std::string& sample) {
    run_statement(queue.db, "INSERT INTO sample(id,body) VALUES (?,?)", {session_id, sample});
}

void attach_throughput(UploadQueue& queue, const std::string& session_id,
                       const std::string& throughput) {
    std::string opening_text;
    {
        StatementGuard select = prepare_statement(
            queue.db, "SELECT opening FROM session WHERE id=? AND ending IS NULL", {session_id});
        if (!step_row(select.get())) throw std::runtime_error("missing recording session");
        opening_text = column_text(select.get(), 0);
    }
    nlohmann::json opening = nlohmann::json::parse(opening_text);
    opening["throughput"] = nlohmann::json::parse(throughput);
    run_statement(queue.db, "UPDATE session SET opening=? WHERE id=?",
                  {opening.dump(), session_id});
}

std::vector<std::string> read_session_samples(UploadQueue& queue, const std::string& session_id) {
    StatementGuard select =
        prepare_statement(queue.db, "SELECT body FROM sample WHERE id=? ORDER BY n", {session_id});
    std::vector<std::string> samples;
    while (step_row(select.get())) samples.push_back(column_text(select.get(), 0));
    return samples;
}

void flush_chunk(ChunkBuilder& builder) {
    if (builder.pending == 0) return;
    const std::string chunk = "{\"schema_version\":1,\"samples\":[" + builder.joined + "]}";
    const std::size_t number = builder.next_chunk++;
    run_statement(builder.queue->db, "INSERT INTO chunk VALUES (?,?,?)",
                  {builder.session_id, std::to_string(number), chunk});
    builder.pending = 0;
    builder.joined.clear();
}

void finish_recording(UploadQueue& queue, const std::string& session_id, const std::string& state) {
    QueueTransaction transaction = begin_transaction(queue.db);
    ChunkBuilder builder;
    builder.queue = &queue;
    builder.session_id = session_id;
    {
        StatementGuard select = prepare_statement(
            queue.db, "SELECT body FROM sample WHERE id=? ORDER BY n", {session_id});
        while (step_row(select.get())) {
            if (builder.pending != 0) builder.joined += ',';
            const auto* body = sqlite3_column_text(select.get(), 0);
            if (body != nullptr) {
                builder.joined.append(
                    reinterpret_cast<const char*>(body),
                    static_cast<std::size_t>(sqlite3_column_bytes(select.get(), 0)));
            }
            if (++builder.pending == samples_per_chunk) flush_chunk(builder);
        }
    }
    flush_chunk(builder);
    run_statement(queue.db, "UPDATE session SET ending=?,chunks=? WHERE id=? AND ending IS NULL",
                  {ending_document(state, builder.next_chunk), std::to_string(builder.next_chunk),
                   session_id});
    run_statement(queue.db, "DELETE FROM sample WHERE id=?", {session_id});
    commit_transaction(transaction);
}

std::size_t recover_abandoned_recordings(UploadQueue& queue) {
    const std::vector<std::string> ids =
        query_strings(queue.db, "SELECT id FROM session WHERE ending IS NULL");
    std::size_t damaged = 0;
    for (const std::string& id : ids) {
        if (!is_session_id(id)) {
            ++damaged;
            continue;
        }
        LockFileGuard lock = open_lock_file(queue.directory, lock_name(id));
        if (!lock.valid()) continue;  // its recorder is alive
        // Tested again under the lock: the recorder may have finished meanwhile.
        bool unfinished = false;
        {
            StatementGuard check = prepare_statement(
                queue.db, "SELECT 1 FROM session WHERE id=? AND ending IS NULL", {id});
            unfinished = step_row(check.get());
        }
        if (unfinished) finish_recording(queue, id, "partial");
    }
    return damaged;
}

}  // namespace tarvisko
