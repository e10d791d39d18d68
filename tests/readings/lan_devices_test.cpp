#include "readings/lan_devices.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dns_fake.h"
#include "engine/common/text.h"
#include "engine/common/winsock_session.h"
#include "ip_table_fake.h"
#include "socket_address.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using Mac = std::array<std::uint8_t, 6>;
using test::interface_row;
using test::socket_address;

constexpr Mac kAcme{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
constexpr Mac kRouterMac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
constexpr Mac kLocalMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

const std::wstring kDetailTail =
    L"\r\nHostname pochodzi z lokalnej pamięci DNS. Producent pochodzi z prefiksu adresu MAC i "
    L"bazy IEEE OUI.\r\nWindows pamięta ten adres w tablicy sąsiadów. Wiek wpisu i aktywność "
    L"urządzenia mogą się zmieniać.\r\nPorty z bieżących połączeń TCP. Nazwa usługi wynika z "
    L"typowego użycia numeru portu.\r\nAdres sprzętowy jest odczytem lokalnym. Pomiary "
    L"zapisywane na serwerze używają pseudonimów MAC.";
const std::wstring kTitleTail =
    L"Urządzenia znane karcie i połączenia TCP widoczne na tym komputerze.";

struct NeighborFields {
    const char* address;
    Mac mac = kAcme;
    ULONG64 luid = 2;
    ULONG scope = 0;
    NL_NEIGHBOR_STATE state = NlnsReachable;
    bool router = false;
    ULONG mac_length = 6;
};

MIB_IPNET_ROW2 neighbor(const NeighborFields& fields) {
    MIB_IPNET_ROW2 row{};
    row.Address = socket_address(fields.address, fields.scope);
    row.InterfaceLuid.Value = fields.luid;
    row.InterfaceIndex = static_cast<NET_IFINDEX>(fields.luid);
    std::memcpy(row.PhysicalAddress, fields.mac.data(), fields.mac.size());
    row.PhysicalAddressLength = fields.mac_length;
    row.State = fields.state;
    row.IsRouter = fields.router;
    return row;
}

MIB_IPFORWARD_ROW2 route(const char* prefix, UINT8 length, const char* next_hop,
                         NET_IFINDEX index) {
    MIB_IPFORWARD_ROW2 row{};
    row.DestinationPrefix.Prefix = socket_address(prefix);
    row.DestinationPrefix.PrefixLength = length;
    row.NextHop = socket_address(next_hop);
    row.InterfaceIndex = index;
    return row;
}

// A connection table as GetExtendedTcpTable writes it: the row count, then the rows.
template <typename Row>
std::vector<std::uint8_t> tcp_table(const std::vector<Row>& rows, DWORD claimed) {
    std::vector<std::uint8_t> buffer(sizeof(DWORD) + rows.size() * sizeof(Row));
    std::memcpy(buffer.data(), &claimed, sizeof claimed);
    if (!rows.empty())
        std::memcpy(buffer.data() + sizeof(DWORD), rows.data(), rows.size() * sizeof(Row));
    return buffer;
}

MIB_TCPROW_OWNER_PID tcp4(const char* remote, std::uint16_t port,
                          DWORD state = MIB_TCP_STATE_ESTAB) {
    MIB_TCPROW_OWNER_PID row{};
    row.dwState = state;
    inet_pton(AF_INET, remote, &row.dwRemoteAddr);
    row.dwRemotePort = htons(port);
    return row;
}

MIB_TCP6ROW_OWNER_PID tcp6(const char* remote, DWORD scope, std::uint16_t port,
                           DWORD state = MIB_TCP_STATE_ESTAB) {
    MIB_TCP6ROW_OWNER_PID row{};
    row.dwState = state;
    inet_pton(AF_INET6, remote, row.ucRemoteAddr);
    row.dwRemoteScopeId = scope;
    row.dwRemotePort = htons(port);
    return row;
}

TEST(LanTexts, AddressesMacsAndPortNames) {
    const SOCKADDR_INET v4 = socket_address("192.0.2.1");
    const SOCKADDR_INET v6 = socket_address("fe80::1", 12);
    EXPECT_EQ(address_text(v4), L"192.0.2.1");
    EXPECT_EQ(address_text(v6), L"fe80::1");  // without the scope
    EXPECT_EQ(address_text(SOCKADDR_INET{}), L"");
    EXPECT_EQ(address_text(99, &v4.Ipv4.sin_addr), L"");
    EXPECT_EQ(mac_text(kAcme), L"00:1A:2B:3C:4D:5E");
    EXPECT_EQ(mac_text(Mac{0xFF, 0xA0, 0x0B, 0, 0, 0x0F}), L"FF:A0:0B:00:00:0F");

    const std::pair<std::uint16_t, const wchar_t*> ports[] = {
        {22, L"SSH (22)"},   {53, L"DNS (53)"},   {80, L"HTTP (80)"},    {443, L"HTTPS (443)"},
        {445, L"SMB (445)"}, {631, L"IPP (631)"}, {3389, L"RDP (3389)"}, {8443, L"8443"},
        {1, L"1"},           {65535, L"65535"}};
    for (const auto& [port, text] : ports) EXPECT_EQ(port_display_name(port), text) << port;
}

// GetExtendedTcpTable answering from a script of {result, size}.
struct TcpScript {
    static inline std::vector<std::pair<DWORD, DWORD>> steps;
    static inline std::vector<DWORD> offered;  // buffer size handed in, 0 for the size query
    static inline bool wrong_arguments = false;

    static DWORD WINAPI call(PVOID table, PDWORD size, WINBOOL order, ULONG family,
                             TCP_TABLE_CLASS table_class, ULONG) {
        if (order != FALSE || family != AF_INET6 || table_class != TCP_TABLE_OWNER_PID_CONNECTIONS)
            wrong_arguments = true;
        offered.push_back(table == nullptr ? 0 : *size);
        const auto [result, new_size] = steps.at(offered.size() - 1);
        *size = new_size;
        return result;
    }
};

TEST(ReadTcpTable, SizedAttemptsWithinTheLimit) {
    constexpr DWORD kLimit = 64u * 1024 * 1024;
    constexpr DWORD kMore = ERROR_INSUFFICIENT_BUFFER;
    const struct {
        const char* name;
        std::vector<std::pair<DWORD, DWORD>> steps;
        std::size_t size;  // of the buffer afterwards
    } cases[] = {
        {"size query refused", {{ERROR_INVALID_PARAMETER, 100}}, 0},
        {"size query answered without error", {{NO_ERROR, 100}}, 0},
        {"size 0", {{kMore, 0}}, 0},
        {"over 64 MiB", {{kMore, kLimit + 1}}, 0},
        {"first read", {{kMore, 100}, {NO_ERROR, 100}}, 100},
        {"exactly 64 MiB", {{kMore, kLimit}, {NO_ERROR, kLimit}}, kLimit},
        {"grew twice", {{kMore, 100}, {kMore, 200}, {kMore, 300}, {NO_ERROR, 300}}, 300},
        {"three attempts used up", {{kMore, 100}, {kMore, 200}, {kMore, 300}, {kMore, 400}}, 0},
        {"grew past 64 MiB", {{kMore, 100}, {kMore, kLimit + 1}}, 0},
        {"other error", {{kMore, 100}, {ERROR_NOT_SUPPORTED, 100}}, 0},
    };
    for (const auto& c : cases) {
        TcpScript::steps = c.steps;
        TcpScript::offered.clear();
        std::vector<std::uint8_t> buffer(7, 1);
        read_tcp_table(AF_INET6, buffer, &TcpScript::call);
        EXPECT_EQ(buffer.size(), c.size) << c.name;
        EXPECT_EQ(TcpScript::offered.size(), c.steps.size()) << c.name;
        // Each attempt offers the size asked for last.
        for (std::size_t i = 1; i < TcpScript::offered.size(); ++i) {
            EXPECT_EQ(TcpScript::offered[i], c.steps[i - 1].second) << c.name << " call " << i;
        }
    }
    EXPECT_FALSE(TcpScript::wrong_arguments);
}

TEST(CollectTcpPeers, EstablishedConnectionsByAddressAndScope) {
    TcpPeerMap peers;
    collect_tcp4_peers(tcp_table<MIB_TCPROW_OWNER_PID>(
                           {tcp4("192.168.1.7", 8443), tcp4("192.168.1.7", 443),
                            tcp4("192.168.1.7", 80), tcp4("192.168.1.7", 443),
                            tcp4("192.168.1.8", 22, 2 /* listening */), tcp4("192.168.1.9", 0)},
                           6),
                       peers);
    // The count claims more rows than the buffer holds: only the rows present are read.
    collect_tcp6_peers(
        tcp_table<MIB_TCP6ROW_OWNER_PID>({tcp6("fe80::1", 12, 445), tcp6("2001:db8::5", 0, 22)}, 5),
        peers);
    collect_tcp4_peers(std::vector<std::uint8_t>{1, 0}, peers);  // shorter than its count

    const TcpPeerMap expected = {{{L"192.168.1.7", 0}, {80, 443, 8443}},
                                 {{L"fe80::1", 12}, {445}},
                                 {{L"2001:db8::5", 0}, {22}}};
    EXPECT_EQ(peers, expected);
}

TEST(DefaultGateways, OnlyRoutesWithAZeroLengthPrefix) {
    const std::vector<MIB_IPFORWARD_ROW2> routes = {
        route("0.0.0.0", 0, "192.168.1.1", 2), route("192.168.1.0", 24, "0.0.0.0", 2),
        route("::", 0, "fe80::1", 3), route("10.0.0.0", 8, "192.168.1.254", 2)};
    EXPECT_EQ(default_gateways(routes), (GatewaySet{{2, L"192.168.1.1"}, {3, L"fe80::1"}}));
}

LanReading reading_of(const std::vector<MIB_IPNET_ROW2>& rows) {
    LanReading reading;
    reading.neighbors = rows;
    reading.adapters.emplace(2, interface_row(2, L"Ethernet", 0, 0));
    reading.adapters.emplace(3, interface_row(3, L"Wi-Fi", 0, 0, 71));
    reading.vendors = std::make_shared<const OuiRegistry>(
        OuiRegistry{{{"001A2B", "Acme Networks"}, {"001122", "Routery Sp. z o.o."}}, true});
    reading.gateways = {{2, L"192.168.1.1"}, {3, L"192.168.50.1"}};
    reading.host_name = [](const SOCKADDR_INET& address) -> std::wstring {
        return address_text(address) == L"192.168.1.7" ? L"nas.lan" : L"";
    };
    return reading;
}

TEST(BuildLanDevicesView, NeighboursFilteredAndDescribed) {
    const std::vector<MIB_IPNET_ROW2> rows = {
        neighbor({"192.168.1.1", kRouterMac}),                        // default route's next hop
        neighbor({"192.168.1.7"}),                                    // plain neighbour
        neighbor({"192.168.1.20", kAcme, 3, 0, NlnsStale, true}),     // router flag
        neighbor({"192.168.50.1", kRouterMac}),                       // gateway of another adapter
        neighbor({"192.168.1.30", kLocalMac}),                        // locally administered
        neighbor({"fe80::1", kAcme, 2, 12}),                          // link-local with scope
        neighbor({"192.168.1.40", Mac{}}),                            // all zero
        neighbor({"224.0.0.22", Mac{0x01, 0x00, 0x5E, 0, 0, 0x16}}),  // multicast
        neighbor({"192.168.1.41", kAcme, 2, 0, NlnsIncomplete}),
        neighbor({"192.168.1.42", kAcme, 2, 0, NlnsUnreachable}),
        neighbor({"192.168.1.43", kAcme, 9}),  // adapter down or loopback
        neighbor({"192.168.1.44", kAcme, 2, 0, NlnsReachable, false, 4}),
        neighbor({"not an address"}),  // no address text
    };
    LanReading reading = reading_of(rows);
    reading.tcp_peers = {{{L"192.168.1.7", 0}, {8443, 443, 80}},
                         {{L"fe80::1", 12}, {22}},
                         {{L"fe80::1", 0}, {3389}}};
    const TableModel model = build_lan_devices_view(reading);

    EXPECT_EQ(model.title.rfind(L"Odczyt ", 0), 0u);
    EXPECT_TRUE(model.title.ends_with(L" · " + kTitleTail)) << model.title;
    EXPECT_EQ(model.columns, (std::vector<TableColumn>{{L"Adres IP", 193},
                                                       {L"Adres MAC", 148},
                                                       {L"Hostname", 167},
                                                       {L"Producent MAC", 155},
                                                       {L"Rola", 110},
                                                       {L"Porty TCP", 135}}));
    EXPECT_EQ(model.kind, 0);
    using Cells = std::vector<std::wstring>;
    const std::vector<Cells> expected = {
        {L"192.168.1.1", L"00:11:22:33:44:55", L"Brak w pamięci DNS", L"Routery Sp. z o.o.",
         L"Brama / router", L"—"},
        {L"192.168.1.7", L"00:1A:2B:3C:4D:5E", L"nas.lan", L"Acme Networks", L"Sąsiad",
         L"HTTP (80), HTTPS (443), 8443"},
        {L"192.168.1.20", L"00:1A:2B:3C:4D:5E", L"Brak w pamięci DNS", L"Acme Networks",
         L"Brama / router", L"—"},
        {L"192.168.50.1", L"00:11:22:33:44:55", L"Brak w pamięci DNS", L"Routery Sp. z o.o.",
         L"Sąsiad", L"—"},
        {L"192.168.1.30", L"02:00:00:00:00:01", L"Brak w pamięci DNS", L"Nieustalony",
         L"MAC lokalny", L"—"},
        {L"fe80::1%12", L"00:1A:2B:3C:4D:5E", L"Brak w pamięci DNS", L"Acme Networks", L"Sąsiad",
         L"SSH (22)"},
    };
    ASSERT_EQ(model.rows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(model.rows[i].cells, expected[i]) << i;
        EXPECT_TRUE(model.rows[i].chart.empty() && model.rows[i].status.empty()) << i;
    }
    EXPECT_EQ(model.rows[1].detail, L"Karta · Ethernet" + kDetailTail);
    EXPECT_EQ(model.rows[2].detail, L"Karta · Wi-Fi" + kDetailTail);
    EXPECT_EQ(
        model.rows[5].detail,
        L"Karta · Ethernet\r\nIPv6 link-local · automatyczny adres tego łącza." + kDetailTail);

    // Unknown prefix, and no vendor list at all.
    reading.vendors = std::make_shared<const OuiRegistry>(OuiRegistry{{}, true});
    EXPECT_EQ(build_lan_devices_view(reading).rows[1].cells[3], L"Nieustalony");
    reading.vendors = std::make_shared<const OuiRegistry>();
    EXPECT_EQ(build_lan_devices_view(reading).rows[1].cells[3], L"Nieustalony");
    reading.vendors = std::make_shared<const OuiRegistry>(OuiRegistry{{}, true, true});
    EXPECT_EQ(build_lan_devices_view(reading).rows[1].cells[3], L"Nieustalony");
}

TEST(BuildLanDevicesView, NoQualifyingNeighbourGivesOneExplainingRow) {
    for (const auto& rows : {std::vector<MIB_IPNET_ROW2>{},
                             std::vector<MIB_IPNET_ROW2>{neighbor({"192.168.1.9", kAcme, 7})}}) {
        const TableModel model = build_lan_devices_view(reading_of(rows));
        ASSERT_EQ(model.rows.size(), 1u);
        EXPECT_EQ(model.rows[0].cells, std::vector<std::wstring>{L"Brak widocznych sąsiadów"});
        EXPECT_EQ(model.rows[0].detail, L"Windows nie ma dostępnych wpisów dla aktywnych kart.");
        EXPECT_TRUE(model.title.ends_with(kTitleTail));
        EXPECT_EQ(model.columns.size(), 6u);
    }
}

TEST(BuildLanDevicesView, AtMost256RowsAndTheTitleSaysSo) {
    const std::wstring suffix = L" Pokazano pierwsze 256 wpisów.";
    for (const int count : {255, 256, 300}) {
        std::vector<MIB_IPNET_ROW2> rows;
        for (int i = 0; i < count; ++i) {
            const std::string address =
                "10.0." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 1);
            rows.push_back(neighbor({address.c_str()}));
        }
        LanReading reading = reading_of(rows);
        int lookups = 0;
        reading.host_name = [&](const SOCKADDR_INET&) {
            ++lookups;
            return std::wstring();
        };
        const TableModel model = build_lan_devices_view(reading);
        const std::size_t shown = std::min(count, 256);
        EXPECT_EQ(model.rows.size(), shown) << count;
        EXPECT_EQ(lookups, static_cast<int>(shown)) << count;  // the rest is not examined
        EXPECT_EQ(model.title.ends_with(suffix), count >= 256) << count;
        EXPECT_EQ(model.rows.back().cells[0], count == 255 ? L"10.0.1.55" : L"10.0.1.56") << count;
    }
}

