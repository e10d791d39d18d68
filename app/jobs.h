#pragma once
// The background jobs of the window and their starters: the full test, a target run, the last
// reports at start-up, a page reading, the update check or download, the PTR names of route
// responders. Jobs touch no control: they leave results in the program-wide state (or a heap
// record) and tell the window by a private message (app/messages.h).
#include <windows.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "engine/runs/target_run.h"
#include "results/last_reports.h"
#include "results/summary_model.h"

namespace tarvisko {

// The token the full test or target run used; WM_APP+1 takes it over into api_token after the
// join, so no job writes api_token while the window reads it.
extern std::wstring job_api_token;

// What the start-up load of the last reports found. WM_APP+1 takes it over after the join
// (take_last_reports), so the load writes none of the state the window reads.
extern LastReports loaded_last_reports;

// Starts `job` on `slot` (stopping and joining the job there first). When the system cannot
// create the thread, `undo` takes back what the starter changed and the error becomes the view
// message; returns whether the job runs.
bool start_window_job(JobSlot& slot, std::function<void(std::stop_token)> job,
                      const std::function<void()>& undo);

void run_job_thread(HWND window, TrafficView* traffic_view);
void launch_route_job_thread(std::stop_token stop, HWND window, TargetRunRequest request);
void run_phase_callback(HWND window, const std::string& phase_name);
void run_reservation_callback(TrafficView* traffic_view, const nlohmann::json& reservation);
void launch_route_sample_callback(const nlohmann::json& sample);

void open_last_report(HWND window);
// Reads the last reports of the current origin and client credential into loaded_last_reports
// (`held_token`, the window's api_token when it started, is the credential when the origin is
// empty), then posts job_finished, whatever happened.
void load_last_reports_job(HWND window, std::wstring held_token);
// Puts what the load found into api_token, current_report, last_results and last_error_text;
// true when the client token changed.
bool take_last_reports(LastReports loaded);
void start_view_collection(HWND window, int page, int mode);
void start_update_task(HWND window, bool download);
// Starts the PTR lookup of the report's route responders on responder_lookup_slot (through
// start_responder_lookup of the readings).
void start_responder_lookup(HWND window, int page, const nlohmann::json& report);

void view_collection_job(HWND window, int page, int mode, TableModel previous);
void update_check_job(HWND window, bool download, std::wstring origin);
void resolve_ptr_names_job(std::stop_token stop, HWND window, std::string session_id,
                           std::vector<std::string> addresses);

// The subtitle of cards[index] with the suffix; a subtitle "—" (no value) stays bare.
std::wstring value_with_suffix(std::span<const TextCard> cards, std::size_t index,
                               const std::wstring& suffix);

}  // namespace tarvisko
