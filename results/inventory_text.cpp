#include "results/inventory_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <set>

#include "engine/common/display_text.h"
#include "results/format.h"
#include "results/report_readers.h"

namespace tarvisko {

namespace {

using nlohmann::json;

bool is_partial(const json& envelope) { return json_member_is(envelope, "status", "partial"); }

// The value text of the envelope `name` of `object`.
std::string value_text(const json& object, std::string_view name) {
    const json& envelope = json_member_or_null(object, name);
    return envelope_number_text(json_member_or_null(envelope, "value"), envelope, 1.0, "");
}

// A rate or byte count: a negative or endless one reads as missing.
std::string amount_text(const json& value, const json& fallback, double divisor,
                        std::string_view suffix) {
    if (value.is_number() && !stored_amount(value)) return "brak odczytu";
    return envelope_number_text(value, fallback, divisor, suffix);
}

std::string joined(const std::set<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        if (!text.empty()) text += ", ";
        text += item;
    }
    return text;
}

// The interfaces of the list whose addresses hold the reservation's local address.
struct ReservationMatch {
    int count = 0;
    const json* last = nullptr;
};

ReservationMatch match_reservation(const json& interfaces, const json& address) {
    ReservationMatch match;
    if (!address.is_string() || !interfaces.is_array()) return match;
    for (const json& entry : interfaces) {
        const json& unicast = json_value_of(entry, "unicast");
        if (!unicast.is_array()) continue;
        for (const json& item : unicast) {
            if (json_member_or_null(item, "ip") == address) {
                ++match.count;
                match.last = &entry;
                break;
            }
        }
    }
    return match;
}

void append_reservation(std::string& text, const json& inventory, const json& throughput) {
    const json& reservation = json_member_or_null(throughput, "reservation_local_ip");
    const json& address = json_member_or_null(reservation, "value");
    const ReservationMatch match = match_reservation(json_value_of(inventory, "interfaces"), address);
    text += "Typ połączenia przy rezerwacji HTTPS   ";
    if (!address.is_string()) {
        text += envelope_state_text(reservation);
    } else if (match.count == 1) {
        const json& adapter = *match.last;
        text += interface_type_text(adapter.at("type").get<std::int64_t>());
        text += " · ";
        text += value_text(adapter, "model");
        text += "\r\nSąsiedzi na karcie pomiarowej   ";
        text += neighbor_summary(json_member_or_null(inventory, "neighbors"), adapter.at("index"));
    } else if (match.count == 0) {
        text += "brak karty z adresem połączenia w odczycie Windows";
    } else {
        text += "niejednoznaczne dopasowanie adresu";
    }
}

void append_system(std::string& text, const json& system) {
    const json& memory = json_member_or_null(system, "memory");
    const json& memory_value = json_member_or_null(memory, "value");
    constexpr double gib = 1073741824.0;
    text += "Procesor   ";
    text += value_text(system, "cpu_model");
    text += " · procesory logiczne: ";
    text += envelope_number_text(json_member_or_null(system, "logical_processors"), system, 1.0, "");
    text += "\r\nRAM   ";
    text += amount_text(json_member_or_null(memory_value, "total_bytes"), memory, gib, " GiB");
    text += " · dostępne: ";
    text += amount_text(json_member_or_null(memory_value, "available_bytes"), memory, gib, " GiB");
    text += "\r\n";
}

// "<rx> / <tx>" of two members of an envelope's value.
std::string pair_text(const json& envelope, std::string_view rx, std::string_view tx,
                      double divisor, std::string_view suffix) {
    const json& value = json_member_or_null(envelope, "value");
    return amount_text(json_member_or_null(value, rx), envelope, divisor, suffix) + " / " +
           amount_text(json_member_or_null(value, tx), envelope, divisor, suffix);
}

void append_interface(std::string& text, const json& adapter) {
    text += "  ";
    text += interface_type_text(adapter.at("type").get<std::int64_t>());
    text += " · ";
    text += value_text(adapter, "model");
    text += " · sterownik ";
    text += value_text(adapter, "driver");
    text += " · MTU ";
    const json& mtu = adapter.at("mtu");
    text += stored_mtu(mtu) ? mtu.dump() : std::string("brak odczytu");
    text += "\r\n  Prędkość łącza RX / TX: ";
    text += pair_text(json_member_or_null(adapter, "link"), "rx_bps", "tx_bps", 1e6, " Mb/s");
    text += " · ruch przed testem RX / TX: ";
    text += pair_text(json_member_or_null(adapter, "traffic"), "rx_bps", "tx_bps", 1e6, " Mb/s");
    const json& counters = json_member_or_null(adapter, "counters");
    text += "\r\n  Błędy RX / TX: ";
    text += pair_text(counters, "rx_errors", "tx_errors", 1.0, "");
    text += " · odrzucenia RX / TX: ";
    text += pair_text(counters, "rx_discards", "tx_discards", 1.0, "");
    text += "\r\n  Bramy: ";
    text += envelope_list_text(json_member_or_null(adapter, "gateways"));
    text += " · DNS: ";
    text += envelope_list_text(json_member_or_null(adapter, "dns"));
    text += "\r\n  Adresy IP:";
    const json& unicast = json_member_or_null(adapter, "unicast");
    const json& addresses = json_member_or_null(unicast, "value");
    if (!addresses.is_array()) {
        text += " ";
        text += envelope_state_text(unicast);
    } else if (addresses.empty()) {
        text += " brak wpisów";
    } else {
        for (const json& address : addresses) {
            text += " ";
            text += address.at("ip").get_ref<const std::string&>();
            text += "/";
            text += address.at("prefix_length").dump();
        }
    }
    if (is_partial(unicast)) text += " (lista częściowa)";
    text += "\r\n";
}

void append_interfaces(std::string& text, const json& interfaces_envelope) {
    const json& interfaces = json_member_or_null(interfaces_envelope, "value");
    text += "Aktywne interfejsy Windows\r\n";
    bool any_up = false;
    if (interfaces.is_array()) {
        for (const json& adapter : interfaces) {
            if (adapter.at("oper_status") != 1) continue;
            any_up = true;
            append_interface(text, adapter);
        }
    }
    if (!any_up) {
        text += "  ";
        text += interfaces.is_array() ? std::string("brak aktywnych w zapisanej liście")
                                      : envelope_state_text(interfaces_envelope);
        text += "\r\n";
    }
    if (is_partial(interfaces_envelope)) text += "  Lista kart częściowa.\r\n";
}

void append_wifi(std::string& text, const json& wifi_envelope) {
    const json& entries = json_member_or_null(wifi_envelope, "value");
    text += "Wi-Fi";
    if (!entries.is_array()) {
        text += "   ";
        text += envelope_state_text(wifi_envelope);
    } else if (entries.empty()) {
        text += "   brak kart Wi-Fi w odczycie Windows";
    }
    if (!entries.is_array()) return;
    for (const json& entry : entries) {
        const json& connection = json_member_or_null(entry, "connection");
        const json& link = json_member_or_null(connection, "value");
        const json& rssi = json_member_or_null(entry, "rssi_dbm");
        text += "\r\n  ";
        text += wifi_phy_text(connection);
        text += " · sygnał ";
        text += envelope_number_text(json_member_or_null(link, "signal_pct"), connection, 1.0, "%");
        text += " · RSSI ";
        text += envelope_number_text(json_member_or_null(rssi, "value"), rssi, 1.0, " dBm");
        text += " · kanał ";
        text += value_text(entry, "channel");
        text += " · RX / TX: ";
        text += pair_text(connection, "rx_kbps", "tx_kbps", 1000.0, " Mb/s");
    }
}

}  // namespace

