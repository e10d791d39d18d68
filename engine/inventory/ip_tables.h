#pragma once
// The IP Helper table calls of the inventory, behind one injectable table of functions: tests
// hand in recorded tables (and Wine's odd answers) without replacing the real calls.
// Winsock must come before the IP Helper headers.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>
// clang-format on

namespace tarvisko {

struct IpTableCalls {
    decltype(&GetIpNetTable2) get_ip_net_table2 = nullptr;
    decltype(&GetIpForwardTable2) get_ip_forward_table2 = nullptr;
    decltype(&GetIfTable2) get_if_table2 = nullptr;
    // Releases every table the three calls hand back, whatever they answered.
    decltype(&FreeMibTable) free_mib_table = nullptr;
};

// The real IP Helper functions.
const IpTableCalls& windows_ip_table_calls();

}  // namespace tarvisko
