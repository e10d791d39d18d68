#include "app/status_texts.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "engine/common/text.h"
#include "engine/common/version.h"
#include "results/dashboard.h"
#include "results/format.h"

namespace tarvisko {
namespace {

constexpr std::wstring_view kDot = L"   ·   ";
constexpr std::wstring_view kBar = L"   |   ";
constexpr std::array<std::wstring_view, 5> kTileUnits{L"Mb/s", L"Mb/s", L"ms", L"ms", L"%"};

std::wstring card_text(const TextCard& card) { return card.title + L"   " + card.subtitle; }

// The tile's explanation, and for a direction whose live series has enough intervals within the
// transfer its last and largest sample.
std::wstring live_tooltip(const std::wstring& body, const std::vector<SeriesPoint>& series) {
    const std::optional<TransferSampleStats> stats = transfer_sample_stats(series);
    if (!stats) return body;
    return body + L" Ostatnia próbka: " + format_decimal(stats->last) +
           L" Mb/s. Maksimum próbek: " + format_decimal(std::max(stats->maximum, 0.0)) + L" Mb/s.";
}

std::wstring subtitle_text(const MainWindowState& state) {
    if (state.table_view_shown) return state.shown_table.title;
    if (state.current_page != 0) return L"Szczegóły diagnostyczne";
    if (!state.status_message.empty()) return state.status_message;
    if (state.summary.has_report) {
        return state.summary.partial ? L"Pomiar częściowy" : L"Pomiar zakończony";
    }
    return L"Gotowy do pomiaru";
}

std::wstring status_line_text(const MainWindowState& state) {
    std::wstring report = state.report_status_text;
    if (report.empty()) {
        report = state.busy                   ? L"Pomiar w toku"
                 : state.summary.synchronized ? L"Serwer potwierdził zapis"
                                              : L"Brak potwierdzenia serwera";
        report += kDot;
        report += state.summary.sync_text;
    }
    const std::wstring activity = state.busy                      ? L"Pomiar w toku"
                                  : !state.status_message.empty() ? state.status_message
                                                                  : L"Gotowy";
    std::wstring line = report;
    line += kDot;
    line += activity;
    line += kBar;
    line += state.server_origin;
    line += kDot;
    line += to_wide(program_version);
    return line;
}

void enable(HWND control, bool enabled) {
    if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
}

}  // namespace

StatusTexts compose_status_texts(const MainWindowState& state) {
    const SummaryModel& summary = state.summary;
    StatusTexts texts;
    texts.subtitle = subtitle_text(state);
    texts.side_label =
        summary.has_report ? L"Ostatni test   " + summary.test_time_text : summary.test_time_text;
    for (std::size_t i = 0; i < summary.tiles.size(); ++i) {
        const TextCard& tile = summary.tiles[i];
        texts.tile_texts[i] = card_text(tile);
        if (tile.subtitle != L"—") {
            texts.tile_texts[i] += L' ';
            texts.tile_texts[i] += kTileUnits[i];
        }
        texts.tile_tooltips[i] = tile.body;
    }
    texts.tile_tooltips[0] = live_tooltip(summary.tiles[0].body, summary.download_series);
    texts.tile_tooltips[1] = live_tooltip(summary.tiles[1].body, summary.upload_series);
    for (std::size_t i = 0; i < summary.sections.size(); ++i) {
        texts.row_texts[i] = card_text(summary.sections[i]);
        texts.row_tooltips[i] = summary.sections[i].body;
    }
    texts.conclusion_text = summary.headline;
    if (!summary.advice.empty()) texts.conclusion_text += L' ' + summary.advice;
    texts.conclusion_tooltip = summary.explanation;
    texts.status_line = status_line_text(state);
    return texts;
}

void refresh_status_texts(MainWindowState& state) {
    const StatusTexts texts = compose_status_texts(state);
    set_text_if_changed(state.page_subtitle_label, texts.subtitle);
    set_text_if_changed(state.result_side_label, texts.side_label);
    for (std::size_t i = 0; i < state.dashboard_tiles.size(); ++i) {
        set_text_if_changed(state.dashboard_tiles[i], texts.tile_texts[i]);
        set_tooltip(state, state.dashboard_tiles[i], texts.tile_tooltips[i]);
    }
    for (std::size_t i = 0; i < state.dashboard_rows.size(); ++i) {
        set_text_if_changed(state.dashboard_rows[i], texts.row_texts[i]);
        set_tooltip(state, state.dashboard_rows[i], texts.row_tooltips[i]);
    }
    set_text_if_changed(state.conclusion_button, texts.conclusion_text);
    set_tooltip(state, state.conclusion_button, texts.conclusion_tooltip);
    set_text_if_changed(state.status_bar, texts.status_line);
    // The status bar is owner-drawn from its window text.
    if (state.status_bar != nullptr) InvalidateRect(state.status_bar, nullptr, FALSE);
}

void set_status_message(MainWindowState& state, const std::wstring& text) {
    state.status_message = text;
    refresh_status_texts(state);
}

void set_view_message(MainWindowState& state, const std::wstring& text) {
    state.shown_table.title = text;
    refresh_status_texts(state);
}

void set_report_summary(MainWindowState& state, const std::wstring& text, bool full_report) {
    state.report_status_text = text;
    enable(state.report_button, full_report && !state.busy);
    refresh_status_texts(state);
}

void show_sync_status(MainWindowState& state, const nlohmann::json& report) {
    if (!report.is_object()) {
        set_report_summary(state, L"Brak pomiaru w tym widoku", false);
        return;
    }
    const nlohmann::json& synchronized = json_member_or_null(report, "synchronized");
    const bool confirmed = synchronized.is_boolean() && synchronized.get<bool>();
    set_report_summary(state,
                       confirmed ? L"Serwer potwierdził zapis tej sesji"
                                 : L"Zapis lokalny · oczekuje na synchronizację",
                       true);
}

void set_tool_controls_enabled(MainWindowState& state, bool enabled) {
    for (HWND control : {state.target_edit, state.target_profile_combo, state.game_server_combo,
                         state.method_combo, state.max_hops_combo, state.interval_combo,
                         state.address_family_combo, state.save_target_button,
                         state.favorites_combo, state.game_mode_combo, state.game_length_combo}) {
        enable(control, enabled);
    }
    set_text_if_changed(state.run_target_button, enabled ? L"Wykonaj test" : L"Zatrzymaj");
}

std::wstring with_crlf_line_ends(std::wstring_view text) {
    std::wstring result;
    result.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r') {
            result += L"\r\n";
            if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        } else if (c == L'\n') {
            result += L"\r\n";
        } else {
            result += c;
        }
    }
    return result;
}