DWORD WINAPI one_connection_table(PVOID table, PDWORD size, WINBOOL, ULONG family, TCP_TABLE_CLASS,
                                  ULONG) {
    if (family != AF_INET) return ERROR_NOT_SUPPORTED;
    const auto bytes = tcp_table<MIB_TCPROW_OWNER_PID>({tcp4("192.168.1.1", 443)}, 1);
    if (table == nullptr || *size < bytes.size()) {
        *size = static_cast<DWORD>(bytes.size());
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(table, bytes.data(), bytes.size());
    return NO_ERROR;
}

TEST(LanDevicesView, NeighbourTableFailureShowsTheWindowsCode) {
    test::FakeIpTables tables;
    tables.neighbors = {neighbor({"192.168.1.1"})};
    tables.net_answer = {ERROR_NOT_SUPPORTED, true};  // a table comes back with the failure
    const TableModel model = lan_devices_view(tables.calls(), &one_connection_table);
    ASSERT_EQ(model.rows.size(), 1u);
    EXPECT_EQ(model.rows[0].cells, std::vector<std::wstring>{L"Brak odczytu"});
    EXPECT_EQ(model.rows[0].detail, L"GetIpNetTable2 · kod Windows 50");
    EXPECT_TRUE(model.title.ends_with(kTitleTail));
    EXPECT_EQ(model.columns.size(), 6u);
    EXPECT_EQ(tables.net_families, std::vector<ADDRESS_FAMILY>{AF_UNSPEC});
    EXPECT_EQ(tables.freed, tables.handed_out);
}

TEST(LanDevicesView, NotFoundIsAnEmptyNeighbourTable) {
    // GetIpNetTable2 reports an empty table with ERROR_NOT_FOUND (1168): no failure to show.
    test::FakeIpTables tables;
    tables.net_answer = {ERROR_NOT_FOUND, false};
    const TableModel model = lan_devices_view(tables.calls(), &one_connection_table);
    ASSERT_EQ(model.rows.size(), 1u);
    EXPECT_EQ(model.rows[0].cells, std::vector<std::wstring>{L"Brak widocznych sąsiadów"});
    EXPECT_EQ(tables.freed, tables.handed_out);
}

TEST(LanDevicesView, ReadsEveryTableOnceAndNamesFromTheCache) {
    test::FakeIpTables tables;
    tables.neighbors = {neighbor({"192.168.1.1", kRouterMac}), neighbor({"192.168.1.7"})};
    tables.routes = {route("0.0.0.0", 0, "192.168.1.1", 2), route("192.168.1.0", 24, "0.0.0.0", 2)};
    tables.if_rows = {{interface_row(2, L"Ethernet", 0, 0), interface_row(1, L"lo", 0, 0, 24)}};
    test::FakeResolver resolver;
    test::ScopedDnsCalls installed(resolver.calls());
    resolver.cache(L"1.1.168.192.in-addr.arpa.", {{DNS_TYPE_PTR, L"router.lan."}});

    const TableModel model = lan_devices_view(tables.calls(), &one_connection_table);
    ASSERT_EQ(model.rows.size(), 2u);
    EXPECT_EQ(model.rows[0].cells,
              (std::vector<std::wstring>{L"192.168.1.1", L"00:11:22:33:44:55", L"router.lan",
                                         L"Nieustalony", L"Brama / router", L"HTTPS (443)"}));
    EXPECT_EQ(model.rows[1].cells[2], L"Brak w pamięci DNS");
    EXPECT_EQ(model.rows[1].cells[4], L"Sąsiad");
    EXPECT_EQ(tables.if_calls, 1);
    EXPECT_EQ(tables.forward_families, std::vector<ADDRESS_FAMILY>{AF_UNSPEC});
    EXPECT_EQ(tables.freed, tables.handed_out);
    for (const DWORD options : resolver.cache_options()) EXPECT_EQ(options, 0x1890u);
    EXPECT_TRUE(resolver.issued().empty());

    // Without the route table the router flag alone marks a gateway.
    tables.forward_answer = {ERROR_NOT_SUPPORTED, false};
    EXPECT_EQ(lan_devices_view(tables.calls(), &one_connection_table).rows[0].cells[4], L"Sąsiad");
}

// Names from outside, a PTR record in the DNS cache and a line of the vendor file, reach the
// table only in a form the list can show: a name that is no host name is no name at all, and a
// vendor keeps its text without controls or direction marks.
TEST(LanDevicesView, HostileNamesArriveSanitised) {
    test::FakeIpTables tables;
    tables.neighbors = {neighbor({"192.168.1.1", kRouterMac}), neighbor({"192.168.1.7"}),
                        neighbor({"192.168.1.8", Mac{0x00, 0x1A, 0x2C, 1, 2, 3}})};
    tables.if_rows = {{interface_row(2, L"Ethernet", 0, 0)}};
    test::FakeResolver resolver;
    test::ScopedDnsCalls installed(resolver.calls());
    resolver.cache(L"1.1.168.192.in-addr.arpa.",
                   {{DNS_TYPE_PTR, L"evil\u202Egnp.lan."}, {DNS_TYPE_PTR, L"router.lan."}});
    resolver.cache(L"7.1.168.192.in-addr.arpa.", {{DNS_TYPE_PTR,
                                                   L"bell\x07"
                                                   L"esc\x1B[2J.lan."}});
    resolver.cache(L"8.1.168.192.in-addr.arpa.", {{DNS_TYPE_PTR, L"\u017Curaw.lan."}});
    test::TempDir dir;
    const auto vendors = dir.path() / L"vendors.txt";
    std::ofstream(vendors, std::ios::binary) << "001122\tRoutery\xE2\x80\xAE Sp. z o.o.\x07\r\n"
                                             << "001A2B\t" << std::string(300, 'A') << "\n"
                                             << "001A2C\t\xE2\x80\x8F\xE2\x80\x8B\n";
    test::ScopedEnv env(L"QUORVEL_OUI_FILE", vendors.wstring());

    const TableModel model = lan_devices_view(tables.calls(), &one_connection_table);
    ASSERT_EQ(model.rows.size(), 3u);
    EXPECT_EQ(model.rows[0].cells[2], L"router.lan");  // the usable record after the bad one
    EXPECT_EQ(model.rows[0].cells[3], L"Routery  Sp. z o.o.  ");
    EXPECT_EQ(model.rows[1].cells[2], L"Brak w pamięci DNS");
    EXPECT_EQ(model.rows[1].cells[3], std::wstring(119, L'A') + L"\u2026");
    EXPECT_EQ(model.rows[2].cells[2], L"Brak w pamięci DNS");
    EXPECT_EQ(model.rows[2].cells[3], L"Nieustalony");  // nothing showable left
}

// Listens on the loopback address of one family and holds two accepted connections open.
struct LoopbackConnections {
    SOCKET listener = INVALID_SOCKET;
    std::vector<SOCKET> sockets;
    std::uint16_t listen_port = 0;
    std::vector<std::uint16_t> client_ports;

    explicit LoopbackConnections(int family) {
        sockaddr_storage address{};
        int length = 0;
        if (family == AF_INET) {
            auto& v4 = reinterpret_cast<sockaddr_in&>(address);
            v4.sin_family = AF_INET;
            v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof v4;
        } else {
            auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
            v6.sin6_family = AF_INET6;
            v6.sin6_addr = in6addr_loopback;
            length = sizeof v6;
        }
        listener = socket(family, SOCK_STREAM, IPPROTO_TCP);
        auto* raw = reinterpret_cast<sockaddr*>(&address);
        if (bind(listener, raw, length) != 0 || listen(listener, 4) != 0) return;
        getsockname(listener, raw, &length);
        listen_port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in&>(address).sin_port
                                              : reinterpret_cast<sockaddr_in6&>(address).sin6_port);
        for (int i = 0; i < 2; ++i) {
            const SOCKET client = socket(family, SOCK_STREAM, IPPROTO_TCP);
            if (connect(client, raw, length) != 0) return;
            sockets.push_back(client);
            sockets.push_back(accept(listener, nullptr, nullptr));
            sockaddr_storage own{};
            int own_length = sizeof own;
            getsockname(client, reinterpret_cast<sockaddr*>(&own), &own_length);
            client_ports.push_back(ntohs(family == AF_INET
                                             ? reinterpret_cast<sockaddr_in&>(own).sin_port
                                             : reinterpret_cast<sockaddr_in6&>(own).sin6_port));
        }
    }
    ~LoopbackConnections() {
        for (const SOCKET s : sockets) closesocket(s);
        closesocket(listener);
    }
};

