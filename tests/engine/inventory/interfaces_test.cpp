#include "engine/inventory/interfaces.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/hash.h"
#include "engine/common/ids.h"
#include "engine/inventory/registry_text.h"

namespace tarvisko {
namespace {

using nlohmann::json;
using Mac = std::vector<std::uint8_t>;

const std::vector<std::uint8_t> kKey(32, 0x21);
constexpr std::int64_t kMs = 1'000'000;

json unavailable(const char* reason) { return {{"reason", reason}, {"status", "unavailable"}}; }

// Builds GetAdaptersAddresses-shaped chains in memory; every node lives as long as the chain.
class AdapterChain {
  public:
    IP_ADAPTER_ADDRESSES& add(const char* name, const wchar_t* description, const Mac& mac,
                              ULONG if_index, std::uint64_t luid) {
        IP_ADAPTER_ADDRESSES& adapter = adapters_.emplace_back();
        std::memset(static_cast<void*>(&adapter), 0, sizeof adapter);
        adapter.AdapterName = const_cast<char*>(name);
        adapter.Description = const_cast<wchar_t*>(description);
        std::memcpy(adapter.PhysicalAddress, mac.data(), mac.size());
        adapter.PhysicalAddressLength = static_cast<ULONG>(mac.size());
        adapter.IfIndex = if_index;
        adapter.Ipv6IfIndex = if_index + 100;
        adapter.Luid.Value = luid;
        adapter.IfType = IF_TYPE_ETHERNET_CSMACD;
        adapter.OperStatus = IfOperStatusUp;
        adapter.Mtu = 1500;
        if (adapters_.size() > 1) adapters_[adapters_.size() - 2].Next = &adapter;
        return adapter;
    }
    void unicast(IP_ADAPTER_ADDRESSES& adapter, const char* ip, std::uint8_t prefix,
                 IP_DAD_STATE state = IpDadStatePreferred) {
        IP_ADAPTER_UNICAST_ADDRESS& node = unicasts_.emplace_back();
        std::memset(static_cast<void*>(&node), 0, sizeof node);
        node.Address = socket_address(ip);
        node.OnLinkPrefixLength = prefix;
        node.DadState = state;
        append(adapter.FirstUnicastAddress, &node);
    }
    void gateway(IP_ADAPTER_ADDRESSES& adapter, const char* ip) {
        IP_ADAPTER_GATEWAY_ADDRESS_LH& node = gateways_.emplace_back();
        std::memset(static_cast<void*>(&node), 0, sizeof node);
        node.Address = socket_address(ip);
        append(adapter.FirstGatewayAddress, &node);
    }
    void dns(IP_ADAPTER_ADDRESSES& adapter, const char* ip) {
        IP_ADAPTER_DNS_SERVER_ADDRESS_XP& node = dns_.emplace_back();
        std::memset(static_cast<void*>(&node), 0, sizeof node);
        node.Address = socket_address(ip);
        append(adapter.FirstDnsServerAddress, &node);
    }
    const IP_ADAPTER_ADDRESSES* first() const {
        return adapters_.empty() ? nullptr : &adapters_[0];
    }

  private:
    template <typename Node>
    static void append(Node*& head, Node* node) {
        Node** link = &head;
        while (*link != nullptr) link = &(*link)->Next;
        *link = node;
    }
    // "" gives an address of a family that has no text.
    SOCKET_ADDRESS socket_address(const char* ip) {
        SOCKADDR_INET& address = addresses_.emplace_back();
        std::memset(&address, 0, sizeof address);
        INT length = sizeof(SOCKADDR_IN6);
        if (inet_pton(AF_INET, ip, &address.Ipv4.sin_addr) == 1) {
            address.si_family = AF_INET;
            length = sizeof(SOCKADDR_IN);
        } else if (inet_pton(AF_INET6, ip, &address.Ipv6.sin6_addr) == 1) {
            address.si_family = AF_INET6;
        } else {
            address.si_family = AF_APPLETALK;
        }
        return SOCKET_ADDRESS{reinterpret_cast<SOCKADDR*>(&address), length};
    }

