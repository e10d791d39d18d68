#pragma once
// The throughput part of the full test: reserve a run on the measurement node (directly or through
// the portal), walk the phases "baseline", "download", "upload", "recovery" with latency probes
// in each, a transfer in the two transfer phases and a route trace toward the node in the idle
// ones, then tell the node the run is over. The whole throughput document is stored in the open
// recording after every step, so a run that dies still leaves a readable document whose "error"
// says "measurement_interrupted".
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "engine/common/address.h"

namespace tarvisko {

struct UploadQueue;
struct LiveTraffic;

// Runs the route trace toward the node while `active` holds (the full run's trace callback).
using NodeTraceCallback = std::function<void(const Target& node, const std::string& phase,
                                             const std::atomic<bool>& active)>;
using PhaseCallback = std::function<void(const std::string& phase)>;

// A transfer running on its own thread, as the session watches it. Destroying the handle joins
// the thread, so leaving a phase by an exception never leaves a transfer behind.
struct TransferHandle {
    std::function<bool()> running;
    std::function<bool()> finished;
    std::function<std::uint64_t()> bytes;
    // The moment the transfer counted its last byte so far; nothing before the first.
    std::function<std::optional<std::chrono::steady_clock::time_point>()> last_counted;
    // Tells the transfer to end now (as "cancelled"): the session leaves the phase without it.
    std::function<void()> stop;
    // Joins the thread and returns its transfer_result.
    std::function<nlohmann::json()> join;
    std::shared_ptr<void> owner;  // keeps the thread and its state alive; joins when released
};

struct TransferOrder {
    std::string session_id;
    std::wstring origin;
    std::wstring ticket;
    std::string direction;  // "download" or "upload"
    const nlohmann::json& profile;
    std::chrono::steady_clock::time_point deadline;
    const std::atomic<bool>& cancel;
    bool live = false;  // feed the LiveTraffic counter of the direction
};

// Everything the session does outside its own logic: node requests, transfers, stores, live
// progress and time. The product builds it from NodeClient, the transfers, the recording and the
// LiveTraffic record; tests play the node with scripted answers and a clock of their own.
struct MeasurementCalls {
    // Opens the main and the transfer client for the origin and sends the reservation (an empty
    // explicit path means the run base path); returns the reply read with an 8192-byte cap.
    // `local_endpoint` receives the status envelope of the reservation's local address as soon as
    // the response is there. The transfer client is pinned to the main client's peer address.
    std::function<nlohmann::json(const std::wstring& origin, const std::wstring& explicit_path,
                                 const std::wstring& bearer, nlohmann::json& local_endpoint)>
        reserve;
    // Remote address text of the main client, fixed by the reservation response.
    std::function<std::string()> peer;
    // HEAD "/latency" (expects 204); returns the steady time at which the response headers came.
    std::function<std::chrono::steady_clock::time_point(const std::wstring& ticket)> probe_latency;
    // POST "/finish" (expects 204).
    std::function<void(const std::wstring& ticket)> finish;
    std::function<TransferHandle(const TransferOrder& order)> start_transfer;
    std::function<nlohmann::json()> new_transfer_result;
    // Stores the compact document text as the recording's "throughput".
    std::function<void(const std::string& text)> store;

    // LiveTraffic; `live` false when the caller gave no record (the functions are then unused).
    bool live = false;
    std::function<bool()> live_capacity;
    std::function<void(std::uint64_t rate_bps)> set_rate_cap;
    // Empty when the record has no local-address callback.
    std::function<void(const nlohmann::json& local_address)> report_local_address;
    std::function<void(int direction, std::uint64_t bytes)> update_live;
    // Ends the series of a transfer at the moment its last byte was counted.
    std::function<void(int direction, std::uint64_t bytes,
                       std::chrono::steady_clock::time_point end)>
        close_live;
    std::function<nlohmann::json(int direction)> read_live;

    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::milliseconds)> sleep;
};

// Throws std::runtime_error(reason) when the condition is false.
void require_or_throw(bool condition, const char* reason);

// Compact text of the document (no whitespace, UTF-8 unescaped; invalid UTF-8 throws).
std::string dump_throughput_document(const nlohmann::json& document);
// Stores the document as the "throughput" member of the session's open recording.
void save_throughput_document(UploadQueue& queue, const std::string& session_id,
                              const nlohmann::json& document);

// Checks the node profile's bounds; throws "unsafe_node_profile", or a JSON library error for a
// missing member or one of the wrong type.
void check_node_profile(const nlohmann::json& profile);

// Runs the whole session. Returns the document in every handled case (its "error" says what went
// wrong); only a failure of the first or of the last store leaves it.
nlohmann::json run_measurement_session(UploadQueue& queue, const std::string& session_id,
                                       const std::atomic<bool>& cancel,
                                       const NodeTraceCallback& trace, std::string* observed_ip,
                                       LiveTraffic* live, const PhaseCallback& phase);
nlohmann::json run_measurement_session(const MeasurementCalls& calls, const std::string& session_id,
                                       const std::atomic<bool>& cancel,
                                       const NodeTraceCallback& trace, std::string* observed_ip,
                                       const PhaseCallback& phase);

}  // namespace tarvisko
