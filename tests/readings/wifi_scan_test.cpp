#include "readings/wifi_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/text.h"
#include "support/wlan_fake.h"

namespace tarvisko {
namespace {

using test::FakeScanNotification;
using test::FakeWlanInterface;

FakeWlanInterface wlan_interface(std::uint32_t n, WLAN_INTERFACE_STATE state) {
    FakeWlanInterface item;
    item.guid = test::test_guid(n);
    item.state = state;
    item.description = L"Adapter " + std::to_wstring(n);
    return item;
}

class WifiScanTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (handle != nullptr) api.close_handle(handle, nullptr);
        wlan.expect_released();
    }

    // Opens a client handle on the fake with one connected interface.
    void open_one() {
        wlan.interfaces = {wlan_interface(1, wlan_interface_state_connected)};
        DWORD error = 0;
        ASSERT_TRUE(open_wifi_interface(api, handle, error));
    }

    test::FakeWlan wlan;
    const WlanApi& api = wlan.api();
    HANDLE handle = nullptr;
};

TEST_F(WifiScanTest, InterfaceChoice) {
    const auto disconnected = wlan_interface_state_disconnected;
    const auto connected = wlan_interface_state_connected;
    const struct {
        const char* name;
        DWORD open_result, enum_result;
        std::vector<FakeWlanInterface> interfaces;
        std::optional<std::uint32_t> chosen;  // GUID number
        DWORD error;
        int frees;
    } cases[] = {
        {"second of two connected",
         0,
         0,
         {wlan_interface(1, disconnected), wlan_interface(2, connected)},
         2,
         0,
         1},
        {"first connected of several",
         0,
         0,
         {wlan_interface(1, wlan_interface_state_associating), wlan_interface(2, connected),
          wlan_interface(3, connected)},
         2,
         0,
         1},
        {"none connected: the first",
         0,
         0,
         {wlan_interface(4, disconnected), wlan_interface(5, wlan_interface_state_not_ready)},
         4,
         0,
         1},
        {"empty list", 0, 0, {}, std::nullopt, 0, 1},
        {"service missing",
         ERROR_SERVICE_NOT_ACTIVE,
         0,
         {wlan_interface(1, connected)},
         std::nullopt,
         ERROR_SERVICE_NOT_ACTIVE,
         0},
        {"enumeration refused",
         0,
         ERROR_ACCESS_DENIED,
         {wlan_interface(1, connected)},
         std::nullopt,
         ERROR_ACCESS_DENIED,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        wlan.open_result = c.open_result;
        wlan.enum_result = c.enum_result;
        wlan.interfaces = c.interfaces;
        wlan.frees = 0;
        HANDLE opened = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(1));
        DWORD error = 12345;
        const std::optional<WLAN_INTERFACE_INFO> chosen = open_wifi_interface(api, opened, error);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(wlan.frees, c.frees);
        ASSERT_EQ(chosen.has_value(), c.chosen.has_value());
        if (chosen) {
            EXPECT_TRUE(IsEqualGUID(chosen->InterfaceGuid, test::test_guid(*c.chosen)));
            EXPECT_EQ(std::wstring(chosen->strInterfaceDescription),
                      L"Adapter " + std::to_wstring(*c.chosen));
        }
        // The caller owns whatever handle was opened.
        EXPECT_EQ(opened != nullptr, c.open_result == 0);
        if (opened != nullptr) {
            EXPECT_EQ(api.close_handle(opened, nullptr), 0u);
        }
        EXPECT_EQ(wlan.outstanding_replies(), 0u);
    }
}

const std::wstring unconfirmed =
    L"Karta nie potwierdziła ukończenia skanu. Wyniki mogą pochodzić z pamięci.";
const std::wstring broken_registration = L"Usługa Wi-Fi Windows przerwała odczyt skanu.";

// A table that forwards to the fake and, at registration, notes the scan's event from the
// context, so a test can see that the event is closed once the scan has returned.
const WlanApi* forward_to = nullptr;
HANDLE registered_event = nullptr;
bool event_was_open = false;

