// One TCP connect attempt to port 443 with a chosen TTL: the route trace's probe for hosts that
// drop ICMP echoes. An ICMP error on the way fails the connect, and Windows reports who sent it.
#include <chrono>
#include <stdexcept>

#include "engine/common/handle_guard.h"
#include "engine/probes/probe_platform.h"
#include "engine/probes/probes.h"

namespace tarvisko {

namespace {

constexpr int would_block = WSAEWOULDBLOCK;                  // 10035
constexpr std::uint32_t timed_out = WSAETIMEDOUT;            // 10060
constexpr std::uint32_t refused = WSAECONNREFUSED;           // 10061
constexpr std::uint32_t host_unreachable = WSAEHOSTUNREACH;  // 10065
constexpr std::uint32_t net_unreachable = WSAENETUNREACH;    // 10051
constexpr int ttl_option = 4;  // IP_TTL at IPPROTO_IP, IPV6_UNICAST_HOPS at IPPROTO_IPV6

std::uint32_t elapsed_ms(std::chrono::steady_clock::time_point start) {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
}

ProbeResult unavailable(std::uint32_t code) {
    ProbeResult result;
    result.status = "unavailable";
    result.native_code = code;
    return result;
}

// The ICMP error behind a failed connect, when Windows can tell it: "ttl_expired" or "unreachable"
// with the sender's address; otherwise "unavailable" with the connect error.
ProbeResult classify_icmp_error(SOCKET socket, const Target& target, std::uint32_t error,
                                std::chrono::steady_clock::time_point start) {
    IcmpErrorInfo info{};
    int length = sizeof info;
    if (probe_platform().get_socket_option(socket, IPPROTO_TCP, tcp_icmp_error_info,
                                           reinterpret_cast<char*>(&info), &length) != 0 ||
        length == 0 || info.srcaddress.si_family != target.address.si_family) {
        return unavailable(error);
    }
    std::string sender;
    try {
        sender = info.srcaddress.si_family == AF_INET6
                     ? address_to_text(AF_INET6, &info.srcaddress.Ipv6.sin6_addr)
                     : address_to_text(AF_INET, &info.srcaddress.Ipv4.sin_addr);
    } catch (const std::runtime_error&) {
        return unavailable(error);
    }
    const bool ipv6 = target.address.si_family == AF_INET6;
    ProbeResult result;
    if (info.type == (ipv6 ? 3 : 11) && info.code == 0) {
        result.status = "ttl_expired";
    } else if (info.type == (ipv6 ? 1 : 3)) {
        result.status = "unreachable";
    } else {
        return unavailable(error);
    }
    result.native_code = error;
    result.responder = sender;
    result.rtt_ms = elapsed_ms(start);
    return result;
}

ProbeResult classify_connect(SOCKET socket, const Target& target, std::uint32_t error,
                             std::chrono::steady_clock::time_point start) {
    ProbeResult result;
    result.native_code = error;
    switch (error) {
        case 0:
            result.status = "tcp_connected";
            break;
        case refused:
            result.status = "tcp_refused";
            break;
        case timed_out:
            result.status = "timeout";
            return result;
        case host_unreachable:
        case net_unreachable:
            return classify_icmp_error(socket, target, error, start);
        default:
            return unavailable(error);
    }
    result.responder = target.text;
    result.rtt_ms = elapsed_ms(start);
    return result;
}

ProbeResult connect_with(SOCKET socket, Target& target, std::uint32_t ttl, std::uint32_t timeout_ms,
                         std::chrono::steady_clock::time_point start) {
    const ProbePlatform& platform = probe_platform();
    const DWORD enabled = 1;
    const DWORD hops = ttl;
    const int ttl_level = target.address.si_family == AF_INET6 ? IPPROTO_IPV6 : IPPROTO_IP;
    u_long non_blocking = 1;
    if (platform.set_socket_option(socket, IPPROTO_TCP, tcp_fail_connect_on_icmp_error,
                                   reinterpret_cast<const char*>(&enabled), sizeof enabled) != 0 ||
        platform.set_socket_option(socket, ttl_level, ttl_option,
                                   reinterpret_cast<const char*>(&hops), sizeof hops) != 0 ||
        ioctlsocket(socket, FIONBIO, &non_blocking) != 0) {
        return socket_error_status();
    }

    int address_length;
    if (target.address.si_family == AF_INET6) {
        target.address.Ipv6.sin6_port = htons(443);
        address_length = sizeof(sockaddr_in6);
    } else {
        target.address.Ipv4.sin_port = htons(443);
        address_length = sizeof(sockaddr_in);
    }
    std::uint32_t error = 0;
    if (connect(socket, reinterpret_cast<const sockaddr*>(&target.address), address_length) != 0) {
        error = static_cast<std::uint32_t>(WSAGetLastError());
    }
    if (error == would_block) {
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
        timeval wait{};
        wait.tv_sec = static_cast<long>(timeout_ms / 1000);
        wait.tv_usec = static_cast<long>((timeout_ms % 1000) * 1000);
        const int ready = select(0, nullptr, &writable, &failed, &wait);
        if (ready == SOCKET_ERROR) return socket_error_status();
        if (ready == 0) {
            ProbeResult result;
            result.status = "timeout";
            result.native_code = timed_out;
            return result;
        }
        int pending = 0;
        int length = sizeof pending;
        if (platform.get_socket_option(socket, SOL_SOCKET, SO_ERROR,
                                       reinterpret_cast<char*>(&pending), &length) != 0) {
            return socket_error_status();
        }
        error = static_cast<std::uint32_t>(pending);
    }
    return classify_connect(socket, target, error, start);
}

}  // namespace

ProbeResult tcp_connect_probe(Target target, std::uint32_t ttl, std::uint32_t timeout_ms) {
    const auto start = std::chrono::steady_clock::now();
    // Closed however the probe ends, an exception included. The result is complete (the Winsock
    // error read) before the guard closes the socket.
    const HandleGuard<SOCKET> socket(::socket(target.address.si_family, SOCK_STREAM, IPPROTO_TCP),
                                     close_socket, INVALID_SOCKET);
    if (!socket.valid()) return socket_error_status();
    return connect_with(socket.get(), target, ttl, timeout_ms, start);
}

}  // namespace tarvisko
