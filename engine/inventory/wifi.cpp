#include "engine/inventory/wifi.h"

#include <objbase.h>

#include <cstring>
#include <memory>
#include <string>

#include "engine/common/envelope.h"
#include "engine/common/hash.h"
#include "engine/common/text.h"

namespace tarvisko {
namespace {

// A reply shorter than one complete record is never read.
static_assert(sizeof(WLAN_CONNECTION_ATTRIBUTES) == 604, "connection attributes record layout");
static_assert(wlan_intf_opcode_current_connection == 7 && wlan_intf_opcode_channel_number == 8 &&
                  wlan_intf_opcode_rssi == 0x10000102,
              "WLAN opcodes");

constexpr std::size_t wifi_interface_cap = 16;
constexpr DWORD wlan_client_version = 2;

using WlanReply = std::unique_ptr<void, wlan_memory_deleter>;

std::string call_failure(const char* call, DWORD code) {
    return std::string(call) + ":" + std::to_string(code);
}

std::string guid_text(const GUID& guid) {
    wchar_t buffer[40]{};
    const int written = StringFromGUID2(guid, buffer, 40);
    return to_utf8(
        std::wstring_view(buffer, written > 0 ? static_cast<std::size_t>(written - 1) : 0));
}

}  // namespace

const WlanApi& system_wlan_api() {
    static const WlanApi api{&WlanOpenHandle, &WlanEnumInterfaces,   &WlanQueryInterface,
                             &WlanFreeMemory, &WlanCloseHandle,      &WlanRegisterNotification,
                             &WlanScan,       &WlanGetNetworkBssList};
    return api;
}

nlohmann::json describe_wlan_connection(std::span<const std::uint8_t> privacy_key,
                                        const WLAN_CONNECTION_ATTRIBUTES& attributes) {
    const WLAN_ASSOCIATION_ATTRIBUTES& association = attributes.wlanAssociationAttributes;
    const std::string bssid_id = hmac_sha256(
        std::span<const std::uint8_t>(association.dot11Bssid, sizeof association.dot11Bssid),
        privacy_key);
    nlohmann::json connection = nlohmann::json::object();
    connection["bssid_id"] =
        bssid_id.empty() ? json_unavailable("missing_bssid") : json_value_ok(bssid_id);
    connection["phy"] = static_cast<std::int64_t>(association.dot11PhyType);
    connection["signal_pct"] = static_cast<std::uint64_t>(association.wlanSignalQuality);
    connection["rx_kbps"] = static_cast<std::uint64_t>(association.ulRxRate);
    connection["tx_kbps"] = static_cast<std::uint64_t>(association.ulTxRate);
    return connection;
}

nlohmann::json query_wlan_interface(const WlanApi& api, HANDLE client_handle,
                                    const GUID& interface_guid, WLAN_INTF_OPCODE opcode,
                                    std::span<const std::uint8_t> privacy_key) {
    DWORD size = 0;
    void* data = nullptr;
    WLAN_OPCODE_VALUE_TYPE value_type{};
    const DWORD result = api.query_interface(client_handle, &interface_guid, opcode, nullptr, &size,
                                             &data, &value_type);
    // Whatever the result, a reply that came back is ours to free.
    const WlanReply reply(data, wlan_memory_deleter{&api});
    if (result != ERROR_SUCCESS)
        return json_unavailable(call_failure("WlanQueryInterface", result));

    const std::size_t minimum =
        opcode == wlan_intf_opcode_current_connection ? sizeof(WLAN_CONNECTION_ATTRIBUTES) : 4;
    if (reply == nullptr || size < minimum) return json_unavailable("short_wlan_result");

    if (opcode == wlan_intf_opcode_current_connection) {
        WLAN_CONNECTION_ATTRIBUTES attributes;
        std::memcpy(&attributes, reply.get(), sizeof attributes);
        return json_value_ok(describe_wlan_connection(privacy_key, attributes));
    }
    std::uint32_t raw = 0;
    std::memcpy(&raw, reply.get(), sizeof raw);
    if (opcode == wlan_intf_opcode_rssi) return json_value_ok(static_cast<std::int32_t>(raw));
    return json_value_ok(raw);
}

nlohmann::json collect_wifi(const WlanApi& api, std::span<const std::uint8_t> privacy_key) {
    DWORD negotiated = 0;
    HANDLE raw_handle = nullptr;
    const DWORD opened = api.open_handle(wlan_client_version, nullptr, &negotiated, &raw_handle);
    const std::unique_ptr<void, wlan_handle_closer> client(raw_handle, wlan_handle_closer{&api});
    if (opened != ERROR_SUCCESS) return json_unavailable(call_failure("WlanOpenHandle", opened));

    WLAN_INTERFACE_INFO_LIST* raw_list = nullptr;
    const DWORD enumerated = api.enum_interfaces(client.get(), nullptr, &raw_list);
    const std::unique_ptr<WLAN_INTERFACE_INFO_LIST, wlan_memory_deleter> list(
        raw_list, wlan_memory_deleter{&api});
    if (enumerated != ERROR_SUCCESS || list == nullptr) {
        return json_unavailable(call_failure("WlanEnumInterfaces", enumerated));
    }

    const std::size_t count = list->dwNumberOfItems;
    nlohmann::json interfaces = nlohmann::json::array();
    for (std::size_t i = 0; i < count && i < wifi_interface_cap; ++i) {
        const WLAN_INTERFACE_INFO& info = list->InterfaceInfo[i];
        nlohmann::json item = nlohmann::json::object();
        item["id"] = guid_text(info.InterfaceGuid);
        item["state"] = static_cast<std::int64_t>(info.isState);
        item["connection"] = query_wlan_interface(api, client.get(), info.InterfaceGuid,
                                                  wlan_intf_opcode_current_connection, privacy_key);
        item["rssi_dbm"] =
            query_wlan_interface(api, client.get(), info.InterfaceGuid, wlan_intf_opcode_rssi);
        item["channel"] = query_wlan_interface(api, client.get(), info.InterfaceGuid,
                                               wlan_intf_opcode_channel_number);
        interfaces.push_back(std::move(item));
    }
    return json_value_partial(std::move(interfaces), count);
}

nlohmann::json collect_wifi(std::span<const std::uint8_t> privacy_key) {
    return collect_wifi(system_wlan_api(), privacy_key);
}

}  // namespace tarvisko
