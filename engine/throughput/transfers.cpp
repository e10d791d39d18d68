#include "engine/throughput/transfers.h"

#include <bcrypt.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "engine/common/ids.h"

namespace tarvisko {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kWholePiece = 32768;
constexpr std::uint32_t kMinBlock = 65536;
constexpr std::uint32_t kMaxBlock = 1048576;

[[noreturn]] void fail(const char* reason) { throw std::runtime_error(reason); }

void fill_random(unsigned char* data, std::size_t size) {
    const NTSTATUS status =
        BCryptGenRandom(nullptr, data, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) fail("random_payload_unavailable");
}

void count_bytes(TransferProgress& progress, std::uint32_t count) {
    progress.bytes.fetch_add(count);
    if (progress.live_counter != nullptr) progress.live_counter->fetch_add(count);
    // Streams count in parallel: keep the latest moment, whichever stream stores last.
    const SteadyTime::rep now = Clock::now().time_since_epoch().count();
    SteadyTime::rep seen = progress.last_counted.load();
    while (seen < now && !progress.last_counted.compare_exchange_weak(seen, now)) {
    }
}

std::wstring widen_ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A whole download must end exactly where the announced count ends.
void expect_body_end(HINTERNET request) {
    unsigned char extra = 0;
    DWORD got = 0;
    throw_winhttp_error(WinHttpReadData(request, &extra, 1, &got) != FALSE);
    if (got != 0) fail("unexpected_extra_bytes");
}

void fail_transfer(nlohmann::json& result, const TransferProgress& progress, const char* reason) {
    result["status"] = progress.bytes.load() != 0 ? "partial" : "unavailable";
    result["reason"] = reason;
}

struct AlignedFree {
    void operator()(unsigned char* data) const { ::operator delete[](data, std::align_val_t(32)); }
};

}  // namespace

std::optional<SteadyTime> last_counted_at(const TransferProgress& progress) {
    const SteadyTime::rep ticks = progress.last_counted.load();
    if (ticks == 0) return std::nullopt;
    return SteadyTime(SteadyTime::duration(ticks));
}

