#pragma once
// The shell's program-wide state: the documents jobs hand to the window, the texts of the last
// results, the busy flags, the phase table and the six job slots. All of it lives from the
// program's static initialisation to its exit; the window thread reads and writes it, except
// where a comment names another thread.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/main_window_state.h"
#include "engine/throughput/live_progress.h"
#include "readings/responder_lookup.h"
#include "readings/wifi_comparison.h"
#include "readings/wifi_reading.h"
#include "results/responder_names.h"
#include "results/summary_model.h"
#include "update/release.h"

namespace tarvisko {

// The per-process traffic view of a monitored full test. Defined by the traffic monitor; the
// shell only tests the pointer for null and hands it on. The deleter comes with the pointer.
struct TrafficView;
using TrafficViewPtr = std::unique_ptr<TrafficView, void (*)(TrafficView*)>;

// What the last update job found: the newer release (if any), the message for page 11 and
// whether the release was installed and the program should restart.
struct UpdateResult {
    std::optional<ReleaseInfo> release;
    std::wstring message;
    bool installed = false;
};

// Documents handed between the jobs and the window.
extern nlohmann::json current_report;           // written by the ending job, read on its message
extern nlohmann::json last_diagnostics_report;  // the full-test report on show
extern std::array<nlohmann::json, 3> last_results;  // 0 "gaming", 1 "mtr", 2 "monitor"
extern std::mutex live_samples_mutex;
extern nlohmann::json live_samples;   // array; under live_samples_mutex (target-run job appends)
extern nlohmann::json shown_samples;  // array; the samples the live view has drawn
extern nlohmann::json game_catalog;   // null until a catalogue is loaded

// Texts.
extern std::wstring api_token;  // the client token of the current server origin
extern std::wstring last_error_text;
extern std::wstring simple_report_text;
extern std::wstring technical_report_text;
extern std::wstring traffic_status_text;
extern std::wstring catalog_source_text;
extern std::wstring update_status_text;

// Update, reverse DNS names, traffic monitor, favourites.
extern UpdateResult update_result;
extern std::optional<ReleaseInfo> available_release;  // a value: an update is available
// The names the running lookup job resolves; the window takes them over after joining it.
extern SessionResponderNames responder_names;
// The report whose names are wanted, the held names the route views use, the lookup in flight.
extern ResponderLookupState responder_lookup;
extern TrafficViewPtr traffic_monitor;  // null: monitoring off
extern std::vector<std::wstring> favorite_target_list;
// The Wi-Fi page's assessment card before any detailed scan: the reading's wifi_default_card().
extern const TextCard& wifi_assessment_default_card;
// The Wi-Fi reading on show on page 4 (window thread): its table, panel address, channel-change
// instructions, chart data, assessment card and snapshot. Until the first reading arrives it has
// no rows, no panel address, no instructions and the default assessment card.
extern WifiReading shown_wifi_reading;
// The before/after chart the details window shows; empty when it shows text only.
extern std::optional<ChartData> details_chart;

// The before/after Wi-Fi comparison (window thread): the stored "Przed" scan, the "Po" scan of
// the last comparison, the comparison card of the Wi-Fi page (first the guidance card), and
// whether the baseline file was read in this run.
extern std::optional<WifiSnapshot> wifi_baseline_snapshot;
extern std::optional<WifiSnapshot> wifi_after_snapshot;
extern TextCard wifi_compare_card;
extern bool wifi_baseline_loaded;
// The four as the comparison's functions take them: load_wifi_baseline_once,
// apply_wifi_baseline and wifi_baseline_chart (readings/wifi_baseline.h, wifi_comparison.h).
WifiComparisonState wifi_comparison_state();

// Live progress of a full test (the engine's threads write it).
extern LiveTraffic live_traffic;
extern MainWindowState main_window_state;
// The icon resource last set by set_status_icon; 0 before the first.
extern std::int32_t icon_level;

// Flags and counters.
extern std::atomic<bool> session_cancel_flag;  // stop request for the running measurement
extern bool measurement_running;
extern bool last_report_loading;
extern bool close_requested;
extern bool update_running;
extern bool update_download_mode;
extern bool update_ready;
extern bool catalog_refresh_running;
extern bool report_text_shown;
extern bool report_text_technical;
extern bool live_view_hop_table;
extern bool game_result_shown;
extern std::int32_t collecting_view;  // page (2, 3 or 4) whose reading runs; 0 none
extern std::int32_t pending_view_page;
extern std::int32_t pending_view_mode;
extern std::int32_t live_target_page;  // page (6, 7 or 8) of the running target run; 0 none
extern std::int32_t transfer_phase;
extern std::int32_t report_text_view;

// The phases the engine reports, in order, with the status text shown for each.
struct PhaseEntry {
    std::string_view name;
    std::wstring_view text;
};
inline constexpr std::array<PhaseEntry, 6> phase_table{{
    {"baseline", L"Pomiar w spoczynku"},
    {"download", L"Pobieranie danych"},
    {"upload", L"Wysyłanie danych"},
    {"recovery", L"Powtórny pomiar w spoczynku"},
    {"sync", L"Zapisywanie raportu"},
    {"ping", L"Sprawdzanie odpowiedzi routera i serwera"},
}};
// The index of the phase named exactly `name` (case-sensitive); none for any other text.
std::optional<int> phase_index(std::string_view name);

// A job slot holds at most one thread, which receives its stop request as a std::stop_token.
using JobSlot = std::jthread;
extern JobSlot job_slot;
extern JobSlot view_collection_slot;
extern JobSlot catalog_slot;
extern JobSlot update_slot;
extern JobSlot responder_lookup_slot;
extern JobSlot report_list_slot;  // the reading of the report lists of pages 9 and 10

// Requests stop on the slot's thread and waits for it to end. Does nothing on an empty slot.
void stop_and_join(JobSlot& slot);
// Starts `job` in the slot after stopping and joining the job already there, so two jobs of one
// slot never overlap. `job` takes a std::stop_token.
template <typename Job>
void start_job(JobSlot& slot, Job&& job) {
    stop_and_join(slot);
    slot = JobSlot(std::forward<Job>(job));
}
// Sets session_cancel_flag, requests stop on all six slots, then joins them. Called after the
// message loop ends, so that no job still writes into the state while the program exits.
void stop_and_join_all_jobs();

}  // namespace tarvisko
