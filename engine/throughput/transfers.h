#pragma once
// The download and upload measurements of a measurement session: a whole transfer (one long
// request) or a windowed one (blocks over one to four streams inside a time window), each ending
// in a node report that must agree with what this side moved. No transfer function throws: every
// failure ends up in the transfer_result.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "engine/http/node_client.h"

namespace tarvisko {

using SteadyTime = std::chrono::steady_clock::time_point;

// Shared between the transfer thread (writer) and the session (reader) while a phase runs.
struct TransferProgress {
    std::atomic<std::uint64_t> bytes{0};
    // Steady-clock ticks (time_since_epoch) of the latest count, 0 before the first: the moment
    // the transfer's last byte was counted, which its trace ends on.
    std::atomic<SteadyTime::rep> last_counted{0};
    // The LiveTraffic counter of this direction, or null.
    std::atomic<std::uint64_t>* live_counter = nullptr;
    // True while payload is moving.
    std::atomic<bool> running{false};
    // Set once, as the transfer thread's last act.
    std::atomic<bool> finished{false};
};

// What ends a transfer before its end: the user's cancel flag and, when given, the session's own
// stop, set when the session ends without waiting for the transfer's result. Either one ends the
// transfer as "cancelled".
struct TransferStop {
    // Implicit: a cancel flag alone is a complete stop.
    TransferStop(const std::atomic<bool>& cancel_flag, const std::atomic<bool>* halt_flag = nullptr)
        : cancel(&cancel_flag), halt(halt_flag) {}
    bool requested() const { return cancel->load() || (halt != nullptr && halt->load()); }

    const std::atomic<bool>* cancel;
    const std::atomic<bool>* halt;
};

// The moment of the transfer's last counted byte, or nothing before the first.
std::optional<SteadyTime> last_counted_at(const TransferProgress& progress);

// What the session hands to the transfer thread; everything refers to the session's objects.
struct TransferJob {
    bool windowed;
    const std::string& session_id;
    const std::wstring& origin;
    NodeClient& client;
    const std::wstring& ticket;
    const std::string& direction;
    const nlohmann::json& profile;
    const SteadyTime& deadline;
    const std::atomic<bool>& cancel;
    TransferProgress& progress;
    nlohmann::json& result;
    std::uint64_t bytes;
    std::uint64_t rate_bps;
    // The session's own stop (see TransferStop), or null.
    const std::atomic<bool>* halt = nullptr;
    // Keeps the client's handles alive for a wait that a stop leaves behind (see
    // run_whole_transfer); may be empty when the client outlives every wait anyway.
    std::shared_ptr<const void> client_owner = {};
};

// What every stream worker of one windowed transfer shares. The referenced objects are owned by
// run_windowed_transfer or the session and outlive the workers, which are joined before it ends.
struct WindowedTransferState {
    const std::string& session_id;
    const std::wstring& origin;
    const NodeClient& client;
    bool upload;
    std::mutex mutex;  // guards assigned, next_sequence and first_failure
    TransferStop cancel;
    std::atomic<bool> stop{false};
    SteadyTime window_end;
    // The profile's "bytes" and "rate_bps" as they came: a rate above 2^32 bit/s must not wrap.
    std::uint64_t budget;
    std::uint64_t assigned = 0;
    std::uint32_t next_sequence = 0;
    SteadyTime t0;
    std::uint64_t rate;
    SteadyTime deadline;
    std::wstring block_prefix;  // "/blocks/" + direction + "/"
    const std::wstring& ticket;
    TransferProgress& progress;
    std::exception_ptr first_failure;
};

// Thread body: the windowed transfer when job.windowed, else the whole transfer.
void run_transfer_thread(TransferJob job);

// The node's report of an upload and of a commit is awaited on a thread of its own (see
// await_node_response), so a stop ends the transfer at once; `client_owner` then keeps the
// client's handles alive until that thread is done with them.
void run_whole_transfer(NodeClient& client, const std::wstring& ticket, bool upload,
                        std::uint64_t bytes, std::uint64_t rate_bps, SteadyTime deadline,
                        const TransferStop& cancel, TransferProgress& progress,
                        nlohmann::json& result, std::shared_ptr<const void> client_owner = {});

void run_windowed_transfer(const std::string& session_id, const std::wstring& origin,
                           NodeClient& client, const std::wstring& ticket,
                           const std::string& direction, const nlohmann::json& profile,
                           SteadyTime deadline, const TransferStop& cancel,
                           TransferProgress& progress, nlohmann::json& result,
                           std::shared_ptr<const void> client_owner = {});

// Receives the response headers of `request` (sent on `client`) and checks them as
// receive_node_response does, while watching the stop: a synchronous WinHTTP call cannot be
// interrupted (closing its handle from another thread does not end it under every WinHTTP), so
// the headers are awaited on a thread of their own. When a stop comes first this throws
// "cancelled" at once and that thread, which then owns the request (and `client_owner`), ends by
// itself when the call returns, within the request's receive time-out.
void await_node_response(NodeClient& client, InternetHandle& request, unsigned long expected_status,
                         const TransferStop& stop, std::shared_ptr<const void> client_owner);

// One stream of a windowed transfer; stores its failure in the state instead of throwing.
void transfer_stream_worker(WindowedTransferState& state);

// Throws "cancelled" when a stop is requested, else "deadline_exceeded" at or past the deadline.
void check_cancel_deadline(const TransferStop& cancel, SteadyTime deadline);

// True while the flag is clear, the deadline lies ahead and (transfer phase ? progress running :
// the phase end lies ahead).
bool before_deadline(const std::atomic<bool>& cancel, SteadyTime deadline, bool transfer_phase,
                     const TransferProgress& progress, SteadyTime phase_end);

nlohmann::json new_transfer_result();

// Milliseconds since `start` as a double.
double elapsed_ms(SteadyTime start);

// Time after the pacing start at which `bytes` may have been sent at `rate_bps`, exact for any
// count and rate of 64 bits (a windowed budget of 536,870,912 bytes is already 2^32 bits).
std::chrono::nanoseconds pacing_offset(std::uint64_t bytes, std::uint64_t rate_bps);

}  // namespace tarvisko
