#include "app/game_page.h"

#include <utility>

#include "app/app_state.h"
#include "app/config.h"
#include "app/control_ids.h"
#include "app/controls.h"
#include "app/jobs.h"
#include "app/results_list.h"
#include "app/services.h"
#include "app/status_texts.h"
#include "games/choice_page.h"
#include "games/favorites.h"
#include "games/log_scanners.h"

namespace tarvisko {
namespace {

int combo_selection(HWND combo) {
    return static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
}

}  // namespace

const nlohmann::json& selected_game_profile(HWND) {
    return selected_game_profile(game_catalog,
                                 combo_selection(main_window_state.target_profile_combo));
}

void start_catalog_refresh(HWND window) {
    // Every refresh ends with a catalogue, so once one is active the page never asks again.
    if (catalog_refresh_running || game_catalog.is_object()) return;
    auto job = app_services().refresh_game_catalog_job;
    if (!job) return;
    // The origin is read before anything is marked as running: a configuration that gives none
    // must not leave the flag set, or the page would wait for ever and the window never close.
    // Without an origin the job still hands over the built-in copy.
    std::wstring origin;
    try {
        origin = server_origin();
    } catch (const std::exception&) {
    }
    catalog_refresh_running = true;
    // The job gets its own copy of the entry, so a later change of the table cannot reach it.
    start_window_job(
        catalog_slot,
        [job = std::move(job), window, origin = std::move(origin)](std::stop_token) {
            job(window, origin);
        },
        [] { catalog_refresh_running = false; });
}

void fill_profile_list(HWND window) {
    fill_combo(main_window_state, target_profile_combo_id, profile_list_entries(game_catalog), 0);
    fill_target_list(window);
}

void fill_target_list(HWND window) {
    const int profile = combo_selection(main_window_state.target_profile_combo);
    // The log-derived target is looked up anew on every choice, so a stale one disappears.
    refresh_derived_target(game_catalog, profile, unix_time_now());
    fill_combo(main_window_state, game_server_combo_id,
               target_list_entries(selected_game_profile(game_catalog, profile)), 0);
    show_selected_target(window);
}

void show_selected_target(HWND window) {
    MainWindowState& state = main_window_state;
    EnableWindow(state.target_edit, measurement_running ? FALSE : TRUE);
    const TargetFieldView view =
        selected_target_view(selected_game_profile(window),
                             combo_selection(state.game_server_combo), catalog_source_text);
    set_text_if_changed(state.target_edit, view.text);
    SendMessageW(state.target_edit, EM_SETREADONLY, view.read_only ? TRUE : FALSE, 0);
    set_view_message(state, view.hint);
}

void game_choice_view(HWND window) {
    // A live target run owns the page: its samples are on show, not the choice table.
    if (live_target_page != 0) return;
    // A later route view must ask for its responder names again.
    responder_lookup.responder_session_id.clear();
    game_result_shown = false;
    show_sync_status(main_window_state, nlohmann::json());
    std::optional<TableModel> table = game_choice_table(selected_game_profile(window));
    if (!table) return;
    apply_table_model(main_window_state, std::move(*table));
    show_selected_target(window);
}

void favorite_targets(HWND, bool add) {
    MainWindowState& state = main_window_state;
    const std::wstring field = add ? get_window_text(state.target_edit) : std::wstring();
    // A failed write throws with the added entry kept in the list; the command shows the text.
    const FavoritesOutcome outcome =
        tarvisko::favorite_targets(server_origin(), add, field, favorite_target_list);
    if (!outcome.message.empty()) set_view_message(state, outcome.message);
    if (outcome.refill) {
        fill_combo(state, favorites_combo_id, favorite_combo_entries(favorite_target_list), 0);
    }
}

}  // namespace tarvisko