std::wstring get_window_text(HWND control) {
    const int length = GetWindowTextLengthW(control);
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

void set_text_if_changed(HWND control, const std::wstring& text) {
    if (control == nullptr) return;
    if (get_window_text(control) != text) SetWindowTextW(control, text.c_str());
}

void set_status_icon(HWND window, int level) {
    const std::int32_t resource = level < 0 ? 1 : 20 + level;
    if (resource == icon_level) return;
    icon_level = resource;
    const HINSTANCE module = GetModuleHandleW(nullptr);
    const struct {
        WPARAM kind;
        int width_metric;
        int height_metric;
    } sizes[] = {{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}, {ICON_BIG, SM_CXICON, SM_CYICON}};
    for (const auto& size : sizes) {
        HANDLE icon = LoadImageW(module, MAKEINTRESOURCEW(resource), IMAGE_ICON,
                                 GetSystemMetrics(size.width_metric),
                                 GetSystemMetrics(size.height_metric), LR_SHARED);
        if (icon != nullptr) {
            SendMessageW(window, WM_SETICON, size.kind, reinterpret_cast<LPARAM>(icon));
        }
    }
}

void stop_live_timer(HWND window) {
    KillTimer(window, 1);
    set_status_icon(window, -1);
    transfer_phase = 0;
}

void update_button_states(HWND window) {
    const bool wifi_idle = collecting_view != 4;
    const bool no_main_job = !measurement_running && !last_report_loading;
    const bool before_scan_allowed =
        collecting_view == 0 && no_main_job && !update_download_mode && !update_ready;
    enable(GetDlgItem(window, wifi_scan_button_id), wifi_idle && no_main_job);
    enable(GetDlgItem(window, router_panel_button_id), !shown_wifi_reading.panel_address.empty());
    enable(GetDlgItem(window, wifi_details_button_id), wifi_idle);
    enable(GetDlgItem(window, wifi_before_button_id), before_scan_allowed);
    enable(GetDlgItem(window, wifi_after_button_id),
           before_scan_allowed && wifi_baseline_snapshot.has_value());
    enable(GetDlgItem(window, wifi_compare_button_id), wifi_idle);
}

}  // namespace tarvisko