void await_node_response(NodeClient& client, InternetHandle& request, unsigned long expected_status,
                         const TransferStop& stop, std::shared_ptr<const void> client_owner) {
    if (stop.requested()) fail("cancelled");
    struct Wait {
        InternetHandle request;
        std::shared_ptr<const void> client_owner;
        std::atomic<bool> done{false};
        bool received = false;
        DWORD error = 0;
    };
    auto wait = std::make_shared<Wait>();
    wait->request = std::move(request);
    wait->client_owner = std::move(client_owner);
    std::thread waiter([wait] {
        wait->received = WinHttpReceiveResponse(wait->request.get(), nullptr) != FALSE;
        wait->error = GetLastError();
        wait->done = true;
    });
    while (!wait->done.load()) {
        if (stop.requested()) {
            // The waiting thread keeps the request and the client's handles until its call
            // returns; nothing else touches them any more.
            waiter.detach();
            fail("cancelled");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    waiter.join();
    request = std::move(wait->request);
    if (!wait->received) {
        SetLastError(wait->error);
        throw_winhttp_error(false);
    }
    check_node_response(client, request.get(), expected_status);
}

std::chrono::nanoseconds pacing_offset(std::uint64_t bytes, std::uint64_t rate_bps) {
    if (rate_bps == 0) return std::chrono::nanoseconds(0);
    // In 128 bits: bits x 10^9 leaves 64 bits beyond 2 GiB, and the remainder of a split
    // division beyond 18 Gbit/s.
    __extension__ using Wide = unsigned __int128;
    const Wide ns = static_cast<Wide>(bytes) * 8u * 1000000000u / rate_bps;
    const Wide most = static_cast<Wide>(std::chrono::nanoseconds::max().count());
    return std::chrono::nanoseconds(static_cast<std::int64_t>(ns < most ? ns : most));
}

double elapsed_ms(SteadyTime start) {
    return static_cast<double>(
               std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count()) /
           1000000.0;
}

nlohmann::json new_transfer_result() {
    return {{"client_bytes", 0},     {"duration_ms", nullptr},      {"ended_at", nullptr},
            {"node_bytes", nullptr}, {"node_duration_ms", nullptr}, {"reason", "not_started"},
            {"started_at", nullptr}, {"status", "unavailable"}};
}

void check_cancel_deadline(const TransferStop& cancel, SteadyTime deadline) {
    if (cancel.requested()) fail("cancelled");
    if (Clock::now() >= deadline) fail("deadline_exceeded");
}

bool before_deadline(const std::atomic<bool>& cancel, SteadyTime deadline, bool transfer_phase,
                     const TransferProgress& progress, SteadyTime phase_end) {
    if (cancel.load()) return false;
    const auto now = Clock::now();
    if (now >= deadline) return false;
    return transfer_phase ? progress.running.load() : now < phase_end;
}

void run_whole_transfer(NodeClient& client, const std::wstring& ticket, bool upload,
                        std::uint64_t bytes, std::uint64_t rate_bps, SteadyTime deadline,
                        const TransferStop& cancel, TransferProgress& progress,
                        nlohmann::json& result, std::shared_ptr<const void> client_owner) {
    const auto t0 = Clock::now();
    result["started_at"] = utc_timestamp_now();
    try {
        // One request announces the whole count in 32 bits; the profile's bounds keep far below.
        if (bytes > 0xFFFFFFFFu) fail("unsafe_node_profile");
        std::vector<unsigned char> buffer(kWholePiece, 0);
        if (upload) fill_random(buffer.data(), buffer.size());

        InternetHandle request;
        if (upload) {
            request = send_node_request(client, L"POST", L"/upload", ticket,
                                        static_cast<std::uint32_t>(bytes));
        } else {
            request = send_node_request(client, L"GET", L"/download", ticket, 0);
            receive_node_response(client, request.get(), 200);
        }
        const auto t1 = Clock::now();

        std::uint64_t moved = 0;
        while (moved < bytes) {
            check_cancel_deadline(cancel, deadline);
            const auto piece =
                static_cast<DWORD>(std::min<std::uint64_t>(bytes - moved, kWholePiece));
            DWORD count = 0;
            if (upload) {
                while (t1 + pacing_offset(moved + piece, rate_bps) > Clock::now()) {
                    check_cancel_deadline(cancel, deadline);
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                throw_winhttp_error(WinHttpWriteData(request.get(), buffer.data(), piece, &count) !=
                                    FALSE);
            } else {
                throw_winhttp_error(WinHttpReadData(request.get(), buffer.data(), piece, &count) !=
                                    FALSE);
            }
            if (count == 0) fail("short_transfer");
            moved += count;
            count_bytes(progress, count);
            progress.running = moved < bytes;
        }

        nlohmann::json report;
        if (upload) {
            check_cancel_deadline(cancel, deadline);
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            const int receive_ms = static_cast<int>(std::clamp<long long>(left, 1, 30000));
            throw_winhttp_error(WinHttpSetTimeouts(request.get(), 3000, 3000, 4000, receive_ms) !=
                                FALSE);
            bound_response_wait(request.get(), static_cast<DWORD>(receive_ms));
            // A node slow to report may take the whole receive time-out; a stop must not wait.
            await_node_response(client, request, 200, cancel, client_owner);
            result["duration_ms"] = elapsed_ms(t0);
            report = read_node_reply(request.get(), 8192);
        } else {
            expect_body_end(request.get());
            result["duration_ms"] = elapsed_ms(t0);
            InternetHandle status = send_node_request(client, L"GET", L"/status", ticket, 0);
            await_node_response(client, status, 200, cancel, client_owner);
            report = read_node_reply(status.get(), 8192).at("download");
        }

        const nlohmann::json& reported = report.at("bytes");
        result["node_bytes"] = reported.get<std::uint64_t>();
        result["node_duration_ms"] = report.at("duration_ms").get<double>();
        const auto complete = report.find("complete");
        // The count is matched as the node sent it: narrowed, a count 2^32 too high would look
        // like agreement.
        if (complete == report.end() || *complete != true || reported != moved) {
            fail("node_count_mismatch");
        }
        result["reason"] = nullptr;
        result["status"] = "ok";
    } catch (const std::exception& error) {
        fail_transfer(result, progress, error.what());
    }
    progress.running = false;
    result["client_bytes"] = progress.bytes.load();
    if (result["duration_ms"].is_null()) result["duration_ms"] = elapsed_ms(t0);
    result["ended_at"] = utc_timestamp_now();
    progress.finished = true;
}

void transfer_stream_worker(WindowedTransferState& state) {
    try {
        NodeClient client = open_node_client(state.session_id, state.origin);
        client.expected_peer = state.client.expected_peer;

        std::unique_ptr<unsigned char[], AlignedFree> buffer(
            new (std::align_val_t(32)) unsigned char[kMaxBlock]());
        if (state.upload) fill_random(buffer.get(), kMaxBlock);

        auto halted = [&state] {
            return state.stop.load() || state.cancel.requested() || Clock::now() >= state.deadline;
        };

        std::uint32_t block_size = kMinBlock;
        for (;;) {
            std::uint32_t sequence = 0;
            std::uint32_t count = 0;
            std::uint64_t assigned_total = 0;
            {
                std::lock_guard lock(state.mutex);
                if (state.stop.load() || state.cancel.requested() ||
                    Clock::now() >= state.window_end || state.budget - state.assigned < kMinBlock) {
                    break;
                }
                sequence = state.next_sequence++;
                count = static_cast<std::uint32_t>(
                    std::min<std::uint64_t>(state.budget - state.assigned, block_size));
                state.assigned += count;
                assigned_total = state.assigned;
            }
            const auto block_start = Clock::now();

            if (state.upload) {
                const auto start_at = state.t0 + pacing_offset(assigned_total, state.rate);
                while (Clock::now() < start_at) {
                    if (halted()) fail("transfer_interrupted");
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }

            const std::wstring suffix =
                state.block_prefix + std::to_wstring(sequence) + L"?n=" + std::to_wstring(count);
            InternetHandle request;
            if (state.upload) {
                request = send_node_request(client, L"POST", suffix, state.ticket, count);
            } else {
                request = send_node_request(client, L"GET", suffix, state.ticket, 0);
                receive_node_response(client, request.get(), 200);
            }

            std::uint32_t moved = 0;
            while (moved < count && !halted()) {
                DWORD got = 0;
                if (state.upload) {
                    throw_winhttp_error(WinHttpWriteData(request.get(), buffer.get(), count - moved,
                                                         &got) != FALSE);
                } else {
                    throw_winhttp_error(
                        WinHttpReadData(request.get(), buffer.get(), count - moved, &got) != FALSE);
                }
                if (got == 0) fail("short_block");
                moved += got;
                count_bytes(state.progress, got);
            }
            if (moved < count) fail("transfer_interrupted");

            if (state.upload) {
                receive_node_response(client, request.get(), 204);
                // Read to its end, so that the stream's next block reuses the connection.
                finish_node_reply(request.get());
            } else {
                expect_body_end(request.get());
            }

            const auto took = Clock::now() - block_start;
            if (took < std::chrono::milliseconds(300)) {
                block_size = std::min(block_size * 2, kMaxBlock);
            } else if (took > std::chrono::milliseconds(900)) {
                block_size = std::max(block_size / 2, kMinBlock);
            }
        }
    } catch (...) {
        std::lock_guard lock(state.mutex);
        if (!state.first_failure) state.first_failure = std::current_exception();
        state.stop = true;
    }
}

void run_windowed_transfer(const std::string& session_id, const std::wstring& origin,
                           NodeClient& client, const std::wstring& ticket,
                           const std::string& direction, const nlohmann::json& profile,
                           SteadyTime deadline, const TransferStop& cancel,
                           TransferProgress& progress, nlohmann::json& result,
                           std::shared_ptr<const void> client_owner) {
    const auto t0 = Clock::now();
    try {
        const auto window_ms = profile.at("window_ms").get<std::uint64_t>();
        const auto streams = profile.at("streams").get<std::uint64_t>();
        WindowedTransferState state{
            .session_id = session_id,
            .origin = origin,
            .client = client,
            .upload = direction == "upload",
            .mutex = {},
            .cancel = cancel,
            .window_end = t0 + std::chrono::milliseconds(window_ms),
            .budget = profile.at("bytes").get<std::uint64_t>(),
            .t0 = t0,
            .rate = profile.at("rate_bps").get<std::uint64_t>(),
            .deadline = deadline,
            .block_prefix = L"/blocks/" + widen_ascii(direction) + L"/",
            .ticket = ticket,
            .progress = progress,
            .first_failure = {},
        };
        result["started_at"] = utc_timestamp_now();
        progress.running = true;

        std::exception_ptr start_failure;
        {
            // Joined when the block ends, also after a failed start.
            std::vector<std::jthread> workers;
            try {
                for (std::uint64_t i = 0; i < streams; ++i) {
                    workers.emplace_back([&state] { transfer_stream_worker(state); });
                }
            } catch (...) {
                state.stop = true;
                start_failure = std::current_exception();
            }
        }
        progress.running = false;
        if (start_failure) std::rethrow_exception(start_failure);
        if (state.first_failure) std::rethrow_exception(state.first_failure);
        if (cancel.requested() || Clock::now() >= deadline || state.assigned == 0) {
            fail("transfer_interrupted");
        }

        InternetHandle request =
            send_node_request(client, L"POST", L"/commit/" + widen_ascii(direction), ticket, 0);
        await_node_response(client, request, 200, cancel, client_owner);
        const nlohmann::json report = read_node_reply(request.get(), 8192);
        result["node_bytes"] = report.at("bytes");
        result["node_duration_ms"] = report.at("duration_ms");
        const auto complete = report.find("complete");
        if (complete == report.end() || *complete != true ||
            report.at("bytes") != progress.bytes.load()) {
            fail("node_count_mismatch");
        }
        result["status"] = "ok";
        result["reason"] = nullptr;
    } catch (const std::exception& error) {
        fail_transfer(result, progress, error.what());
    }
    progress.running = false;
    result["client_bytes"] = progress.bytes.load();
    result["duration_ms"] = elapsed_ms(t0);
    result["ended_at"] = utc_timestamp_now();
    progress.finished = true;
}

void run_transfer_thread(TransferJob job) {
    const TransferStop stop(job.cancel, job.halt);
    if (job.windowed) {
        run_windowed_transfer(job.session_id, job.origin, job.client, job.ticket, job.direction,
                              job.profile, job.deadline, stop, job.progress, job.result,
                              std::move(job.client_owner));
    } else {
        run_whole_transfer(job.client, job.ticket, job.direction == "upload", job.bytes,
                           job.rate_bps, job.deadline, stop, job.progress, job.result,
                           std::move(job.client_owner));
    }
}

}  // namespace tarvisko
