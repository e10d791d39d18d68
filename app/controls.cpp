#include "app/controls.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/cards.h"
#include "results/dashboard.h"

namespace tarvisko {
namespace {

constexpr DWORD label_style = SS_NOPREFIX | SS_CENTERIMAGE | SS_ENDELLIPSIS;
constexpr DWORD owner_static_style = SS_OWNERDRAW;
constexpr DWORD drop_list_style = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;

const wchar_t* const page_names[12] = {
    L"Podsumowanie", L"Prędkość internetu", L"Komputer", L"Sieć lokalna",
    L"Wi-Fi",        L"Internet",           L"Gry online", L"MTR i Traceroute",
    L"Monitoring",   L"Historia",           L"Raporty",    L"Ustawienia"};

// Collects the places in creation order; every control appears once, hidden unless placed.
class Places {
  public:
    explicit Places(std::vector<std::pair<int, ControlPlace>>& out) : out_(out) {}
    void put(int id, int x, int y, int width, int height, bool visible) {
        out_.emplace_back(id, visible ? ControlPlace{x, y, width, height, true} : ControlPlace{});
    }
    void hide(int id) { out_.emplace_back(id, ControlPlace{}); }

  private:
    std::vector<std::pair<int, ControlPlace>>& out_;
};

int scale(int value, int dpi) { return MulDiv(value, dpi, 96); }

HFONT make_font(int size, int weight, const wchar_t* face, int dpi) {
    return CreateFontW(-MulDiv(size, dpi, 96), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH, face);
}

void set_font(HWND control, HFONT font) {
    if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// The folder of the running program joined with "operator.ico"; empty when the path is unknown.
std::wstring operator_icon_path() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return {};
    path.resize(length);
    const auto separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return {};
    std::wstring folder = path.substr(0, separator);
    // "C:\prog.exe" has the root "C:\" as its folder: keep its separator.
    if (folder.empty() || folder.back() == L':') folder.push_back(path[separator]);
    if (folder.back() != L'\\' && folder.back() != L'/') folder.push_back(L'\\');
    return folder + L"operator.ico";
}

void layout_once(MainWindowState& state, bool& size_changed);

}  // namespace

LayoutResult compute_layout(const LayoutInput& in) {
    LayoutResult result;
    const int W = in.width_dip;
    const int H = in.height_dip;
    const bool T = in.table_view_shown;
    const int P = in.page;
    const bool B = in.busy;

    // 1. Content height and scrolling. Every page fits the client area of the smallest window
    // (its minimum track size), so nothing scrolls under the status line there; page 1 gives its
    // speed cards less height instead of asking for more.
    const int CH = std::max(H, 590);
    result.content_height = CH;
    result.scroll_range = CH - H;
    result.scroll_pos = std::clamp(in.scroll_pos, 0, result.scroll_range);
    const bool short_ = CH < 700;

    // 2. Navigation.
    const bool narrow = W < 1080;
    const bool collapsed = in.nav_collapse_requested || W < 940;
    const int NW = collapsed ? 60 : (narrow ? 174 : 208);
    result.nav_collapsed = collapsed;

    // 3. Content column.
    const int X0 = NW - (narrow ? 10 : 0) + 26;
    const int CW = W + (narrow ? 20 : 0) - NW - 52;
    // The toggle 107 sits below the title 110 unless the navigation is collapsed: the first
    // navigation button starts below it.
    const int HT = (short_ && collapsed) ? 72 : 88;
    const int BP = std::clamp((CH - HT - 42) / 13, 31, 42);

    Places places(result.places);

    // 4. Navigation column, in creation order.
    places.put(nav_toggle_button_id, collapsed ? 8 : NW - 42, 14 + (collapsed ? 0 : 44), 38, 28,
               true);
    places.put(app_title_label_id, 8, 10, NW - 16, 44, !collapsed);
    for (int i = 0; i < 12; ++i) {
        places.put(first_nav_button_id + i, 8, HT + i * BP + (i > 8 ? 7 : 0), NW - 16, BP - 2,
                   true);
    }

    // 5. Title and subtitle. The title ends before the leftmost top-right button; in a short
    // window those buttons move up beside the title, clear of the subtitle below.
    const bool WF = T && P == 4;
    const int top_y = short_ ? 12 : 24;
    int top_right_left = X0 + CW;
    if (P != 0) top_right_left = X0 + CW - (WF ? 600 : 135);
    if (T && P == 11) top_right_left = std::min(top_right_left, X0 + CW - 327);
    if (T && (P == 2 || P == 3)) top_right_left = std::min(top_right_left, X0 + CW - 290);
    if (T && P == 2) top_right_left = std::min(top_right_left, X0 + CW - 445);
    const int title_width = std::min(CW - 350 - (WF ? 266 : 0), top_right_left - X0 - 8);
    places.put(page_title_id, X0, short_ ? 10 : 18, title_width, 40, true);
    places.put(page_subtitle_id, X0, short_ ? 50 : 61, P == 0 ? CW - 345 : CW - 8, 24, true);

    // 7. Page 0 headings; 8. card sizes.
    const bool P0 = P == 0;
    places.put(result_side_id, X0 + CW / 2, short_ ? 77 : 100, CW / 2, 28, P0);
    places.put(result_heading_id, X0, short_ ? 77 : 100, CW / 2, 28, P0);
    const int HW = (CW - 8) / 2;
    const int CT0 = short_ ? 111 : 134;
    const int CT = (T && P == 1) ? (short_ ? 83 : 100) : CT0;
    const int DH = short_ ? 94 : 116;
    // Page 1 stacks the speed cards, the two estimate panels, the list and its detail: the cards
    // give up height (down to their minimum) so that the list shows all its rows.
    int CH2 = std::clamp((CH - 405) / 2, 100, 182);
    if (T && P == 1 && in.list_rows_height > 0) {
        const int cards_and_list = CH - 76 - DH - 14 - CT - 8 - 206;
        CH2 = std::clamp(std::min(CH2, cards_and_list - in.list_rows_height), 100, 182);
    }
    const int TH = short_ ? 60 : 74;
    const int y0 = CT0 + CH2 + (short_ ? 10 : 18) + TH + 8;
    places.put(diagnostics_heading_id, X0, y0, CW / 2, 30, P0);

    // 6. Header of page 0.
    places.put(profile_label_id, X0 + CW - 313, short_ ? 8 : 16, 140, 20, P0);
    places.put(profile_combo_id, X0 + CW - 313, short_ ? 30 : 39, 145, 140, P0);
    places.put(start_button_id, X0 + CW - 152, short_ ? 24 : 33, 152, 36, P0 && !B);
    places.put(stop_button_id, X0 + CW - 152, short_ ? 24 : 33, 152, 36, P0 && B);

    // 9. Button 105; NB narrows the bottom row of the pages with a third bottom button.
    const bool NB = (P == 7 || P == 9 || P == 10) && CW <= 727;
    if (P0) {
        places.put(report_button_id, X0 + CW - 130, y0, 130, 30, true);
    } else {
        places.put(report_button_id, X0 + 190 - (NB ? 38 : 0), CH - 76, NB ? 118 : 130, 32, true);
    }
    // 18. Button 102; 6. button 108.
    places.put(copy_code_button_id, X0, CH - 76, NB ? 142 : 180, 32, !P0);
    places.put(summary_button_id, X0 + CW - (WF ? 600 : 135), top_y, 135, 34, !P0);

    // 8. Cards and tiles.
    const bool cards = P0 || (T && P == 1);
    places.put(download_tile_id, X0, CT, HW, CH2, cards);
    places.put(upload_tile_id, X0 + HW + 8, CT, CW - HW - 8, CH2, cards);
    for (int k = 0; k < 3; ++k) {
        const int x = X0 + k * CW / 3;
        const int width = (k + 1) * CW / 3 - k * CW / 3 - (k < 2 ? 8 : 0);
        places.put(first_value_tile_id + k, x, CT0 + CH2 + 8, width, TH, P0);
    }

    // 9. Rows and the conclusion.
    const int RH = std::clamp((CH - (short_ ? 43 : 60) - y0 - 64) / 4, 26, 52);
    for (int j = 0; j < 8; ++j) {
        const int y = y0 + 34 + (j / 2) * RH;
        if (j % 2 == 0) {
            places.put(first_section_card_id + j, X0, y, HW, RH - 2, P0);
        } else {
            places.put(first_section_card_id + j, X0 + HW + 8, y, CW - HW - 8, RH - 2, P0);
        }
    }
    const int y1 = y0 + 38 + 4 * RH;
    places.put(conclusion_button_id, X0, y1, CW, std::clamp(CH - y1 - 34, 24, 44), P0);

    // 19. The status bar, in window coordinates (never scrolled).
    places.put(status_bar_id, 0, H - 30, W, 30, true);

    // 10. Text pane.
    const int TT = short_ ? 83 : 100;
    places.put(page_text_edit_id, X0, TT, CW, CH - TT - 84, !P0 && !T);
    int Y = TT;

    // 11. Target pages: their controls follow below; the cursor passes their one or two rows.
    const bool TP = T && P >= 6 && P <= 8;
    const int S2 = short_ ? 122 : 139;
    const int M = std::max(CW - 426, 155);
    if (TP) Y += (P == 6 || P == 7) ? 82 : 45;

    // 12. The stop button of a running reading (placed further down).
    const bool stop_reading = T && P == 2 && B;
    const int stop_reading_y = Y;
    if (stop_reading) Y += 40;

    // 13. Estimate panels of page 1.
    const bool P1 = T && P == 1;
    int estimate_y = 0;
    if (P1) {
        Y += CH2 + 8;
        estimate_y = Y;
        Y += 206;
    }
    places.put(estimate_panel_id, X0, estimate_y, CW, 66, P1);
    places.put(connection_quality_card_id, X0, estimate_y + 74, CW, 124, P1);

    // 14. Wi-Fi block positions.
    const int H4 = short_ ? 54 : 63;
    const int wifi_y = Y;
    const int compare_y = wifi_y + H4 + 8;
    const int band_y = compare_y + 50;
    const int CHH = std::clamp((CH - 390) / 3, 112, 213);
    if (WF) Y = band_y + CHH + 44;

    // 15. Reading tiles.
    const bool tiles = T && P != 1 && in.table_kind == 0 && in.table_rows > 0 && (P <= 6 || P == 8);
    const int RT = short_ ? 51 : 65;
    const int A = CW / 3;
    const int B2 = 2 * CW / 3;
    places.put(first_reading_tile_id, X0, Y, A - 6, RT, tiles && in.table_rows >= 1);
    places.put(first_reading_tile_id + 1, X0 + A, Y, B2 - A - 6, RT, tiles && in.table_rows >= 2);
    places.put(first_reading_tile_id + 2, X0 + B2, Y, CW - B2 - 6, RT, tiles && in.table_rows >= 3);
    if (tiles) Y += short_ ? 58 : 74;

    // 16. List and detail.
    places.put(results_list_id, X0, Y, CW, CH - 76 - DH - Y - 14, T);
    places.put(result_detail_id, X0, CH - 76 - DH - 6, CW, DH, T);

    // 11. Target controls, in creation order.
    places.put(target_edit_id, X0, P == 6 ? S2 : TT, P == 6 ? CW - 303 : M, 30, TP);
    places.put(target_profile_combo_id, P == 6 ? X0 : X0 + M + 8, TT, P == 6 ? 180 : 150, 300, TP);
    places.put(method_combo_id, X0 + M + 166, TT, 110, 160, T && (P == 7 || P == 8));
    places.put(game_server_combo_id, X0 + 188, TT, CW - 338, 220, T && P == 6);
    const bool P7 = T && P == 7;
    const bool P6 = T && P == 6;
    places.put(max_hops_combo_id, X0, TT + 39, 130, 150, P7);
    places.put(interval_combo_id, X0 + 138, TT + 39, 115, 150, P7);
    places.put(game_mode_combo_id, X0 + CW - 295, TT + 39, 135, 130, P6);
    places.put(game_length_combo_id, X0 + CW - 152, TT + 39, 152, 150, P6);
    places.put(address_family_combo_id, X0 + 261, TT + 39, 92, 120, P7);
    places.put(save_target_button_id, X0 + 361, TT + 39, 105, 28, P7);
    places.put(favorites_combo_id, X0 + 474, S2, CW - 474, 230, P7);

    // 17-18. Top-right and bottom-row buttons.
    places.put(update_button_id, X0 + CW - 327, top_y, 184, 34, T && P == 11);
    places.put(open_report_button_id, X0 + CW - 264, CH - 76, 132, 32, T && (P == 9 || P == 10));
    places.put(compare_route_button_id, X0 + CW - 264, CH - 76, 132, 32, P7 && !B);
    places.put(run_target_button_id, X0 + CW - 142, TT, 142, 31, TP);
    places.put(export_button_id, X0 + CW - 124, CH - 76, 124, 32, T);
    places.put(copy_row_button_id, X0 + CW - 258 - ((P == 7 || P == 9 || P == 10) ? 140 : 0),
               CH - 76, 126, 32, T);
    places.put(refresh_reading_button_id, X0 + CW - 290, top_y, 142, 34, T && (P == 2 || P == 3));
    places.put(resource_monitor_button_id, X0 + CW - 445, top_y, 147, 34, T && P == 2);
    places.put(wifi_scan_button_id, X0 + CW - 455, top_y, 167, 34, WF);
    places.put(router_panel_button_id, X0 + CW - 280, top_y, 137, 34, WF);
    places.put(channel_help_button_id, X0 + CW - 135, top_y, 135, 34, WF);

    // 14. Wi-Fi block.
    places.put(wifi_chart_id, X0, band_y + 36, CW, CHH, WF);
    places.put(wifi_recommendation_id, X0, wifi_y, CW - 119, H4, WF);
    places.put(wifi_details_button_id, X0 + CW - 111, wifi_y + (short_ ? 11 : 15), 111, 32, WF);
    places.put(wifi_before_button_id, X0 + CW - 342, compare_y + 6, 135, 32, WF);
    places.put(wifi_after_button_id, X0 + CW - 199, compare_y + 6, 93, 32, WF);
    places.put(wifi_compare_button_id, X0 + CW - 98, compare_y + 6, 98, 32, WF);
    places.put(wifi_comparison_id, X0, compare_y, CW - 350, 44, WF);
    for (int k = 0; k < 3; ++k)
        places.put(first_band_button_id + k, X0 + 94 * k, band_y, 86, 28, WF);

    // 12. Stop button of a running reading; 6. the process-traffic checkbox.
    places.put(stop_reading_button_id, X0, stop_reading_y, 190, 32, stop_reading);
    // The checkbox sits under the profile combo, left of the start button.
    places.put(process_traffic_check_id, X0 + CW - 313, short_ ? 58 : 67, 153, 19, P0 && !B);
    return result;
}

HWND create_child_control(MainWindowState& state, const wchar_t* window_class,
                          const std::wstring& text, DWORD style, int id) {
    return CreateWindowExW(0, window_class, text.c_str(), style | WS_CHILD, 0, 0, 1, 1,
                           state.main_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

HWND create_owner_button(MainWindowState& state, const std::wstring& text, int id) {
    return create_child_control(state, L"BUTTON", text, BS_OWNERDRAW | WS_TABSTOP, id);
}

void create_main_window_controls(MainWindowState& state, HWND main_window,
                                 const std::wstring& server_origin, const std::wstring& app_title) {
    // 1.
    state.main_window = main_window;
    state.server_origin = server_origin;
    state.app_title = app_title;
    const HINSTANCE instance = GetModuleHandleW(nullptr);

    // 2. The tooltip.
    state.tooltip_window = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                           WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                           main_window, nullptr, instance, nullptr);
    SendMessageW(state.tooltip_window, TTM_SETMAXTIPWIDTH, 0, 440);

    // 3. Navigation column; the tab order follows the creation order below.
    state.nav_toggle_button =
        create_owner_button(state, L"Zwiń lub rozwiń nawigację", nav_toggle_button_id);
    state.app_title_label =
        create_child_control(state, L"STATIC", app_title, owner_static_style, app_title_label_id);
    for (int i = 0; i < 12; ++i) {
        state.nav_buttons[i] = create_owner_button(state, page_names[i], first_nav_button_id + i);
        set_tooltip(state, state.nav_buttons[i], page_names[i]);
    }

    // 4. The operator's icon beside the program; silently absent.
    const std::wstring icon_path = operator_icon_path();
    state.app_icon = icon_path.empty()
                         ? nullptr
                         : static_cast<HICON>(LoadImageW(nullptr, icon_path.c_str(), IMAGE_ICON, 0,
                                                         0, LR_LOADFROMFILE | LR_DEFAULTSIZE));

    // 5. Page header and dashboard.
    state.page_title_label =
        create_child_control(state, L"STATIC", L"Podsumowanie", label_style, page_title_id);
    state.page_subtitle_label =
        create_child_control(state, L"STATIC", L"Gotowy do pomiaru", label_style, page_subtitle_id);
    state.result_side_label = create_child_control(
        state, L"STATIC", L"", SS_RIGHT | SS_NOPREFIX | SS_CENTERIMAGE, result_side_id);
    state.result_heading =
        create_child_control(state, L"STATIC", L"Wynik pomiaru", label_style, result_heading_id);
    state.diagnostics_heading = create_child_control(state, L"STATIC", L"Stan diagnostyki",
                                                     label_style, diagnostics_heading_id);
    state.profile_label =
        create_child_control(state, L"STATIC", L"Profil pomiaru", label_style, profile_label_id);
    state.profile_combo = create_child_control(state, L"COMBOBOX", L"Profil pomiaru",
                                               drop_list_style, profile_combo_id);
    fill_combo(state, profile_combo_id, {L"Pełna prędkość", L"Mały transfer"}, 0);
    set_tooltip(state, state.profile_combo,
                L"Pełna prędkość używa profilu przepustowości serwera. Mały transfer mierzy "
                L"mniejszą, ustaloną porcję danych.");
    state.start_button = create_owner_button(state, L"Rozpocznij test", start_button_id);
    state.stop_button = create_owner_button(state, L"Zatrzymaj test", stop_button_id);
    state.report_button = create_owner_button(state, L"Pełny raport", report_button_id);
    state.copy_code_button =
        create_owner_button(state, L"Kopiuj kod do panelu", copy_code_button_id);
    state.summary_button = create_owner_button(state, L"Podsumowanie", summary_button_id);
    for (int k = 0; k < 5; ++k)
        state.dashboard_tiles[k] = create_owner_button(state, L"", first_dashboard_tile_id + k);
    for (int j = 0; j < 8; ++j)
        state.dashboard_rows[j] = create_owner_button(state, L"", first_section_card_id + j);
    state.conclusion_button = create_owner_button(state, L"", conclusion_button_id);
    state.status_bar = create_child_control(state, L"STATIC", L"", owner_static_style, status_bar_id);
    state.page_text_edit = create_child_control(
        state, L"EDIT", L"", ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | WS_VSCROLL | WS_TABSTOP,
        page_text_edit_id);
    state.estimate_download_static =
        create_child_control(state, L"STATIC", L"", owner_static_style, estimate_panel_id);
    state.estimate_video_static =
        create_child_control(state, L"STATIC", L"", owner_static_style, connection_quality_card_id);
    for (int k = 0; k < 3; ++k) {
        state.reading_tiles[k] = create_child_control(state, L"STATIC", L"", owner_static_style,
                                                      first_reading_tile_id + k);
    }

    // Table view and target controls.
    state.results_list = create_child_control(
        state, WC_LISTVIEWW, L"Wyniki diagnostyczne",
        LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP, results_list_id);
    SendMessageW(state.results_list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER);
    state.result_detail_static = create_child_control(state, L"STATIC", L"Szczegóły wyniku",
                                                      owner_static_style, result_detail_id);
    state.target_edit = create_child_control(
        state, L"EDIT", L"", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, target_edit_id);
    SendMessageW(state.target_edit, EM_LIMITTEXT, 253, 0);
    SendMessageW(state.target_edit, EM_SETCUEBANNER, TRUE,
                 reinterpret_cast<LPARAM>(L"Adres IP lub nazwa DNS"));
    state.target_profile_combo = create_child_control(state, L"COMBOBOX", L"Profil lub liczba prób",
                                                      drop_list_style, target_profile_combo_id);
    state.method_combo =
        create_child_control(state, L"COMBOBOX", L"Metoda", drop_list_style, method_combo_id);
    state.game_server_combo = create_child_control(state, L"COMBOBOX", L"Serwer lub usługa gry",
                                                   drop_list_style, game_server_combo_id);
    SendMessageW(state.game_server_combo, CB_SETDROPPEDWIDTH, 360, 0);
    state.max_hops_combo = create_child_control(state, L"COMBOBOX", L"Maksymalna liczba skoków",
                                                drop_list_style, max_hops_combo_id);
    state.interval_combo = create_child_control(state, L"COMBOBOX", L"Odstęp między próbami",
                                                drop_list_style, interval_combo_id);
    state.game_mode_combo = create_child_control(state, L"COMBOBOX", L"Rodzaj testu gry",
                                                 drop_list_style, game_mode_combo_id);
    state.game_length_combo = create_child_control(state, L"COMBOBOX", L"Długość testu gry",
                                                   drop_list_style, game_length_combo_id);
    fill_combo(state, game_mode_combo_id, {L"Ping do celu", L"Trasa MTR"}, 0);
    fill_combo(state, game_length_combo_id,
               {L"20 przebiegów", L"100 przebiegów", L"300 przebiegów"}, 0);
    state.address_family_combo = create_child_control(state, L"COMBOBOX", L"Rodzina adresów IP",
                                                      drop_list_style, address_family_combo_id);
    fill_combo(state, address_family_combo_id, {L"Auto IP", L"IPv4", L"IPv6"}, 0);
    state.save_target_button = create_owner_button(state, L"Zapisz cel", save_target_button_id);
    state.favorites_combo = create_child_control(state, L"COMBOBOX", L"Ulubione cele",
                                                 drop_list_style, favorites_combo_id);
    fill_combo(state, max_hops_combo_id, {L"8 skoków", L"16 skoków", L"32 skoki"}, 1);
    fill_combo(state, interval_combo_id, {L"100 ms", L"500 ms", L"1000 ms"}, 0);

    // Action buttons and the Wi-Fi block.
    state.update_button = create_owner_button(state, L"Sprawdź aktualizacje", update_button_id);
    state.open_report_button = create_owner_button(state, L"Otwórz raport", open_report_button_id);
    state.compare_route_button =
        create_owner_button(state, L"Porównaj trasę", compare_route_button_id);
    state.run_target_button = create_owner_button(state, L"Wykonaj test", run_target_button_id);
    state.export_button = create_owner_button(state, L"Eksportuj…", export_button_id);
    state.copy_row_button = create_owner_button(state, L"Kopiuj wiersz", copy_row_button_id);
    state.refresh_reading_button =
        create_owner_button(state, L"Odśwież odczyt", refresh_reading_button_id);
    state.resource_monitor_button =
        create_owner_button(state, L"Monitor zasobów", resource_monitor_button_id);
    state.wifi_scan_button =
        create_owner_button(state, L"Badaj szczegółowo Wi-Fi", wifi_scan_button_id);
    state.router_panel_button =
        create_owner_button(state, L"Zarządzaj routerem", router_panel_button_id);
    state.channel_help_button =
        create_owner_button(state, L"Jak zmienić kanał", channel_help_button_id);
    state.wifi_chart_static = create_child_control(state, L"STATIC", L"Wykres kanałów Wi-Fi",
                                                   owner_static_style, wifi_chart_id);
    state.wifi_recommendation_static =
        create_child_control(state, L"STATIC", L"Zalecenie dla kanału Wi-Fi", owner_static_style,
                             wifi_recommendation_id);
    state.wifi_details_button = create_owner_button(state, L"Szczegóły", wifi_details_button_id);
    state.wifi_before_button =
        create_owner_button(state, L"Zapisz skan „Przed”", wifi_before_button_id);
    state.wifi_after_button = create_owner_button(state, L"Skanuj „Po”", wifi_after_button_id);
    state.wifi_compare_button = create_owner_button(state, L"Porównanie", wifi_compare_button_id);
    state.wifi_compare_static = create_child_control(state, L"STATIC", L"Porównanie kanałów Wi-Fi",
                                                     owner_static_style, wifi_comparison_id);
    state.band_buttons[0] = create_owner_button(state, L"2,4 GHz", first_band_button_id);
    state.band_buttons[1] = create_owner_button(state, L"5 GHz", first_band_button_id + 1);
    state.band_buttons[2] = create_owner_button(state, L"6 GHz", first_band_button_id + 2);
    state.stop_reading_button =
        create_owner_button(state, L"Zatrzymaj pomiar", stop_reading_button_id);
    state.process_traffic_check =
        create_child_control(state, L"BUTTON", L"Pokaż ruch procesów", BS_AUTOCHECKBOX | WS_TABSTOP,
                             process_traffic_check_id);

    // 6-7.
    create_fonts(state, static_cast<int>(GetDpiForWindow(main_window)));
    apply_summary_model(state, build_results_view(nlohmann::json()));
}

int CALLBACK font_exists_proc(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found_flag) {
    *reinterpret_cast<BYTE*>(found_flag) = 1;
    return 0;
}

void create_fonts(MainWindowState& state, int dpi) {
    if (dpi == 0) dpi = 96;
    state.dpi = dpi;

    BYTE found = 0;
    LOGFONTW probe{};
    probe.lfCharSet = DEFAULT_CHARSET;
    wcscpy_s(probe.lfFaceName, L"Segoe UI Variable Text");
    if (HDC dc = GetDC(state.main_window)) {
        EnumFontFamiliesExW(dc, &probe, font_exists_proc, reinterpret_cast<LPARAM>(&found), 0);
        ReleaseDC(state.main_window, dc);
    }
    const wchar_t* text_face = found ? L"Segoe UI Variable Text" : L"Segoe UI";

    struct FontShape {
        int size;
        int weight;
        const wchar_t* face;
    };
    const FontShape shapes[8] = {{13, 400, text_face}, {14, 400, text_face},
                               {19, 600, text_face}, {28, 600, text_face},
                               {34, 600, text_face}, {12, 400, text_face},
                               {17, 400, L"Segoe MDL2 Assets"}, {15, 400, text_face}};
    for (int slot = 0; slot < 8; ++slot) {
        // The new font exists before the old one goes, so no control ever holds a deleted font
        // for longer than this loop.
        HFONT font = make_font(shapes[slot].size, shapes[slot].weight, shapes[slot].face, dpi);
        if (state.fonts[slot] != nullptr) DeleteObject(state.fonts[slot]);
        state.fonts[slot] = font;
    }

    for (HWND control : {state.page_subtitle_label, state.result_side_label, state.status_bar,
                         state.profile_label, state.process_traffic_check}) {
        set_font(control, state.fonts[0]);
    }
    for (HWND control : {state.profile_combo, state.page_text_edit, state.results_list,
                         state.target_edit, state.target_profile_combo, state.method_combo,
                         state.game_server_combo, state.max_hops_combo, state.interval_combo,
                         state.address_family_combo, state.favorites_combo, state.game_mode_combo,
                         state.game_length_combo}) {
        set_font(control, state.fonts[1]);
    }
    set_font(state.result_heading, state.fonts[2]);
    set_font(state.diagnostics_heading, state.fonts[2]);
    set_font(state.page_title_label, state.fonts[3]);

    for (std::size_t column = 0; column < state.shown_table.columns.size(); ++column) {
        SendMessageW(state.results_list, LVM_SETCOLUMNWIDTH, column,
                     MulDiv(state.shown_table.columns[column].width, dpi, 96));
    }
    layout_main_window(state);
}

HWND control_by_id(const MainWindowState& state, int id) {
    if (state.main_window == nullptr) return nullptr;
    return GetDlgItem(state.main_window, id);
}

RECT control_pixels(const ControlPlace& place, int dpi, int scroll_pos) {
    const int y = place.y - scroll_pos;
    return RECT{scale(place.x, dpi), scale(y, dpi), scale(place.x + std::max(1, place.width), dpi),
                scale(y + std::max(1, place.height), dpi)};
}

RECT status_bar_pixels(SIZE client, int dpi) {
    return RECT{0, client.cy - scale(30, dpi), client.cx, client.cy};
}

LayoutInput layout_input(const MainWindowState& state) {
    RECT client{};
    GetClientRect(state.main_window, &client);
    const int dpi = state.dpi > 0 ? state.dpi : 96;
    LayoutInput input;
    input.width_dip = MulDiv(client.right - client.left, 96, dpi);
    input.height_dip = MulDiv(client.bottom - client.top, 96, dpi);
    input.page = state.current_page;
    input.table_view_shown = state.table_view_shown;
    input.busy = state.busy;
    input.scroll_pos = state.scroll_pos;
    input.nav_collapse_requested = state.nav_collapse_requested;
    input.table_kind = state.shown_table.kind;
    input.table_rows = state.shown_table.rows.size();
    // Only page 1 sizes its list by the rows (the other pages give the list all that is left):
    // the header's height for the list's font, and one row's height times the rows.
    const HWND list = state.results_list;
    if (input.page == 1 && input.table_view_shown && list != nullptr && input.table_rows > 0) {
        RECT row{};
        row.left = LVIR_BOUNDS;
        int header_height = 0;
        if (const auto header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0))) {
            RECT area{0, 0, 10000, 10000};
            WINDOWPOS header_place{};
            HDLAYOUT header_layout{&area, &header_place};
            if (SendMessageW(header, HDM_LAYOUT, 0, reinterpret_cast<LPARAM>(&header_layout))) {
                header_height = header_place.cy;
            }
        }
        if (SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row)) != FALSE) {
            const int rows_pixels =
                header_height + static_cast<int>(input.table_rows) * (row.bottom - row.top) + 4;
            input.list_rows_height = MulDiv(rows_pixels, 96, dpi) + 1;
        }
    }
    return input;
}

