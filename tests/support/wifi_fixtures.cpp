#include "support/wifi_fixtures.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tarvisko::test {
namespace {

constexpr std::uint8_t he_extension = 36;
constexpr std::uint8_t eht_extension = 106;

void put_big_endian16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

Bytes text_bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

}  // namespace

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes element(std::uint8_t id, const Bytes& data) {
    if (data.size() > 255) throw std::invalid_argument("an element holds at most 255 bytes");
    Bytes out{id, static_cast<std::uint8_t>(data.size())};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes ht_operation(std::uint8_t primary_channel, std::uint8_t secondary_offset, bool any_width) {
    Bytes data(22, 0);
    data[0] = primary_channel;
    data[1] = static_cast<std::uint8_t>((secondary_offset & 3) | (any_width ? 4 : 0));
    data[2] = 0x04;  // non-greenfield stations present
    // Basic HT-MCS set: MCS 0-7 for one spatial stream.
    data[6] = 0xFF;
    return element(61, data);
}

Bytes vht_operation(std::uint8_t width, std::uint8_t segment0, std::uint8_t segment1) {
    // Basic VHT-MCS and NSS set: MCS 0-7 on one stream, the others unsupported.
    return element(192, {width, segment0, segment1, 0xFC, 0xFF});
}

Bytes he_operation(const HeOperation& operation) {
    std::uint32_t parameters = 0x000004;  // default PE duration 4
    if (operation.vht_information) parameters |= 1u << 14;
    if (operation.cohosted_bss) parameters |= 1u << 15;
    if (operation.six_ghz) parameters |= 1u << 17;
    Bytes data{he_extension,
               static_cast<std::uint8_t>(parameters & 0xFF),
               static_cast<std::uint8_t>((parameters >> 8) & 0xFF),
               static_cast<std::uint8_t>((parameters >> 16) & 0xFF),
               0x2A,  // BSS colour 42
               0xFC,
               0xFF};  // basic HE-MCS: MCS 0-7 on one stream
    if (operation.vht_information) {
        data.insert(data.end(),
                    {operation.vht_width, operation.vht_segment0, operation.vht_segment1});
    }
    if (operation.cohosted_bss) data.push_back(3);  // max co-hosted BSSID indicator
    if (operation.six_ghz) {
        const SixGhzOperation& six = *operation.six_ghz;
        data.insert(data.end(), {six.primary_channel, static_cast<std::uint8_t>(six.width_code & 3),
                                 six.segment0, six.segment1, six.minimum_rate});
    }
    return element(255, data);
}

Bytes eht_operation(std::uint8_t width_code, std::uint8_t ccfs0, std::uint8_t ccfs1,
                    bool information_present, bool disabled_subchannels) {
    const std::uint8_t parameters =
        static_cast<std::uint8_t>((information_present ? 1 : 0) | (disabled_subchannels ? 2 : 0));
    Bytes data{eht_extension,
               parameters,
               0x44,
               0x44,
               0x44,
               0x44,  // basic EHT-MCS and NSS set
               static_cast<std::uint8_t>(width_code & 7),
               ccfs0,
               ccfs1};
    if (disabled_subchannels) data.insert(data.end(), {0x01, 0x00});
    return element(255, data);
}

WpsAttribute wps_text(std::uint16_t type, std::string_view text) {
    return WpsAttribute{type, text_bytes(text), std::nullopt};
}

Bytes wps_element(const std::vector<WpsAttribute>& attributes,
                  const std::array<std::uint8_t, 4>& header) {
    Bytes data(header.begin(), header.end());
    for (const WpsAttribute& attribute : attributes) {
        put_big_endian16(data, attribute.type);
        put_big_endian16(data, attribute.declared_length.value_or(
                                   static_cast<std::uint16_t>(attribute.value.size())));
        data.insert(data.end(), attribute.value.begin(), attribute.value.end());
    }
    return element(221, data);
}

Bytes router_wps_element(std::string_view manufacturer, std::string_view model_name,
                         std::string_view model_number) {
    return wps_element({
        {wps_version, {0x10}, std::nullopt},
        {wps_state, {0x02}, std::nullopt},  // configured
        wps_text(wps_manufacturer, manufacturer),
        wps_text(wps_model_name, model_name),
        wps_text(wps_model_number, model_number),
        wps_text(wps_serial_number, "12345678"),
        wps_text(wps_device_name, "Wireless Router"),
        {wps_primary_device_type, {0x00, 0x06, 0x00, 0x50, 0xF2, 0x04, 0x00, 0x01}, std::nullopt},
    });
}

Bytes truncated(const Bytes& blob, std::size_t n) {
    if (n > blob.size()) throw std::invalid_argument("cut longer than the blob");
    return Bytes(blob.begin(), blob.end() - static_cast<std::ptrdiff_t>(n));
}

Bytes shortened(const Bytes& one_element, std::size_t n) {
    if (one_element.size() < 2 || one_element[1] + 2u != one_element.size() || n > one_element[1]) {
        throw std::invalid_argument("not one whole element, or cut longer than its data");
    }
    Bytes out = truncated(one_element, n);
    out[1] = static_cast<std::uint8_t>(out[1] - n);
    return out;
}

Bytes element_claiming(std::uint8_t id, std::uint8_t declared, const Bytes& data) {
    Bytes out{id, declared};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes bss_list(const BssList& list) {
    constexpr std::size_t header = offsetof(WLAN_BSS_LIST, wlanBssEntries);
    constexpr std::size_t entry_size = sizeof(WLAN_BSS_ENTRY);
    std::size_t size = header + entry_size * list.entries.size();
    for (const BssEntry& entry : list.entries) size += entry.elements.size();
    Bytes out(size, 0);

    std::size_t blob_at = header + entry_size * list.entries.size();
    for (std::size_t i = 0; i < list.entries.size(); ++i) {
        const BssEntry& operation = list.entries[i];
        const std::size_t entry_at = header + entry_size * i;
        WLAN_BSS_ENTRY entry{};
        const std::size_t ssid_bytes = std::min<std::size_t>(operation.ssid.size(), 32);
        entry.dot11Ssid.uSSIDLength =
            operation.ssid_length.value_or(static_cast<ULONG>(ssid_bytes));
        std::memcpy(entry.dot11Ssid.ucSSID, operation.ssid.data(), ssid_bytes);
        entry.uPhyId = 0;
        std::memcpy(entry.dot11Bssid, operation.bssid.data(), 6);
        entry.dot11BssType = operation.bss_type;
        entry.dot11BssPhyType = operation.phy;
        entry.lRssi = operation.rssi_dbm;
        entry.uLinkQuality = operation.link_quality;
        entry.bInRegDomain = TRUE;
        entry.usBeaconPeriod = operation.beacon_period;
        entry.ullTimestamp = 0x0000'0123'4567'89ABull + i;
        entry.ullHostTimestamp = 0x01DA'0000'0000'0000ull + i;
        entry.usCapabilityInformation = operation.capability;
        entry.ulChCenterFrequency = operation.frequency_khz;
        // 802.11g rates in 500 kbit/s units, basic rates flagged with the top bit.
        const USHORT rates[] = {0x8002, 0x8004, 0x800B, 0x8016, 12, 18, 24, 36, 48, 72, 96, 108};
        entry.wlanRateSet.uRateSetLength = sizeof rates;
        std::memcpy(entry.wlanRateSet.usRateSet, rates, sizeof rates);
        entry.ulIeOffset = operation.ie_offset.value_or(static_cast<ULONG>(blob_at - entry_at));
        entry.ulIeSize = operation.ie_size.value_or(static_cast<ULONG>(operation.elements.size()));
        std::memcpy(out.data() + entry_at, &entry, entry_size);
        std::copy(operation.elements.begin(), operation.elements.end(),
                  out.begin() + static_cast<std::ptrdiff_t>(blob_at));
        blob_at += operation.elements.size();
    }

    const DWORD total = list.declared_total_size.value_or(static_cast<DWORD>(size));
    const DWORD count = list.declared_count.value_or(static_cast<DWORD>(list.entries.size()));
    std::memcpy(out.data(), &total, 4);
    std::memcpy(out.data() + 4, &count, 4);
    if (list.cut_to && *list.cut_to < out.size()) out.resize(*list.cut_to);
    return out;
}

Bytes bss_list(const std::vector<BssEntry>& entries) { return bss_list(BssList{entries}); }

std::array<std::uint8_t, 6> test_bssid(std::uint32_t n) {
    return {0x3C,
            0x84,
            0x6A,
            static_cast<std::uint8_t>((n >> 16) & 0xFF),
            static_cast<std::uint8_t>((n >> 8) & 0xFF),
            static_cast<std::uint8_t>(n & 0xFF)};
}

}  // namespace tarvisko::test
