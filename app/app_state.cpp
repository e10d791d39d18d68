#include "app/app_state.h"

namespace tarvisko {

// Globals are destroyed in the reverse order of their definition here. Every global a job may
// write comes first and the job slots come last, so that at exit each slot stops and joins its
// job while everything the job touches still exists: a reverse-DNS lookup that is still running
// when the window has closed (closing only asks it to stop) then writes into living state.

nlohmann::json current_report;
nlohmann::json last_diagnostics_report;
std::array<nlohmann::json, 3> last_results;
std::mutex live_samples_mutex;
nlohmann::json live_samples = nlohmann::json::array();
nlohmann::json shown_samples = nlohmann::json::array();
nlohmann::json game_catalog;

std::wstring api_token;
std::wstring last_error_text;
std::wstring simple_report_text;
std::wstring technical_report_text;
std::wstring traffic_status_text;
std::wstring catalog_source_text;
std::wstring update_status_text = L"Sprawdzanie dostępnej wersji…";

UpdateResult update_result;
std::optional<ReleaseInfo> available_release;
SessionResponderNames responder_names;
ResponderLookupState responder_lookup;
TrafficViewPtr traffic_monitor{nullptr, nullptr};
std::vector<std::wstring> favorite_target_list;
const TextCard& wifi_assessment_default_card = wifi_default_card();
WifiReading shown_wifi_reading;
std::optional<ChartData> details_chart;
std::optional<WifiSnapshot> wifi_baseline_snapshot;
std::optional<WifiSnapshot> wifi_after_snapshot;
TextCard wifi_compare_card = wifi_compare_initial_card();
bool wifi_baseline_loaded = false;

LiveTraffic live_traffic;
MainWindowState main_window_state = ui_state_init();
std::int32_t icon_level = 0;

std::atomic<bool> session_cancel_flag{false};
bool measurement_running = false;
bool last_report_loading = false;
bool close_requested = false;
bool update_running = false;
bool update_download_mode = false;
bool update_ready = false;
bool catalog_refresh_running = false;
bool report_text_shown = false;
bool report_text_technical = false;
bool live_view_hop_table = false;
bool game_result_shown = false;
std::int32_t collecting_view = 0;
std::int32_t pending_view_page = 0;
std::int32_t pending_view_mode = 0;
std::int32_t live_target_page = 0;
std::int32_t transfer_phase = 0;
std::int32_t report_text_view = 0;

WifiComparisonState wifi_comparison_state() {
    return {wifi_baseline_snapshot, wifi_after_snapshot, wifi_compare_card, wifi_baseline_loaded};
}

std::optional<int> phase_index(std::string_view name) {
    for (std::size_t i = 0; i < phase_table.size(); ++i) {
        if (phase_table[i].name == name) return static_cast<int>(i);
    }
    return std::nullopt;
}

JobSlot job_slot;
JobSlot view_collection_slot;
JobSlot catalog_slot;
JobSlot update_slot;
JobSlot responder_lookup_slot;
JobSlot report_list_slot;

void stop_and_join(JobSlot& slot) {
    if (!slot.joinable()) return;
    slot.request_stop();
    slot.join();
}

void stop_and_join_all_jobs() {
    // The full test and the target runs poll the shared cancel flag, not their thread's stop
    // request. All stop requests go out before the first join, so the jobs wind down together.
    session_cancel_flag.exchange(true);
    const std::array<JobSlot*, 6> slots{&job_slot,    &view_collection_slot,  &catalog_slot,
                                        &update_slot, &responder_lookup_slot, &report_list_slot};
    for (JobSlot* slot : slots) slot->request_stop();
    for (JobSlot* slot : slots) {
        if (slot->joinable()) slot->join();
    }
}

namespace {
// Defined after the slots, so destroyed before them: a program that leaves without calling
// stop_and_join_all_jobs still cancels a running measurement instead of waiting on it forever.
struct JobsStoppedAtExit {
    ~JobsStoppedAtExit() { stop_and_join_all_jobs(); }
} jobs_stopped_at_exit;
}  // namespace

}  // namespace tarvisko
