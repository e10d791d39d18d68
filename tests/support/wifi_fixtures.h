#pragma once
// Real bytes of 802.11 beacon elements and of the WLAN_BSS_LIST that WlanGetNetworkBssList hands
// back, laid out as the standard and the WLAN API define them, for tests and benchmarks of the
// Wi-Fi code. Nothing here knows the program's own channel rules: frequencies, channel numbers
// and width codes are written as a beacon carries them.
//
// Element layouts (offsets count from the first data byte, after identifier and length):
//   HT Operation (61, 22 bytes): 0 primary channel; 1 bits 0-1 secondary channel offset
//     (0 none, 1 above, 3 below), bit 2 any channel width; 2-5 further information; 6-21 MCS set.
//   VHT Operation (192, 5 bytes): 0 channel width (0 20/40, 1 80/160/80+80, 2 160, 3 80+80
//     deprecated); 1 centre segment 0; 2 centre segment 1; 3-4 basic MCS and NSS set.
//   HE Operation (255, extension 36): 0 extension identifier; 1-3 parameters (bit 14 VHT
//     information present, 15 co-hosted BSS, 17 6 GHz information present); 4 BSS colour;
//     5-6 basic HE-MCS set; then 3 bytes VHT information, 1 byte max co-hosted BSSID indicator,
//     5 bytes 6 GHz information (primary channel, control with the width code in bits 0-1,
//     centre segments 0 and 1, minimum rate), each only when its bit is set.
//   EHT Operation (255, extension 106): 0 extension identifier; 1 parameters (bit 0 operation
//     information present, bit 1 disabled subchannel bitmap present); 2-5 basic EHT-MCS set;
//     6 control (width code in bits 0-2: 20, 40, 80, 160, 320 MHz); 7 CCFS0; 8 CCFS1;
//     9-10 disabled subchannel bitmap when its bit is set.
//   WPS (221): OUI 00 50 F2, type 04, then attributes of a big-endian 16-bit type, a big-endian
//     16-bit length and the value.
#include <windows.h>
#include <wlanapi.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvisko::test {

static_assert(sizeof(WLAN_BSS_ENTRY) == 360, "WLAN_BSS_ENTRY size");
static_assert(offsetof(WLAN_BSS_LIST, wlanBssEntries) == 8, "WLAN_BSS_LIST entries offset");
static_assert(offsetof(WLAN_BSS_ENTRY, ulChCenterFrequency) == 92, "ulChCenterFrequency offset");
static_assert(offsetof(WLAN_BSS_ENTRY, ulIeOffset) == 352, "ulIeOffset offset");

using Bytes = std::vector<std::uint8_t>;

// The blobs one after another.
Bytes join(std::initializer_list<Bytes> parts);

// Identifier, length, data. Throws std::invalid_argument for more than 255 data bytes.
Bytes element(std::uint8_t id, const Bytes& data);

// Secondary channel offsets of HT Operation.
inline constexpr std::uint8_t ht_no_secondary = 0;
inline constexpr std::uint8_t ht_secondary_above = 1;
inline constexpr std::uint8_t ht_secondary_below = 3;

Bytes ht_operation(std::uint8_t primary_channel, std::uint8_t secondary_offset,
                   bool any_width = true);
Bytes vht_operation(std::uint8_t width, std::uint8_t segment0, std::uint8_t segment1);

struct SixGhzOperation {
    std::uint8_t primary_channel = 0;
    std::uint8_t width_code = 0;  // 0 20, 1 40, 2 80, 3 160 or 80+80 MHz (control bits 0-1)
    std::uint8_t segment0 = 0;
    std::uint8_t segment1 = 0;
    std::uint8_t minimum_rate = 6;
};
struct HeOperation {
    bool vht_information = false;  // bit 14, 3 bytes {vht_width, vht_segment0, vht_segment1}
    std::uint8_t vht_width = 1;
    std::uint8_t vht_segment0 = 42;
    std::uint8_t vht_segment1 = 0;
    bool cohosted_bss = false;                 // bit 15, 1 byte
    std::optional<SixGhzOperation> six_ghz{};  // bit 17, 5 bytes
};
Bytes he_operation(const HeOperation& operation);

