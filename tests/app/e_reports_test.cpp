// The report commands in the real main window under the test display: the report text of the
// route page through button 105, the export through its save-dialog seam, the comparison with an
// earlier route run (329) and opening an archived report (330).
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "app/app_state.h"
#include "app/config.h"
#include "app/control_ids.h"
#include "app/details_window.h"
#include "app/page_switcher.h"
#include "app/report_commands.h"
#include "app/results_list.h"
#include "app/services.h"
#include "app/status_texts.h"
#include "engine/common/text.h"
#include "results/fixtures.h"
#include "results/technical_report.h"
#include "support/test_support.h"
#include "support/window_harness.h"

namespace tarvisko {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::wstring text_of(HWND control) { return get_window_text(control); }

// Every LF follows a CR and every CR comes before an LF.
bool only_crlf_line_ends(const std::wstring& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) return false;
        if (text[i] == L'\r' && (i + 1 == text.size() || text[i + 1] != L'\n')) return false;
    }
    return true;
}

// The commands as the dispatch calls them, while no measurement runs.
void command(int id) {
    const HWND window = main_window_state.main_window;
    switch (id) {
        case report_button_id: {
            const int page = report_text_view != 0 ? report_text_view : main_window_state.current_page;
            const bool technical = report_text_shown && !report_text_technical;
            try {
                app_services().diagnostic_report_text(window, page, technical);
            } catch (const std::exception& error) {
                set_view_message(main_window_state, to_wide(error.what()));
            }
            break;
        }
        case export_button_id:
            app_services().export_report(window);
            break;
        case compare_route_button_id:
            app_services().compare_mtr_runs(window);
            break;
        case open_report_button_id:
            app_services().open_archived_report(window);
            break;
        default: break;
    }
}

// The main window with its real children, its data in a temporary LOCALAPPDATA under a server
// origin of its own, and the product's report functions in the service table.
class ReportWindow : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        temp = new test::TempDir();
        local = new test::ScopedEnv(L"LOCALAPPDATA", temp->path().wstring());
        origin = new test::ScopedEnv(L"QUORVEL_DESKTOP_ORIGIN", L"https://localhost:9");
        const AppServices product = product_services();
        AppServices services;
        services.throughput_report_text = product.throughput_report_text;
        services.diagnostic_report_text = product.diagnostic_report_text;
        services.export_report = product.export_report;
        services.compare_mtr_runs = product.compare_mtr_runs;
        services.open_archived_report = product.open_archived_report;
        app_services() = services;
        harness = new test::WindowHarness();
        window = harness->window();
    }
    static void TearDownTestSuite() {
        delete harness;
        delete origin;
        delete local;
        delete temp;
    }
    void SetUp() override {
        api_token = L"reports-test-token";
        last_results = {json(), json(), json()};
        last_diagnostics_report = json();
        report_text_view = 0;
        report_text_shown = false;
        report_text_technical = false;
        game_result_shown = false;
    }

    static fs::path reports_folder() {
        return fs::path(data_directory(server_origin(), api_token)) / L"reports";
    }

    static inline test::TempDir* temp = nullptr;
    static inline test::ScopedEnv* local = nullptr;
    static inline test::ScopedEnv* origin = nullptr;
    static inline test::WindowHarness* harness = nullptr;
    static inline HWND window = nullptr;
};

TEST_F(ReportWindow, ReportButtonAlternatesOnTheRoutePage) {
    const json route = test::load_result_fixture("trace-silent-router");
    last_results[1] = route;
    show_page(window, 7);
    const wchar_t* const titles[] = {L"Raport z diagnostyki", L"Dane techniczne sesji",
                                     L"Raport z diagnostyki"};
    const wchar_t* const captions[] = {L"Dane techniczne", L"Prosty wynik", L"Dane techniczne"};
    for (int press = 0; press < 3; ++press) {
        SCOPED_TRACE(press);
        command(report_button_id);
        const bool technical = press == 1;
        EXPECT_EQ(main_window_state.current_page, 10);
        EXPECT_EQ(report_text_view, 7);
        EXPECT_TRUE(report_text_shown);
        EXPECT_EQ(report_text_technical, technical);
        EXPECT_EQ(text_of(main_window_state.page_title_label), titles[press]);
        EXPECT_EQ(text_of(main_window_state.report_button), captions[press]);
        const std::wstring body = text_of(main_window_state.page_text_edit);
        EXPECT_EQ(body.rfind(L"MTR · 10.200.3.2\r\nCel pomiaru · 10.200.3.2 · Dobrze · Zakończono\r\n"
                             L"Zapis lokalny\r\n",
                             0),
                  0u)
            << to_utf8(body.substr(0, 200));
        EXPECT_EQ(body.find(L"\"mtr_samples\": [") != std::wstring::npos, technical);
        // A multi-line EDIT on Windows breaks lines only at CR LF: the report JSON of the
        // technical text comes with LF alone and is given CR LF on the page.
        EXPECT_TRUE(only_crlf_line_ends(body));
        EXPECT_GT(std::count(body.begin(), body.end(), L'\n'), 10);
    }
}

