#pragma once
// The thin layer between the Wi-Fi page and the WLAN API and IP Helper: the WLAN client handle
// and the chosen interface, one fresh scan confirmed by the adapter, single interface
// properties, the interface's default gateways, and display texts of raw SSIDs and device
// names. Every Windows failure becomes a value; nothing here throws but memory.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <windows.h>
#include <wlanapi.h>
// clang-format on

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/inventory/ip_tables.h"
#include "engine/inventory/wifi.h"

namespace tarvisko {

// What the scan notification callback may touch. It lives on the scanning thread for the
// duration of the scan; the registration is removed (or the handle closed) before it goes.
struct ScanWaitContext {
    GUID interface_guid{};
    HANDLE event = nullptr;  // manual-reset, set on a completed or failed scan
    std::atomic<bool> completed{false};
};

struct WifiGateways {
    std::wstring ipv4;
    std::wstring ipv6;
};

// One row of the routing table as the gateway choice reads it.
struct GatewayRoute {
    NET_LUID interface_luid{};
    std::uint8_t prefix_length = 0;
    SOCKADDR_INET next_hop{};
    std::uint32_t metric = 0;
    std::uint32_t interface_index = 0;
};

// Opens a WLAN client handle (client version 2) into `handle` and chooses the first connected
// interface, else the first listed one. The caller closes the handle whether or not an interface
// comes back. `error` is 0, or the code of the call that failed; an empty list gives no
// interface with 0.
std::optional<WLAN_INTERFACE_INFO> open_wifi_interface(const WlanApi& api, HANDLE& handle,
                                                       DWORD& error);
std::optional<WLAN_INTERFACE_INFO> open_wifi_interface(HANDLE& handle, DWORD& error);

// Asks the adapter for a fresh scan and waits at most 4500 ms for it to confirm. Returns the
// empty text on a confirmed scan, else the warning sentence for the page. When the notification
// registration cannot be removed the handle is closed and set to null.
std::wstring run_wifi_scan(const WlanApi& api, HANDLE& handle, const GUID& interface_guid);
std::wstring run_wifi_scan(HANDLE& handle, const GUID& interface_guid);

// The steps of run_wifi_scan after the event: `event` is the scan's manual-reset event (null when
// it could not be created), `wait_ms` the bound of the wait. run_wifi_scan creates and closes
// the event and passes 4500 ms.
std::wstring run_wifi_scan_with_event(const WlanApi& api, HANDLE& handle,
                                      const GUID& interface_guid, HANDLE event, DWORD wait_ms);

// The WLAN notification callback of the scan; `context` is a ScanWaitContext. Acts only on
// completed (7) and failed (8) scans that the ACM (source 8) reports for the context's
// interface.
VOID WINAPI on_scan_notification(PWLAN_NOTIFICATION_DATA data, PVOID context);

// The first signed 32-bit word of a WlanQueryInterface reply of at least 4 bytes.
std::optional<std::int32_t> query_interface_int(const WlanApi& api, HANDLE handle,
                                                const GUID& interface_guid,
                                                WLAN_INTF_OPCODE opcode);

// The default gateways of a connected interface from the routing table; empty texts otherwise.
WifiGateways wifi_gateways(const WLAN_INTERFACE_INFO& interface_info,
                           const IpTableCalls& calls = windows_ip_table_calls());

// The choice behind wifi_gateways over rows in table order: default routes of the interface,
// per family the row of the lowest metric (the later row among equals) whose next hop is a
// usable unicast address; a link-local IPv6 gateway gets "%" and its interface index.
WifiGateways choose_wifi_gateways(std::span<const GatewayRoute> routes,
                                  const NET_LUID& interface_luid);

// An SSID as the page shows it: at most 32 bytes read as UTF-8, sanitised; "Sieć ukryta" when
// nothing is left.
std::wstring ssid_display_text(const DOT11_SSID& ssid);

}  // namespace tarvisko
