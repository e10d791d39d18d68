// Prints what the results list and the owner-drawn dashboard cost on this machine:
// - a table of 100, 1,000 and 10,000 rows applied again with unchanged columns, as the live
//   samples (every 400 ms) and the per-process traffic (every 1000 ms) refresh it, beside a bare
//   loop that fills the same rows into a plain list view with LVM_INSERTITEMW and
//   LVM_SETITEMTEXTW;
// - every owner-drawn control of the dashboard painted once into a 32-bit DIB section.
//   tools/wine/run-test build/bench/app/window_bench.exe
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <array>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/control_ids.h"
#include "app/main_window_state.h"
#include "app/painting.h"
#include "app/results_list.h"
#include "bench_timing.h"

using namespace tarvisko;

namespace {

using bench::median_us;

// A per-process traffic table: five columns of names and numbers, some cells coloured.
TableModel traffic_table(int rows) {
    TableModel model;
    model.title = L"Ruch sieciowy procesów";
    model.kind = 1;
    model.columns = {{L"Proces", 180},
                     {L"PID", 60},
                     {L"Pobieranie", 100},
                     {L"Wysyłanie", 100},
                     {L"Połączenia", 90}};
    for (int i = 0; i < rows; ++i) {
        TableRow row;
        row.cells = {L"proces" + std::to_wstring(i) + L".exe", std::to_wstring(1000 + i),
                     std::to_wstring(i % 97) + L",5", std::to_wstring(i % 13) + L",1",
                     std::to_wstring(i % 7)};
        row.detail = L"Proces " + std::to_wstring(i);
        row.status = {0, 0, i % 4, 0, 0};
        model.rows.push_back(std::move(row));
    }
    return model;
}

HWND make_list(HWND host) {
    const HWND list =
        CreateWindowExW(0, WC_LISTVIEWW, L"",
                        WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0,
                        0, 800, 500, host, nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER);
    return list;
}

// The same rows into a plain list view with its columns already in place.
void bare_fill(HWND list, const TableModel& model) {
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    for (std::size_t i = 0; i < model.rows.size(); ++i) {
        const TableRow& row = model.rows[i];
        std::wstring text = row.cells[0];
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = text.data();
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        for (std::size_t j = 1; j < row.cells.size(); ++j) {
            text = row.cells[j];
            item.iSubItem = static_cast<int>(j);
            item.pszText = text.data();
            SendMessageW(list, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
        }
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
}

void bench_list(HWND host) {
    std::printf("Results list refresh with unchanged columns (median per refresh)\n");
    for (const int rows : {100, 1000, 10000}) {
        const int rounds = rows >= 10000 ? 5 : rows >= 1000 ? 15 : 51;
        MainWindowState state = ui_state_init();
        state.results_list = make_list(host);
        const TableModel model = traffic_table(rows);
        apply_table_model(state, TableModel(model));
        // Each refresh gets a model of its own, copied before the clock starts, as a builder
        // hands over a fresh one.
        std::vector<TableModel> copies(static_cast<std::size_t>(rounds), model);
        std::size_t next = 0;
        const double refresh =
            median_us(rounds, [&] { apply_table_model(state, std::move(copies[next++])); });

        const HWND bare = make_list(host);
        for (std::size_t i = 0; i < model.columns.size(); ++i) {
            std::wstring name = model.columns[i].name;
            LVCOLUMNW column{};
            column.mask = LVCF_WIDTH | LVCF_TEXT;
            column.cx = model.columns[i].width;
            column.pszText = name.data();
            SendMessageW(bare, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
        }
        const double plain = median_us(rounds, [&] { bare_fill(bare, model); });
        std::printf(
            "  %6d rows: apply_table_model %10.1f us   bare fill %10.1f us   (ratio %.2f)\n", rows,
            refresh, plain, plain > 0 ? refresh / plain : 0.0);
        std::printf(
            "              share of the 400 ms live tick %.1f%%, of the 1000 ms tick %.1f%%\n",
            refresh / 4000.0, refresh / 10000.0);
        DestroyWindow(bare);
        DestroyWindow(state.results_list);
    }
}

SummaryModel canned_summary() {
    SummaryModel summary;
    const std::array<const wchar_t*, 5> titles{L"Pobieranie", L"Wysyłanie", L"Ping", L"Jitter ICMP",
                                               L"Utrata odpowiedzi"};
    const std::array<const wchar_t*, 5> values{L"87,4", L"12,1", L"14", L"2,3", L"0"};
    for (std::size_t i = 0; i < titles.size(); ++i) {
        summary.tiles[i] = {titles[i], values[i], L"", 1};
    }
    const std::array<const wchar_t*, 8> sections{
        L"Komputer", L"Połączenie", L"Sieć lokalna", L"Sieć operatora",
        L"DNS",      L"IPv4",       L"IPv6",         L"Stabilność połączenia"};
    for (std::size_t i = 0; i < sections.size(); ++i) {
        summary.sections[i] = {sections[i], L"Bez zastrzeżeń dla tego elementu", L"",
                               static_cast<Verdict>(i % 4)};
    }
    summary.download_mbps = 87.4;
    summary.upload_mbps = 12.1;
    IdleQualityCard quality;
    quality.tiles = {TextCard{L"Ping do serwera", L"14 ms", L"", 1},
                     TextCard{L"Wahania pingu", L"2,3 ms", L"", 1},
                     TextCard{L"Bez odpowiedzi na ping", L"0%", L"", 1}};
    quality.profile_line = L"Profil węzła: światłowód";
    quality.sentence = L"Połączenie w spoczynku jest stabilne i szybko odpowiada.";
    summary.idle_quality = quality;
    summary.headline = L"Połączenie działa dobrze.";
    summary.advice = L"Nic nie trzeba zmieniać.";
    summary.overall_status = 1;
    summary.has_report = true;
    return summary;
}

struct Item {
    UINT id;
    int width;
    int height;
};

void bench_paint() {
    MainWindowState state = ui_state_init();
    static constexpr std::array<int, 8> heights{13, 14, 19, 28, 34, 12, 17, 15};
    for (std::size_t slot = 0; slot < heights.size(); ++slot) {
        state.fonts[slot] = CreateFontW(-heights[slot], 0, 0, 0, slot >= 2 && slot <= 4 ? 600 : 400,
                                        0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0,
                                        slot == 6 ? L"Segoe MDL2 Assets" : L"Segoe UI");
    }
    state.app_title = L"Tarvisko";
    state.chart_maximum = 100.0;
    state.summary = canned_summary();
    state.summary_cards.emplace(TextCard{L"Plik 1 GB", L"1 min 32 s", L"przy 87,4 Mb/s", 0},
                                TextCard{L"Filmy 4K", L"3 naraz", L"po 25 Mb/s", 0});
    const HWND labelled = CreateWindowExW(0, L"STATIC", L"Rozpocznij test", WS_POPUP, 0, 0, 10, 10,
                                          nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);

    std::vector<Item> items{{app_title_label_id, 208, 44}, {nav_toggle_button_id, 40, 40},
                            {status_bar_id, 1100, 24},     {start_button_id, 170, 36},
                            {stop_button_id, 150, 36},     {copy_code_button_id, 120, 32},
                            {report_button_id, 120, 32},   {conclusion_button_id, 700, 48},
                            {estimate_panel_id, 500, 70},  {connection_quality_card_id, 600, 140}};
    for (UINT id = first_nav_button_id; id <= last_nav_button_id; ++id)
        items.push_back({id, 190, 40});
    items.push_back({download_tile_id, 300, 220});
    items.push_back({upload_tile_id, 300, 220});
    for (UINT id = first_value_tile_id; id <= last_dashboard_tile_id; ++id)
        items.push_back({id, 180, 64});
    for (UINT id = first_section_card_id; id <= last_section_card_id; ++id)
        items.push_back({id, 340, 40});

    const HDC screen = GetDC(nullptr);
    const HDC target = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 1200;
    info.bmiHeader.biHeight = -300;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(target, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(target, bitmap);
    ReleaseDC(nullptr, screen);

    const auto paint_all = [&] {
        for (const Item& item : items) {
            DRAWITEMSTRUCT draw{};
            draw.CtlID = item.id;
            draw.hDC = target;
            draw.hwndItem = labelled;
            draw.rcItem = RECT{0, 0, item.width, item.height};
            draw_owner_drawn_control(state, draw);
        }
        GdiFlush();
    };
    paint_all();
    const double pass = median_us(31, paint_all);
    std::printf("Dashboard painting: %zu owner-drawn controls once   %10.1f us (median of 31)\n",
                items.size(), pass);

    SelectObject(target, old);
    DeleteObject(bitmap);
    DeleteDC(target);
    DestroyWindow(labelled);
    for (HFONT font : state.fonts) DeleteObject(font);
}

}  // namespace

int main() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    const HWND host = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 820, 520, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
    bench_list(host);
    bench_paint();
    DestroyWindow(host);
    return 0;
}