DWORD WINAPI watch_registration(HANDLE handle, DWORD source, WINBOOL ignore_duplicate,
                                WLAN_NOTIFICATION_CALLBACK callback, PVOID context, PVOID reserved,
                                PDWORD previous) {
    if (context != nullptr) {
        registered_event = static_cast<ScanWaitContext*>(context)->event;
        DWORD flags = 0;
        event_was_open = GetHandleInformation(registered_event, &flags) != FALSE;
    }
    return forward_to->register_notification(handle, source, ignore_duplicate, callback, context,
                                             reserved, previous);
}

bool handle_is_open(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

TEST_F(WifiScanTest, EverySentence) {
    const GUID other = test::test_guid(9);
    const struct {
        const char* name;
        DWORD register_result, scan_result, unregister_result;
        std::vector<FakeScanNotification> notifications;
        std::wstring text;
        int scans, unregistrations;
    } cases[] = {
        // clang-format off
        {"confirmed", 0, 0, 0, {{}}, L"", 1, 1},
        {"confirmed after unrelated notifications", 0, 0, 0,
         {{8, 2, std::nullopt}, {16, 7, std::nullopt}, {8, 7, other}, {}}, L"", 1, 1},
        {"scan failed", 0, 0, 0, {{8, 8, std::nullopt}}, unconfirmed, 1, 1},
        {"registration refused", 1062, 0, 0, {{}},
         L"Windows nie udostępnił powiadomień skanu (kod 1062).", 0, 0},
        {"access denied", 0, 5, 0, {{}},
         L"Windows odmówił dostępu do skanu Wi-Fi. Sprawdź Ustawienia → Prywatność i "
         L"zabezpieczenia → Lokalizacja.", 1, 1},
        {"scan refused", 0, ERROR_NOT_READY, 0, {{}},
         L"Nie udało się uruchomić skanu Wi-Fi (kod 21).", 1, 1},
        {"unregistration fails after a confirmed scan", 0, 0, ERROR_INVALID_STATE, {{}},
         broken_registration, 1, 1},
        {"unregistration fails after access denied", 0, 5, ERROR_INVALID_STATE, {{}},
         broken_registration, 1, 1},
        {"unregistration fails after a refused scan", 0, ERROR_NOT_READY, ERROR_INVALID_STATE,
         {{}}, broken_registration, 1, 1},
        {"unregistration fails after a failed scan", 0, 0, ERROR_INVALID_STATE,
         {{8, 8, std::nullopt}}, broken_registration, 1, 1},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        open_one();
        wlan.register_result = c.register_result;
        wlan.scan_result = c.scan_result;
        wlan.unregister_result = c.unregister_result;
        wlan.scan_notifications = c.notifications;
        wlan.scans = wlan.unregistrations = 0;

        WlanApi watching = api;
        forward_to = &api;
        watching.register_notification = &watch_registration;
        registered_event = nullptr;
        event_was_open = false;

        EXPECT_EQ(run_wifi_scan(watching, handle, test::test_guid(1)), c.text);
        EXPECT_TRUE(event_was_open);
        EXPECT_FALSE(handle_is_open(registered_event)) << "scan event left open";
        EXPECT_EQ(wlan.scans, c.scans);
        EXPECT_EQ(wlan.unregistrations, c.unregistrations);
        if (c.unregister_result != 0) {
            EXPECT_EQ(handle, nullptr);
            EXPECT_EQ(wlan.open_handles(), 0u);
        } else {
            ASSERT_NE(handle, nullptr);
            api.close_handle(handle, nullptr);
            handle = nullptr;
        }
        if (c.register_result == 0) {
            EXPECT_EQ(wlan.registered_source, 8u);
            EXPECT_EQ(wlan.registered_ignore_duplicate, FALSE);
        }
        EXPECT_FALSE(wlan.scan_had_ssid_or_ie);
    }
}

TEST_F(WifiScanTest, OnlyItsOwnNotificationsEndTheWait) {
    open_one();
    // Another interface, another source, another ACM code (26, scan list refresh): the wait
    // runs out. The fake sends them at once; a second is ample for its thread to deliver all.
    wlan.scan_notifications = {
        {8, 8, test::test_guid(2)}, {16, 8, std::nullopt}, {8, 26, std::nullopt}};
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(run_wifi_scan_with_event(api, handle, test::test_guid(1), event, 1000), unconfirmed);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(wlan.notifications_delivered, 3);
    CloseHandle(event);

    EXPECT_EQ(run_wifi_scan_with_event(api, handle, test::test_guid(1), nullptr, 1000),
              L"Brak zdarzenia Windows wymaganego do skanowania.");
    EXPECT_EQ(wlan.registrations, 1);
    EXPECT_EQ(wlan.scans, 1);
}

TEST(ScanNotification, ActsOnlyOnScanEndsOfItsInterface) {
    const GUID mine = test::test_guid(1);
    const struct {
        const char* name;
        DWORD source, code;
        GUID guid;
        bool sets_event;
        bool completed;  // starting from true, then from false
    } cases[] = {
        {"complete", 8, 7, mine, true, true},
        {"fail", 8, 8, mine, true, false},
        {"other interface", 8, 8, test::test_guid(2), false, false},
        {"other source", 16, 8, mine, false, false},
        {"all sources", 0xFFFF, 7, mine, false, false},
        {"other code", 8, 9, mine, false, false},
        {"code 0", 8, 0, mine, false, false},
    };
    for (const auto& c : cases) {
        for (const bool start : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (start ? " from true" : " from false"));
            ScanWaitContext context;
            context.interface_guid = mine;
            context.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            context.completed = start;
            WLAN_NOTIFICATION_DATA data{};
            data.NotificationSource = c.source;
            data.NotificationCode = c.code;
            data.InterfaceGuid = c.guid;
            on_scan_notification(&data, &context);
            EXPECT_EQ(WaitForSingleObject(context.event, 0) == WAIT_OBJECT_0, c.sets_event);
            EXPECT_EQ(context.completed.load(), c.sets_event ? c.completed : start);
            CloseHandle(context.event);
        }
    }
}

