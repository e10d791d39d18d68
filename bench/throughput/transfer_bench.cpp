// Throughput of the program's transfer code against a measurement node (the provider simulator in
// the benchmark script). Reserves a run directly, runs one transfer in the mode the node's profile
// grants and prints one JSON line with the rate and the process's CPU time.
//
//   transfer_bench.exe ORIGIN download|upload
#include <windows.h>

#include <cstdio>
#include <string>

#include "engine/common/ids.h"
#include "engine/common/text.h"
#include "engine/throughput/transfers.h"

namespace {

double process_cpu_seconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1.0;
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvisko;
    if (argc != 3) {
        std::fprintf(stderr, "usage: transfer_bench ORIGIN download|upload\n");
        return 2;
    }
    const std::wstring origin = to_wide(argv[1]);
    const std::string direction = argv[2];
    try {
        const std::string session_id = new_uuid_text();
        NodeClient main_client = open_node_client(session_id, origin);
        InternetHandle request =
            send_node_request(main_client, L"POST", L"", std::wstring(40, L'b'), 0);
        receive_node_response(main_client, request.get(), 201);
        const nlohmann::json reply = read_node_reply(request.get(), 8192);
        const std::wstring ticket = to_wide(reply.at("ticket").get<std::string>());
        const nlohmann::json& profile = reply.at("profile");

        NodeClient client = open_node_client(session_id, origin);
        client.expected_peer = main_client.expected_peer;
        std::atomic<bool> cancel{false};
        TransferProgress progress;
        nlohmann::json result = new_transfer_result();
        const SteadyTime deadline =
            std::chrono::steady_clock::now() +
            std::chrono::seconds(profile.at("deadline_s").get<std::uint64_t>());
        const double cpu_before = process_cpu_seconds();
        run_transfer_thread(TransferJob{profile.value("mode", "") == "windowed", session_id, origin,
                                        client, ticket, direction, profile, deadline, cancel,
                                        progress, result, profile.at("bytes").get<std::uint64_t>(),
                                        profile.at("rate_bps").get<std::uint64_t>()});
        const double cpu = process_cpu_seconds() - cpu_before;
        const double bytes = result["client_bytes"].get<double>();
        const double ms = result["duration_ms"].get<double>();
        nlohmann::json line = {{"mode", profile.value("mode", "whole")},
                               {"direction", direction},
                               {"status", result["status"]},
                               {"reason", result["reason"]},
                               {"client_bytes", result["client_bytes"]},
                               {"node_bytes", result["node_bytes"]},
                               {"duration_ms", ms},
                               {"mbps", ms > 0 ? bytes * 8 / ms / 1000.0 : 0.0},
                               {"cpu_s", cpu}};
        std::printf("%s\n", line.dump().c_str());
        return result["status"] == "ok" ? 0 : 1;
    } catch (const std::exception& e) {
        std::printf("{\"error\":\"%s\"}\n", e.what());
        return 1;
    }
}
