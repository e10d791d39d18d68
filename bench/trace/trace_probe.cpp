// The program's own route trace on the command line, for tools/compare/compare-trace: runs the
// probe loop with the real probes toward one numeric address and prints every sample line, then
// the wall time of the whole loop.
//
//   trace_probe.exe ADDRESS icmp|tcp ATTEMPTS MAX_TTL TIMEOUT_MS INTERVAL_MS
#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "engine/common/address.h"
#include "engine/probes/probe_samples.h"

int main(int argc, char** argv) {
    using namespace tarvisko;
    if (argc != 7) {
        std::fprintf(
            stderr,
            "usage: trace_probe ADDRESS icmp|tcp ATTEMPTS MAX_TTL TIMEOUT_MS INTERVAL_MS\n");
        return 2;
    }
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
    try {
        const Target target = parse_ip_literal(argv[1]);
        std::atomic<bool> unavailable{false}, result{false}, cancel{false};
        ProbeLoop loop;
        loop.target = &target;
        loop.session_id = "00000000-0000-0000-0000-000000000000";
        loop.settings.protocol = argv[2];
        loop.attempts = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
        loop.max_ttl = static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 10));
        loop.timeout_ms = static_cast<std::int32_t>(std::strtol(argv[5], nullptr, 10));
        loop.settings.interval_ms = static_cast<std::uint32_t>(std::strtoul(argv[6], nullptr, 10));
        loop.phase = "baseline";
        loop.cancel = &cancel;
        const SampleStore print = [](const std::string&, const std::string& line) {
            std::printf("%s\n", line.c_str());
        };
        const auto started = std::chrono::steady_clock::now();
        run_probe_loop(print, real_probe_operations(), unavailable, result, loop);
        const auto elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
        std::printf("WALL_SECONDS=%.3f\n", elapsed.count());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "trace_probe: %s\n", e.what());
        WSACleanup();
        return 1;
    }
    WSACleanup();
    return 0;
}
