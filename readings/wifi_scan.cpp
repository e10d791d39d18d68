#include "readings/wifi_scan.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/common/display_text.h"
#include "engine/common/handle_guard.h"
#include "engine/common/text.h"

namespace tarvisko {
namespace {

constexpr DWORD wlan_client_version = 2;
constexpr DWORD scan_wait_ms = 4500;

static_assert(WLAN_NOTIFICATION_SOURCE_ACM == 8 && WLAN_NOTIFICATION_SOURCE_NONE == 0,
              "notification sources");
static_assert(wlan_notification_acm_scan_complete == 7 && wlan_notification_acm_scan_fail == 8,
              "scan notification codes");

using WlanReply = std::unique_ptr<void, wlan_memory_deleter>;

void close_event(HANDLE event) { CloseHandle(event); }

// Host-order IPv4 next hops that no router has: on-link (0), multicast and above, loopback.
bool usable_ipv4_gateway(const IN_ADDR& address) {
    const std::uint32_t host = ntohl(address.S_un.S_addr);
    return host != 0 && host < 0xE0000000u && (host >> 24) != 127;
}

bool usable_ipv6_gateway(const IN6_ADDR& address) {
    const std::uint8_t* b = address.u.Byte;
    static constexpr std::uint8_t zero[16]{};
    static constexpr std::uint8_t loopback[16]{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static constexpr std::uint8_t mapped_prefix[12]{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(b, zero, 16) == 0 || std::memcmp(b, loopback, 16) == 0) return false;
    if (b[0] == 0xFF) return false;
    return std::memcmp(b, mapped_prefix, 12) != 0;
}

bool link_local_ipv6(const IN6_ADDR& address) {
    return address.u.Byte[0] == 0xFE && (address.u.Byte[1] & 0xC0) == 0x80;
}

std::wstring address_text(int family, const void* address) {
    wchar_t buffer[65]{};
    if (InetNtopW(family, address, buffer, 65) == nullptr) return {};
    return buffer;
}

}  // namespace

std::optional<WLAN_INTERFACE_INFO> open_wifi_interface(const WlanApi& api, HANDLE& handle,
                                                       DWORD& error) {
    handle = nullptr;
    DWORD negotiated = 0;
    error = api.open_handle(wlan_client_version, nullptr, &negotiated, &handle);
    if (error != ERROR_SUCCESS) return std::nullopt;

    WLAN_INTERFACE_INFO_LIST* raw_list = nullptr;
    error = api.enum_interfaces(handle, nullptr, &raw_list);
    const std::unique_ptr<WLAN_INTERFACE_INFO_LIST, wlan_memory_deleter> list(
        raw_list, wlan_memory_deleter{&api});
    if (error != ERROR_SUCCESS || list == nullptr || list->dwNumberOfItems == 0) {
        return std::nullopt;
    }
    const std::span<const WLAN_INTERFACE_INFO> interfaces(list->InterfaceInfo,
                                                          list->dwNumberOfItems);
    const auto connected =
        std::find_if(interfaces.begin(), interfaces.end(), [](const WLAN_INTERFACE_INFO& info) {
            return info.isState == wlan_interface_state_connected;
        });
    return connected != interfaces.end() ? *connected : interfaces.front();
}

std::optional<WLAN_INTERFACE_INFO> open_wifi_interface(HANDLE& handle, DWORD& error) {
    return open_wifi_interface(system_wlan_api(), handle, error);
}

VOID WINAPI on_scan_notification(PWLAN_NOTIFICATION_DATA data, PVOID context) {
    if (data == nullptr || context == nullptr) return;
    auto& wait = *static_cast<ScanWaitContext*>(context);
    if (data->NotificationSource != WLAN_NOTIFICATION_SOURCE_ACM ||
        !IsEqualGUID(data->InterfaceGuid, wait.interface_guid)) {
        return;
    }
    if (data->NotificationCode != wlan_notification_acm_scan_complete &&
        data->NotificationCode != wlan_notification_acm_scan_fail) {
        return;
    }
    wait.completed.store(data->NotificationCode == wlan_notification_acm_scan_complete);
    SetEvent(wait.event);
}

std::wstring run_wifi_scan_with_event(const WlanApi& api, HANDLE& handle,
                                      const GUID& interface_guid, HANDLE event, DWORD wait_ms) {
    if (event == nullptr) return L"Brak zdarzenia Windows wymaganego do skanowania.";
    ScanWaitContext wait;
    wait.interface_guid = interface_guid;
    wait.event = event;

    const DWORD registered =
        api.register_notification(handle, WLAN_NOTIFICATION_SOURCE_ACM, FALSE,
                                  &on_scan_notification, &wait, nullptr, nullptr);
    if (registered != ERROR_SUCCESS) {
        return L"Windows nie udostępnił powiadomień skanu (kod " + std::to_wstring(registered) +
               L").";
    }

    const DWORD scanned = api.scan(handle, &interface_guid, nullptr, nullptr, nullptr);
    bool timed_out = false;
    if (scanned == ERROR_SUCCESS) timed_out = WaitForSingleObject(event, wait_ms) != WAIT_OBJECT_0;

    // Until the registration is gone the service may still call back into `wait`; when it
    // cannot be removed, closing the handle is the only way to stop it before `wait` goes.
    const DWORD removed = api.register_notification(handle, WLAN_NOTIFICATION_SOURCE_NONE, FALSE,
                                                    nullptr, nullptr, nullptr, nullptr);
    if (removed != ERROR_SUCCESS) {
        api.close_handle(handle, nullptr);
        handle = nullptr;
        return L"Usługa Wi-Fi Windows przerwała odczyt skanu.";
    }

    if (scanned == ERROR_ACCESS_DENIED) {
        return L"Windows odmówił dostępu do skanu Wi-Fi. Sprawdź Ustawienia → Prywatność i "
               L"zabezpieczenia → Lokalizacja.";
    }
    if (scanned != ERROR_SUCCESS) {
        return L"Nie udało się uruchomić skanu Wi-Fi (kod " + std::to_wstring(scanned) + L").";
    }
    if (timed_out || !wait.completed.load()) {
        return L"Karta nie potwierdziła ukończenia skanu. Wyniki mogą pochodzić z pamięci.";
    }
    return {};
}

std::wstring run_wifi_scan(const WlanApi& api, HANDLE& handle, const GUID& interface_guid) {
    const HandleGuard<HANDLE> event(CreateEventW(nullptr, TRUE, FALSE, nullptr), &close_event);
    return run_wifi_scan_with_event(api, handle, interface_guid, event.get(), scan_wait_ms);
}

std::wstring run_wifi_scan(HANDLE& handle, const GUID& interface_guid) {
    return run_wifi_scan(system_wlan_api(), handle, interface_guid);
}

std::optional<std::int32_t> query_interface_int(const WlanApi& api, HANDLE handle,
                                                const GUID& interface_guid,
                                                WLAN_INTF_OPCODE opcode) {
    DWORD size = 0;
    void* data = nullptr;
    WLAN_OPCODE_VALUE_TYPE value_type{};
    const DWORD result =
        api.query_interface(handle, &interface_guid, opcode, nullptr, &size, &data, &value_type);
    const WlanReply reply(data, wlan_memory_deleter{&api});
    if (result != ERROR_SUCCESS || reply == nullptr || size < 4) return std::nullopt;
    std::int32_t value = 0;
    std::memcpy(&value, reply.get(), sizeof value);
    return value;
}

WifiGateways choose_wifi_gateways(std::span<const GatewayRoute> routes,
                                  const NET_LUID& interface_luid) {
    WifiGateways gateways;
    std::optional<std::uint32_t> best_ipv4;
    std::optional<std::uint32_t> best_ipv6;
    for (const GatewayRoute& route : routes) {
        if (route.interface_luid.Value != interface_luid.Value || route.prefix_length != 0) {
            continue;
        }
        const ADDRESS_FAMILY family = route.next_hop.si_family;
        std::optional<std::uint32_t>& best = family == AF_INET ? best_ipv4 : best_ipv6;
        if (family != AF_INET && family != AF_INET6) continue;
        if (best && route.metric > *best) continue;
        std::wstring text;
        if (family == AF_INET) {
            const IN_ADDR& address = route.next_hop.Ipv4.sin_addr;
            if (!usable_ipv4_gateway(address)) continue;
            text = address_text(AF_INET, &address);
        } else {
            const IN6_ADDR& address = route.next_hop.Ipv6.sin6_addr;
            if (!usable_ipv6_gateway(address)) continue;
            text = address_text(AF_INET6, &address);
            if (!text.empty() && link_local_ipv6(address)) {
                text += L"%" + std::to_wstring(route.interface_index);
            }
        }
        if (text.empty()) continue;
        (family == AF_INET ? gateways.ipv4 : gateways.ipv6) = std::move(text);
        best = route.metric;
    }
    return gateways;
}

WifiGateways wifi_gateways(const WLAN_INTERFACE_INFO& interface_info, const IpTableCalls& calls) {
    if (interface_info.isState != wlan_interface_state_connected) return {};
    NET_LUID luid{};
    if (ConvertInterfaceGuidToLuid(&interface_info.InterfaceGuid, &luid) != NO_ERROR) return {};
    MIB_IPFORWARD_TABLE2* raw_table = nullptr;
    const DWORD result = calls.get_ip_forward_table2(AF_UNSPEC, &raw_table);
    const std::unique_ptr<MIB_IPFORWARD_TABLE2, decltype(calls.free_mib_table)> table(
        raw_table, calls.free_mib_table);
    if (result != NO_ERROR || table == nullptr) return {};

    std::vector<GatewayRoute> routes;
    routes.reserve(table->NumEntries);
    for (const MIB_IPFORWARD_ROW2& row : std::span(table->Table, table->NumEntries)) {
        routes.push_back({row.InterfaceLuid, row.DestinationPrefix.PrefixLength, row.NextHop,
                          row.Metric, row.InterfaceIndex});
    }
    return choose_wifi_gateways(routes, luid);
}

std::wstring ssid_display_text(const DOT11_SSID& ssid) {
    const std::size_t length = std::min<std::size_t>(ssid.uSSIDLength, DOT11_SSID_MAX_LENGTH);
    const std::string_view bytes(reinterpret_cast<const char*>(ssid.ucSSID), length);
    std::wstring text = sanitize_display_text(to_wide(bytes));
    if (text.empty()) return L"Sieć ukryta";
    return text;
}

}  // namespace tarvisko