TEST_F(WifiScanTest, QueryInterfaceInt) {
    FakeWlanInterface item = wlan_interface(1, wlan_interface_state_connected);
    const auto reply = [](DWORD result, std::vector<std::uint8_t> bytes) {
        return test::FakeWlanReply{result, std::move(bytes)};
    };
    const std::int32_t minus52 = -52;
    const std::uint64_t two_words = 0x0000000700000024ull;
    item.replies[wlan_intf_opcode_channel_number] = reply(0, test::bytes_of(two_words));
    item.replies[wlan_intf_opcode_rssi] = reply(0, test::bytes_of(minus52));
    item.replies[wlan_intf_opcode_radio_state] = reply(0, test::bytes_of(minus52, 3));
    item.replies[wlan_intf_opcode_autoconf_enabled] =
        reply(ERROR_INVALID_STATE, test::bytes_of(minus52));
    item.replies[wlan_intf_opcode_bss_type] = reply(0, {});
    wlan.interfaces = {item};
    DWORD error = 0;
    ASSERT_TRUE(open_wifi_interface(api, handle, error));
    const GUID guid = item.guid;

    EXPECT_EQ(query_interface_int(api, handle, guid, wlan_intf_opcode_channel_number), 36);
    EXPECT_EQ(query_interface_int(api, handle, guid, wlan_intf_opcode_rssi), -52);
    EXPECT_EQ(query_interface_int(api, handle, guid, wlan_intf_opcode_radio_state), std::nullopt);
    EXPECT_EQ(query_interface_int(api, handle, guid, wlan_intf_opcode_autoconf_enabled),
              std::nullopt);
    EXPECT_EQ(query_interface_int(api, handle, guid, wlan_intf_opcode_bss_type), std::nullopt);
    EXPECT_EQ(query_interface_int(api, handle, guid, wlan_intf_opcode_statistics), std::nullopt);
    EXPECT_EQ(query_interface_int(api, handle, test::test_guid(2), wlan_intf_opcode_rssi),
              std::nullopt);
    EXPECT_EQ(wlan.frees, 1 + 4);  // the interface list and every reply that came back
}

