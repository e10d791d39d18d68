#pragma once
// The raw Windows calls behind the probes, and the clock that paces them, as one table. The
// default table holds the real functions; tests replace single entries to script results that
// Wine cannot produce (ICMPv6, the best-route lookup, the TCP options that report ICMP errors),
// or a clock of their own so that pacing is checked on the instants the loop schedules, and keep
// the rest real.
// Replace entries only while no probe runs.
// Winsock must come before the IP Helper headers.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <icmpapi.h>
#include <netioapi.h>
// clang-format on

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace tarvisko {

// TCP options missing from the MinGW headers.
constexpr int tcp_fail_connect_on_icmp_error = 18;
constexpr int tcp_icmp_error_info = 19;

// MinGW declares IPV6_ADDRESS_EX without packing (28 bytes); Windows packs it to 26 bytes, which
// moves every later member of the ICMPv6 reply. These are the Windows layouts.
#pragma pack(push, 1)
struct Ipv6AddressEx {
    USHORT sin6_port;
    ULONG sin6_flowinfo;
    USHORT sin6_addr[8];
    ULONG sin6_scope_id;
};
#pragma pack(pop)
static_assert(sizeof(Ipv6AddressEx) == 26);
static_assert(offsetof(Ipv6AddressEx, sin6_addr) == 6);
static_assert(offsetof(Ipv6AddressEx, sin6_scope_id) == 22);

struct Icmpv6EchoReply {
    Ipv6AddressEx Address;
    ULONG Status;
    unsigned int RoundTripTime;
};
static_assert(sizeof(Icmpv6EchoReply) == 36);
static_assert(offsetof(Icmpv6EchoReply, Status) == 28);
static_assert(offsetof(Icmpv6EchoReply, RoundTripTime) == 32);

// What TCP_ICMP_ERROR_INFO reports about the ICMP error that failed a connect.
struct IcmpErrorInfo {
    SOCKADDR_INET srcaddress;
    std::int32_t protocol;  // an IPPROTO value
    std::uint8_t type;
    std::uint8_t code;
};
static_assert(sizeof(SOCKADDR_INET) == 28);
static_assert(sizeof(IcmpErrorInfo) == 36);
static_assert(offsetof(IcmpErrorInfo, protocol) == 28);
static_assert(offsetof(IcmpErrorInfo, type) == 32);
static_assert(offsetof(IcmpErrorInfo, code) == 33);

// Synchronous sends: no event, no completion routine.
using IcmpSendEcho2Call = DWORD (*)(HANDLE handle, IPAddr destination, void* request,
                                    WORD request_size, IP_OPTION_INFORMATION* options, void* reply,
                                    DWORD reply_size, DWORD timeout_ms);
using Icmp6SendEcho2Call = DWORD (*)(HANDLE handle, sockaddr_in6* source, sockaddr_in6* destination,
                                     void* request, WORD request_size,
                                     IP_OPTION_INFORMATION* options, void* reply, DWORD reply_size,
                                     DWORD timeout_ms);
// GetBestRoute2 without interface or source: the best route and source toward destination.
using GetBestRoute2Call = DWORD (*)(const SOCKADDR_INET* destination, MIB_IPFORWARD_ROW2* route,
                                    SOCKADDR_INET* source);

struct ProbePlatform {
    HANDLE (*icmp_create_file)();
    HANDLE (*icmp6_create_file)();
    IcmpSendEcho2Call icmp_send_echo2;
    Icmp6SendEcho2Call icmp6_send_echo2;
    BOOL (*icmp_close_handle)(HANDLE handle);
    GetBestRoute2Call get_best_route2;
    int (*set_socket_option)(SOCKET socket, int level, int name, const char* value, int length);
    int (*get_socket_option)(SOCKET socket, int level, int name, char* value, int* length);
    // The probe loop's clock: the instant a probe starts, and the wait until the next is due.
    std::chrono::steady_clock::time_point (*steady_now)();
    void (*sleep_until)(std::chrono::steady_clock::time_point due);
};

// The real Windows functions.
ProbePlatform real_probe_platform();
// The table the probes call through.
ProbePlatform& probe_platform();

}  // namespace tarvisko
