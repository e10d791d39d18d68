// The full run wired to the real steps: the inventory collectors, the measurement node, the ICMP
// route trace toward the node, the host pings and the upload pump.
#include <winsock2.h>

#include "engine/http/upload_pump.h"
#include "engine/inventory/inventory_attachment.h"
#include "engine/probes/probe_samples.h"
#include "engine/runs/desktop_test.h"
#include "engine/runs/host_pings.h"

namespace tarvisko {

DesktopTestCalls system_desktop_test_calls() {
    DesktopTestCalls calls;
    calls.attach_inventory = [](UploadQueue& queue, const std::string& session_id) {
        return attach_inventory(queue, session_id);
    };
    calls.run_measurement_session = [](UploadQueue& queue, const std::string& session_id,
                                       const std::atomic<bool>& cancel,
                                       const NodeTraceCallback& trace, std::string* observed_ip,
                                       LiveTraffic* live, const PhaseCallback& phase) {
        return run_measurement_session(queue, session_id, cancel, trace, observed_ip, live, phase);
    };
    calls.run_host_pings = [](nlohmann::json& document, const std::atomic<bool>& cancel,
                              const std::function<void()>& save) {
        run_host_pings(document, cancel, save);
    };
    calls.trace_node = [](UploadQueue& queue, std::atomic<bool>& unavailable_seen,
                          std::atomic<bool>& result_seen, const Target& node,
                          const std::string& session_id, const std::string& phase,
                          const std::atomic<bool>& active, const std::atomic<bool>& cancel) {
        const ProbeSettings settings{"icmp", 100, false};
        write_probe_samples(queue, unavailable_seen, result_seen, node, session_id, 5, 8, 200,
                            settings, phase, &active, cancel, 1, {});
    };
    calls.upload_pending = [](UploadQueue& queue) { return upload_pending(queue); };
    return calls;
}

nlohmann::json run_desktop_test(const std::atomic<bool>& cancel, const PhaseCallback& phase,
                                LiveTraffic& live) {
    return run_desktop_test(cancel, phase, live, system_desktop_test_calls());
}

}  // namespace tarvisko
