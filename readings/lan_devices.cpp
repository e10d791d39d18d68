#include "readings/lan_devices.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "engine/common/display_text.h"
#include "engine/common/handle_guard.h"
#include "engine/common/text.h"
#include "readings/reverse_dns.h"
#include "results/format.h"

namespace tarvisko {

namespace {

constexpr int kMaxTcpAttempts = 3;

const wchar_t kDetailSources[] =
    L"\r\nHostname pochodzi z lokalnej pamięci DNS. Producent pochodzi z prefiksu adresu MAC i "
    L"bazy IEEE OUI.";
const wchar_t kDetailClosing[] =
    L"\r\nWindows pamięta ten adres w tablicy sąsiadów. Wiek wpisu i aktywność urządzenia mogą "
    L"się zmieniać.\r\nPorty z bieżących połączeń TCP. Nazwa usługi wynika z typowego użycia "
    L"numeru portu.\r\nAdres sprzętowy jest odczytem lokalnym. Pomiary zapisywane na serwerze "
    L"używają pseudonimów MAC.";

TableModel lan_table_frame() {
    TableModel model;
    model.title = reading_caption_prefix() +
                  L"Urządzenia znane karcie i połączenia TCP widoczne na tym komputerze.";
    model.columns = {{L"Adres IP", 193},      {L"Adres MAC", 148}, {L"Hostname", 167},
                     {L"Producent MAC", 155}, {L"Rola", 110},      {L"Porty TCP", 135}};
    model.kind = 0;
    return model;
}

TableModel single_row_table(std::wstring cell, std::wstring detail) {
    TableModel model = lan_table_frame();
    TableRow row;
    row.cells = {std::move(cell)};
    row.detail = std::move(detail);
    model.rows.push_back(std::move(row));
    return model;
}

// The row count of a table read into `table`, limited to the rows the buffer really holds.
template <typename Table>
std::size_t rows_in(std::span<const std::uint8_t> table) {
    if (table.size() < offsetof(Table, table)) return 0;
    DWORD count = 0;
    std::memcpy(&count, table.data(), sizeof count);
    const std::size_t room = (table.size() - offsetof(Table, table)) / sizeof(Table::table[0]);
    return std::min<std::size_t>(count, room);
}

template <typename Row>
Row row_at(std::span<const std::uint8_t> table, std::size_t header, std::size_t index) {
    Row row;
    std::memcpy(&row, table.data() + header + index * sizeof(Row), sizeof row);
    return row;
}

std::uint16_t remote_port(DWORD port) { return ntohs(static_cast<u_short>(port & 0xFFFF)); }

void add_peer(TcpPeerMap& peers, std::wstring address, std::uint32_t scope, std::uint16_t port) {
    if (address.empty() || port == 0) return;
    peers[{std::move(address), scope}].insert(port);
}

std::wstring ports_text(const TcpPeerMap& peers, const TcpPeerKey& key) {
    const auto found = peers.find(key);
    if (found == peers.end() || found->second.empty()) return L"—";
    std::wstring text;
    for (const std::uint16_t port : found->second) {
        if (!text.empty()) text += L", ";
        text += port_display_name(port);
    }
    return text;
}

bool usable_hardware_address(const MIB_IPNET_ROW2& row) {
    if (row.PhysicalAddressLength != 6) return false;
    if ((row.PhysicalAddress[0] & 0x01) != 0) return false;
    return std::any_of(row.PhysicalAddress, row.PhysicalAddress + 6,
                       [](std::uint8_t byte) { return byte != 0; });
}

bool is_link_local(const SOCKADDR_INET& address) {
    if (address.si_family != AF_INET6) return false;
    const IN6_ADDR& ip = address.Ipv6.sin6_addr;
    return ip.u.Byte[0] == 0xFE && (ip.u.Byte[1] & 0xC0) == 0x80;
}

std::wstring vendor_text(const OuiRegistry& vendors, std::span<const std::uint8_t> mac) {
    const nlohmann::json envelope = describe_hardware_address(vendors, mac);
    const nlohmann::json& value = json_member_or_null(envelope, "value");
    if (!value.is_string()) return L"Nieustalony";
    // The vendor file comes from outside the program and is taken over byte for byte.
    std::wstring vendor = sanitize_display_text(to_wide(value.get_ref<const std::string&>()));
    return vendor.empty() ? L"Nieustalony" : vendor;
}

}  // namespace

std::wstring address_text(int family, const void* address) {
    wchar_t buffer[65] = {};
    if (InetNtopW(family, address, buffer, std::size(buffer)) == nullptr) return {};
    return buffer;
}

std::wstring address_text(const SOCKADDR_INET& address) {
    if (address.si_family == AF_INET) return address_text(AF_INET, &address.Ipv4.sin_addr);
    if (address.si_family == AF_INET6) return address_text(AF_INET6, &address.Ipv6.sin6_addr);
    return {};
}

std::wstring mac_text(std::span<const std::uint8_t, 6> bytes) {
    wchar_t buffer[18] = {};
    std::swprintf(buffer, std::size(buffer), L"%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1],
                  bytes[2], bytes[3], bytes[4], bytes[5]);
    return buffer;
}

std::wstring port_display_name(std::uint16_t port) {
    switch (port) {
        case 22:
            return L"SSH (22)";
        case 53:
            return L"DNS (53)";
        case 80:
            return L"HTTP (80)";
        case 443:
            return L"HTTPS (443)";
        case 445:
            return L"SMB (445)";
        case 631:
            return L"IPP (631)";
        case 3389:
            return L"RDP (3389)";
        default:
            return std::to_wstring(port);
    }
}

void read_tcp_table(ULONG family, std::vector<std::uint8_t>& buffer, ExtendedTcpTableCall call) {
    buffer.clear();
    DWORD size = 0;
    DWORD result = call(nullptr, &size, FALSE, family, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    if (result != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > kTcpTableLimit) return;
    for (int attempt = 1; attempt <= kMaxTcpAttempts; ++attempt) {
        buffer.assign(size, 0);
        DWORD requested = size;
        result = call(buffer.data(), &requested, FALSE, family, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
        if (result == NO_ERROR) return;
        if (result != ERROR_INSUFFICIENT_BUFFER || requested == 0 || requested > kTcpTableLimit)
            break;
        size = requested;
    }
    buffer.clear();
}

void collect_tcp4_peers(std::span<const std::uint8_t> table, TcpPeerMap& peers) {
    const std::size_t count = rows_in<MIB_TCPTABLE_OWNER_PID>(table);
    for (std::size_t i = 0; i < count; ++i) {
        const auto row =
            row_at<MIB_TCPROW_OWNER_PID>(table, offsetof(MIB_TCPTABLE_OWNER_PID, table), i);
        if (row.dwState != MIB_TCP_STATE_ESTAB) continue;
        add_peer(peers, address_text(AF_INET, &row.dwRemoteAddr), 0, remote_port(row.dwRemotePort));
    }
}

void collect_tcp6_peers(std::span<const std::uint8_t> table, TcpPeerMap& peers) {
    const std::size_t count = rows_in<MIB_TCP6TABLE_OWNER_PID>(table);
    for (std::size_t i = 0; i < count; ++i) {
        const auto row =
            row_at<MIB_TCP6ROW_OWNER_PID>(table, offsetof(MIB_TCP6TABLE_OWNER_PID, table), i);
        if (row.dwState != MIB_TCP_STATE_ESTAB) continue;
        add_peer(peers, address_text(AF_INET6, row.ucRemoteAddr), row.dwRemoteScopeId,
                 remote_port(row.dwRemotePort));
    }
}

TcpPeerMap collect_tcp_connections(ExtendedTcpTableCall call) {
    TcpPeerMap peers;
    std::vector<std::uint8_t> table;
    read_tcp_table(AF_INET, table, call);
    if (!table.empty()) collect_tcp4_peers(table, peers);
    read_tcp_table(AF_INET6, table, call);
    if (!table.empty()) collect_tcp6_peers(table, peers);
    return peers;
}

GatewaySet default_gateways(std::span<const MIB_IPFORWARD_ROW2> routes) {
    GatewaySet gateways;
    for (const MIB_IPFORWARD_ROW2& route : routes) {
        if (route.DestinationPrefix.PrefixLength != 0) continue;
        gateways.emplace(route.InterfaceIndex, address_text(route.NextHop));
    }
    return gateways;
}

TableModel build_lan_devices_view(const LanReading& reading) {
    TableModel model = lan_table_frame();
    for (const MIB_IPNET_ROW2& neighbor : reading.neighbors) {
        if (model.rows.size() >= kLanDeviceLimit) break;
        if (!usable_hardware_address(neighbor)) continue;
        if (neighbor.State == NlnsUnreachable || neighbor.State == NlnsIncomplete) continue;
        const auto adapter = reading.adapters.find(neighbor.InterfaceLuid.Value);
        if (adapter == reading.adapters.end()) continue;
        std::wstring address = address_text(neighbor.Address);
        if (address.empty()) continue;

        const std::span<const std::uint8_t, 6> mac(neighbor.PhysicalAddress, 6);
        const std::uint32_t scope =
            neighbor.Address.si_family == AF_INET6 ? neighbor.Address.Ipv6.sin6_scope_id : 0;
        std::wstring ports = ports_text(reading.tcp_peers, {address, scope});
        const bool gateway =
            neighbor.IsRouter || reading.gateways.contains({neighbor.InterfaceIndex, address});
        if (scope != 0) address += L"%" + std::to_wstring(scope);
        const wchar_t* role = gateway                                ? L"Brama / router"
                              : (neighbor.PhysicalAddress[0] & 0x02) ? L"MAC lokalny"
                                                                     : L"Sąsiad";
        std::wstring host = reading.host_name ? reading.host_name(neighbor.Address) : L"";
        if (host.empty()) host = L"Brak w pamięci DNS";

        TableRow row;
        row.cells = {std::move(address),
                     mac_text(mac),
                     std::move(host),
                     vendor_text(*reading.vendors, mac),
                     role,
                     std::move(ports)};
        row.detail = L"Karta · " + adapter_alias(adapter->second);
        if (is_link_local(neighbor.Address)) {
            row.detail += L"\r\nIPv6 link-local · automatyczny adres tego łącza.";
        }
        row.detail += kDetailSources;
        row.detail += kDetailClosing;
        model.rows.push_back(std::move(row));
    }
    if (model.rows.empty()) {
        return single_row_table(L"Brak widocznych sąsiadów",
                                L"Windows nie ma dostępnych wpisów dla aktywnych kart.");
    }
    if (model.rows.size() == kLanDeviceLimit) model.title += L" Pokazano pierwsze 256 wpisów.";
    return model;
}

TableModel lan_devices_view(const IpTableCalls& calls, ExtendedTcpTableCall tcp_call) {
    MIB_IPNET_TABLE2* neighbors = nullptr;
    const DWORD result = calls.get_ip_net_table2(AF_UNSPEC, &neighbors);
    // Wine answers AF_UNSPEC with 1 and still hands back a table: free whatever came back.
    HandleGuard<void*> neighbors_guard(neighbors, calls.free_mib_table);
    // ERROR_NOT_FOUND is how the call reports an empty table, not a failure.
    if (result != NO_ERROR && result != ERROR_NOT_FOUND) {
        return single_row_table(L"Brak odczytu",
                                L"GetIpNetTable2 · kod Windows " + std::to_wstring(result));
    }

    LanReading reading;
    if (result == NO_ERROR && neighbors != nullptr) {
        reading.neighbors = {neighbors->Table, neighbors->NumEntries};
    }
    reading.tcp_peers = collect_tcp_connections(tcp_call);
    reading.adapters = active_adapters(calls);
    reading.vendors = load_oui_registry();
    MIB_IPFORWARD_TABLE2* routes = nullptr;
    const DWORD route_result = calls.get_ip_forward_table2(AF_UNSPEC, &routes);
    HandleGuard<void*> routes_guard(routes, calls.free_mib_table);
    if (route_result == NO_ERROR && routes != nullptr) {
        reading.gateways = default_gateways({routes->Table, routes->NumEntries});
    }
    reading.host_name = [](const SOCKADDR_INET& address) {
        return reverse_dns_from_cache(address);
    };
    return build_lan_devices_view(reading);
}

}  // namespace tarvisko