// A report without "measurement" (a last-mtr.json written by hand or by an older program) used
// to set the flags and the page before the text failed: now nothing changes but the message.
TEST_F(ReportWindow, UnreadableRouteReportChangesNothing) {
    last_results[1] = {{"session_id", "X"}, {"state", "completed"}, {"mtr_samples", json::array()}};
    show_page(window, 7);
    const std::wstring caption = text_of(main_window_state.report_button);
    const std::wstring page_title = text_of(main_window_state.page_title_label);
    command(report_button_id);
    EXPECT_EQ(main_window_state.current_page, 7);
    EXPECT_EQ(report_text_view, 0);
    EXPECT_FALSE(report_text_shown);
    EXPECT_FALSE(report_text_technical);
    EXPECT_EQ(text_of(main_window_state.report_button), caption);
    EXPECT_EQ(text_of(main_window_state.page_title_label), page_title);
    EXPECT_NE(main_window_state.shown_table.title.find(L"measurement"), std::wstring::npos)
        << to_utf8(main_window_state.shown_table.title);
}

// The save dialog's stand-in: checks the request, then answers as the test told it.
struct DialogAnswer {
    bool accept = true;
    std::wstring path;
    DWORD filter_index = 1;
    int calls = 0;
    bool request_ok = false;
};
DialogAnswer dialog_answer;

BOOL WINAPI fake_save_dialog(LPOPENFILENAMEW dialog) {
    ++dialog_answer.calls;
    const std::wstring filter(dialog->lpstrFilter, 65);
    dialog_answer.request_ok =
        dialog->lStructSize == sizeof(OPENFILENAMEW) &&
        dialog->hwndOwner == main_window_state.main_window &&
        filter == std::wstring(L"Tabela CSV UTF-8\0*.csv\0Raport JSON\0*.json\0Tabela tekstowa\0"
                               L"*.txt\0\0",
                               65) &&
        std::wstring(dialog->lpstrFile) == L"Tarvisko" && dialog->nMaxFile == 32768 &&
        std::wstring(dialog->lpstrDefExt) == L"csv" &&
        dialog->Flags == (OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST);
    if (!dialog_answer.accept) return FALSE;
    wcscpy_s(dialog->lpstrFile, dialog->nMaxFile, dialog_answer.path.c_str());
    dialog->nFilterIndex = dialog_answer.filter_index;
    return TRUE;
}

std::string file_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST_F(ReportWindow, ExportThroughTheSaveDialog) {
    export_save_dialog() = fake_save_dialog;
    test::TempDir out;
    last_diagnostics_report = {{"session_id", "F"}};
    show_page(window, 9);
    TableModel table;
    table.columns = {{L"A", 50}, {L"B", 50}};
    table.rows = {TableRow{{L"-1", L"x;\"y\""}, L"", {}, L"", {}}};
    apply_table_model(main_window_state, TableModel(table));

    dialog_answer = {true, (out.path() / L"t.csv").wstring(), 1};
    command(export_button_id);
    EXPECT_EQ(dialog_answer.calls, 1);
    EXPECT_TRUE(dialog_answer.request_ok);
    EXPECT_EQ(file_bytes(out.path() / L"t.csv"),
              "\xEF\xBB\xBF\"A\";\"B\"\r\n\"'-1\";\"x;\"\"y\"\"\"\r\n");
    EXPECT_EQ(main_window_state.shown_table.title, L"Plik zapisany.");

    // Page 9 carries no report into the JSON.
    dialog_answer = {true, (out.path() / L"t.json").wstring(), 2};
    command(export_button_id);
    EXPECT_EQ(json::parse(file_bytes(out.path() / L"t.json"))["report"], nullptr);

    // Cancelled: nothing written, no message.
    set_view_message(main_window_state, L"przed");
    dialog_answer = {false, (out.path() / L"c.csv").wstring(), 1};
    command(export_button_id);
    EXPECT_FALSE(fs::exists(out.path() / L"c.csv"));
    EXPECT_EQ(main_window_state.shown_table.title, L"przed");

    // A folder at the chosen path: the write fails and leaves nothing behind.
    fs::create_directory(out.path() / L"folder.csv");
    dialog_answer = {true, (out.path() / L"folder.csv").wstring(), 1};
    command(export_button_id);
    EXPECT_EQ(main_window_state.shown_table.title, L"Błąd zapisu · local_report_write_failed");
    EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), 3);

    // A cell that is no valid UTF-16: the message names it, no file appears.
    table.rows[0].cells[1] = std::wstring(L"a") + wchar_t(0xDC00);
    apply_table_model(main_window_state, TableModel(table));
    dialog_answer = {true, (out.path() / L"bad.csv").wstring(), 1};
    command(export_button_id);
    EXPECT_EQ(main_window_state.shown_table.title,
              L"Błąd zapisu · invalid Windows Unicode string");
    EXPECT_FALSE(fs::exists(out.path() / L"bad.csv"));

    // An empty table: the dialog is not even shown.
    apply_table_model(main_window_state, TableModel{L"", table.columns, {}, 0});
    dialog_answer = {true, (out.path() / L"e.csv").wstring(), 1};
    command(export_button_id);
    EXPECT_EQ(dialog_answer.calls, 0);
    EXPECT_FALSE(fs::exists(out.path() / L"e.csv"));
}