std::string fixed_two_decimals(double value) {
    std::array<char, 400> buffer{};  // a double's fixed form with two decimals fits in 330
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, 2);
    return std::string(buffer.data(), result.ptr);
}

std::string envelope_state_text(const json& envelope) {
    const json& reason = json_member_or_null(envelope, "reason");
    if (reason.is_string()) return "niedostępne (" + reason.get<std::string>() + ")";
    return "brak w zapisie";
}

std::string envelope_number_text(const json& value, const json& fallback, double divisor,
                                 std::string_view suffix) {
    if (value.is_string()) return value.get<std::string>();
    if (!value.is_number()) return envelope_state_text(fallback);
    if (!std::isfinite(value.get<double>())) return "brak odczytu";
    std::string text = divisor == 1.0 && !value.is_number_float()
                           ? value.dump()
                           : fixed_two_decimals(value.get<double>() / divisor);
    text += suffix;
    return text;
}

std::string envelope_list_text(const json& envelope) {
    const json& items = json_member_or_null(envelope, "value");
    if (!items.is_array()) return envelope_state_text(envelope);
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += ", ";
        text += items[i].get_ref<const std::string&>();
    }
    if (text.empty()) text = "brak wpisów";
    if (is_partial(envelope)) text += " (lista częściowa)";
    return text;
}

