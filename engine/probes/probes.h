#pragma once
// Single-shot ICMP/ICMPv6 echoes and TCP connect probes. Probes never throw for network
// outcomes: every failure is a result with the status "unavailable" and the Windows error code.
// Winsock must have been started by the caller.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <string>

#include "engine/common/address.h"

namespace tarvisko {

// One probe's outcome, in the program's own status words.
struct ProbeResult {
    std::string status;  // "echo_reply", "ttl_expired", "unreachable", "timeout", "unavailable",
                         // "tcp_connected", "tcp_refused"
    std::uint32_t native_code = 0;  // ICMP status, Winsock error, or 0
    std::string responder;          // numeric address of the answering host; empty when none
    std::uint32_t rtt_ms = 0;       // 0 when there is no responder
};

// An open echo channel to one target; owned by the probe loop that opened it.
struct EchoTarget {
    Target target;
    HANDLE handle = INVALID_HANDLE_VALUE;
    SOCKADDR_INET source{};   // local source of IPv6 echoes; zero for IPv4
    std::uint32_t error = 0;  // 0 when usable, else the Windows error that prevented it
};

EchoTarget open_echo_target(const Target& target);
void close_echo_target(EchoTarget& echo);
ProbeResult send_echo(const EchoTarget& echo, std::uint8_t ttl, std::uint32_t timeout_ms);
ProbeResult echo_status(std::uint32_t icmp_status, const std::string& responder,
                        std::uint32_t rtt_ms);
// One TCP connect attempt to port 443 of the target with the given TTL.
ProbeResult tcp_connect_probe(Target target, std::uint32_t ttl, std::uint32_t timeout_ms);
ProbeResult socket_error_status();
// inet_ntop into 65 bytes; throws "InetNtopA failed".
std::string address_to_text(int family, const void* address_bytes);
void close_socket(SOCKET socket);

}  // namespace tarvisko
