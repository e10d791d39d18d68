#pragma once
// The results list (310) with its detail panel (311) and row tiles (320-322): showing a
// TableModel, sorting by a clicked column, colouring cells by verdict; and the three ways a page
// shows its content: a table, the dashboard or a text.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <string>

#include "app/main_window_state.h"
#include "results/table_model.h"

namespace tarvisko {

// Shows the model; takes it by value and leaves the caller's object empty.
void apply_table_model(MainWindowState& state, TableModel&& model);
void show_table_page(MainWindowState& state, int page, TableModel&& model);
void show_summary_page(MainWindowState& state);
// Page 0 is taken as page 10.
void show_text_page(MainWindowState& state, int page, const std::wstring& title,
                    const std::wstring& body);
void sort_results_by_column(MainWindowState& state, int column);
// True when row a goes before row b in the state's sort column and direction. A missing cell
// compares as the empty text.
bool compare_table_rows(const MainWindowState& state, const TableRow& a, const TableRow& b);
struct DecimalCell {
    double value = 0.0;
    bool valid = false;  // only finite numbers count
};
DecimalCell parse_decimal_cell(const std::wstring& text);
LRESULT custom_draw_results_list(MainWindowState& state, NMLVCUSTOMDRAW& custom_draw);
void show_selected_row_detail(MainWindowState& state);
// LVM_GETNEXTITEM from -1 with LVNI_SELECTED; -1 without a list or a selection.
int selected_row_index(const MainWindowState& state);
// The name of page 0..11 as the navigation and the page title show it; empty for other values.
const std::wstring& navigation_page_name(int page);

// Panel 311 and tiles 320-322, drawn by draw_owner_drawn_control.
struct Painter;
void draw_detail_panel(const Painter& painter);
void draw_row_tile(const Painter& painter, int tile_index);

}  // namespace tarvisko
