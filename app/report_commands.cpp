#include "app/report_commands.h"

#include <array>
#include <exception>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/config.h"
#include "app/details_window.h"
#include "app/page_switcher.h"
#include "app/results_list.h"
#include "app/status_texts.h"
#include "engine/common/text.h"
#include "results/archived_report.h"
#include "results/export.h"
#include "results/report_files.h"
#include "results/route_comparison.h"
#include "results/target_report_text.h"
#include "results/view_status.h"

namespace tarvisko {

namespace {

std::filesystem::path reports_folder() {
    return std::filesystem::path(data_directory(server_origin(), api_token)) / L"reports";
}

// The export's save dialog filter: CSV, JSON, text table (indexes 1, 2, 3).
constexpr wchar_t export_filter[] =
    L"Tabela CSV UTF-8\0*.csv\0Raport JSON\0*.json\0Tabela tekstowa\0*.txt\0";
constexpr DWORD export_path_capacity = 32768;

struct ChosenFile {
    std::wstring path;
    int filter_index = 0;
};

std::optional<ChosenFile> ask_export_path(HWND window) {
    std::vector<wchar_t> buffer(export_path_capacity, L'\0');
    const std::wstring initial = L"Tarvisko";
    std::copy(initial.begin(), initial.end(), buffer.begin());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window;
    dialog.lpstrFilter = export_filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = export_path_capacity;
    dialog.lpstrDefExt = L"csv";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    if (!export_save_dialog()(&dialog)) return std::nullopt;
    buffer.back() = L'\0';
    return ChosenFile{buffer.data(), static_cast<int>(dialog.nFilterIndex)};
}

}  // namespace

SaveDialogCall& export_save_dialog() {
    static SaveDialogCall call = GetSaveFileNameW;
    return call;
}

void diagnostic_report_text(HWND /*window*/, int page, bool technical) {
    if (page < 6 || page > 8) return;
    const nlohmann::json& report = last_results[static_cast<std::size_t>(page - 6)];
    if (!report.is_object()) return;
    // The whole text first: a report that cannot be read (one without "measurement" can come
    // from a last-<purpose>.json on disk) throws here and leaves page, flags and caption alone.
    const TableModel status =
        measurement_view_status(page, report, responder_lookup.shown_responder_names);
    const std::wstring text = target_report_text(report, status, technical);

    MainWindowState& state = main_window_state;
    show_text_page(state, 10, technical ? L"Dane techniczne sesji" : L"Raport z diagnostyki", text);
    show_sync_status(state, report);
    report_text_view = page;
    report_text_shown = true;
    report_text_technical = technical;
    // The caption names the variant the next press shows.
    SetWindowTextW(state.report_button, technical ? L"Prosty wynik" : L"Dane techniczne");
}

void export_report(HWND window) {
    MainWindowState& state = main_window_state;
    if (state.shown_table.rows.empty()) return;
    const std::optional<ChosenFile> chosen = ask_export_path(window);
    if (!chosen) return;
    try {
        const nlohmann::json& report =
            page_report(state.current_page, last_diagnostics_report,
                        std::span<const nlohmann::json, 3>(last_results), game_result_shown);
        const std::string bytes = export_file_bytes(export_format_for_filter(chosen->filter_index),
                                                    state.shown_table, report, state.current_page);
        write_file_atomically(std::filesystem::path(chosen->path), bytes);
    } catch (const std::exception& error) {
        set_view_message(state, L"Błąd zapisu · " + to_wide(error.what()));
        return;
    }
    set_view_message(state, L"Plik zapisany.");
}

void compare_mtr_runs(HWND /*window*/) {
    MainWindowState& state = main_window_state;
    const nlohmann::json& current = last_results[1];
    if (!current.is_object() || api_token.empty()) {
        set_view_message(state, std::wstring(no_route_run_message));
        return;
    }
    const std::optional<nlohmann::json> earlier = find_earlier_mtr_run(reports_folder(), current);
    if (!earlier) {
        set_view_message(state, std::wstring(no_earlier_run_message));
        return;
    }
    TableModel table = route_comparison_table(*earlier, current);
    // Names that arrive later for the route run must not redraw its view over the comparison.
    responder_lookup.responder_session_id.clear();
    apply_table_model(state, std::move(table));
    SetWindowTextW(state.report_button, L"Pełny raport");
}

void open_archived_report(HWND window) {
    MainWindowState& state = main_window_state;
    const int row = selected_row_index(state);
    if (row < 0 || static_cast<std::size_t>(row) >= state.shown_table.rows.size() ||
        api_token.empty()) {
        return;
    }
    const std::vector<std::wstring>& cells = state.shown_table.rows[static_cast<std::size_t>(row)].cells;
    if (cells.size() < 3) return;
    ArchivedReport opened = read_archived_report(reports_folder(), cells[2]);
    switch (opened.kind) {
        case ArchivedReport::Kind::full_test:
            show_details_window(window, opened.title, opened.text, std::nullopt);
            break;
        case ArchivedReport::Kind::target_run:
            last_results[static_cast<std::size_t>(opened.page - 6)] = std::move(opened.report);
            show_page(window, opened.page);
            break;
        case ArchivedReport::Kind::none:
            break;
    }
}

}  // namespace tarvisko
