#pragma once
// The full diagnostics test: one recorded session with the device identity, the network
// inventory, the throughput session against the measurement node (route traces toward the node
// in its idle phases), host pings to the gateway and the node, then one upload pass. Returns the
// diagnostics_report; knows nothing of windows and reports progress only through the phase
// callback and the LiveTraffic record.
#include <atomic>
#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/common/address.h"
#include "engine/queue/queue.h"
#include "engine/throughput/measurement_session.h"

namespace tarvisko {

struct LiveTraffic;

// The steps of the run that reach the network or other components' collections; the product
// uses the real ones, tests play them where Wine or the test machine cannot.
struct DesktopTestCalls {
    // attach_inventory: collects the inventory into the open recording; returns the opening text.
    std::function<std::string(UploadQueue&, const std::string& session_id)> attach_inventory;
    std::function<nlohmann::json(UploadQueue&, const std::string& session_id,
                                 const std::atomic<bool>& cancel, const NodeTraceCallback& trace,
                                 std::string* observed_ip, LiveTraffic* live,
                                 const PhaseCallback& phase)>
        run_measurement_session;
    std::function<void(nlohmann::json& document, const std::atomic<bool>& cancel,
                       const std::function<void()>& save)>
        run_host_pings;
    // The route trace toward the node during one idle phase (write_probe_samples with the run's
    // fixed settings); sets the two flags.
    std::function<void(UploadQueue&, std::atomic<bool>& unavailable_seen,
                       std::atomic<bool>& result_seen, const Target& node,
                       const std::string& session_id, const std::string& phase,
                       const std::atomic<bool>& active, const std::atomic<bool>& cancel)>
        trace_node;
    // One upload pass; 0 when no finished session is left in the queue.
    std::function<int(UploadQueue&)> upload_pending;
};

DesktopTestCalls system_desktop_test_calls();

// "cancelled", "partial" or "completed", first rule that holds.
std::string desktop_test_state(bool cancelled, const nlohmann::json& throughput_error,
                               bool unavailable_seen);

// Runs the whole test. Throws "winsock_unavailable", the errors of opening the queue and starting
// the recording, and every later error after finishing the recording as "partial". The queue is
// closed and Winsock cleaned up on every way out, so a failed run leaves its recording
// recoverable by the same process.
nlohmann::json run_desktop_test(const std::atomic<bool>& cancel, const PhaseCallback& phase,
                                LiveTraffic& live);
nlohmann::json run_desktop_test(const std::atomic<bool>& cancel, const PhaseCallback& phase,
                                LiveTraffic& live, const DesktopTestCalls& calls);

}  // namespace tarvisko