json route_run(const std::string& time) {
    json report = test::load_result_fixture("trace-silent-router");
    report["started_at"] = "2026-12-10T" + time + ".000Z";
    return report;
}

TEST_F(ReportWindow, CompareWithAnEarlierRouteRun) {
    fs::create_directories(reports_folder());
    last_results[1] = route_run("20:00:00");
    show_page(window, 7);
    responder_lookup.responder_session_id = "wanted";

    std::ofstream(reports_folder() / L"late.json", std::ios::binary) << route_run("21:00:00").dump();
    command(compare_route_button_id);
    EXPECT_EQ(main_window_state.shown_table.title,
              L"Brak wcześniejszego MTR do tego adresu z tymi samymi parametrami.");
    EXPECT_EQ(responder_lookup.responder_session_id, "wanted");

    json no_samples = route_run("19:00:00");
    no_samples.erase("mtr_samples");
    std::ofstream(reports_folder() / L"a.json", std::ios::binary) << no_samples.dump();
    std::ofstream(reports_folder() / L"b.json", std::ios::binary) << route_run("18:00:00").dump();
    command(compare_route_button_id);
    EXPECT_EQ(main_window_state.shown_table.title,
              L"Porównanie z pomiarem · 2026-12-10T18:00:00.000Z UTC");
    EXPECT_EQ(main_window_state.shown_table.columns.size(), 7u);
    EXPECT_EQ(main_window_state.shown_table.rows.size(), 4u);
    EXPECT_EQ(responder_lookup.responder_session_id, "");
    EXPECT_EQ(text_of(main_window_state.report_button), L"Pełny raport");

    api_token.clear();
    command(compare_route_button_id);
    EXPECT_EQ(main_window_state.shown_table.title,
              L"Wykonaj samodzielny MTR, aby porównać zapisane trasy.");
}

void select_row(int index) {
    ListView_SetItemState(main_window_state.results_list, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(main_window_state.results_list, index, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
}

TEST_F(ReportWindow, OpenArchivedReports) {
    fs::create_directories(reports_folder());
    const std::string route_id = "11111111-2222-3333-4444-555555555555";
    json route = route_run("17:00:00");
    route["session_id"] = route_id;
    route["measurement"]["purpose"] = "monitor";
    std::ofstream(reports_folder() / (route_id + ".json"), std::ios::binary) << route.dump();
    json full = test::load_result_fixture("diagnostics-report");
    const std::string full_id = full["throughput"]["session_id"];
    std::ofstream(reports_folder() / (full_id + ".json"), std::ios::binary) << full.dump();

    TableModel list;
    list.columns = {{L"Czas rozpoczęcia UTC", 100}, {L"Raport", 100}, {L"Sesja", 100}};
    list.rows = {TableRow{{L"b", L"Pomiar", to_wide(full_id)}, L"", {}, L"", {}},
                 TableRow{{L"a", L"Monitoring", to_wide(route_id)}, L"", {}, L"", {}},
                 TableRow{{L"c", L"Brak", L"not-an-id"}, L"", {}, L"", {}}};
    show_page(window, 10);
    apply_table_model(main_window_state, TableModel(list));

    select_row(2);
    command(open_report_button_id);
    EXPECT_EQ(main_window_state.current_page, 10);

    select_row(0);
    command(open_report_button_id);
    ASSERT_NE(details_window, nullptr);
    EXPECT_EQ(text_of(details_window), L"Archiwalny raport z pomiaru");
    EXPECT_EQ(main_window_state.current_page, 10);

    select_row(1);
    command(open_report_button_id);
    EXPECT_EQ(main_window_state.current_page, 8);
    EXPECT_EQ(last_results[2]["session_id"], route_id);
}

}  // namespace
}  // namespace tarvisko