void place_control(MainWindowState& state, HWND control, int x, int y, int width, int height,
                   bool visible) {
    if (control == nullptr) return;
    if (!visible) {
        ShowWindow(control, SW_HIDE);
        return;
    }
    const RECT pixels = control_pixels(ControlPlace{x, y, width, height, true}, state.dpi,
                                       control == state.status_bar ? 0 : state.scroll_pos);
    // Without copied bits the moved control paints itself whole: a static keeps no stale text.
    SetWindowPos(control, nullptr, pixels.left, pixels.top, pixels.right - pixels.left,
                 pixels.bottom - pixels.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS | SWP_SHOWWINDOW);
}

namespace {

// One child's move, show or hide, as the layout asks for it.
struct ChildMove {
    HWND control = nullptr;
    RECT pixels{};
    UINT flags = 0;
};

// What the layout must do to the child: nothing when it already stands shown on that rectangle
// or stays hidden, so a layout that changes little costs little.
std::optional<ChildMove> child_move(HWND main_window, HWND control, const RECT& pixels,
                                    bool visible) {
    constexpr UINT common = SWP_NOZORDER | SWP_NOACTIVATE;
    const bool shown = (GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0;
    if (!visible) {
        if (!shown) return std::nullopt;
        return ChildMove{control, {}, common | SWP_NOMOVE | SWP_NOSIZE | SWP_HIDEWINDOW};
    }
    RECT now{};
    GetWindowRect(control, &now);
    MapWindowPoints(nullptr, main_window, reinterpret_cast<POINT*>(&now), 2);
    if (shown && EqualRect(&now, &pixels)) return std::nullopt;
    // A moved or resized control is repainted whole rather than from bits copied from its old
    // place: a static has no redraw-on-resize style and would keep parts of its old text.
    return ChildMove{control, pixels, common | SWP_NOCOPYBITS | (shown ? 0u : SWP_SHOWWINDOW)};
}

// Applies the moves in one batch; should the batch fail, one by one.
void apply_child_moves(const std::vector<ChildMove>& moves) {
    if (moves.empty()) return;
    HDWP batch = BeginDeferWindowPos(static_cast<int>(moves.size()));
    for (const ChildMove& move : moves) {
        if (batch == nullptr) break;
        batch = DeferWindowPos(batch, move.control, nullptr, move.pixels.left, move.pixels.top,
                               move.pixels.right - move.pixels.left,
                               move.pixels.bottom - move.pixels.top, move.flags);
    }
    if (batch != nullptr && EndDeferWindowPos(batch)) return;
    for (const ChildMove& move : moves) {
        SetWindowPos(move.control, nullptr, move.pixels.left, move.pixels.top,
                     move.pixels.right - move.pixels.left, move.pixels.bottom - move.pixels.top,
                     move.flags);
    }
}

void layout_once(MainWindowState& state, bool& size_changed) {
    const LayoutInput input = layout_input(state);
    const LayoutResult layout = compute_layout(input);
    const int dpi = state.dpi > 0 ? state.dpi : 96;

    state.scroll_pos = layout.scroll_pos;
    state.scroll_range = layout.scroll_range;
    state.nav_collapsed = layout.nav_collapsed;
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = layout.content_height - 1;
    info.nPage = static_cast<UINT>(input.height_dip);
    info.nPos = state.scroll_pos;
    // Showing or hiding the scroll bar resizes the client area and lays out again from WM_SIZE.
    SetScrollInfo(state.main_window, SB_VERT, &info, TRUE);
    if (size_changed) return;

    RECT client{};
    GetClientRect(state.main_window, &client);
    std::vector<ChildMove> moves;
    moves.reserve(layout.places.size());
    for (const auto& [id, place] : layout.places) {
        const HWND control = control_by_id(state, id);
        if (control == nullptr) continue;
        // The status line keeps to the client area's bottom edge, whatever the rounding of DIP.
        const RECT pixels = control == state.status_bar
                                ? status_bar_pixels(SIZE{client.right, client.bottom}, dpi)
                                : control_pixels(place, dpi, state.scroll_pos);
        if (auto move = child_move(state.main_window, control, pixels, place.visible)) {
            moves.push_back(*move);
        }
    }
    apply_child_moves(moves);
    if (state.open_report_button != nullptr) {
        EnableWindow(state.open_report_button, !state.busy && !state.shown_table.rows.empty());
    }
    if (GetWindow(state.main_window, GW_CHILD) != state.status_bar) {
        SetWindowPos(state.status_bar, HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    InvalidateRect(state.main_window, nullptr, TRUE);
}

// Set while a layout runs: a nested call (WM_SIZE from the scroll bar appearing) asks the running
// one to start again with the new client size instead of placing the children twice.
bool layout_running = false;
bool layout_again = false;

}  // namespace

void layout_main_window(MainWindowState& state) {
    if (state.status_bar == nullptr || state.main_window == nullptr) return;
    if (layout_running) {
        layout_again = true;
        return;
    }
    layout_running = true;
    // The scroll bar depends on the height only, so a second pass settles it.
    for (int pass = 0; pass < 3; ++pass) {
        layout_again = false;
        layout_once(state, layout_again);
        if (!layout_again) break;
    }
    layout_running = false;
}

void scroll_content(MainWindowState& state, int scroll_code) {
    if (state.scroll_range == 0) return;
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(state.main_window, SB_VERT, &info);
    int position = state.scroll_pos;
    switch (scroll_code) {
        case SB_LINEUP: position -= 36; break;
        case SB_LINEDOWN: position += 36; break;
        case SB_PAGEUP: position -= static_cast<int>(info.nPage); break;
        case SB_PAGEDOWN: position += static_cast<int>(info.nPage); break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK: position = info.nTrackPos; break;
        default: break;
    }
    position = std::clamp(position, 0, state.scroll_range);
    if (position == state.scroll_pos) return;
    state.scroll_pos = position;
    layout_main_window(state);
}

void set_busy_state(MainWindowState& state, bool busy, bool client_token_present,
                    bool report_text_present) {
    const bool changed = state.busy != busy;
    state.busy = busy;
    auto enable = [](HWND control, bool enabled) {
        if (control != nullptr) EnableWindow(control, enabled);
    };
    enable(state.start_button, !busy);
    enable(state.profile_combo, !busy);
    enable(state.copy_code_button, !busy && client_token_present);
    enable(state.report_button, !busy && report_text_present);
    if (changed) layout_main_window(state);
}

void fill_combo(MainWindowState& state, int control_id, const std::vector<std::wstring>& texts,
                int index) {
    HWND combo = control_by_id(state, control_id);
    if (combo == nullptr) return;
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const std::wstring& text : texts) {
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void destroy_window_resources(MainWindowState& state) {
    if (state.app_icon != nullptr) {
        DestroyIcon(state.app_icon);
        state.app_icon = nullptr;
    }
    for (HFONT& font : state.fonts) {
        if (font != nullptr) DeleteObject(font);
        font = nullptr;
    }
}

}  // namespace tarvisko
