// The gateway choice over the real routing table, inside a namespace network built by
// tools/netns/run.sh (client, one router, target). Wine has no wireless adapter, so the client's
// wired link stands in for the Wi-Fi interface: its GUID from GetAdaptersAddresses, its state
// given as connected.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/system.h"
#include "engine/common/text.h"
#include "readings/wifi_scan.h"

namespace tarvisko {
namespace {

// The GUID of the adapter that holds the IPv4 address, or nothing.
std::optional<GUID> adapter_guid_with(const std::wstring& ipv4) {
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer(size);
    auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    if (GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_DNS_SERVER, nullptr, list, &size) != NO_ERROR) {
        return std::nullopt;
    }
    for (const IP_ADAPTER_ADDRESSES* adapter = list; adapter != nullptr; adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
             unicast != nullptr; unicast = unicast->Next) {
            wchar_t text[65]{};
            const auto* in = reinterpret_cast<const SOCKADDR_IN*>(unicast->Address.lpSockaddr);
            if (InetNtopW(AF_INET, &in->sin_addr, text, 65) == nullptr || text != ipv4) continue;
            // AdapterName is the adapter's GUID in braces.
            const std::string name = adapter->AdapterName;
            GUID guid{};
            const std::wstring wide(name.begin(), name.end());
            if (IIDFromString(wide.c_str(), &guid) != S_OK) return std::nullopt;
            return guid;
        }
    }
    return std::nullopt;
}

TEST(WifiGatewaysInNamespaces, RouterOfTheClientsLink) {
    const std::wstring client = read_environment_variable(L"TARVISKO_NETNS_CLIENT");
    const std::wstring router = read_environment_variable(L"TARVISKO_NETNS_ROUTER1");
    const std::wstring router6 = read_environment_variable(L"TARVISKO_NETNS_ROUTER1_6");
    ASSERT_FALSE(client.empty()) << "run through tools/netns/run.sh";
    const std::optional<GUID> guid = adapter_guid_with(client);
    ASSERT_TRUE(guid) << "no adapter holds the client's address";

    WLAN_INTERFACE_INFO link{};
    link.InterfaceGuid = *guid;
    link.isState = wlan_interface_state_connected;
    const WifiGateways gateways = wifi_gateways(link);
    EXPECT_EQ(gateways.ipv4, router);
    // Wine's routing table holds IPv4 routes only; Windows also gives the IPv6 router.
    EXPECT_TRUE(gateways.ipv6.empty() || gateways.ipv6 == router6) << to_utf8(gateways.ipv6);

    link.isState = wlan_interface_state_disconnected;
    EXPECT_EQ(wifi_gateways(link).ipv4, L"");
}

}  // namespace
}  // namespace tarvisko
