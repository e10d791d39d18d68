#pragma once
// Address texts of the inventory: the numeric form inet_ntop writes, without port or zone.
// Winsock must come before the IP Helper headers.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <netioapi.h>
// clang-format on

#include <string>

namespace tarvisko {

// AF_INET and AF_INET6 addresses as inet_ntop writes them into a 65-byte buffer; any other
// family, no address or a failed conversion give the empty text.
std::string sockaddr_to_text(const SOCKADDR* address);
std::string sockaddr_to_text(const SOCKADDR_INET& address);
// As above; also empty when the recorded length is too short for the family's structure.
std::string sockaddr_to_text(const SOCKET_ADDRESS& address);

}  // namespace tarvisko
