#include "engine/runs/desktop_test.h"

#include <winsock2.h>

#include <exception>
#include <stdexcept>

#include "engine/common/ids.h"
#include "engine/common/version.h"
#include "engine/common/winsock_session.h"
#include "engine/queue/recording.h"
#include "engine/throughput/live_progress.h"

namespace tarvisko {

std::string desktop_test_state(bool cancelled, const nlohmann::json& throughput_error,
                               bool unavailable_seen) {
    if (cancelled) return "cancelled";
    if (!throughput_error.is_null()) return "partial";
    if (unavailable_seen) return "partial";
    return "completed";
}

nlohmann::json run_desktop_test(const std::atomic<bool>& cancel, const PhaseCallback& phase,
                                LiveTraffic& live, const DesktopTestCalls& calls) {
    const WinsockSession winsock;
    // The queue closes itself on every way out of the run: the lock file of an unfinished
    // recording goes with it, so the next upload pass, in this process too, can recover it.
    UploadQueue queue = open_queue();
    const std::string session_id = new_uuid_text();
    const nlohmann::json device = nlohmann::json::parse(start_recording(queue, session_id, ""));

    bool recording_finished = false;
    try {
        const nlohmann::json opening =
            nlohmann::json::parse(calls.attach_inventory(queue, session_id));
        const nlohmann::json inventory = opening.at("inventory");

        std::atomic<bool> unavailable_seen{false};
        std::atomic<bool> result_seen{false};
        std::exception_ptr trace_error;
        const NodeTraceCallback node_trace_callback = [&](const Target& node,
                                                          const std::string& trace_phase,
                                                          const std::atomic<bool>& active) {
            try {
                calls.trace_node(queue, unavailable_seen, result_seen, node, session_id,
                                 trace_phase, active, cancel);
            } catch (...) {
                // Read only after the trace thread is joined; a later error replaces this one.
                trace_error = std::current_exception();
            }
        };
        // Checked before the long measurement rather than when "ping" is due.
        if (!phase) throw std::invalid_argument("phase callback required");

        std::string observed_ip;
        nlohmann::json throughput = calls.run_measurement_session(
            queue, session_id, cancel, node_trace_callback, &observed_ip, &live, phase);

        phase("ping");
        const std::function<void()> save = [&] {
            save_throughput_document(queue, session_id, throughput);
        };
        calls.run_host_pings(throughput, cancel, save);

        nlohmann::json mtr_samples = nlohmann::json::array();
        for (const std::string& text : read_session_samples(queue, session_id)) {
            mtr_samples.push_back(nlohmann::json::parse(text));
        }
        if (trace_error) std::rethrow_exception(trace_error);

        const std::string state = desktop_test_state(
            cancel.load(), throughput.value("error", nlohmann::json()), unavailable_seen.load());
        finish_recording(queue, session_id, state);
        recording_finished = true;

        phase("sync");
        bool synchronized = false;
        try {
            synchronized = calls.upload_pending(queue) == 0;
        } catch (const std::exception&) {
            // The session stays queued for a later pass; the run itself succeeded.
        }

        nlohmann::json report;
        report["desktop_trace"] = {{"download", read_live_progress(live, 0)},
                                   {"session_id", session_id},
                                   {"upload", read_live_progress(live, 1)}};
        report["device"] = device;
        report["inventory"] = inventory;
        report["mtr_samples"] = std::move(mtr_samples);
        report["observed_ip"] =
            observed_ip.empty() ? nlohmann::json(nullptr) : nlohmann::json(observed_ip);
        report["state"] = state;
        report["synchronized"] = synchronized;
        report["throughput"] = std::move(throughput);
        report["version"] = program_version;
        return report;
    } catch (...) {
        if (!recording_finished) {
            try {
                finish_recording(queue, session_id, "partial");
            } catch (...) {
                // The run's own error is the one to report. The recording stays unfinished but
                // its lock goes with the queue, so the next upload pass recovers it as "partial".
            }
        }
        throw;
    }
}

}  // namespace tarvisko
