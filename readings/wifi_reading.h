#pragma once
// The reading behind the "Wi-Fi" page: the adapter, its gateways and connection, the access
// point's and the gateway's models, and in a detailed reading a fresh scan with the visible
// networks, the rating of the own channel, the comparison of channels, the chart data and the
// comparable snapshot. Runs on the page-reading job thread and touches no window.
#include <string>
#include <vector>

#include "readings/wifi_calls.h"
#include "readings/wifi_records.h"

namespace tarvisko {

// The quick reading shows the connection and what the adapter already knows; the detailed one
// scans first and rates the channel. Every Windows failure is a row or a card of the reading;
// only the shared functions throw (the HMAC of the snapshot, UTF-8 conversion, memory).
WifiReading read_wifi_environment(bool detailed, const WifiCalls& calls = wifi_calls());

// Appends one row of eight cells (cut or padded with empty texts); a non-zero verdict colours
// the last column ("Ocena").
void add_wifi_row(WifiReading& reading, std::vector<std::wstring> cells, std::wstring detail,
                  Verdict verdict);

// The Wi-Fi tile's line for a band (1 = 2.4, 2 = 5, else 6 GHz): how many networks it shows and
// how many of them overlap, the proposal when it is in that band, and whether the scan was fresh.
std::wstring wifi_summary_line(const WifiChartData& chart, std::int32_t band);

}  // namespace tarvisko
