// Accuracy of the full test on a shaped path (run by tools/bench/accuracy.sh inside the namespace
// chain of tools/netns/with-node): configures the simulated node for a windowed transfer that can
// fill the shaped rate, runs the whole diagnostics test and prints one JSON line with the
// program's download and upload rates, its idle and loaded latency medians and when each phase
// began (Unix time in seconds), so that the script can set a ping taken meanwhile beside them.
//
//   desktop_accuracy.exe RATE_MBIT
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/common/text.h"
#include "engine/runs/desktop_test.h"
#include "engine/throughput/live_progress.h"
#include "support/simulator_client.h"
#include "support/test_support.h"

namespace {

double rate_mbps(const nlohmann::json& transfer) {
    const double ms = transfer.value("duration_ms", 0.0);
    return ms > 0 ? transfer.value("client_bytes", 0.0) * 8.0 / ms / 1000.0 : 0.0;
}

double median_ms(const nlohmann::json& phases, std::initializer_list<const char*> names) {
    std::vector<double> values;
    for (const char* phase : names) {
        for (const nlohmann::json& sample : phases.at(phase)) {
            if (sample["error"].is_null()) values.push_back(sample["ms"].get<double>());
        }
    }
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The wall clock as Unix seconds, the clock ping -D prints.
double unix_seconds() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const auto ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ULL) / 1e7;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvisko;
    if (argc != 2) {
        std::fprintf(stderr, "usage: desktop_accuracy RATE_MBIT\n");
        return 2;
    }
    try {
        const double rate = std::stod(argv[1]) * 1e6;
        test::simulator_reset_when_ready(20);
        // Four streams for four seconds with a budget of twice what the link can carry, so the
        // link and not the budget ends the window.
        const auto budget = static_cast<std::int64_t>(std::min(rate / 8 * 4 * 2, 536870912.0));
        test::simulator_control("POST", "node/config",
                                {{"profile",
                                  {{"mode", "windowed"},
                                   {"bytes", std::max<std::int64_t>(budget, 65536)},
                                   {"rate_bps", 1'000'000'000},
                                   {"deadline_s", 60},
                                   {"window_ms", 4000},
                                   {"streams", 4}}}});
        const test::TempDir directory;
        const std::wstring origin = to_wide(test::simulator_origin());
        const test::ScopedEnv queue_dir{L"QUORVEL_QUEUE_DIR", directory.path().wstring()};
        const test::ScopedEnv node_origin{L"QUORVEL_NODE_ORIGIN", origin};
        const test::ScopedEnv api_origin{L"QUORVEL_API_ORIGIN", origin};
        const test::ScopedEnv token{L"QUORVEL_TOKEN", std::wstring(40, L't')};
        const test::ScopedEnv node_token{L"QUORVEL_NODE_TOKEN", std::wstring(40, L'n')};
        const test::ScopedEnv portal{L"QUORVEL_PORTAL_RESERVATION", nullptr};
        LiveTraffic live;
        std::atomic<bool> cancel{false};
        nlohmann::json phase_at = nlohmann::json::object();
        const nlohmann::json report = run_desktop_test(
            cancel, [&](const std::string& phase) { phase_at[phase] = unix_seconds(); }, live);
        const nlohmann::json& throughput = report["throughput"];
        const nlohmann::json line{{"state", report["state"]},
                                  {"error", throughput["error"]},
                                  {"download_mbps", rate_mbps(throughput["transfers"]["download"])},
                                  {"upload_mbps", rate_mbps(throughput["transfers"]["upload"])},
                                  {"idle_ms", median_ms(throughput["phases"], {"baseline", "recovery"})},
                                  {"loaded_ms", median_ms(throughput["phases"], {"download", "upload"})},
                                  {"phase_at", phase_at}};
        std::printf("%s\n", line.dump().c_str());
        return 0;
    } catch (const std::exception& error) {
        std::printf("%s\n", nlohmann::json{{"error", error.what()}}.dump().c_str());
        return 1;
    }
}
