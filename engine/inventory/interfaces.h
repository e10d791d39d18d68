#pragma once
// The network adapters of the inventory: one object per adapter with its identity, model, type,
// state, MTU, addresses, gateways, DNS servers, MAC identifier, driver version, link, counters
// and traffic, and the list of addresses that failed duplicate detection.
// Winsock must come before the IP Helper headers.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
// clang-format on

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

#include "engine/inventory/interface_counters.h"

namespace tarvisko {

inline constexpr std::size_t kAdapterCap = 32;
inline constexpr std::size_t kUnicastCap = 32;
inline constexpr std::size_t kAdapterAddressCap = 16;
inline constexpr std::size_t kDuplicateAddressCap = 128;

// Upper-cased network configuration instance id ("{GUID}", UTF-8) -> driver version (UTF-8).
using DriverVersionMap = std::map<std::string, std::string>;

// The Windows readings behind collect_interfaces, injectable so tests can play the adapter call
// and the device list.
struct AdapterCalls {
    decltype(&GetAdaptersAddresses) get_adapters_addresses = nullptr;
    DriverVersionMap (*driver_versions)() = nullptr;
};
const AdapterCalls& windows_adapter_calls();

// Writes "interfaces" (envelope of adapter objects, cap 32) and "duplicate_addresses" (envelope
// of {"index","ip"}, cap 128). When the adapter list cannot be read both become
// {"reason":"GetAdaptersAddresses:<code>","status":"unavailable"}. Throws only the errors of
// hmac_sha256; a description or driver version in broken UTF-16 keeps its place with U+FFFD.
void collect_interfaces(nlohmann::json& inventory, std::span<const std::uint8_t> privacy_key,
                        const InterfaceCounterSnapshot& first,
                        const InterfaceCounterSnapshot& second,
                        const AdapterCalls& calls = windows_adapter_calls());

// The builder behind collect_interfaces, over the adapter chain as GetAdaptersAddresses
// returns it.
void build_interfaces(nlohmann::json& inventory, std::span<const std::uint8_t> privacy_key,
                      const IP_ADAPTER_ADDRESSES* adapters, const DriverVersionMap& drivers,
                      const InterfaceCounterSnapshot& first,
                      const InterfaceCounterSnapshot& second);

// Envelope of the address texts of a gateway or DNS server list, cap 16; empty texts are
// neither listed nor counted.
nlohmann::json interface_addresses(const IP_ADAPTER_GATEWAY_ADDRESS_LH* first);
nlohmann::json interface_addresses(const IP_ADAPTER_DNS_SERVER_ADDRESS_XP* first);

// Driver versions of the present network devices; empty when Windows gives nothing.
DriverVersionMap adapter_driver_versions();
// Records one device's pair when both texts are non-empty; a later device with the same
// instance id replaces the earlier version.
void add_driver_version(DriverVersionMap& map, std::wstring instance_id, std::wstring_view version);

}  // namespace tarvisko
