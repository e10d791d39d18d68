#pragma once
// Five echoes to the local gateway on the route to the measurement node, then five to the node,
// written into the "host_pings" member of the throughput document. The document is saved after
// every echo so that the recording always holds the latest state.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <netioapi.h>
// clang-format on

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/common/address.h"
#include "engine/probes/probe_samples.h"
#include "engine/probes/probes.h"

namespace tarvisko {

// What GetBestRoute2 said about the route toward one destination.
struct BestRouteReading {
    bool ok = false;  // false when the lookup failed
    SOCKADDR_INET source{};
    SOCKADDR_INET next_hop{};
    std::uint32_t interface_index = 0;
};

// The gateway that the series pings, or why there is none.
struct GatewayCheck {
    Target gateway;
    bool found = false;
    std::string reason;  // empty when found
};

// The echo, route and sleep calls of the series. The product uses the system ones; tests feed
// recorded answers, since Wine has neither GetBestRoute2 nor ICMP outside a namespace.
struct HostPingCalls {
    ProbeOperations probes;  // only the echo functions are used
    std::function<BestRouteReading(const Target& node)> read_best_route;
    std::function<void(std::chrono::milliseconds)> sleep;
};

HostPingCalls system_host_ping_calls();

struct PingSeriesContext {
    nlohmann::json& host_pings;
    const std::atomic<bool>& cancel;
    const std::function<void()>& save;
    const HostPingCalls& calls;
};

// Fills document["host_pings"] from the document's "peer" and "reservation_local_ip". Throws when
// "peer" is not a numeric address, when `save` is empty or when a save fails.
void run_host_pings(nlohmann::json& document, const std::atomic<bool>& cancel,
                    const std::function<void()>& save);
void run_host_pings(nlohmann::json& document, const std::atomic<bool>& cancel,
                    const std::function<void()>& save, const HostPingCalls& calls);

// Runs one series ("gateway" or "node") into context.host_pings[name].
void run_ping_series(const PingSeriesContext& context, const std::string& name,
                     const Target& target);

// The system's best route toward the node (GetBestRoute2).
BestRouteReading read_best_route(const Target& node);
// The gateway toward the node, given the route reading and the local address of the reservation.
GatewayCheck check_best_route(const BestRouteReading& route, const Target& node,
                              const std::string& local_address);
GatewayCheck check_best_route(const Target& node, const std::string& local_address);

}  // namespace tarvisko
