#include "engine/runs/host_pings.h"

// clang-format off
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <stdexcept>
#include <thread>

#include "engine/common/ids.h"

namespace tarvisko {

namespace {

constexpr int planned_echoes = 5;
constexpr std::uint32_t echo_timeout_ms = 400;
constexpr std::uint8_t echo_ttl = 64;
constexpr std::chrono::milliseconds echo_pause{100};

// Numeric text of an address; empty when the family is neither IPv4 nor IPv6 or the conversion
// fails.
std::string sockaddr_text(const SOCKADDR_INET& address) {
    try {
        if (address.si_family == AF_INET) return address_to_text(AF_INET, &address.Ipv4.sin_addr);
        if (address.si_family == AF_INET6) {
            return address_to_text(AF_INET6, &address.Ipv6.sin6_addr);
        }
    } catch (const std::exception&) {
    }
    return {};
}

bool is_ipv6_link_local(const SOCKADDR_INET& address) {
    return address.si_family == AF_INET6 && address.Ipv6.sin6_addr.s6_addr[0] == 0xFE &&
           (address.Ipv6.sin6_addr.s6_addr[1] & 0xC0) == 0x80;
}

nlohmann::json untried_series() {
    return {{"target", nullptr},
            {"planned", planned_echoes},
            {"timeout_ms", echo_timeout_ms},
            {"reason", "no_reservation"},
            {"samples", nlohmann::json::array()}};
}

void save_or_throw(const std::function<void()>& save) {
    if (!save) throw std::invalid_argument("host ping save callback required");
    save();
}

}  // namespace

HostPingCalls system_host_ping_calls() {
    HostPingCalls calls;
    calls.probes = real_probe_operations();
    calls.read_best_route = [](const Target& node) { return read_best_route(node); };
    calls.sleep = [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); };
    return calls;
}

BestRouteReading read_best_route(const Target& node) {
    BestRouteReading reading;
    MIB_IPFORWARD_ROW2 row{};
    SOCKADDR_INET source{};
    if (GetBestRoute2(nullptr, 0, nullptr, &node.address, 0, &row, &source) != NO_ERROR) {
        return reading;
    }
    reading.ok = true;
    reading.source = source;
    reading.next_hop = row.NextHop;
    reading.interface_index = row.InterfaceIndex;
    return reading;
}

GatewayCheck check_best_route(const BestRouteReading& route, const Target& node,
                              const std::string& local_address) {
    GatewayCheck check;
    if (!route.ok) {
        check.reason = "route_lookup_failed";
        return check;
    }
    if (sockaddr_text(route.source) != local_address) {
        // The route to the node no longer leaves from the address that made the reservation.
        check.reason = "route_changed";
        return check;
    }
    const std::string hop = sockaddr_text(route.next_hop);
    if (route.next_hop.si_family != node.address.si_family || hop.empty() || hop == "::" ||
        hop == "0.0.0.0" || hop == node.text) {
        check.reason = "no_separate_gateway";
        return check;
    }
    if (is_ipv6_link_local(route.next_hop)) {
        if (route.interface_index == 0) {
            check.reason = "missing_interface_scope";
            return check;
        }
        check.gateway.address = route.next_hop;
        check.gateway.address.Ipv6.sin6_port = 0;
        check.gateway.address.Ipv6.sin6_flowinfo = 0;
        check.gateway.address.Ipv6.sin6_scope_id = route.interface_index;
        check.gateway.text = hop;
        check.found = true;
        return check;
    }
    try {
        check.gateway = parse_ip_literal(hop);
        check.found = true;
    } catch (const std::exception&) {
        check.reason = "invalid_gateway";
    }
    return check;
}

GatewayCheck check_best_route(const Target& node, const std::string& local_address) {
    return check_best_route(read_best_route(node), node, local_address);
}

void run_ping_series(const PingSeriesContext& context, const std::string& name,
                     const Target& target) {
    nlohmann::json& series = context.host_pings[name];
    EchoTarget echo = context.calls.probes.open_echo_target(target);
    // The echo channel is closed on every way out, a failing save included.
    struct CloseEcho {
        const HostPingCalls& calls;
        EchoTarget& echo;
        ~CloseEcho() { calls.probes.close_echo_target(echo); }
    } close_echo{context.calls, echo};

    for (int i = 0; i < planned_echoes; ++i) {
        if (context.cancel.load()) break;
        nlohmann::json sample;
        sample["at"] = utc_timestamp_now();
        ProbeResult result = context.calls.probes.send_echo(echo, echo_ttl, echo_timeout_ms);
        if (result.status == "echo_reply" && result.responder != target.text) {
            result.status = "other_responder";
        }
        sample["native_code"] = result.native_code;
        sample["responder"] =
            result.responder.empty() ? nlohmann::json(nullptr) : nlohmann::json(result.responder);
        sample["rtt_ms"] =
            result.status == "echo_reply" ? nlohmann::json(result.rtt_ms) : nlohmann::json(nullptr);
        sample["status"] = result.status;
        series["samples"].push_back(std::move(sample));
        save_or_throw(context.save);
        if (i < planned_echoes - 1 && !context.cancel.load()) context.calls.sleep(echo_pause);
    }
    series["reason"] = series["samples"].size() == planned_echoes ? nlohmann::json(nullptr)
                                                                  : nlohmann::json("cancelled");
    save_or_throw(context.save);
}

void run_host_pings(nlohmann::json& document, const std::atomic<bool>& cancel,
                    const std::function<void()>& save) {
    run_host_pings(document, cancel, save, system_host_ping_calls());
}

void run_host_pings(nlohmann::json& document, const std::atomic<bool>& cancel,
                    const std::function<void()>& save, const HostPingCalls& calls) {
    if (!save) throw std::invalid_argument("host ping save callback required");
    document["host_pings"] = {{"gateway", untried_series()}, {"node", untried_series()}};
    nlohmann::json& host_pings = document["host_pings"];

    const auto peer = document.find("peer");
    if (peer == document.end() || !peer->is_string()) {
        save();
        return;
    }
    const Target node = parse_ip_literal(peer->get<std::string>());
    std::string local_address;
    const auto local = document.find("reservation_local_ip");
    if (local != document.end() && local->is_object()) {
        const auto value = local->find("value");
        if (value != local->end() && value->is_string()) local_address = value->get<std::string>();
    }
    const GatewayCheck route = check_best_route(calls.read_best_route(node), node, local_address);

    host_pings["node"]["target"] = node.text;
    host_pings["node"]["reason"] = "interrupted";
    if (route.found) {
        host_pings["gateway"]["reason"] = "interrupted";
        host_pings["gateway"]["target"] = route.gateway.text;
    } else {
        host_pings["gateway"]["reason"] = route.reason;
    }
    save();

    const PingSeriesContext context{host_pings, cancel, save, calls};
    if (route.found) run_ping_series(context, "gateway", route.gateway);
    run_ping_series(context, "node", node);
    save();
}

}  // namespace tarvisko
