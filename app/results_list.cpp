#include "app/results_list.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cwchar>
#include <utility>

#include "app/controls.h"
#include "app/painting.h"
#include "app/status_texts.h"
#include "results/format.h"
#include "results/table_rows.h"

namespace tarvisko {
namespace {

constexpr wchar_t no_results_text[] = L"Brak zebranych wyników.";

const std::array<std::wstring, 12> page_names{
    L"Podsumowanie", L"Prędkość internetu", L"Komputer",   L"Sieć lokalna",
    L"Wi-Fi",        L"Internet",           L"Gry online", L"MTR i Traceroute",
    L"Monitoring",   L"Historia",           L"Raporty",    L"Ustawienia"};

void lay_out(MainWindowState& state) {
    if (state.main_window != nullptr) layout_main_window(state);
}

void focus_control(HWND control) {
    if (control != nullptr) SetFocus(control);
}

void rebuild_columns(const MainWindowState& state, const std::vector<TableColumn>& columns) {
    const HWND list = state.results_list;
    while (SendMessageW(list, LVM_DELETECOLUMN, 0, 0) != FALSE) {
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        std::wstring name = columns[i].name;
        LVCOLUMNW column{};
        column.mask = LVCF_WIDTH | LVCF_TEXT;
        column.cx = MulDiv(columns[i].width, state.dpi, 96);
        column.pszText = name.data();
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

void fill_rows(const MainWindowState& state) {
    const HWND list = state.results_list;
    const std::vector<TableRow>& rows = state.shown_table.rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        // A row without cells still gets its list item, so list row i stays model row i.
        std::wstring first = rows[i].cells.empty() ? std::wstring() : rows[i].cells[0];
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = first.data();
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        for (std::size_t j = 1; j < rows[i].cells.size(); ++j) {
            std::wstring text = rows[i].cells[j];
            item.iSubItem = static_cast<int>(j);
            item.pszText = text.data();
            SendMessageW(list, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
        }
    }
}

// A tile shows the first two cells of its row; a row of one cell (a message such as "Brak
// widocznych sąsiadów") shows that cell, so no tile on show is an empty box.
std::wstring row_tile_text(const TableRow& row) {
    if (row.cells.size() >= 2) return row.cells[0] + L"  " + row.cells[1];
    return row.cells.empty() ? std::wstring() : row.cells[0];
}

void update_row_tiles(const MainWindowState& state) {
    const std::vector<TableRow>& rows = state.shown_table.rows;
    for (std::size_t i = 0; i < state.reading_tiles.size(); ++i) {
        const HWND tile = state.reading_tiles[i];
        if (i < rows.size()) set_text_if_changed(tile, row_tile_text(rows[i]));
        if (tile != nullptr) InvalidateRect(tile, nullptr, FALSE);
    }
}

// The row the detail panel and the tiles describe, or null for a selection outside the rows.
const TableRow* selected_row(const MainWindowState& state) {
    const int index = selected_row_index(state);
    if (index < 0 || static_cast<std::size_t>(index) >= state.shown_table.rows.size()) {
        return nullptr;
    }
    return &state.shown_table.rows[static_cast<std::size_t>(index)];
}

const std::wstring& cell_or_empty(const TableRow& row, std::int32_t column) {
    static const std::wstring empty;
    if (column < 0 || static_cast<std::size_t>(column) >= row.cells.size()) return empty;
    return row.cells[static_cast<std::size_t>(column)];
}

void draw_row_chart(const Painter& painter, const TableRow& row) {
    const int w = painter.width;
    const int h = painter.height;
    const int dpi = painter.state->dpi;
    double maximum = 1.0;
    for (const ChartPoint& point : row.chart) {
        if (point.valid && std::isfinite(point.value)) maximum = std::max(maximum, point.value);
    }
    draw_text_in_box(painter, 5, secondary_colour, 12, 44, 76, 66,
                     format_decimal(maximum) + L" " + row.unit, 0);
    draw_text_in_box(painter, 5, secondary_colour, 12, h - 26, 72, h - 6, L"0 " + row.unit, 0);
    draw_line(painter.dc, MulDiv(78, dpi, 96), MulDiv(h - 12, dpi, 96), MulDiv(w - 14, dpi, 96),
              MulDiv(h - 12, dpi, 96), line_colour);

    const std::size_t n = row.chart.size();
    const double step_count = static_cast<double>(std::max<std::size_t>(1, n - 1));
    bool previous_valid = false;
    POINT previous{};
    for (std::size_t i = 0; i < n; ++i) {
        const ChartPoint& point = row.chart[i];
        // A point without a finite value is a gap, as an attempt without a reply is.
        if (!point.valid || !std::isfinite(point.value)) {
            previous_valid = false;
            continue;
        }
        const double x_dip = 80.0 + std::trunc((w - 100) * static_cast<double>(i) / step_count);
        // Far-out negative values are held a little below the base line instead of overflowing.
        const double height_share = std::clamp(point.value / maximum, -1.0, 1.0);
        const double y_dip = h - 13 - std::trunc((h - 60) * height_share);
        const POINT here{MulDiv(static_cast<int>(x_dip), dpi, 96),
                         MulDiv(static_cast<int>(y_dip), dpi, 96)};
        if (previous_valid)
            draw_line(painter.dc, previous.x, previous.y, here.x, here.y, accent_colour);
        fill_rect_color(painter.dc, RECT{here.x - 1, here.y - 1, here.x + 2, here.y + 2},
                        accent_colour);
        previous = here;
        previous_valid = true;
    }
}

}  // namespace

const std::wstring& navigation_page_name(int page) {
    static const std::wstring none;
    if (page < 0 || page >= static_cast<int>(page_names.size())) return none;
    return page_names[static_cast<std::size_t>(page)];
}

int selected_row_index(const MainWindowState& state) {
    if (state.results_list == nullptr) return -1;
    return static_cast<int>(
        SendMessageW(state.results_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void apply_table_model(MainWindowState& state, TableModel&& incoming) {
    TableModel model = std::exchange(incoming, TableModel{});
    const HWND list = state.results_list;
    const int remembered = selected_row_index(state);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);

    // Same columns keep the list's own, so a width the user dragged survives a live refresh.
    if (model.columns != state.shown_table.columns) rebuild_columns(state, model.columns);

    const auto tile_rows = [](const TableModel& table) {
        return std::min<std::size_t>(3, table.rows.size());
    };
    const bool new_layout =
        model.kind != state.shown_table.kind || tile_rows(model) != tile_rows(state.shown_table);
    state.shown_table = std::move(model);

    update_row_tiles(state);
    fill_rows(state);

    const std::size_t row_count = state.shown_table.rows.size();
    if (row_count > 0) {
        const int last = static_cast<int>(row_count) - 1;
        const int index = remembered < 0 ? 0 : std::min(remembered, last);
        LVITEMW item{};
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(&item));
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    if (list != nullptr) InvalidateRect(list, nullptr, TRUE);

    show_selected_row_detail(state);
    refresh_status_texts(state);
    if (new_layout) lay_out(state);
}

namespace {

// A navigation button marks the current page when it paints: the buttons of the page left and of
// the page now shown are drawn again, since a button that is disabled or never gets the focus is
// given no other repaint.
void set_current_page(MainWindowState& state, int page) {
    const int previous = state.current_page;
    state.current_page = page;
    if (previous == page) return;
    for (const int changed : {previous, page}) {
        if (changed < 0 || changed >= static_cast<int>(state.nav_buttons.size())) continue;
        const HWND button = state.nav_buttons[static_cast<std::size_t>(changed)];
        if (button != nullptr) InvalidateRect(button, nullptr, FALSE);
    }
}

}  // namespace

void show_table_page(MainWindowState& state, int page, TableModel&& model) {
    if (page < 0 || page > 11) return;
    state.report_status_text.clear();
    state.table_view_shown = true;
    state.sort_descending = false;
    set_current_page(state, page);
    state.sort_column = -1;
    set_text_if_changed(state.page_title_label, navigation_page_name(page));
    apply_table_model(state, std::move(model));
    lay_out(state);
    focus_control(state.nav_buttons[static_cast<std::size_t>(page)]);
}

void show_summary_page(MainWindowState& state) {
    state.report_status_text.clear();
    state.table_view_shown = false;
    set_current_page(state, 0);
    set_text_if_changed(state.page_title_label, navigation_page_name(0));
    refresh_status_texts(state);
    lay_out(state);
    focus_control(state.nav_buttons[0]);
}

void show_text_page(MainWindowState& state, int page, const std::wstring& title,
                    const std::wstring& body) {
    state.table_view_shown = false;
    // Page 0 is the dashboard, which has no text pane: a report text asked for there belongs to
    // the report page.
    set_current_page(state, page == 0 ? 10 : page);
    set_text_if_changed(state.page_title_label, title);
    set_text_if_changed(state.page_text_edit, with_crlf_line_ends(body));
    if (state.page_text_edit != nullptr) {
        SendMessageW(state.page_text_edit, EM_SETSEL, 0, 0);
        SendMessageW(state.page_text_edit, EM_SCROLLCARET, 0, 0);
    }
    refresh_status_texts(state);
    lay_out(state);
    focus_control(state.summary_button);
}

void sort_results_by_column(MainWindowState& state, int column) {
    if (column < 0 || static_cast<std::size_t>(column) >= state.shown_table.columns.size()) return;
    state.sort_descending = column == state.sort_column && !state.sort_descending;
    state.sort_column = column;
    TableModel sorted = state.shown_table;
    std::stable_sort(
        sorted.rows.begin(), sorted.rows.end(),
        [&state](const TableRow& a, const TableRow& b) { return compare_table_rows(state, a, b); });
    apply_table_model(state, std::move(sorted));
}

bool compare_table_rows(const MainWindowState& state, const TableRow& a, const TableRow& b) {
    const std::wstring& text_a = cell_or_empty(a, state.sort_column);
    const std::wstring& text_b = cell_or_empty(b, state.sort_column);
    const DecimalCell number_a = parse_decimal_cell(text_a);
    const DecimalCell number_b = parse_decimal_cell(text_b);
    // Numbers come before texts whichever the direction, so the texts never mix into the
    // ordered values.
    if (number_a.valid != number_b.valid) return number_a.valid;
    if (number_a.valid) {
        return state.sort_descending ? number_a.value > number_b.value
                                     : number_a.value < number_b.value;
    }
    // std::wstring compares its code units as unsigned 16-bit values under MinGW (wchar_t is
    // unsigned there), so this is the plain code-unit order.
    return state.sort_descending ? text_b < text_a : text_a < text_b;
}

DecimalCell parse_decimal_cell(const std::wstring& text) {
    std::wstring copy = text;
    std::replace(copy.begin(), copy.end(), L',', L'.');
    const wchar_t* begin = copy.c_str();
    wchar_t* end = nullptr;
    const double value = std::wcstod(begin, &end);
    DecimalCell cell;
    // "nan" and "inf" convert too, but only a finite value can be ordered among the others.
    if (end != begin && end == begin + copy.size() && std::isfinite(value)) {
        cell.value = value;
        cell.valid = true;
    }
    return cell;
}

LRESULT custom_draw_results_list(MainWindowState& state, NMLVCUSTOMDRAW& custom_draw) {
    const DWORD stage = custom_draw.nmcd.dwDrawStage;
    if (stage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
    if (stage == CDDS_ITEMPREPAINT) {
        state.list_row_text_colour = custom_draw.clrText;
        return CDRF_NOTIFYSUBITEMDRAW;
    }
    if (stage != (CDDS_ITEMPREPAINT | CDDS_SUBITEM)) return CDRF_DODEFAULT;

    // Windows hands one record through all sub-items of a row and keeps whatever colour the
    // previous one set: every sub-item starts from the row's own colour again.
    custom_draw.clrText = state.list_row_text_colour;
    const std::size_t row_index = custom_draw.nmcd.dwItemSpec;
    const int column = custom_draw.iSubItem;
    if (row_index >= state.shown_table.rows.size() || column < 0) return CDRF_DODEFAULT;
    const TableRow& row = state.shown_table.rows[row_index];
    if (static_cast<std::size_t>(column) >= row.status.size()) return CDRF_DODEFAULT;
    const Verdict verdict = row.status[static_cast<std::size_t>(column)];
    if (verdict == 0) return CDRF_DODEFAULT;
    if (high_contrast_on()) return CDRF_DODEFAULT;
    // A selected row in a focused list is drawn in the highlight colours; a verdict colour
    // there could be unreadable.
    const bool selected =
        (SendMessageW(state.results_list, LVM_GETITEMSTATE, row_index, LVIS_SELECTED) &
         LVIS_SELECTED) != 0;
    if (selected && state.results_list != nullptr && GetFocus() == state.results_list) {
        return CDRF_DODEFAULT;
    }
    custom_draw.clrText = static_cast<COLORREF>(verdict_color(verdict));
    return CDRF_DODEFAULT;
}

void show_selected_row_detail(MainWindowState& state) {
    const TableRow* row = selected_row(state);
    set_text_if_changed(state.result_detail_static, row == nullptr ? no_results_text : row->detail);
    if (state.copy_row_button != nullptr) EnableWindow(state.copy_row_button, row != nullptr);
    if (state.result_detail_static != nullptr) {
        InvalidateRect(state.result_detail_static, nullptr, FALSE);
    }
}

void draw_detail_panel(const Painter& painter) {
    const int w = painter.width;
    const int h = painter.height;
    draw_card_frame(painter, card_colour, line_colour);
    const TableRow* row = selected_row(*painter.state);
    if (row == nullptr) {
        draw_text_in_box(painter, 1, secondary_colour, 16, 0, w - 16, h, no_results_text, 0);
        return;
    }
    const bool has_chart = !row->chart.empty();
    draw_text_in_box(painter, 1, text_colour, 14, 6, w - 14, has_chart ? 41 : h - 5, row->detail,
                     DT_WORDBREAK);
    if (has_chart) draw_row_chart(painter, *row);
}

void draw_row_tile(const Painter& painter, int tile_index) {
    const int w = painter.width;
    const int h = painter.height;
    draw_card_frame(painter, card_colour, line_colour);
    const std::vector<TableRow>& rows = painter.state->shown_table.rows;
    if (tile_index < 0 || static_cast<std::size_t>(tile_index) >= rows.size()) return;
    const TableRow& row = rows[static_cast<std::size_t>(tile_index)];
    if (row.cells.empty()) return;
    if (row.cells.size() == 1) {
        draw_text_in_box(painter, 1, text_colour, 12, 3, w - 12, h - 3, row.cells[0], 0);
        return;
    }
    draw_text_in_box(painter, 0, secondary_colour, 12, 3, w - 12, h / 2, row.cells[0], 0);
    const COLORREF value_colour =
        row.status.size() >= 2 ? static_cast<COLORREF>(verdict_color(row.status[1])) : text_colour;
    draw_text_in_box(painter, 2, value_colour, 12, h / 2 - 2, w - 12, h - 3, row.cells[1], 0);
}

}  // namespace tarvisko
