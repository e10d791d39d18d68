#pragma once
// The network lists the Wi-Fi benchmarks read, built from the test fixtures.
#include <cstdint>
#include <string>
#include <vector>

#include "support/wifi_fixtures.h"

namespace tarvisko::bench {

// 300 access points as a busy apartment block hears them: 2.4 GHz HT, 5 GHz HT+VHT (80, 160,
// 80+80), 6 GHz HE+EHT, every one with SSID, rates, country, a WPS element and some vendor data.
inline std::vector<test::BssEntry> apartment_block(std::size_t count) {
    std::vector<test::BssEntry> entries;
    for (std::uint32_t i = 0; i < count; ++i) {
        test::BssEntry entry;
        entry.bssid = test::test_bssid(i);
        entry.ssid = "Siec_" + std::to_string(i);
        entry.rssi_dbm = -40 - static_cast<LONG>(i % 50);
        test::Bytes operation;
        switch (i % 3) {
            case 0: {
                const std::uint8_t channel = static_cast<std::uint8_t>(1 + i % 13);
                entry.frequency_khz = 1000u * (2407 + 5u * channel);
                operation = test::ht_operation(
                    channel, channel <= 7 ? test::ht_secondary_above : test::ht_no_secondary);
                break;
            }
            case 1: {
                const std::uint8_t channel = static_cast<std::uint8_t>(36 + 4 * (i % 8));
                entry.frequency_khz = 1000u * (5000 + 5u * channel);
                const std::uint8_t s1 = i % 4 == 0 ? 50 : i % 4 == 1 ? 155 : 0;
                operation = test::join({test::ht_operation(channel, channel % 8 == 4 ? 1 : 3),
                                        test::vht_operation(1, 42, s1)});
                break;
            }
            default: {
                const std::uint8_t channel = static_cast<std::uint8_t>(1 + 4 * (i % 8));
                entry.frequency_khz = 1000u * (5950 + 5u * channel);
                test::HeOperation he;
                he.six_ghz = test::SixGhzOperation{channel, 2, 7, 0};
                operation = test::join({test::he_operation(he), test::eht_operation(3, 7, 15)});
                break;
            }
        }
        entry.elements = test::join({
            test::element(0, test::Bytes(entry.ssid.begin(), entry.ssid.end())),
            test::element(1, {0x82, 0x84, 0x8B, 0x96, 0x0C, 0x12, 0x18, 0x24}),
            test::element(7, {'P', 'L', 0x20, 0x01, 0x0D, 0x14}),
            test::element(48, test::Bytes(20, 0x01)),  // RSN
            operation,
            test::router_wps_element("Maker", "Router AX" + std::to_string(i % 7), "AX-1"),
            test::element(221, test::Bytes(40, 0x33)),
        });
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace tarvisko::bench
