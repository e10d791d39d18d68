#pragma once
// The one record behind the main window: the handles of its children, fonts and DPI, the page on
// show, the table and dashboard content on show, the Wi-Fi view state, the tooltip texts and the
// window's own status texts. Touched only on the window's thread.
#include <windows.h>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "app/report_list.h"
#include "readings/wifi_records.h"
#include "results/summary_model.h"
#include "results/table_model.h"

namespace tarvisko {

// What the Wi-Fi page shows besides its table: the chart, the two cards and the chosen band.
struct WifiViewState {
    WifiChartData chart;
    TextCard recommendation;           // static 344
    TextCard comparison;               // static 349
    std::int32_t wifi_band_index = 0;  // 0: 2,4 GHz, 1: 5 GHz, 2: 6 GHz
};

struct MainWindowState {
    HICON app_icon = nullptr;  // "operator.ico" beside the program; null when missing
    HWND main_window = nullptr;
    HWND tooltip_window = nullptr;
    HWND profile_combo = nullptr;   // 106
    HWND page_text_edit = nullptr;  // 112
    HWND page_title_label = nullptr;
    HWND page_subtitle_label = nullptr;
    HWND app_title_label = nullptr;  // 110
    HWND status_bar = nullptr;       // 111
    HWND result_side_label = nullptr;
    HWND result_heading = nullptr;       // "Wynik pomiaru"
    HWND diagnostics_heading = nullptr;  // "Stan diagnostyki"

    // Action controls.
    HWND compare_route_button = nullptr;        // 329
    HWND open_report_button = nullptr;          // 330
    HWND update_button = nullptr;               // 331
    HWND copy_row_button = nullptr;             // 332
    HWND refresh_reading_button = nullptr;      // 333
    HWND resource_monitor_button = nullptr;     // 334
    HWND stop_reading_button = nullptr;         // 335
    HWND process_traffic_check = nullptr;       // 336
    HWND wifi_scan_button = nullptr;            // 337
    HWND router_panel_button = nullptr;         // 338
    HWND channel_help_button = nullptr;         // 339
    HWND wifi_chart_static = nullptr;           // 343
    HWND wifi_recommendation_static = nullptr;  // 344
    HWND wifi_details_button = nullptr;         // 345
    HWND wifi_before_button = nullptr;          // 346
    HWND wifi_after_button = nullptr;           // 347
    HWND wifi_compare_button = nullptr;         // 348
    HWND wifi_compare_static = nullptr;         // 349
    HWND estimate_download_static = nullptr;    // 350
    HWND estimate_video_static = nullptr;       // 351

    // The download-time and video estimate cards of panel 350, when the model allows them.
    std::optional<std::pair<TextCard, TextCard>> summary_cards;

    std::array<HWND, 3> band_buttons{};  // 340, 341, 342
    WifiViewState wifi;

    // Target controls.
    HWND game_mode_combo = nullptr;       // 327
    HWND game_length_combo = nullptr;     // 328
    HWND address_family_combo = nullptr;  // 324
    HWND save_target_button = nullptr;    // 325
    HWND favorites_combo = nullptr;       // 326
    HWND results_list = nullptr;          // 310
    HWND result_detail_static = nullptr;  // 311
    HWND target_edit = nullptr;           // 312
    HWND target_profile_combo = nullptr;  // 313: game profiles, or attempts on the route pages
    HWND method_combo = nullptr;          // 314
    HWND run_target_button = nullptr;     // 315
    HWND game_server_combo = nullptr;     // 316
    HWND max_hops_combo = nullptr;        // 317
    HWND interval_combo = nullptr;        // 318
    HWND export_button = nullptr;         // 319

    TableModel shown_table;  // its title is also the view message while a table is shown
    // The rows of the report files read so far for pages 9 and 10, and the reading in flight.
    ReportListCache report_list;
    bool table_view_shown = false;
    bool sort_descending = false;
    std::int32_t sort_column = -1;  // -1: not sorted yet
    // The text colour the list gave the row now being drawn (its item stage), which every
    // sub-item without a verdict colour gets back.
    COLORREF list_row_text_colour = 0;

    // Command controls.
    HWND start_button = nullptr;       // 101
    HWND stop_button = nullptr;        // 103
    HWND copy_code_button = nullptr;   // 102
    HWND report_button = nullptr;      // 105 "Pełny raport"
    HWND nav_toggle_button = nullptr;  // 107
    HWND summary_button = nullptr;     // 108
    HWND profile_label = nullptr;      // "Profil pomiaru"
    HWND conclusion_button = nullptr;  // 261

    std::array<HWND, 3> reading_tiles{};    // 320, 321, 322
    std::array<HWND, 12> nav_buttons{};     // 200 .. 211
    std::array<HWND, 5> dashboard_tiles{};  // 240 .. 244
    std::array<HWND, 8> dashboard_rows{};   // 250 .. 257
    std::array<HFONT, 8> fonts{};
    // The text last given to each control's tooltip; the tool's text points at this copy.
    std::map<HWND, std::wstring> tooltip_texts;

    std::int32_t dpi = 96;
    bool nav_collapse_requested = false;
    bool busy = false;  // a measurement runs
    std::int32_t current_page = 0;
    std::int32_t scroll_pos = 0;    // DIP, 0..scroll_range
    std::int32_t scroll_range = 0;  // DIP; 0: nothing to scroll
    bool nav_collapsed = false;
    double chart_maximum = 10.0;  // scale top of the speed gauges, Mb/s
    SummaryModel summary;
    std::wstring server_origin;
    std::wstring app_title;
    std::wstring status_message;
    std::wstring report_status_text;  // emptied when page 0 is shown
};

// A record with every handle null, dpi 96, no sort column and a 10 Mb/s gauge scale.
MainWindowState ui_state_init();

// The DIP rectangle in pixels at the state's DPI, each value rounded as MulDiv does.
RECT dip_rect_to_pixels(const MainWindowState& state, int left, int top, int right, int bottom);

// Gives `control` the tooltip `text`. Sends nothing when the control already has that text.
void set_tooltip(MainWindowState& state, HWND control, const std::wstring& text);

}  // namespace tarvisko
