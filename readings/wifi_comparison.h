#pragma once
// The before/after comparison of the Wi-Fi page: the user saves a "Przed" scan, changes the
// channel or width in the router, and a "Po" scan from the same place says whether the change
// helped. Runs on the user interface thread; the state lives with its owner (the shell), and
// every function here reaches it through one record of references, so tests bring their own.
#include <cstdint>
#include <optional>
#include <string>

#include "readings/wifi_records.h"
#include "results/summary_model.h"

namespace tarvisko {

// The four pieces of the comparison's state, wherever their owner keeps them (the shell's
// program-wide state; a test's own record): the stored "Przed" scan, the "Po" scan of the last
// comparison, the card of the Wi-Fi page and whether the baseline file was read in this run.
struct WifiComparisonState {
    std::optional<WifiSnapshot>& baseline;
    std::optional<WifiSnapshot>& after;
    TextCard& card;
    bool& baseline_loaded;
};

// The guidance card shown until the first "Przed" scan.
inline TextCard wifi_compare_initial_card() {
    return {L"Porównaj ustawienia", L"Zapisz skan przed zmianą kanału.",
            L"Zapisz skan „Przed”, zmień ustawienia w routerze i połącz się ponownie. Z tego "
            L"samego miejsca kliknij przycisk Skanuj „Po”.",
            0};
}

// The outcome of comparing two snapshots. Codes: 0 not comparable (reason 1 a reading is
// missing, 2 another access point or adapter, 3 another band, 4 wrong order or same time),
// 1 settings unchanged, 2 better, 3 worse, 4 ambiguous (reason 5), 5 no clear difference.
struct scan_comparison {
    std::int32_t code = 0;
    std::int32_t reason = 0;

    friend bool operator==(const scan_comparison&, const scan_comparison&) = default;
};

scan_comparison compare_verdict(const WifiSnapshot& before, const WifiSnapshot& after);
TextCard compare_wifi_scans(const WifiSnapshot& before, const WifiSnapshot& after);
TextCard describe_saved_baseline(const WifiSnapshot& snapshot);
// Three lines: overlapping networks, own signal and overlap score, before and after.
std::wstring describe_scan_changes(const WifiSnapshot& before, const WifiSnapshot& after);
// Four lines: channel, overlap, own signal, time of the scan.
std::wstring snapshot_text(const WifiSnapshot& snapshot);
// "0", "+3", "-2".
std::wstring signed_change_text(std::int32_t n);
// "-60 dBm", or "brak odczytu".
std::wstring signal_text(std::optional<std::int32_t> dbm);
// "  ·  kanał 6  ·  20 MHz".
std::wstring format_wifi_network_line(const wifi_channel& channel);

// Takes a finished Wi-Fi reading of mode 2 ("Przed": saved to the baseline file and stored) or
// 3 ("Po": compared with the stored baseline); other modes do nothing. Never throws: a failed
// save shows in the card.
void apply_wifi_baseline(const WifiComparisonState& state, std::int32_t mode,
                         const WifiReading& reading);

// The "Przed" and "Po" charts, when both scans have plots and compare.
std::optional<ChartData> wifi_baseline_chart(const WifiComparisonState& state);

}  // namespace tarvisko
