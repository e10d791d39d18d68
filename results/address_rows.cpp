#include "results/address_rows.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/common/address.h"
#include "engine/common/text.h"
#include "results/dashboard.h"
#include "results/format.h"

namespace tarvisko {

namespace {

struct AddressKind {
    std::wstring_view label;
    std::wstring_view explanation;
};

constexpr std::array<AddressKind, 5> address_kinds{{
    {L"IPv6 · widziany przez serwer", L"Adres klienta zarejestrowany przy połączeniu HTTPS."},
    {L"IPv6 · globalny",
     L"Adres z zakresu globalnego. Odczyt karty sam nie potwierdza łączności IPv6."},
    {L"IPv6 · prywatny (ULA)",
     L"Adres prywatny ULA, przeznaczony do komunikacji w sieciach prywatnych."},
    {L"IPv6 · inny zakres", L"Adres IPv6 spoza typowych zakresów globalnego, ULA i link-local."},
    {L"IPv6 · link-local", L"Adres lokalny dla jednego łącza."},
}};

}  // namespace

bool is_ipv6_link_local(const std::array<std::uint8_t, 16>& address) {
    return address[0] == 0xFE && (address[1] & 0xC0) == 0x80;
}

std::optional<std::array<std::uint8_t, 16>> parse_ipv6_literal(std::wstring_view text) {
    const std::wstring address(text.substr(0, text.find(L'%')));
    IN6_ADDR parsed{};
    if (InetPtonW(AF_INET6, address.c_str(), &parsed) != 1) return std::nullopt;
    std::array<std::uint8_t, 16> bytes{};
    std::memcpy(bytes.data(), parsed.s6_addr, bytes.size());
    return bytes;
}

std::vector<std::wstring> collect_dns_servers(const nlohmann::json& interface_entry) {
    std::optional<std::string> ipv4;
    std::vector<std::string> ipv6;
    const nlohmann::json& servers = json_value_of(interface_entry, "dns");
    if (servers.is_array()) {
        for (const nlohmann::json& server : servers) {
            if (!server.is_string()) continue;
            Target target;
            try {
                target = parse_ip_literal(server.get<std::string>());
            } catch (const std::invalid_argument&) {
                continue;  // not a numeric unicast address
            }
            if (target.address.si_family == AF_INET) {
                if (!ipv4) ipv4 = target.text;
            } else if (ipv6.size() < 2 && is_public_address(target) &&
                       std::find(ipv6.begin(), ipv6.end(), target.text) == ipv6.end()) {
                ipv6.push_back(target.text);
            }
        }
    }
    std::vector<std::wstring> result;
    if (ipv4) result.push_back(to_wide(*ipv4));
    for (const std::string& text : ipv6) result.push_back(to_wide(text));
    return result;
}

void add_ipv6_address_row(Ipv6AddressBuckets& buckets, const std::wstring& address,
                          std::wstring_view source, bool observed) {
    const auto parsed = parse_ipv6_literal(address);
    if (!parsed) return;
    const std::array<std::uint8_t, 16>& b = *parsed;
    const bool upper_zero = std::all_of(b.begin(), b.begin() + 10, [](auto x) { return x == 0; });
    const bool unspecified_or_loopback =
        upper_zero && b[10] == 0 && b[11] == 0 &&
        std::all_of(b.begin() + 12, b.begin() + 15, [](auto x) { return x == 0; }) && b[15] <= 1;
    const bool mapped = upper_zero && b[10] == 0xFF && b[11] == 0xFF;
    if (unspecified_or_loopback || mapped || b[0] == 0xFF) return;

    std::size_t kind = 3;
    if (is_ipv6_link_local(b)) {
        kind = 4;  // even when the server saw it
    } else if (observed) {
        kind = 0;
    } else if ((b[0] & 0xE0) == 0x20) {
        kind = 1;
    } else if ((b[0] & 0xFE) == 0xFC) {
        kind = 2;
    }
    std::wstring detail(source);
    detail += L"\r\n";
    detail += address_kinds[kind].explanation;
    std::vector<Ipv6AddressRow>& bucket = buckets[kind];
    const bool known = std::any_of(bucket.begin(), bucket.end(), [&](const Ipv6AddressRow& row) {
        return row.address == address && row.detail == detail;
    });
    if (!known) {
        bucket.push_back({address, std::wstring(address_kinds[kind].label), std::move(detail)});
    }
}

void add_adapter_address_rows(Ipv6AddressBuckets& buckets, const nlohmann::json& interface_entry,
                              std::wstring_view source) {
    const nlohmann::json& unicast = json_value_of(interface_entry, "unicast");
    if (!unicast.is_array()) return;
    for (const nlohmann::json& entry : unicast) {
        // Only preferred (4) and deprecated (3) addresses are in use; tentative, duplicate or
        // invalid ones are not.
        const nlohmann::json& dad_state = json_member_or_null(entry, "dad_state");
        if (dad_state.is_number_integer() && dad_state != 3 && dad_state != 4) continue;
        add_ipv6_address_row(buckets, json_value_text(json_member_or_null(entry, "ip")), source,
                             false);
    }
}

std::vector<Ipv6AddressRow> build_adapter_rows(const nlohmann::json& report,
                                               const nlohmann::json* measurement_interface) {
    Ipv6AddressBuckets buckets;
    add_ipv6_address_row(buckets, json_value_text(json_member_or_null(report, "observed_ip")),
                         L"Węzeł pomiarowy", true);
    if (measurement_interface != nullptr) {
        add_adapter_address_rows(buckets, *measurement_interface, L"Karta pomiarowa");
    }
    const nlohmann::json& interfaces =
        json_value_of(json_member_or_null(report, "inventory"), "interfaces");
    if (interfaces.is_array()) {
        for (const nlohmann::json& entry : interfaces) {
            if (&entry == measurement_interface) continue;
            if (json_member_or_null(entry, "oper_status") != 1 ||
                json_member_or_null(entry, "type") == 24) {
                continue;  // down, or the software loopback
            }
            const std::wstring model = json_value_text(json_value_of(entry, "model"));
            add_adapter_address_rows(
                buckets, entry,
                model.empty() ? L"Inna aktywna karta" : L"Inna aktywna karta · " + model);
        }
    }
    std::vector<Ipv6AddressRow> rows;
    for (std::vector<Ipv6AddressRow>& bucket : buckets) {
        std::move(bucket.begin(), bucket.end(), std::back_inserter(rows));
    }
    return rows;
}

}  // namespace tarvisko
