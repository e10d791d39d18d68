#pragma once
// A socket-address record from an address literal, as the neighbour table and the DNS look-ups
// take it; family 0 when the text is no literal.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <netioapi.h>
// clang-format on

namespace tarvisko::test {

inline SOCKADDR_INET socket_address(const char* text, ULONG scope = 0) {
    SOCKADDR_INET address{};
    if (inet_pton(AF_INET, text, &address.Ipv4.sin_addr) == 1) {
        address.si_family = AF_INET;
    } else if (inet_pton(AF_INET6, text, &address.Ipv6.sin6_addr) == 1) {
        address.si_family = AF_INET6;
        address.Ipv6.sin6_scope_id = scope;
    }
    return address;
}

}  // namespace tarvisko::test
