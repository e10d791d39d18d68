#pragma once
// The saved "Przed" Wi-Fi scan: one small JSON file, "wifi-baseline.json", in the user's local
// application data, shared by every server and client credential. The reader trusts nothing:
// a file that is not exactly what the writer produces counts as no file.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "readings/wifi_comparison.h"
#include "readings/wifi_records.h"

namespace tarvisko {

// The largest file accepted; the loader reads one byte more so that a longer file is refused.
inline constexpr std::size_t wifi_baseline_max_bytes = 65536;

// %LOCALAPPDATA%\QUORVEL\Sondaro\wifi-baseline.json; empty when LOCALAPPDATA is unset or empty.
std::wstring wifi_baseline_path();

// The file's text: compact JSON, members sorted by name. Throws only on a text that is not
// valid UTF-8.
std::string write_wifi_baseline(const WifiSnapshot& snapshot);

// The reading of a file: the snapshot, or the rule that refused the file ("size", "json",
// "members", "plot", or the name of the member that broke its rule). The window only asks
// whether a snapshot came back; the rule is for tests.
struct BaselineReading {
    std::optional<WifiSnapshot> snapshot;
    std::string refused;
};
BaselineReading read_wifi_baseline(std::string_view bytes);
// Never throws for bad content.
std::optional<WifiSnapshot> parse_wifi_baseline(const char* bytes, std::size_t length);

// Writes the snapshot to the baseline file as a whole or not at all. Throws "wifi_profile_missing"
// without LOCALAPPDATA, and the error of the folder or the file write otherwise.
void save_wifi_baseline(const WifiSnapshot& snapshot);

// The first call in a run reads the file and, when it holds a baseline, stores it and describes
// it in the card; a missing or bad file is silent. Later calls do nothing.
void load_wifi_baseline_once(const WifiComparisonState& state);

}  // namespace tarvisko