std::string envelope_count_text(const json& envelope) {
    const json& items = json_member_or_null(envelope, "value");
    if (!items.is_array()) return envelope_state_text(envelope);
    std::string text = std::to_string(items.size());
    if (is_partial(envelope)) text += " (wynik częściowy)";
    return text;
}

std::string neighbor_summary(const json& neighbors, const json& index) {
    const json& entries = json_member_or_null(neighbors, "value");
    if (!entries.is_array()) return envelope_state_text(neighbors);
    std::set<std::string> macs;
    std::set<std::string> vendors;
    for (const json& entry : entries) {
        if (json_member_or_null(entry, "index") != index) continue;
        const json& mac = json_value_of(entry, "mac_id");
        if (mac.is_string()) macs.insert(mac.get<std::string>());
        const json& vendor = json_value_of(entry, "vendor");
        // The vendor file is foreign text, kept in the report as it was read.
        if (vendor.is_string()) {
            std::string shown = sanitize_display_utf8(vendor.get_ref<const std::string&>());
            if (!shown.empty()) vendors.insert(std::move(shown));
        }
    }
    std::string text = is_partial(neighbors) ? "co najmniej " : "";
    text += std::to_string(macs.size());
    if (!vendors.empty()) text += " · rozpoznani producenci: " + joined(vendors);
    return text;
}

std::string interface_type_text(std::int64_t type) {
    switch (type) {
        case 6: return "Ethernet";
        case 23: return "PPP";
        case 24: return "Loopback";
        case 71: return "Wi-Fi";
        case 131: return "Tunel";
        case 243:
        case 244: return "Sieć komórkowa";
        default: return "Typ interfejsu Windows " + std::to_string(type);
    }
}

std::string wifi_phy_text(const json& connection) {
    const json& phy = json_member_or_null(json_member_or_null(connection, "value"), "phy");
    if (!phy.is_number_integer()) return envelope_state_text(connection);
    static constexpr std::array<const char*, 8> names = {
        "802.11a", "802.11b", "802.11g", "802.11n", "802.11ac", "802.11ad", "802.11ax", "802.11be"};
    if (const auto number = json_int64(phy); number && *number >= 4 && *number <= 11) {
        return names[static_cast<std::size_t>(*number - 4)];
    }
    return "PHY " + phy.dump();
}

std::string render_inventory_text(const json& inventory, const json& throughput) {
    if (!inventory.is_object()) {
        return "Komputer i sieć lokalna · brak inwentaryzacji w tej sesji\r\n";
    }
    std::string text;
    append_reservation(text, inventory, throughput);
    text += "\r\nSąsiedzi widoczni dla Windows   ";
    text += value_text(inventory, "unique_neighbor_macs");
    text +=
        "\r\nLicznik obejmuje unikalne adresy MAC pamiętane przez ARP/IPv6 na interfejsach "
        "komputera. Może obejmować routery, telefony i urządzenia wirtualne.\r\n";
    append_system(text, json_member_or_null(inventory, "system"));
    append_interfaces(text, json_member_or_null(inventory, "interfaces"));
    append_wifi(text, json_member_or_null(inventory, "wifi"));
    text += "\r\nAdresy uznane przez Windows za zduplikowane: ";
    text += envelope_count_text(json_member_or_null(inventory, "duplicate_addresses"));
    text += " · zmiany MAC bramy: ";
    text += envelope_count_text(json_member_or_null(inventory, "gateway_changes"));
    text += "\r\n";
    return text;
}

}  // namespace tarvisko