    std::deque<IP_ADAPTER_ADDRESSES> adapters_;
    std::deque<IP_ADAPTER_UNICAST_ADDRESS> unicasts_;
    std::deque<IP_ADAPTER_GATEWAY_ADDRESS_LH> gateways_;
    std::deque<IP_ADAPTER_DNS_SERVER_ADDRESS_XP> dns_;
    std::deque<SOCKADDR_INET> addresses_;
};

MIB_IF_ROW2 if_row(std::uint64_t luid, ULONG64 in_octets) {
    MIB_IF_ROW2 row{};
    row.InterfaceLuid.Value = luid;
    row.OperStatus = IfOperStatusUp;
    row.InOctets = in_octets;
    row.ReceiveLinkSpeed = row.TransmitLinkSpeed = 1'000'000'000;
    return row;
}

TEST(Interfaces, AdapterObjectCarriesEveryMember) {
    const Mac mac = {0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x0C};
    AdapterChain chain;
    auto& ethernet = chain.add("{4f0e9a3c-1111-2222-3333-abcdefabcdef}",
                               L"Karta sieciowa \u017C\u00F3\u0142w", mac, 7, 0x42);
    chain.unicast(ethernet, "192.0.2.10", 24);
    chain.unicast(ethernet, "2001:db8::10", 64, IpDadStateDeprecated);
    chain.unicast(ethernet, "", 0);  // no text: neither listed nor counted
    chain.gateway(ethernet, "192.0.2.1");
    chain.gateway(ethernet, "fe80::1");
    chain.dns(ethernet, "192.0.2.53");
    const DriverVersionMap drivers = {{"{4F0E9A3C-1111-2222-3333-ABCDEFABCDEF}", "12.19.2.45"}};
    const auto first = make_counter_snapshot(0, std::vector{if_row(0x42, 0)}, 0);
    const auto second = make_counter_snapshot(0, std::vector{if_row(0x42, 125'000)}, 1000 * kMs);

    json inventory = json::object();
    build_interfaces(inventory, kKey, chain.first(), drivers, first, second);
    EXPECT_EQ(inventory["duplicate_addresses"], json({{"status", "ok"}, {"value", json::array()}}));
    ASSERT_EQ(inventory["interfaces"]["status"], "ok");
    ASSERT_EQ(inventory["interfaces"]["value"].size(), 1u);
    const json& adapter = inventory["interfaces"]["value"][0];

    std::vector<std::string> keys;
    for (const auto& item : adapter.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"counters", "dns", "driver", "gateways", "id",
                                              "index", "link", "mac_id", "model", "mtu",
                                              "oper_status", "traffic", "type", "unicast"}));
    EXPECT_EQ(adapter["id"], "{4F0E9A3C-1111-2222-3333-ABCDEFABCDEF}");
    EXPECT_EQ(adapter["index"], 7);
    EXPECT_EQ(adapter["model"],
              json({{"status", "ok"}, {"value", "Karta sieciowa \xC5\xBC\xC3\xB3\xC5\x82w"}}));
    EXPECT_EQ(adapter["mac_id"], json({{"status", "ok"}, {"value", hmac_sha256(mac, kKey)}}));
    EXPECT_EQ(adapter["type"], 6);
    EXPECT_EQ(adapter["oper_status"], 1);
    EXPECT_EQ(adapter["mtu"], 1500);
    EXPECT_EQ(adapter["unicast"].dump(),
              R"({"status":"ok","value":[{"dad_state":4,"ip":"192.0.2.10","prefix_length":24},)"
              R"({"dad_state":3,"ip":"2001:db8::10","prefix_length":64}]})");
    EXPECT_EQ(adapter["gateways"], json({{"status", "ok"}, {"value", {"192.0.2.1", "fe80::1"}}}));
    EXPECT_EQ(adapter["dns"], json({{"status", "ok"}, {"value", {"192.0.2.53"}}}));
    EXPECT_EQ(adapter["driver"], json({{"status", "ok"}, {"value", "12.19.2.45"}}));
    EXPECT_EQ(adapter["link"]["status"], "ok");
    EXPECT_DOUBLE_EQ(adapter["traffic"]["value"]["rx_bps"].get<double>(), 1'000'000.0);
    EXPECT_EQ(adapter["counters"]["value"]["rx_bytes"], 125'000);
}

TEST(Interfaces, AdaptersWithoutHardwareAddressDescriptionOrIpv4Index) {
    AdapterChain chain;
    auto& loopback = chain.add("{lo}", nullptr, {}, 1, 1);
    loopback.IfType = IF_TYPE_SOFTWARE_LOOPBACK;
    auto& tunnel = chain.add("{tun}", L"", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, 2);
    tunnel.Ipv6IfIndex = 14;
    chain.unicast(tunnel, "2001:db8::bad", 64, IpDadStateDuplicate);
    chain.add("{group}", L"Multicast", {0x01, 0x00, 0x5E, 0x00, 0x00, 0x01}, 3, 3);
    chain.add("{long}", L"Long", {0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}, 4, 4);
    json inventory = json::object();
    build_interfaces(inventory, kKey, chain.first(), {}, {}, {});
    const json& list = inventory["interfaces"]["value"];
    ASSERT_EQ(list.size(), 4u);
    for (const json& adapter : list) {
        EXPECT_EQ(adapter["mac_id"], unavailable("no_unicast_mac48")) << adapter["id"];
        EXPECT_EQ(adapter["driver"], unavailable("driver_version_unavailable"));
        EXPECT_EQ(adapter["gateways"], json({{"status", "ok"}, {"value", json::array()}}));
        // Not in the (failed, empty) second table.
        EXPECT_EQ(adapter["link"], unavailable("GetIfTable2:1168"));
    }
    EXPECT_EQ(list[0]["model"], unavailable("adapter_description_missing"));
    EXPECT_EQ(list[1]["model"], unavailable("adapter_description_missing"));
    EXPECT_EQ(list[0]["type"], 24);
    EXPECT_EQ(list[1]["index"], 14);
    // The duplicate keeps the raw IPv4 index.
    EXPECT_EQ(inventory["duplicate_addresses"],
              json({{"status", "ok"}, {"value", {{{"index", 0}, {"ip", "2001:db8::bad"}}}}}));
}

TEST(Interfaces, DescriptionInBrokenUtf16KeepsItsPlace) {
    // A driver's broken text must not end the whole test: the unpaired half becomes U+FFFD.
    static const wchar_t broken[] = {L'N', L'I', L'C', 0xDC00, 0};
    AdapterChain chain;
    chain.add("{x}", broken, {}, 1, 1);
    json inventory = json::object();
    build_interfaces(inventory, kKey, chain.first(), {}, {}, {});
    EXPECT_EQ(inventory["interfaces"]["value"][0]["model"],
              json({{"status", "ok"}, {"value", "NIC\xEF\xBF\xBD"}}));
}

TEST(Interfaces, CapsKeepTheFirstItemsAndCountAll) {
    AdapterChain chain;
    auto& busy = chain.add("{busy}", L"Busy", {0x00, 0x1B, 0x21, 0, 0, 1}, 1, 1);
    for (int i = 0; i < 40; ++i) {
        chain.unicast(busy, ("198.51.100." + std::to_string(i)).c_str(), 24, IpDadStatePreferred);
    }
    for (int i = 0; i < 20; ++i) chain.gateway(busy, ("192.0.2." + std::to_string(i)).c_str());
    chain.gateway(busy, "");
    for (int i = 0; i < 16; ++i) chain.dns(busy, ("192.0.2." + std::to_string(100 + i)).c_str());
    for (ULONG n = 2; n <= 40; ++n) {
        auto& adapter = chain.add("{more}", L"More", {}, n, n);
        if (n == 33) {
            for (int i = 0; i < 130; ++i) {
                chain.unicast(adapter, ("198.18.0." + std::to_string(i)).c_str(), 15,
                              IpDadStateDuplicate);
            }
        }
    }
    json inventory = json::object();
    build_interfaces(inventory, kKey, chain.first(), {}, {}, {});
    const json& interfaces = inventory["interfaces"];
    EXPECT_EQ(interfaces["status"], "partial");
    EXPECT_EQ(interfaces["reason"], "row_limit");
    EXPECT_EQ(interfaces["total"], 40);
    ASSERT_EQ(interfaces["value"].size(), 32u);
    const json& first = interfaces["value"][0];
    EXPECT_EQ(first["unicast"]["status"], "partial");
    EXPECT_EQ(first["unicast"]["total"], 40);
    EXPECT_EQ(first["unicast"]["value"].size(), 32u);
    EXPECT_EQ(first["unicast"]["value"][31]["ip"], "198.51.100.31");
    EXPECT_EQ(first["gateways"]["total"], 20);
    EXPECT_EQ(first["gateways"]["value"].size(), 16u);
    EXPECT_EQ(first["dns"]["status"], "ok");
    EXPECT_EQ(first["dns"]["value"].size(), 16u);
    // The 33rd adapter is not listed, but its duplicates are.
    const json& duplicates = inventory["duplicate_addresses"];
    EXPECT_EQ(duplicates["status"], "partial");
    EXPECT_EQ(duplicates["total"], 130);
    ASSERT_EQ(duplicates["value"].size(), 128u);
    EXPECT_EQ(duplicates["value"][0], json({{"index", 33}, {"ip", "198.18.0.0"}}));
}

// Plays GetAdaptersAddresses: asks for `wanted` bytes until it gets them, then writes one
// adapter into the caller's buffer.
struct FakeAdapterCall {
    static inline int calls = 0;
    static inline ULONG wanted = 0;
    static inline ULONG failure = NO_ERROR;
    static ULONG WINAPI get(ULONG family, ULONG flags, PVOID, PIP_ADAPTER_ADDRESSES buffer,
                            PULONG size) {
        ++calls;
        EXPECT_EQ(family, static_cast<ULONG>(AF_UNSPEC));
        EXPECT_EQ(flags, 0x90u);
        if (failure != NO_ERROR) return failure;
        if (*size < wanted) {
            *size = wanted;
            return ERROR_BUFFER_OVERFLOW;
        }
        std::memset(static_cast<void*>(buffer), 0, sizeof *buffer);
        buffer->AdapterName = const_cast<char*>("{abc}");
        buffer->Description = const_cast<wchar_t*>(L"Played");
        buffer->IfIndex = 5;
        return NO_ERROR;
    }
    static DriverVersionMap drivers() { return {{"{ABC}", "1.2.3"}}; }
    static void reset(ULONG want, ULONG fail) {
        calls = 0;
        wanted = want;
        failure = fail;
    }
};

TEST(Interfaces, AdapterCallGrowsItsBufferAndReportsFailures) {
    const AdapterCalls calls{&FakeAdapterCall::get, &FakeAdapterCall::drivers};
    struct Case {
        ULONG wanted;
        ULONG failure;
        int expected_calls;
        const char* reason;  // nullptr: read
    };
    const Case cases[] = {
        {100, NO_ERROR, 1, nullptr},
        {40'000, NO_ERROR, 2, nullptr},
        {0, ERROR_NO_DATA, 1, "GetAdaptersAddresses:232"},
    };
    for (const Case& c : cases) {
        FakeAdapterCall::reset(c.wanted, c.failure);
        json inventory = json::object();
        collect_interfaces(inventory, kKey, {}, {}, calls);
        EXPECT_EQ(FakeAdapterCall::calls, c.expected_calls) << c.wanted;
        if (c.reason != nullptr) {
            EXPECT_EQ(inventory["interfaces"], unavailable(c.reason));
            EXPECT_EQ(inventory["duplicate_addresses"], unavailable(c.reason));
        } else {
            ASSERT_EQ(inventory["interfaces"]["value"].size(), 1u) << c.wanted;
            EXPECT_EQ(inventory["interfaces"]["value"][0]["id"], "{ABC}");
            EXPECT_EQ(inventory["interfaces"]["value"][0]["driver"]["value"], "1.2.3");
        }
    }

    // A list that keeps growing: each answer asks for one byte more than it was given. The
    // fourth overflow is the last try.
    FakeAdapterCall::reset(0, NO_ERROR);
    const AdapterCalls growing{
        [](ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES, PULONG size) -> ULONG {
            ++FakeAdapterCall::calls;
            *size += 1;
            return ERROR_BUFFER_OVERFLOW;
        },
        &FakeAdapterCall::drivers};
    json inventory = json::object();
    collect_interfaces(inventory, kKey, {}, {}, growing);
    EXPECT_EQ(FakeAdapterCall::calls, 4);
    EXPECT_EQ(inventory["interfaces"], unavailable("GetAdaptersAddresses:111"));
    EXPECT_EQ(inventory["duplicate_addresses"], unavailable("GetAdaptersAddresses:111"));
}

TEST(DriverVersions, LaterDeviceWinsAndEmptyTextsAreSkipped) {
    DriverVersionMap map;
    add_driver_version(map, L"{ab-cd}", L"1.0");
    add_driver_version(map, L"{AB-CD}", L"2.0");
    add_driver_version(map, L"{ef}", L"");
    add_driver_version(map, L"", L"3.0");
    add_driver_version(map, L"{12}", std::wstring(L"4.") + static_cast<wchar_t>(0xD800));
    EXPECT_EQ(map, (DriverVersionMap{{"{AB-CD}", "2.0"}, {"{12}", "4.\xEF\xBF\xBD"}}));
    // Whatever this system lists, the real enumeration never fails.
    EXPECT_NO_THROW((void)adapter_driver_versions());
}

TEST(RegistryText, FitsTheBufferOrCountsAsEmpty) {
    const std::string id = new_uuid_text();
    const std::wstring path = L"Software\\Tarvisko-test-" + std::wstring(id.begin(), id.end());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const auto set_text = [&](const wchar_t* name, const std::wstring& text) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    };
    set_text(L"fits", std::wstring(511, L'\u017C'));
    set_text(L"long", std::wstring(600, L'x'));
    const DWORD number = 7;
    RegSetValueExW(key, L"number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
    EXPECT_EQ(read_registry_text(HKEY_CURRENT_USER, path.c_str(), L"fits"),
              std::wstring(511, L'\u017C'));
    EXPECT_EQ(read_registry_text(key, nullptr, L"long"), L"");
    EXPECT_EQ(read_registry_text(key, nullptr, L"number"), L"");
    EXPECT_EQ(read_registry_text(key, nullptr, L"absent"), L"");
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
}

TEST(Interfaces, RealAdaptersUnderThisSystem) {
    const InterfaceCounterSnapshot first = snapshot_interface_counters();
    const InterfaceCounterSnapshot second = snapshot_interface_counters();
    json inventory = json::object();
    collect_interfaces(inventory, kKey, first, second);
    ASSERT_EQ(inventory["interfaces"]["status"], "ok") << inventory["interfaces"].dump();
    ASSERT_FALSE(inventory["interfaces"]["value"].empty());
    for (const json& adapter : inventory["interfaces"]["value"]) {
        EXPECT_EQ(adapter.size(), 14u) << adapter.dump();
        EXPECT_TRUE(adapter["id"].is_string());
        EXPECT_TRUE(adapter["unicast"].contains("status"));
    }
    EXPECT_TRUE(inventory["duplicate_addresses"].contains("status"));
    EXPECT_NO_THROW((void)inventory.dump());
}

}  // namespace
}  // namespace tarvisko
