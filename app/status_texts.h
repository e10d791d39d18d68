#pragma once
// The texts that tell the user what is going on: the page subtitle, the label beside "Wynik
// pomiaru", the status line, the accessible names and tooltips of the dashboard, plus the
// enabling of the target-run and Wi-Fi controls and the window icon that doubles as a transfer
// gauge. Every text is composed anew from the state; all of it runs on the window's thread.
#include <windows.h>

#include <array>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "app/main_window_state.h"

namespace tarvisko {

// Everything refresh_status_texts writes, as a pure function of the window state.
struct StatusTexts {
    std::wstring subtitle;
    std::wstring side_label;
    std::array<std::wstring, 5> tile_texts;  // 240..244
    std::array<std::wstring, 5> tile_tooltips;
    std::array<std::wstring, 8> row_texts;  // 250..257
    std::array<std::wstring, 8> row_tooltips;
    std::wstring conclusion_text;  // 261
    std::wstring conclusion_tooltip;
    std::wstring status_line;  // 111
};
StatusTexts compose_status_texts(const MainWindowState& state);

// Writes the composed texts to the controls (unchanged ones are not touched) and repaints the
// status line.
void refresh_status_texts(MainWindowState& state);
void set_status_message(MainWindowState& state, const std::wstring& text);
// The message shown while a table page is open: the title of the table on show.
void set_view_message(MainWindowState& state, const std::wstring& text);
// The report line of the status bar; "Pełny raport" is enabled only with a full report and
// while no measurement runs.
void set_report_summary(MainWindowState& state, const std::wstring& text, bool full_report);
// The report's "synchronized" as the report line; a value that is not an object reads as no
// measurement and disables "Pełny raport".
void show_sync_status(MainWindowState& state, const nlohmann::json& report);
// The inputs of a target run, and the run button's caption ("Wykonaj test" / "Zatrzymaj").
void set_tool_controls_enabled(MainWindowState& state, bool enabled);

// The text with every line end as CR LF (a lone LF or a lone CR becomes CR LF): a multi-line EDIT
// on Windows breaks lines only there and shows LF-only text as one long line.
std::wstring with_crlf_line_ends(std::wstring_view text);

// Sets the text only when it differs, so unchanged controls neither flicker nor notify.
void set_text_if_changed(HWND control, const std::wstring& text);
std::wstring get_window_text(HWND control);

// Below 0 the idle icon (resource 1), otherwise gauge resource 20 + level. Sends nothing when
// the resolved resource is the one set last.
void set_status_icon(HWND window, int level);
// Kills the gauge timer (1), restores the idle icon and ends the transfer phase.
void stop_live_timer(HWND window);
// Enables the Wi-Fi page buttons from the busy flags.
void update_button_states(HWND window);

}  // namespace tarvisko
