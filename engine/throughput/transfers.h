#pragma once
// The download and upload measurements of a measurement session: a whole transfer (one long
// request) or a windowed one (blocks over one to four streams inside a time window), each ending
// in a node report that must agree with what this side moved. No transfer function throws: every
// failure ends up in the transfer_result.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/http/node_client.h"

namespace tarvisko {

using SteadyTime = std::chrono::steady_clock::time_point;

// Shared between the transfer thread (writer) and the session (reader) while a phase runs.
struct TransferProgress {
    std::atomic<std::uint32_t> bytes{0};
    // The LiveTraffic counter of this direction, or null.
    std::atomic<std::uint64_t>* live_counter = nullptr;
    // True while payload is moving.
    std::atomic<bool> running{false};
    // Set once, as the transfer thread's last act.
    std::atomic<bool> finished{false};
};

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
};

// What every stream worker of one windowed transfer shares. The referenced objects are owned by
// run_windowed_transfer or the session and outlive the workers, which are joined before it ends.
struct WindowedTransferState {
    const std::string& session_id;
    const std::wstring& origin;
    const NodeClient& client;
    bool upload;
    std::mutex mutex;  // guards assigned, next_sequence and first_failure
    const std::atomic<bool>& cancel;
    std::atomic<bool> stop{false};
    SteadyTime window_end;
    std::uint32_t budget;
    std::uint32_t assigned = 0;
    std::uint32_t next_sequence = 0;
    SteadyTime t0;
    std::uint32_t rate;
    SteadyTime deadline;
    std::wstring block_prefix;  // "/blocks/" + direction + "/"
    const std::wstring& ticket;
    TransferProgress& progress;
    std::exception_ptr first_failure;
};

// Thread body: the windowed transfer when job.windowed, else the whole transfer.
void run_transfer_thread(TransferJob job);

void run_whole_transfer(NodeClient& client, const std::wstring& ticket, bool upload,
                        std::uint64_t bytes, std::uint64_t rate_bps, SteadyTime deadline,
                        const std::atomic<bool>& cancel, TransferProgress& progress,
                        nlohmann::json& result);

void run_windowed_transfer(const std::string& session_id, const std::wstring& origin,
                           NodeClient& client, const std::wstring& ticket,
                           const std::string& direction, const nlohmann::json& profile,
                           SteadyTime deadline, const std::atomic<bool>& cancel,
                           TransferProgress& progress, nlohmann::json& result);

// One stream of a windowed transfer; stores its failure in the state instead of throwing.
void transfer_stream_worker(WindowedTransferState& state);

// Throws "cancelled" when the flag is set, else "deadline_exceeded" at or past the deadline.
void check_cancel_deadline(const std::atomic<bool>& cancel, SteadyTime deadline);

// True while the flag is clear, the deadline lies ahead and (transfer phase ? progress running :
// the phase end lies ahead).
bool before_deadline(const std::atomic<bool>& cancel, SteadyTime deadline, bool transfer_phase,
                     const TransferProgress& progress, SteadyTime phase_end);

nlohmann::json new_transfer_result();

// Milliseconds since `start` as a double.
double elapsed_ms(SteadyTime start);

// Time after the pacing start at which `bytes` may have been sent at `rate_bps`. Computed in
// 64 bits: a windowed budget of 536,870,912 bytes is 2^32 bits.
std::chrono::nanoseconds pacing_offset(std::uint64_t bytes, std::uint64_t rate_bps);

}  // namespace tarvisko
