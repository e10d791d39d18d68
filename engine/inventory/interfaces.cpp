#include "engine/inventory/interfaces.h"

#include <setupapi.h>

#include <algorithm>
#include <vector>

#include "engine/common/envelope.h"
#include "engine/common/handle_guard.h"
#include "engine/common/hash.h"
#include "engine/common/text.h"
#include "engine/inventory/address_text.h"
#include "engine/inventory/registry_text.h"

namespace tarvisko {

namespace {

constexpr ULONG kAdapterFlags = GAA_FLAG_INCLUDE_PREFIX | GAA_FLAG_INCLUDE_GATEWAYS;  // 0x90
constexpr ULONG kFirstBufferBytes = 15000;
constexpr int kMostAdapterCalls = 4;

// GUID_DEVCLASS_NET, the network adapter device class.
constexpr GUID kNetClass = {
    0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

template <typename Node>
nlohmann::json address_list(const Node* node) {
    nlohmann::json texts = nlohmann::json::array();
    std::uint64_t count = 0;
    for (; node != nullptr; node = node->Next) {
        std::string text = sockaddr_to_text(node->Address);
        if (text.empty()) continue;
        ++count;
        if (count <= kAdapterAddressCap) texts.push_back(std::move(text));
    }
    return json_value_partial(std::move(texts), count);
}

std::string upper_ascii_name(const char* name) {
    std::string id = name == nullptr ? std::string() : std::string(name);
    if (!id.empty()) CharUpperBuffA(id.data(), static_cast<DWORD>(id.size()));
    return id;
}

nlohmann::json model_of(const IP_ADAPTER_ADDRESSES& adapter) {
    if (adapter.Description == nullptr || adapter.Description[0] == L'\0') {
        return json_unavailable("adapter_description_missing");
    }
    return json_value_ok(reading_to_utf8(adapter.Description));
}

nlohmann::json mac_id_of(const IP_ADAPTER_ADDRESSES& adapter,
                         std::span<const std::uint8_t> privacy_key) {
    const std::size_t length =
        std::min<std::size_t>(adapter.PhysicalAddressLength, sizeof adapter.PhysicalAddress);
    std::string mac_id = hmac_sha256({adapter.PhysicalAddress, length}, privacy_key);
    if (mac_id.empty()) return json_unavailable("no_unicast_mac48");
    return json_value_ok(std::move(mac_id));
}

void close_device_set(HDEVINFO set) { SetupDiDestroyDeviceInfoList(set); }
void close_key(HKEY key) { RegCloseKey(key); }

}  // namespace

const AdapterCalls& windows_adapter_calls() {
    static const AdapterCalls calls{&GetAdaptersAddresses, &adapter_driver_versions};
    return calls;
}

nlohmann::json interface_addresses(const IP_ADAPTER_GATEWAY_ADDRESS_LH* first) {
    return address_list(first);
}

nlohmann::json interface_addresses(const IP_ADAPTER_DNS_SERVER_ADDRESS_XP* first) {
    return address_list(first);
}

void add_driver_version(DriverVersionMap& map, std::wstring instance_id,
                        std::wstring_view version) {
    if (instance_id.empty() || version.empty()) return;
    CharUpperBuffW(instance_id.data(), static_cast<DWORD>(instance_id.size()));
    map[reading_to_utf8(instance_id)] = reading_to_utf8(version);
}

DriverVersionMap adapter_driver_versions() {
    DriverVersionMap map;
    HandleGuard<HDEVINFO> devices(SetupDiGetClassDevsW(&kNetClass, nullptr, nullptr, DIGCF_PRESENT),
                                  close_device_set, INVALID_HANDLE_VALUE);
    if (!devices) return map;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(devices.get(), index, &device)) break;
        HandleGuard<HKEY> key(SetupDiOpenDevRegKey(devices.get(), &device, DICS_FLAG_GLOBAL, 0,
                                                   DIREG_DRV, KEY_QUERY_VALUE),
                              close_key, static_cast<HKEY>(INVALID_HANDLE_VALUE));
        if (!key || key.get() == nullptr) continue;
        std::wstring instance_id = read_registry_text(key.get(), nullptr, L"NetCfgInstanceId");
        const std::wstring version = read_registry_text(key.get(), nullptr, L"DriverVersion");
        key.reset();
        add_driver_version(map, std::move(instance_id), version);
    }
    return map;
}

