// ICMP and ICMPv6 echoes with a chosen TTL, and the helpers the probes share.
#include <array>
#include <cstring>
#include <stdexcept>

#include "engine/probes/probe_platform.h"
#include "engine/probes/probes.h"

namespace tarvisko {

namespace {

constexpr std::uint32_t icmp_success = 0;
constexpr std::uint32_t icmp_dest_net_unreachable = 11002;
constexpr std::uint32_t icmp_dest_port_unreachable = 11005;
constexpr std::uint32_t icmp_request_timed_out = 11010;
constexpr std::uint32_t icmp_ttl_expired_transit = 11013;

constexpr WORD request_size = 32;
constexpr DWORD reply_size = 1024;

template <std::size_t N>
bool all_zero(const unsigned char (&bytes)[N]) {
    for (unsigned char byte : bytes) {
        if (byte != 0) return false;
    }
    return true;
}

}  // namespace

std::string address_to_text(int family, const void* address_bytes) {
    char buffer[65]{};
    if (inet_ntop(family, address_bytes, buffer, sizeof buffer) == nullptr) {
        throw std::runtime_error("InetNtopA failed");
    }
    return buffer;
}

void close_socket(SOCKET socket) {
    if (socket != INVALID_SOCKET) closesocket(socket);
}

ProbeResult socket_error_status() {
    ProbeResult result;
    result.status = "unavailable";
    result.native_code = static_cast<std::uint32_t>(WSAGetLastError());
    return result;
}

ProbeResult echo_status(std::uint32_t icmp_status, const std::string& responder,
                        std::uint32_t rtt_ms) {
    ProbeResult result;
    result.native_code = icmp_status;
    if (icmp_status == icmp_request_timed_out) {
        result.status = "timeout";
        return result;
    }
    if (responder.empty()) {
        result.status = "unavailable";
        return result;
    }
    if (icmp_status == icmp_success) {
        result.status = "echo_reply";
    } else if (icmp_status >= icmp_dest_net_unreachable &&
               icmp_status <= icmp_dest_port_unreachable) {
        result.status = "unreachable";
    } else if (icmp_status == icmp_ttl_expired_transit) {
        result.status = "ttl_expired";
    } else {
        result.status = "unavailable";
        return result;
    }
    result.responder = responder;
    result.rtt_ms = rtt_ms;
    return result;
}

EchoTarget open_echo_target(const Target& target) {
    EchoTarget echo;
    echo.target = target;
    const ProbePlatform& platform = probe_platform();
    if (target.address.si_family == AF_INET6) {
        MIB_IPFORWARD_ROW2 route{};
        const DWORD found = platform.get_best_route2(&target.address, &route, &echo.source);
        if (found != NO_ERROR) {
            echo.error = found;
            echo.source = {};
            return echo;
        }
        echo.handle = platform.icmp6_create_file();
    } else {
        echo.handle = platform.icmp_create_file();
    }
    if (echo.handle == INVALID_HANDLE_VALUE) echo.error = GetLastError();
    return echo;
}

void close_echo_target(EchoTarget& echo) {
    if (echo.handle != INVALID_HANDLE_VALUE) {
        probe_platform().icmp_close_handle(echo.handle);
        // Forget the handle so that a second close cannot close a handle reused meanwhile.
        echo.handle = INVALID_HANDLE_VALUE;
    }
}

ProbeResult send_echo(const EchoTarget& echo, std::uint8_t ttl, std::uint32_t timeout_ms) {
    if (echo.error != 0) {
        ProbeResult result;
        result.status = "unavailable";
        result.native_code = echo.error;
        return result;
    }
    const ProbePlatform& platform = probe_platform();
    std::array<unsigned char, request_size> request{};
    // DWORD-aligned, as the reply records hold 32-bit members and pointers.
    alignas(8) std::array<unsigned char, reply_size> reply{};
    IP_OPTION_INFORMATION options{};
    options.Ttl = ttl;

    if (echo.target.address.si_family == AF_INET6) {
        sockaddr_in6 source = echo.source.Ipv6;
        sockaddr_in6 destination = echo.target.address.Ipv6;
        const DWORD count =
            platform.icmp6_send_echo2(echo.handle, &source, &destination, request.data(),
                                      request_size, &options, reply.data(), reply_size, timeout_ms);
        if (count == 0) return echo_status(GetLastError(), "", 0);
        Icmpv6EchoReply first;
        std::memcpy(&first, reply.data(), sizeof first);
        unsigned char address[16];
        std::memcpy(address, first.Address.sin6_addr, sizeof address);
        const std::string responder = all_zero(address) ? "" : address_to_text(AF_INET6, address);
        return echo_status(first.Status, responder, first.RoundTripTime);
    }

    const IPAddr destination = echo.target.address.Ipv4.sin_addr.s_addr;
    const DWORD count =
        platform.icmp_send_echo2(echo.handle, destination, request.data(), request_size, &options,
                                 reply.data(), reply_size, timeout_ms);
    if (count == 0) return echo_status(GetLastError(), "", 0);
    ICMP_ECHO_REPLY first;
    std::memcpy(&first, reply.data(), sizeof first);
    unsigned char address[4];
    std::memcpy(address, &first.Address, sizeof address);
    const std::string responder = all_zero(address) ? "" : address_to_text(AF_INET, address);
    return echo_status(first.Status, responder, first.RoundTripTime);
}

}  // namespace tarvisko
