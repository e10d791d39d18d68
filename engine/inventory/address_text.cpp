#include "engine/inventory/address_text.h"

namespace tarvisko {

std::string sockaddr_to_text(const SOCKADDR* address) {
    if (address == nullptr) return {};
    char text[65]{};
    const void* bytes = nullptr;
    if (address->sa_family == AF_INET) {
        bytes = &reinterpret_cast<const SOCKADDR_IN*>(address)->sin_addr;
    } else if (address->sa_family == AF_INET6) {
        bytes = &reinterpret_cast<const SOCKADDR_IN6*>(address)->sin6_addr;
    } else {
        return {};
    }
    if (inet_ntop(address->sa_family, bytes, text, sizeof text) == nullptr) return {};
    return text;
}

std::string sockaddr_to_text(const SOCKADDR_INET& address) {
    return sockaddr_to_text(reinterpret_cast<const SOCKADDR*>(&address));
}

std::string sockaddr_to_text(const SOCKET_ADDRESS& address) {
    const SOCKADDR* raw = address.lpSockaddr;
    if (raw == nullptr || address.iSockaddrLength < static_cast<INT>(sizeof(raw->sa_family))) {
        return {};
    }
    if (raw->sa_family == AF_INET &&
        address.iSockaddrLength < static_cast<INT>(sizeof(SOCKADDR_IN)))
        return {};
    if (raw->sa_family == AF_INET6 &&
        address.iSockaddrLength < static_cast<INT>(sizeof(SOCKADDR_IN6)))
        return {};
    return sockaddr_to_text(raw);
}

}  // namespace tarvisko
