#include "engine/probes/probe_platform.h"

#include <thread>

namespace tarvisko {

namespace {

HANDLE real_icmp_create_file() { return IcmpCreateFile(); }
HANDLE real_icmp6_create_file() { return Icmp6CreateFile(); }

DWORD real_icmp_send_echo2(HANDLE handle, IPAddr destination, void* request, WORD request_size,
                           IP_OPTION_INFORMATION* options, void* reply, DWORD reply_size,
                           DWORD timeout_ms) {
    return IcmpSendEcho2(handle, nullptr, nullptr, nullptr, destination, request, request_size,
                         options, reply, reply_size, timeout_ms);
}

DWORD real_icmp6_send_echo2(HANDLE handle, sockaddr_in6* source, sockaddr_in6* destination,
                            void* request, WORD request_size, IP_OPTION_INFORMATION* options,
                            void* reply, DWORD reply_size, DWORD timeout_ms) {
    return Icmp6SendEcho2(handle, nullptr, nullptr, nullptr, source, destination, request,
                          request_size, options, reply, reply_size, timeout_ms);
}

BOOL real_icmp_close_handle(HANDLE handle) { return IcmpCloseHandle(handle); }

DWORD real_get_best_route2(const SOCKADDR_INET* destination, MIB_IPFORWARD_ROW2* route,
                           SOCKADDR_INET* source) {
    return GetBestRoute2(nullptr, 0, nullptr, destination, 0, route, source);
}

int real_set_socket_option(SOCKET socket, int level, int name, const char* value, int length) {
    return setsockopt(socket, level, name, value, length);
}

int real_get_socket_option(SOCKET socket, int level, int name, char* value, int* length) {
    return getsockopt(socket, level, name, value, length);
}

}  // namespace

std::chrono::steady_clock::time_point real_steady_now() {
    return std::chrono::steady_clock::now();
}

void real_sleep_until(std::chrono::steady_clock::time_point due) {
    std::this_thread::sleep_until(due);
}

ProbePlatform real_probe_platform() {
    return {real_icmp_create_file,  real_icmp6_create_file, real_icmp_send_echo2,
            real_icmp6_send_echo2,  real_icmp_close_handle, real_get_best_route2,
            real_set_socket_option, real_get_socket_option, real_steady_now,
            real_sleep_until};
}

ProbePlatform& probe_platform() {
    static ProbePlatform table = real_probe_platform();
    return table;
}

}  // namespace tarvisko