// width_code 0..4 (20..320 MHz); without information_present bit 0 of the parameters is clear
// and the element still carries the control and segment bytes.
Bytes eht_operation(std::uint8_t width_code, std::uint8_t ccfs0, std::uint8_t ccfs1,
                    bool information_present = true, bool disabled_subchannels = false);

// WPS attribute types (Wi-Fi Simple Configuration).
inline constexpr std::uint16_t wps_version = 0x104A;
inline constexpr std::uint16_t wps_state = 0x1044;
inline constexpr std::uint16_t wps_manufacturer = 0x1021;
inline constexpr std::uint16_t wps_model_name = 0x1023;
inline constexpr std::uint16_t wps_model_number = 0x1024;
inline constexpr std::uint16_t wps_serial_number = 0x1042;
inline constexpr std::uint16_t wps_device_name = 0x1011;
inline constexpr std::uint16_t wps_primary_device_type = 0x1054;

struct WpsAttribute {
    std::uint16_t type = 0;
    Bytes value{};
    std::optional<std::uint16_t> declared_length{};  // written instead of the value's length
};
// An attribute with the text's bytes as they stand.
WpsAttribute wps_text(std::uint16_t type, std::string_view text);
// One vendor element 221 with the WPS header 00 50 F2 04 (or `header` instead).
Bytes wps_element(const std::vector<WpsAttribute>& attributes,
                  const std::array<std::uint8_t, 4>& header = {0x00, 0x50, 0xF2, 0x04});
// The attributes a home router's beacon carries: version 1.0, configured state, manufacturer,
// model name and number, serial number, device name and primary device type.
Bytes router_wps_element(std::string_view manufacturer, std::string_view model_name,
                         std::string_view model_number);

// Hostile shapes.
// The blob without its last n bytes; a last element then claims more bytes than remain.
Bytes truncated(const Bytes& blob, std::size_t n);
// One element (identifier, length, data) with its last n data bytes removed and its length
// byte lowered to match: a well-formed element that is too short for what it announces.
Bytes shortened(const Bytes& one_element, std::size_t n);
// An element whose length byte says `declared` while only `data` follows.
Bytes element_claiming(std::uint8_t id, std::uint8_t declared, const Bytes& data);

// One WLAN_BSS_ENTRY of a list and the information elements it points at.
struct BssEntry {
    std::array<std::uint8_t, 6> bssid{};
    std::string ssid;                    // bytes as they stand, at most 32 copied
    std::optional<ULONG> ssid_length{};  // written instead of ssid.size()
    ULONG frequency_khz = 2437000;       // ulChCenterFrequency
    LONG rssi_dbm = -50;
    ULONG link_quality = 80;
    DOT11_PHY_TYPE phy = static_cast<DOT11_PHY_TYPE>(8);
    DOT11_BSS_TYPE bss_type = dot11_BSS_type_infrastructure;
    USHORT beacon_period = 100;
    USHORT capability = 0x0431;
    Bytes elements{};
    std::optional<ULONG> ie_offset{};  // from the start of this entry; default: where its blob lies
    std::optional<ULONG> ie_size{};    // default: elements.size()
};

struct BssList {
    std::vector<BssEntry> entries{};
    std::optional<DWORD> declared_count{};       // dwNumberOfItems instead of entries.size()
    std::optional<DWORD> declared_total_size{};  // dwTotalSize instead of the real size
    std::optional<std::size_t> cut_to{};         // the bytes end here (after the header is written)
};

// The bytes of a WLAN_BSS_LIST: the 8-byte header, the 360-byte entries from offset 8, then each
// entry's element blob in entry order, its ulIeOffset counted from the start of its entry.
Bytes bss_list(const BssList& list);
Bytes bss_list(const std::vector<BssEntry>& entries);

// An individual, globally administered address ending in n: 3C:84:6A:xx:xx:xx.
std::array<std::uint8_t, 6> test_bssid(std::uint32_t n);

}  // namespace tarvisko::test
