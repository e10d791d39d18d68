#pragma once
// Winsock for the length of one run.
#include <winsock2.h>

#include <stdexcept>

namespace tarvisko {

// Starts Winsock 2.2 and cleans it up however the scope ends, so that a run that throws does not
// leave the process's Winsock reference count one too high. Throws "winsock_unavailable".
class WinsockSession {
public:
    WinsockSession() {
        WSADATA data{};
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("winsock_unavailable");
    }
    ~WinsockSession() { WSACleanup(); }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
};

}  // namespace tarvisko