SOCKADDR_INET address(const char* text) {
    SOCKADDR_INET result{};
    if (inet_pton(AF_INET, text, &result.Ipv4.sin_addr) == 1) {
        result.si_family = AF_INET;
    } else if (inet_pton(AF_INET6, text, &result.Ipv6.sin6_addr) == 1) {
        result.si_family = AF_INET6;
    }
    return result;
}

NET_LUID luid(std::uint64_t value) {
    NET_LUID result{};
    result.Value = value;
    return result;
}

GatewayRoute route(const char* next_hop, std::uint32_t metric, std::uint64_t interface_luid = 71,
                   std::uint8_t prefix = 0, std::uint32_t index = 7) {
    return {luid(interface_luid), prefix, address(next_hop), metric, index};
}

TEST(ChooseWifiGateways, MetricsFamiliesAndSkippedHops) {
    const struct {
        const char* name;
        std::vector<GatewayRoute> routes;
        const wchar_t* ipv4;
        const wchar_t* ipv6;
    } cases[] = {
        {"equal metrics: the later row",
         {route("192.168.1.1", 25), route("192.168.1.254", 25)},
         L"192.168.1.254",
         L""},
        {"lower metric later",
         {route("192.168.1.1", 35), route("192.168.1.254", 25)},
         L"192.168.1.254",
         L""},
        {"higher metric later",
         {route("192.168.1.1", 25), route("192.168.1.254", 35)},
         L"192.168.1.1",
         L""},
        {"on-link 0.0.0.0", {route("0.0.0.0", 25)}, L"", L""},
        {"skipped hops never set the best metric",
         {route("0.0.0.0", 5), route("224.0.0.1", 5), route("255.255.255.255", 5),
          route("127.0.0.1", 5), route("10.0.0.1", 50)},
         L"10.0.0.1",
         L""},
        {"last address below multicast", {route("223.255.255.254", 1)}, L"223.255.255.254", L""},
        {"128.0.0.1 is not loopback", {route("128.0.0.1", 1)}, L"128.0.0.1", L""},
        {"other interface or prefix",
         {route("192.168.1.1", 1, 72), route("192.168.1.2", 1, 71, 24)},
         L"",
         L""},
        {"link-local IPv6 with its interface index", {route("fe80::1", 10)}, L"", L"fe80::1%7"},
        {"fe80::/10 reaches febf", {route("febf::2", 10, 71, 0, 12)}, L"", L"febf::2%12"},
        {"fec0:: is not link-local", {route("fec0::1", 10)}, L"", L"fec0::1"},
        {"unusable IPv6 hops",
         {route("::", 1), route("ff02::1", 1), route("::1", 1), route("::ffff:192.168.1.1", 1)},
         L"",
         L""},
        {"families keep their own metric",
         {route("2001:db8::1", 5), route("192.168.1.1", 100), route("2001:db8::2", 6),
          route("fe80::9", 5)},
         L"192.168.1.1",
         L"fe80::9%7"},
    };
    for (const auto& c : cases) {
        const WifiGateways gateways = choose_wifi_gateways(c.routes, luid(71));
        EXPECT_EQ(gateways.ipv4, c.ipv4) << c.name;
        EXPECT_EQ(gateways.ipv6, c.ipv6) << c.name;
    }
}

int forward_table_reads = 0;
DWORD WINAPI counting_forward_table(ADDRESS_FAMILY family, PMIB_IPFORWARD_TABLE2* table) {
    ++forward_table_reads;
    return GetIpForwardTable2(family, table);
}