void build_interfaces(nlohmann::json& inventory, std::span<const std::uint8_t> privacy_key,
                      const IP_ADAPTER_ADDRESSES* adapters, const DriverVersionMap& drivers,
                      const InterfaceCounterSnapshot& first,
                      const InterfaceCounterSnapshot& second) {
    nlohmann::json adapter_list = nlohmann::json::array();
    nlohmann::json duplicates = nlohmann::json::array();
    std::uint64_t adapter_count = 0;
    std::uint64_t duplicate_count = 0;
    for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter != nullptr;
         adapter = adapter->Next) {
        // Addresses first: duplicates are counted on every adapter, also beyond the cap.
        nlohmann::json unicast = nlohmann::json::array();
        std::uint64_t unicast_count = 0;
        for (const IP_ADAPTER_UNICAST_ADDRESS* address = adapter->FirstUnicastAddress;
             address != nullptr; address = address->Next) {
            std::string text = sockaddr_to_text(address->Address);
            if (text.empty()) continue;
            ++unicast_count;
            if (unicast_count <= kUnicastCap) {
                unicast.push_back(
                    {{"ip", text},
                     {"prefix_length", static_cast<std::uint32_t>(address->OnLinkPrefixLength)},
                     {"dad_state", static_cast<std::int32_t>(address->DadState)}});
            }
            if (address->DadState == IpDadStateDuplicate) {
                ++duplicate_count;
                if (duplicate_count <= kDuplicateAddressCap) {
                    duplicates.push_back(
                        {{"index", static_cast<std::uint32_t>(adapter->IfIndex)}, {"ip", text}});
                }
            }
        }
        ++adapter_count;
        if (adapter_count > kAdapterCap) continue;

        nlohmann::json object = nlohmann::json::object();
        const std::string id = upper_ascii_name(adapter->AdapterName);
        object["id"] = id;
        object["index"] = static_cast<std::uint32_t>(adapter->IfIndex != 0 ? adapter->IfIndex
                                                                           : adapter->Ipv6IfIndex);
        object["model"] = model_of(*adapter);
        object["mac_id"] = mac_id_of(*adapter, privacy_key);
        object["type"] = static_cast<std::uint32_t>(adapter->IfType);
        object["oper_status"] = static_cast<std::int32_t>(adapter->OperStatus);
        object["mtu"] = static_cast<std::uint32_t>(adapter->Mtu);
        object["unicast"] = json_value_partial(std::move(unicast), unicast_count);
        object["gateways"] = interface_addresses(adapter->FirstGatewayAddress);
        object["dns"] = interface_addresses(adapter->FirstDnsServerAddress);
        const auto driver = drivers.find(id);
        object["driver"] = driver != drivers.end() ? json_value_ok(driver->second)
                                                   : json_unavailable("driver_version_unavailable");
        interface_traffic(object, adapter->Luid.Value, first, second);
        adapter_list.push_back(std::move(object));
    }
    inventory["interfaces"] = json_value_partial(std::move(adapter_list), adapter_count);
    inventory["duplicate_addresses"] = json_value_partial(std::move(duplicates), duplicate_count);
}

void collect_interfaces(nlohmann::json& inventory, std::span<const std::uint8_t> privacy_key,
                        const InterfaceCounterSnapshot& first,
                        const InterfaceCounterSnapshot& second, const AdapterCalls& calls) {
    // 8-byte words keep the adapter records aligned inside the buffer.
    std::vector<std::uint64_t> buffer;
    ULONG size = kFirstBufferBytes;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int call = 0; call < kMostAdapterCalls && result == ERROR_BUFFER_OVERFLOW; ++call) {
        buffer.assign((static_cast<std::size_t>(size) + 7) / 8, 0);
        size = static_cast<ULONG>(buffer.size() * 8);
        result = calls.get_adapters_addresses(
            AF_UNSPEC, kAdapterFlags, nullptr,
            reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) {
        const std::string reason = "GetAdaptersAddresses:" + std::to_string(result);
        inventory["interfaces"] = json_unavailable(reason);
        inventory["duplicate_addresses"] = json_unavailable(reason);
        return;
    }
    const DriverVersionMap drivers = calls.driver_versions();
    build_interfaces(inventory, privacy_key, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()),
                     drivers, first, second);
}

}  // namespace tarvisko
