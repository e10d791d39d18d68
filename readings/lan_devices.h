#pragma once
// The "Sieć lokalna" page: the devices of the neighbour table on active adapters, with vendor,
// cached host name, role and the remote TCP ports of this computer's connections to them.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/inventory/ip_tables.h"
#include "engine/inventory/oui_registry.h"
#include "readings/computer_state.h"
#include "readings/dns_calls.h"
#include "results/table_model.h"

namespace tarvisko {

inline constexpr std::size_t kLanDeviceLimit = 256;
// A TCP table is never read into a bigger buffer.
inline constexpr std::uint32_t kTcpTableLimit = 64u * 1024 * 1024;

// {remote address text, scope id} -> remote ports of established connections. IPv4 keys have
// scope 0; IPv6 keys the connection's remote scope id.
using TcpPeerKey = std::pair<std::wstring, std::uint32_t>;
using TcpPeerMap = std::map<TcpPeerKey, std::set<std::uint16_t>>;

// {interface index, next-hop address text} of every default route.
using GatewaySet = std::set<std::pair<std::uint32_t, std::wstring>>;

using ExtendedTcpTableCall = decltype(&GetExtendedTcpTable);

// An IPv4 (2) or IPv6 (23) address as InetNtopW writes it; empty when that fails.
std::wstring address_text(int family, const void* address);
// The address of a socket-address record, without scope.
std::wstring address_text(const SOCKADDR_INET& address);
// "00:1A:2B:3C:4D:5E".
std::wstring mac_text(std::span<const std::uint8_t, 6> bytes);
// "HTTPS (443)" for the well-known services, else the number.
std::wstring port_display_name(std::uint16_t port);

// The connection table of one family (2 or 23) with owning processes; empty when it cannot be
// read in at most three sized attempts within 64 MiB.
void read_tcp_table(ULONG family, std::vector<std::uint8_t>& buffer,
                    ExtendedTcpTableCall call = &GetExtendedTcpTable);
// Add the established connections of a table read by read_tcp_table to the map; rows beyond the
// buffer's end are ignored.
void collect_tcp4_peers(std::span<const std::uint8_t> table, TcpPeerMap& peers);
void collect_tcp6_peers(std::span<const std::uint8_t> table, TcpPeerMap& peers);
// IPv4 first, then IPv6.
TcpPeerMap collect_tcp_connections(ExtendedTcpTableCall call = &GetExtendedTcpTable);

// The default routes of a route table as gateway entries.
GatewaySet default_gateways(std::span<const MIB_IPFORWARD_ROW2> routes);

// What the table is built from, read once per call.
struct LanReading {
    std::span<const MIB_IPNET_ROW2> neighbors;  // in the order Windows returned them
    TcpPeerMap tcp_peers;
    AdapterSnapshot adapters;
    std::shared_ptr<const OuiRegistry> vendors = std::make_shared<const OuiRegistry>();
    GatewaySet gateways;
    // The cached host name of a neighbour's address, empty when none.
    std::function<std::wstring(const SOCKADDR_INET&)> host_name;
};

// The page's table from a reading: at most 256 rows in neighbour-table order, or the one row
// "Brak widocznych sąsiadów".
TableModel build_lan_devices_view(const LanReading& reading);

// Reads Windows' tables and builds the page's table. A failed neighbour table gives the one row
// "Brak odczytu" with the Windows code; other failed reads only leave their part out.
TableModel lan_devices_view(const IpTableCalls& calls = windows_ip_table_calls(),
                            ExtendedTcpTableCall tcp_call = &GetExtendedTcpTable);

}  // namespace tarvisko
