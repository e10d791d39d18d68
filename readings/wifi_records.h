#pragma once
// Every record of the Wi-Fi page: a network's channel, the overlap counts, the points of a scan,
// the assessment, the chart data, the comparable snapshot of one detailed scan and the reading
// that the page-reading job hands to the window.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "results/summary_model.h"
#include "results/table_model.h"

namespace tarvisko {

// The channel of one network. Bands: 0 not determined, 1 = 2.4 GHz, 2 = 5 GHz, 3 = 6 GHz.
struct wifi_channel {
    std::int32_t band = 0;
    std::int32_t channel = 0;
    std::int32_t primary_mhz = 0;        // centre of the primary 20 MHz channel
    std::int32_t center_mhz = 0;         // centre of the whole channel
    std::int32_t width_mhz = 0;          // 20, 40, 80, 160 or 320; 0 when not determined
    std::int32_t second_center_mhz = 0;  // second 80 MHz segment of 80+80; 0 when none

    friend bool operator==(const wifi_channel&, const wifi_channel&) = default;
};

struct overlap_stats {
    std::int32_t overlapping = 0;
    std::int32_t strong = 0;
    std::int32_t unknown_width = 0;
    double score = 0.0;

    friend bool operator==(const overlap_stats&, const overlap_stats&) = default;
};

// One network of a scan: its channel, signal and whether it is the access point this computer
// is connected to.
struct plot_point {
    std::int32_t band = 0;
    std::int32_t channel = 0;
    std::int32_t primary_mhz = 0;
    std::int32_t center_mhz = 0;
    std::int32_t width_mhz = 0;
    std::int32_t second_center_mhz = 0;
    std::int32_t rssi_dbm = 0;
    bool own = false;

    friend bool operator==(const plot_point&, const plot_point&) = default;
};

// One entry of the network list of a detailed scan.
struct VisibleNetwork {
    std::wstring ssid_text;
    std::wstring bssid_text;  // "3C:84:6A:11:22:33"
    plot_point point;
};

struct channel_assessment {
    // 0 no assessment, 1 keep the channel, 2 try the proposed channel, 3 crowded without a
    // clearly better channel.
    std::int32_t verdict = 0;
    overlap_stats own;
    std::optional<std::int32_t> proposal;
    overlap_stats current_at_20;   // filled only with a proposal
    overlap_stats proposed_at_20;  // filled only with a proposal
};

struct WifiChartItem {
    std::wstring label;  // the network's name; empty for items rebuilt from a saved snapshot
    plot_point point;
    bool overlaps = false;  // the network's channel overlaps the own channel
};

struct WifiChartData {
    std::vector<WifiChartItem> items;  // in the order of the network rows, strongest first
    std::int32_t band = 0;             // band of the own network; 0 when it was not found
    std::int32_t proposed_channel = 0;
    bool has_proposal = false;
    bool from_cache = false;  // the detailed scan was not confirmed as fresh by the adapter
};

// The comparable summary of one detailed scan, kept as the "before" scan and compared with an
// "after" scan.
struct WifiSnapshot {
    std::string observed_at;    // UTC, with milliseconds and a final Z
    std::string connection_id;  // HMAC-SHA256 keyed with the interface GUID over the BSSID
    wifi_channel channel;
    overlap_stats overlap;
    std::optional<std::int32_t> rssi_dbm;  // within -127..0 when present
    std::string client_version;
    std::string os_version;
    std::optional<std::vector<plot_point>> plot;
};

// The assessment card before any detailed scan: the invitation to run one. A function rather than
// a global so that a reading held in another global never copies it before it exists.
const TextCard& wifi_default_card();

// One reading of the Wi-Fi page, handed by the page-reading job to the window, which owns it. A
// default reading is what the page shows before its first reading.
struct WifiReading {
    TableModel table;                  // kind 1
    std::wstring panel_address;        // the router panel address; empty when none
    std::wstring router_instructions;  // how to change the channel in the router
    WifiChartData chart;
    TextCard card = wifi_default_card();  // the channel assessment
    std::optional<WifiSnapshot> snapshot;
};

// The before/after chart the details window draws: two series of one band on a common span.
struct ChartData {
    WifiChartData before;
    WifiChartData after;
    std::int32_t band = 0;
    std::int32_t span_low_mhz = 0;
    std::int32_t span_high_mhz = 0;
    std::wstring before_caption;
    std::wstring after_caption;
    std::wstring changes;
};

}  // namespace tarvisko
