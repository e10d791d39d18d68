#pragma once
// The private messages the jobs send to the main window. A heap payload passes to the window,
// which deletes it in every case (also when the window is closing); when the post fails, the
// sender deletes it itself.
#include <windows.h>

#include <cstdint>
#include <optional>

#include "games/catalog.h"
#include "readings/wifi_reading.h"
#include "results/table_model.h"

namespace tarvisko {

// Posted once per main job (full test, target run, last-report load), also after a failure.
// wParam 0, lParam 0.
inline constexpr UINT job_finished = WM_APP + 1;
// Posted by the full test's phase callback. wParam: index in phase_table (0..5), lParam 0.
inline constexpr UINT run_phase_changed = WM_APP + 2;
// Posted by the catalogue refresh. lParam: CatalogResult* (games/catalog.h), owned by the window.
inline constexpr UINT catalog_ready = kCatalogReadyMessage;
// Sent (not posted) by a repeating target run after each completed round; the job waits for the
// window to empty the live tables. wParam 0, lParam 0.
inline constexpr UINT repeat_round_done = WM_APP + 4;
// Posted by the update check or download. wParam 0, lParam 0; the result is in update_result.
inline constexpr UINT update_check_done = WM_APP + 5;
// Posted by a page reading. wParam: page 2, 3 or 4; lParam: ViewReading*, owned by the window.
inline constexpr UINT view_reading_ready = WM_APP + 6;
// Posted by the reverse DNS lookup of route responders. wParam 0, lParam 0; the names are in
// responder_names.
inline constexpr UINT responder_names_ready = WM_APP + 7;
// Posted by the reading of the report lists (pages 9 and 10). wParam 0; lParam:
// ReportListReading* (app/report_list.h), owned by the window; null when the reading was stopped.
inline constexpr UINT report_list_ready = WM_APP + 8;

// What a page reading hands to the window: the page's table, or for page 4 the Wi-Fi reading,
// with the Wi-Fi mode of the request (0 plain, 1 detailed, 2 store "before", 3 compare "after").
struct ViewReading {
    TableModel table;
    std::optional<WifiReading> wifi;
    std::int32_t mode = 0;
};

// Timers of the main window.
inline constexpr UINT_PTR timer_transfer_gauge = 1;   // 200 ms while a transfer phase runs
inline constexpr UINT_PTR timer_live_samples = 2;     // 400 ms while a target run is live
inline constexpr UINT_PTR timer_process_traffic = 3;  // 1000 ms while traffic is monitored

}  // namespace tarvisko