TEST(WifiGateways, OnlyForAConnectedInterface) {
    IpTableCalls calls = windows_ip_table_calls();
    calls.get_ip_forward_table2 = &counting_forward_table;
    WLAN_INTERFACE_INFO info{};
    info.InterfaceGuid = test::test_guid(1);
    for (const auto state : {wlan_interface_state_disconnected, wlan_interface_state_associating,
                             wlan_interface_state_connected}) {
        const WifiGateways gateways = wifi_gateways(info, calls);
        EXPECT_EQ(gateways.ipv4, L"");
        EXPECT_EQ(gateways.ipv6, L"");
        info.isState = state;
    }
    // A GUID that names no adapter has no LUID: the table is never read.
    EXPECT_EQ(forward_table_reads, 0);
}

DOT11_SSID ssid(std::string_view bytes, std::optional<ULONG> length = std::nullopt) {
    DOT11_SSID result{};
    std::memcpy(result.ucSSID, bytes.data(), std::min<std::size_t>(bytes.size(), 32));
    result.uSSIDLength = length.value_or(static_cast<ULONG>(bytes.size()));
    return result;
}

TEST(SsidDisplayText, Rules) {
    const std::string thirty_two(32, 'A');
    const struct {
        const char* name;
        DOT11_SSID ssid;
        std::wstring text;
    } cases[] = {
        {"plain", ssid("Dom_5G"), L"Dom_5G"},
        {"UTF-8", ssid("Kawiarnia \xC5\xBB\xC3\xB3\xC5\x82w"), L"Kawiarnia Żółw"},
        {"empty", ssid(""), L"Sieć ukryta"},
        {"blanks only", ssid("   "), L"Sieć ukryta"},
        {"control bytes only", ssid(std::string_view("\0\x01\x1F\x7F", 4)), L"Sieć ukryta"},
        {"NUL inside", ssid(std::string_view("a\0b", 3)), L"a b"},
        {"invalid UTF-8", ssid("caf\xE9"), L"caf\uFFFD"},
        {"right-to-left override",
         ssid("abc\xE2\x80\xAE"
              "def"),
         L"abc def"},
        {"length above 32 reads 32", ssid(thirty_two, 200), std::wstring(32, L'A')},
        {"length counts, not the bytes after it", ssid("HomeNet", 4), L"Home"},
        {"blanks kept around a name", ssid(" Dom "), L" Dom "},
        // Marks that the window would obey rather than show: right-to-left and Arabic letter
        // marks, a C1 control, a line separator, a byte order mark, a zero-width space.
        {"invisible and direction marks",
         ssid("a\xE2\x80\x8F"
              "b\xD8\x9C"
              "c\xC2\x85"
              "d\xE2\x80\xA8"
              "e\xEF\xBB\xBF"
              "f\xE2\x80\x8B"
              "g"),
         L"a b c d e f g"},
        {"marks only", ssid("\xE2\x80\x8E\xE2\x80\x8B\xEF\xBB\xBF"), L"Sieć ukryta"},
    };
    for (const auto& c : cases) EXPECT_EQ(ssid_display_text(c.ssid), c.text) << c.name;
}

// Wine's WLAN service: no interfaces, and notifications unimplemented (120). The network list
// is never asked for: under Wine that call ends the process.
int real_frees = 0;
VOID WINAPI counting_free(PVOID memory) {
    ++real_frees;
    WlanFreeMemory(memory);
}

TEST(WifiScanReal, WineGivesNoInterfaceAndNoNotifications) {
    WlanApi real = system_wlan_api();
    real.free_memory = &counting_free;
    HANDLE handle = nullptr;
    DWORD error = 12345;
    const std::optional<WLAN_INTERFACE_INFO> chosen = open_wifi_interface(real, handle, error);
    EXPECT_FALSE(chosen);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(real_frees, 1);  // the empty list
    ASSERT_NE(handle, nullptr);

    EXPECT_EQ(run_wifi_scan(real, handle, test::test_guid(1)),
              L"Windows nie udostępnił powiadomień skanu (kod 120).");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(query_interface_int(real, handle, test::test_guid(1), wlan_intf_opcode_rssi),
              std::nullopt);
    EXPECT_EQ(WlanCloseHandle(handle, nullptr), 0u);
}

}  // namespace
}  // namespace tarvisko