TEST(CollectTcpConnections, RealConnectionsHeldOpenOnLoopback) {
    WinsockSession winsock;
    LoopbackConnections v4(AF_INET);
    LoopbackConnections v6(AF_INET6);
    ASSERT_EQ(v4.client_ports.size(), 2u);
    ASSERT_EQ(v6.client_ports.size(), 2u);

    const TcpPeerMap peers = collect_tcp_connections();
    // The ports of the peer with this address text; the scope is the table's own (Wine reports
    // 4096 for ::1 where Windows reports 0).
    const auto ports_of = [&](const std::wstring& address) {
        std::set<std::uint16_t> ports;
        for (const auto& [key, set] : peers) {
            if (key.first == address) ports.insert(set.begin(), set.end());
        }
        return ports;
    };
    EXPECT_EQ(peers.count({L"127.0.0.1", 0}), 1u);
    for (const auto& [address, held] : {std::pair{L"127.0.0.1", &v4}, std::pair{L"::1", &v6}}) {
        const std::set<std::uint16_t> ports = ports_of(address);
        // Both sides of each connection: the clients see the listening port, the accepted
        // sockets each client's own port.
        EXPECT_TRUE(ports.contains(held->listen_port)) << to_utf8(address);
        for (const std::uint16_t port : held->client_ports) {
            EXPECT_TRUE(ports.contains(port)) << to_utf8(address) << " " << port;
        }
    }
}

}  // namespace
}  // namespace tarvisko
