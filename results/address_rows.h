#pragma once
// The addresses of a full test as the dashboard and the report details list them: the DNS servers
// of the test adapter and every usable IPv6 address, the one the server saw first.
#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvisko {

struct Ipv6AddressRow {
    std::wstring address;  // as it stood in the document
    std::wstring label;    // names its kind
    std::wstring detail;   // where it was read, CR LF, an explanation

    bool operator==(const Ipv6AddressRow&) const = default;
};

// One list per kind, in the order they are shown: seen by the server, global, private (ULA),
// other range, link-local.
using Ipv6AddressBuckets = std::array<std::vector<Ipv6AddressRow>, 5>;

// The 16 bytes of an IPv6 literal; a zone suffix after '%' is ignored.
std::optional<std::array<std::uint8_t, 16>> parse_ipv6_literal(std::wstring_view text);
// fe80::/10.
bool is_ipv6_link_local(const std::array<std::uint8_t, 16>& address);

// The first IPv4 server and up to two distinct public IPv6 servers of the interface's "dns",
// as canonical texts; what is not a numeric unicast address is skipped.
std::vector<std::wstring> collect_dns_servers(const nlohmann::json& interface_entry);

// Files one address under its kind, unless it is not a usable IPv6 unicast address or the same
// address with the same detail is already there.
void add_ipv6_address_row(Ipv6AddressBuckets& buckets, const std::wstring& address,
                          std::wstring_view source, bool observed);
// Every unicast address of the interface that is not tentative or duplicate.
void add_adapter_address_rows(Ipv6AddressBuckets& buckets, const nlohmann::json& interface_entry,
                              std::wstring_view source);
// The observed address, the test adapter's (`measurement_interface`, may be null), those of the
// other active adapters but loopback; ordered by kind, then as found.
std::vector<Ipv6AddressRow> build_adapter_rows(const nlohmann::json& report,
                                               const nlohmann::json* measurement_interface);

}  // namespace tarvisko
