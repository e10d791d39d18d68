#pragma once
// Numeric probe targets and the public-address rule.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <netioapi.h>

#include <string>

namespace tarvisko {

// One probe target: a numeric address (port 0) and its canonical inet_ntop text, without scope.
struct Target {
    SOCKADDR_INET address{};
    std::string text;
};

// Throws std::invalid_argument "IPv4 unicast required", "numeric IPv4 or IPv6 address required"
// or "unscoped IPv6 unicast required". Callers catch these to skip an address.
Target parse_ip_literal(const std::string& text);
// True when the address is globally routable.
bool is_public_address(const Target& target);

}  // namespace tarvisko
