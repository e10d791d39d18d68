#pragma once
// The Wi-Fi section of the network inventory, read from the WLAN service. Records no SSID and
// no profile name: the access point appears only as the keyed pseudonym of its BSSID.
#include <windows.h>
#include <wlanapi.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>

namespace tarvisko {

// The WLAN functions the inventory and the Wi-Fi page use. The product uses system_wlan_api();
// tests hand in a table of fakes, since Wine has no wireless interfaces to read (and its
// WlanGetNetworkBssList ends the process).
struct WlanApi {
    DWORD(WINAPI* open_handle)
    (DWORD client_version, PVOID reserved, PDWORD negotiated_version, PHANDLE client_handle);
    DWORD(WINAPI* enum_interfaces)
    (HANDLE client_handle, PVOID reserved, PWLAN_INTERFACE_INFO_LIST* interface_list);
    DWORD(WINAPI* query_interface)
    (HANDLE client_handle, const GUID* interface_guid, WLAN_INTF_OPCODE opcode, PVOID reserved,
     PDWORD data_size, PVOID* data, PWLAN_OPCODE_VALUE_TYPE value_type);
    VOID(WINAPI* free_memory)(PVOID memory);
    DWORD(WINAPI* close_handle)(HANDLE client_handle, PVOID reserved);
    DWORD(WINAPI* register_notification)
    (HANDLE client_handle, DWORD notification_source, WINBOOL ignore_duplicate,
     WLAN_NOTIFICATION_CALLBACK callback, PVOID callback_context, PVOID reserved,
     PDWORD previous_source);
    DWORD(WINAPI* scan)
    (HANDLE client_handle, const GUID* interface_guid, const PDOT11_SSID ssid,
     const PWLAN_RAW_DATA ie_data, PVOID reserved);
    DWORD(WINAPI* get_network_bss_list)
    (HANDLE client_handle, const GUID* interface_guid, const PDOT11_SSID ssid,
     DOT11_BSS_TYPE bss_type, WINBOOL security_enabled, PVOID reserved, PWLAN_BSS_LIST* bss_list);
};

const WlanApi& system_wlan_api();

// Release guards for std::unique_ptr: WlanFreeMemory on a non-null reply and
// WlanCloseHandle(handle, null) on a non-null client handle, through the given table.
struct wlan_memory_deleter {
    const WlanApi* api = &system_wlan_api();
    void operator()(void* memory) const {
        if (memory != nullptr) api->free_memory(memory);
    }
};
struct wlan_handle_closer {
    using pointer = HANDLE;
    const WlanApi* api = &system_wlan_api();
    void operator()(HANDLE handle) const {
        if (handle != nullptr) api->close_handle(handle, nullptr);
    }
};

// The envelope of the member "wifi": one object per WLAN interface, at most 16.
nlohmann::json collect_wifi(std::span<const std::uint8_t> privacy_key);
nlohmann::json collect_wifi(const WlanApi& api, std::span<const std::uint8_t> privacy_key);

// The connection object of one association: bssid_id, phy, rx_kbps, signal_pct, tx_kbps.
nlohmann::json describe_wlan_connection(std::span<const std::uint8_t> privacy_key,
                                        const WLAN_CONNECTION_ATTRIBUTES& attributes);

// One interface query as an envelope: opcode 7 gives the connection object (needs the key),
// opcode 0x10000102 (RSSI) a signed dBm value, opcode 8 the unsigned channel number. A failed call
// gives "WlanQueryInterface:<code>", a missing or short reply "short_wlan_result".
nlohmann::json query_wlan_interface(const WlanApi& api, HANDLE client_handle,
                                    const GUID& interface_guid, WLAN_INTF_OPCODE opcode,
                                    std::span<const std::uint8_t> privacy_key = {});

}  // namespace tarvisko
