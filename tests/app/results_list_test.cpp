// The results list: the number parsing and row order of the sort, the cell colours, and a real
// list view fed with table models (columns, selection, detail panel, row tiles, the sort state).
#include "app/results_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/b_paint_support.h"
#include "app/cards.h"
#include "app/control_ids.h"
#include "app/controls.h"
#include "app/painting.h"
#include "app/status_texts.h"
#include "support/window_harness.h"

namespace tarvisko {
namespace {

using namespace paint_test;

constexpr COLORREF accent = rgb(0x0067C0);
constexpr COLORREF border = rgb(0xE0E0E0);
constexpr COLORREF white = rgb(0xFFFFFF);

TEST(ParseDecimalCell, NumbersAndTexts) {
    struct Case {
        std::wstring text;
        bool valid;
        double value;
    };
    const std::vector<Case> cases{
        {L"12,5", true, 12.5},  {L"12.5", true, 12.5}, {L"-3", true, -3.0},
        {L" 7", true, 7.0},     {L"0", true, 0.0},     {L"1e3", true, 1000.0},
        {L"12,5 ms", false, 0}, {L"7 ", false, 0},     {L"-", false, 0},
        {L"—", false, 0},       {L"", false, 0},       {L"abc", false, 0},
        {L"1,2,3", false, 0},   {L"1 000", false, 0},  {L"nan", false, 0},
        {L"NaN", false, 0},     {L"inf", false, 0},    {L"-infinity", false, 0},
        {L"1e999", false, 0},   {L"10%", false, 0}};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const DecimalCell cell = parse_decimal_cell(c.text);
        EXPECT_EQ(cell.valid, c.valid) << "case " << i;
        if (c.valid) {
            EXPECT_DOUBLE_EQ(cell.value, c.value);
        }
    }
}

TableRow row_of(std::vector<std::wstring> cells) {
    TableRow row;
    row.cells = std::move(cells);
    return row;
}

// The first cells of the rows sorted as the list sorts them.
std::vector<std::wstring> sorted_firsts(const MainWindowState& state, std::vector<TableRow> rows,
                                        std::size_t column) {
    std::stable_sort(rows.begin(), rows.end(), [&state](const TableRow& a, const TableRow& b) {
        return compare_table_rows(state, a, b);
    });
    std::vector<std::wstring> firsts;
    for (const TableRow& row : rows)
        firsts.push_back(row.cells.size() > column ? row.cells[column] : L"<none>");
    return firsts;
}

TEST(CompareTableRows, NumbersBeforeTextsInBothDirections) {
    MainWindowState state = ui_state_init();
    state.sort_column = 0;
    const std::vector<TableRow> rows{row_of({L"10"}), row_of({L"9,5"}), row_of({L"abc"}),
                                     row_of({L"2"})};
    EXPECT_EQ(sorted_firsts(state, rows, 0),
              (std::vector<std::wstring>{L"2", L"9,5", L"10", L"abc"}));
    state.sort_descending = true;
    EXPECT_EQ(sorted_firsts(state, rows, 0),
              (std::vector<std::wstring>{L"10", L"9,5", L"2", L"abc"}));
}

TEST(CompareTableRows, TextsByCodeUnitsWithoutLocale) {
    MainWindowState state = ui_state_init();
    state.sort_column = 0;
    const std::vector<TableRow> rows{row_of({L"b"}), row_of({L"ab"}), row_of({L"a"}),
                                     row_of({L"B"}), row_of({L"ą"}),  row_of({L"z"})};
    // Upper case before lower case, a longer text after its beginning, "ą" (U+0105) last.
    EXPECT_EQ(sorted_firsts(state, rows, 0),
              (std::vector<std::wstring>{L"B", L"a", L"ab", L"b", L"z", L"ą"}));
    state.sort_descending = true;
    EXPECT_EQ(sorted_firsts(state, rows, 0),
              (std::vector<std::wstring>{L"ą", L"z", L"b", L"ab", L"a", L"B"}));
}

TEST(CompareTableRows, EqualKeysKeepTheirOrder) {
    MainWindowState state = ui_state_init();
    state.sort_column = 1;
    const std::vector<TableRow> rows{row_of({L"a", L"5"}), row_of({L"b", L"x"}),
                                     row_of({L"c", L"5,0"}), row_of({L"d", L"x"}),
                                     row_of({L"e", L"5"})};
    EXPECT_EQ(sorted_firsts(state, rows, 0),
              (std::vector<std::wstring>{L"a", L"c", L"e", L"b", L"d"}));
    state.sort_descending = true;
    EXPECT_EQ(sorted_firsts(state, rows, 0),
              (std::vector<std::wstring>{L"a", L"c", L"e", L"b", L"d"}));
}

// Regression: a row shorter than the sort column was read past its end.
TEST(CompareTableRows, MissingCellComparesAsEmptyText) {
    MainWindowState state = ui_state_init();
    state.sort_column = 1;
    const std::vector<TableRow> rows{row_of({L"long", L"b"}), row_of({L"short"}),
                                     row_of({L"number", L"3"}), row_of({})};
    // The empty text sorts first among the texts and after every number.
    EXPECT_EQ(sorted_firsts(state, rows, 0),
              (std::vector<std::wstring>{L"number", L"short", L"<none>", L"long"}));
    const TableRow empty = row_of({L"x", L""});
    EXPECT_FALSE(compare_table_rows(state, rows[1], empty));
    EXPECT_FALSE(compare_table_rows(state, empty, rows[1]));
}

// Regression: "nan" counted as a number, and a NaN key breaks the ordering a stable sort needs.
TEST(CompareTableRows, NanAndInfinityAreTexts) {
    MainWindowState state = ui_state_init();
    state.sort_column = 0;
    const std::vector<TableRow> rows{row_of({L"nan"}), row_of({L"3"}),   row_of({L"inf"}),
                                     row_of({L"1"}),   row_of({L"nan"}), row_of({L"2"})};
    EXPECT_EQ(sorted_firsts(state, rows, 0),
              (std::vector<std::wstring>{L"1", L"2", L"3", L"inf", L"nan", L"nan"}));
    // Irreflexive and consistent for every pair, as a strict weak ordering must be.
    for (const TableRow& a : rows) {
        EXPECT_FALSE(compare_table_rows(state, a, a));
        for (const TableRow& b : rows) {
            EXPECT_FALSE(compare_table_rows(state, a, b) && compare_table_rows(state, b, a));
        }
    }
}

// A real report list view in a hidden top-level window, as the window creates list 310, with
// a detail panel, a copy button and three row tiles as plain children.
class ListTest : public PaintTest {
  protected:
    void SetUp() override {
        PaintTest::SetUp();
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        host_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 800, 600, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        keep_window(host_);
        state.results_list = CreateWindowExW(
            0, WC_LISTVIEWW, L"",
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0,
            0, 600, 300, host_, reinterpret_cast<HMENU>(results_list_id), GetModuleHandleW(nullptr),
            nullptr);
        SendMessageW(state.results_list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                     LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER);
        state.result_detail_static = child(L"STATIC", result_detail_id);
        state.copy_row_button = child(L"BUTTON", copy_row_button_id);
        for (int i = 0; i < 3; ++i)
            state.reading_tiles[static_cast<std::size_t>(i)] =
                child(L"STATIC", first_reading_tile_id + i);
    }

    HWND child(const wchar_t* window_class, int id) {
        return CreateWindowExW(0, window_class, L"", WS_CHILD, 0, 0, 10, 10, host_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
    }

    int list_rows() const {
        return static_cast<int>(SendMessageW(state.results_list, LVM_GETITEMCOUNT, 0, 0));
    }
    int list_columns() const {
        const HWND header =
            reinterpret_cast<HWND>(SendMessageW(state.results_list, LVM_GETHEADER, 0, 0));
        return static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    }
    int column_width(int column) const {
        return static_cast<int>(SendMessageW(state.results_list, LVM_GETCOLUMNWIDTH, column, 0));
    }
    std::wstring cell(int row, int column) const {
        wchar_t text[256] = {};
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = 256;
        SendMessageW(state.results_list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        return text;
    }
    void select(int row) {
        LVITEMW item{};
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(state.results_list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    }
    void clear_selection() {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED;
        SendMessageW(state.results_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(&item));
    }

    HWND host_ = nullptr;
};

TableModel model_of(std::vector<std::wstring> firsts,
                    std::vector<TableColumn> columns = {{L"Nazwa", 120}, {L"Wartość", 80}}) {
    TableModel model;
    model.title = L"Tabela";
    model.columns = std::move(columns);
    for (const std::wstring& first : firsts) {
        TableRow row;
        row.cells = {first, L"v" + first};
        row.detail = L"Szczegóły " + first;
        model.rows.push_back(std::move(row));
    }
    return model;
}

TEST_F(ListTest, ModelFillsListAndLeavesCallerEmpty) {
    TableModel model = model_of({L"a", L"b", L"c"});
    model.rows[1].cells.push_back(L"beyond the columns");
    model.rows.push_back(TableRow{});  // a row without cells still has its list row
    apply_table_model(state, std::move(model));
    EXPECT_EQ(model, TableModel{});
    EXPECT_EQ(list_columns(), 2);
    EXPECT_EQ(list_rows(), 4);
    EXPECT_EQ(cell(0, 0), L"a");
    EXPECT_EQ(cell(2, 1), L"vc");
    EXPECT_EQ(cell(3, 0), L"");
    EXPECT_EQ(state.shown_table.rows.size(), 4u);
    EXPECT_EQ(state.shown_table.title, L"Tabela");
    // A fresh table starts on its first row.
    EXPECT_EQ(selected_row_index(state), 0);
    EXPECT_EQ(get_window_text(state.result_detail_static), L"Szczegóły a");
    EXPECT_TRUE(IsWindowEnabled(state.copy_row_button));
    EXPECT_EQ(get_window_text(state.reading_tiles[0]), L"a  va");
    EXPECT_EQ(get_window_text(state.reading_tiles[2]), L"c  vc");
}

TEST_F(ListTest, SameColumnsKeepDraggedWidthAnyDifferenceRebuilds) {
    apply_table_model(state, model_of({L"a"}));
    EXPECT_EQ(column_width(0), 120);
    SendMessageW(state.results_list, LVM_SETCOLUMNWIDTH, 0, 250);
    apply_table_model(state, model_of({L"a", L"b"}));
    EXPECT_EQ(column_width(0), 250);

    for (const std::vector<TableColumn>& columns :
         {std::vector<TableColumn>{{L"Nazwa", 121}, {L"Wartość", 80}},
          std::vector<TableColumn>{{L"Nazwa", 121}, {L"Wartosc", 80}},
          std::vector<TableColumn>{{L"Nazwa", 121}},
          std::vector<TableColumn>{{L"Nazwa", 121}, {L"Wartosc", 80}, {L"Stan", 60}}}) {
        SendMessageW(state.results_list, LVM_SETCOLUMNWIDTH, 0, 250);
        apply_table_model(state, model_of({L"a"}, columns));
        EXPECT_EQ(list_columns(), static_cast<int>(columns.size()));
        EXPECT_EQ(column_width(0), 121);
    }
    // Widths are DIP, scaled at the window's DPI.
    state.dpi = 144;
    apply_table_model(state, model_of({L"a"}, {{L"Nazwa", 100}}));
    EXPECT_EQ(column_width(0), 150);
}

TEST_F(ListTest, SelectedPositionKeptAndClamped) {
    apply_table_model(state, model_of({L"a", L"b", L"c", L"d"}));
    select(2);
    apply_table_model(state, model_of({L"w", L"x", L"y", L"z"}));
    EXPECT_EQ(selected_row_index(state), 2);
    EXPECT_EQ(get_window_text(state.result_detail_static), L"Szczegóły y");
    apply_table_model(state, model_of({L"p", L"q"}));
    EXPECT_EQ(selected_row_index(state), 1);
    clear_selection();
    apply_table_model(state, model_of({L"p", L"q", L"r"}));
    EXPECT_EQ(selected_row_index(state), 0);
}

TEST_F(ListTest, EmptyModelShowsNoResults) {
    apply_table_model(state, model_of({L"a", L"b"}));
    apply_table_model(state, model_of({}));
    EXPECT_EQ(list_rows(), 0);
    EXPECT_EQ(selected_row_index(state), -1);
    EXPECT_EQ(get_window_text(state.result_detail_static), L"Brak zebranych wyników.");
    EXPECT_FALSE(IsWindowEnabled(state.copy_row_button));
    // Tiles whose row is gone keep their text.
    EXPECT_EQ(get_window_text(state.reading_tiles[0]), L"a  va");
}

TEST_F(ListTest, SortCyclesDirectionAndKeepsPosition) {
    TableModel model = model_of({L"10", L"9,5", L"abc", L"2"});
    apply_table_model(state, std::move(model));
    select(1);
    struct Click {
        int column;
        int sort_column;
        bool descending;
        std::vector<std::wstring> order;
    };
    const std::vector<Click> clicks{
        {0, 0, false, {L"2", L"9,5", L"10", L"abc"}},
        {0, 0, true, {L"10", L"9,5", L"2", L"abc"}},
        {0, 0, false, {L"2", L"9,5", L"10", L"abc"}},
        {1, 1, false, {L"10", L"2", L"9,5", L"abc"}},  // "v..." texts by code units
        {0, 0, false, {L"2", L"9,5", L"10", L"abc"}},
        {5, 0, false, {L"2", L"9,5", L"10", L"abc"}},  // outside the columns: ignored
        {-1, 0, false, {L"2", L"9,5", L"10", L"abc"}}};
    for (const Click& click : clicks) {
        sort_results_by_column(state, click.column);
        EXPECT_EQ(state.sort_column, click.sort_column);
        EXPECT_EQ(state.sort_descending, click.descending) << click.column;
        std::vector<std::wstring> shown;
        for (int i = 0; i < list_rows(); ++i) {
            shown.push_back(cell(i, 0));
            EXPECT_EQ(state.shown_table.rows[static_cast<std::size_t>(i)].cells[0], cell(i, 0));
        }
        EXPECT_EQ(shown, click.order) << click.column;
        EXPECT_EQ(selected_row_index(state), 1);
    }
    // A refreshed table arrives in its builder's order; the sort state stays for the next click.
    sort_results_by_column(state, 0);
    apply_table_model(state, model_of({L"10", L"9,5", L"abc", L"2"}));
    EXPECT_EQ(cell(0, 0), L"10");
    EXPECT_EQ(state.sort_column, 0);
    EXPECT_TRUE(state.sort_descending);
    sort_results_by_column(state, 0);
    EXPECT_FALSE(state.sort_descending);
}

NMLVCUSTOMDRAW sub_item_draw(std::size_t row, int column) {
    NMLVCUSTOMDRAW draw{};
    draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT | CDDS_SUBITEM;
    draw.nmcd.dwItemSpec = row;
    draw.iSubItem = column;
    draw.clrText = rgb(0x123456);
    return draw;
}

TEST_F(ListTest, CustomDrawColoursVerdictCells) {
    TableModel model = model_of({L"a", L"b", L"c"});
    model.rows[0].status = {0, 3};
    model.rows[1].status = {2};
    apply_table_model(state, std::move(model));
    clear_selection();

    NMLVCUSTOMDRAW draw{};
    draw.nmcd.dwDrawStage = CDDS_PREPAINT;
    EXPECT_EQ(custom_draw_results_list(state, draw), CDRF_NOTIFYITEMDRAW);
    draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
    draw.clrText = rgb(0x123456);  // the rows' own colour, as the list gives it
    EXPECT_EQ(custom_draw_results_list(state, draw), CDRF_NOTIFYSUBITEMDRAW);

    struct Case {
        std::size_t row;
        int column;
        COLORREF text;
    };
    for (const Case c : {Case{0, 1, rgb(0xC42B1C)}, Case{1, 0, rgb(0x9D5D00)},
                         Case{0, 0, rgb(0x123456)},     // verdict 0
                         Case{1, 1, rgb(0x123456)},     // no status entry for the column
                         Case{2, 0, rgb(0x123456)},     // no status at all
                         Case{7, 0, rgb(0x123456)}}) {  // no such row
        NMLVCUSTOMDRAW cell_draw = sub_item_draw(c.row, c.column);
        EXPECT_EQ(custom_draw_results_list(state, cell_draw), CDRF_DODEFAULT);
        EXPECT_EQ(cell_draw.clrText, c.text) << c.row << "," << c.column;
    }

    // A selected row keeps the highlight colours only while the list has the focus.
    ShowWindow(host_, SW_SHOW);
    select(0);
    SetFocus(nullptr);
    NMLVCUSTOMDRAW unfocused = sub_item_draw(0, 1);
    custom_draw_results_list(state, unfocused);
    EXPECT_EQ(unfocused.clrText, rgb(0xC42B1C));
    SetFocus(state.results_list);
    if (GetFocus() == state.results_list) {
        NMLVCUSTOMDRAW focused = sub_item_draw(0, 1);
        custom_draw_results_list(state, focused);
        EXPECT_EQ(focused.clrText, rgb(0x123456));
        NMLVCUSTOMDRAW other_row = sub_item_draw(1, 0);
        custom_draw_results_list(state, other_row);
        EXPECT_EQ(other_row.clrText, rgb(0x9D5D00));
    } else {
        ADD_FAILURE() << "the list did not take the focus";
    }
    SetFocus(nullptr);

    paint_hooks().high_contrast = [] { return true; };
    NMLVCUSTOMDRAW contrast = sub_item_draw(1, 0);
    custom_draw_results_list(state, contrast);
    EXPECT_EQ(contrast.clrText, rgb(0x123456));
}

// Windows hands ONE record through the sub-items of a row, in order, and keeps whatever colour a
// sub-item set: on the hop table's target row the loss verdict of "Brak (%)" must not run into
// the columns after it. Every sub-item starts from the colour the list gave the row.
TEST_F(ListTest, CustomDrawOneRecordThroughARow) {
    TableModel model = model_of({L"a", L"b"}, {{L"Skok", 40},
                                               {L"Adres", 120},
                                               {L"Brak (%)", 60},
                                               {L"Ostatni", 60},
                                               {L"Średni", 60},
                                               {L"Najlepszy", 60}});
    model.rows[1].cells = {L"7", L"192.0.2.1", L"40", L"12", L"11", L"9"};
    model.rows[1].status = {0, 0, 3, 0};
    apply_table_model(state, std::move(model));
    clear_selection();

    struct Case {
        const char* name;
        COLORREF row_colour;  // what the list gives the row at its item stage
        bool high_contrast;
        COLORREF verdict_cell;
    };
    for (const Case c : {Case{"normal", rgb(0x123456), false, rgb(0xC42B1C)},
                         Case{"high contrast", rgb(0x000000), true, rgb(0x000000)}}) {
        SCOPED_TRACE(c.name);
        paint_hooks().high_contrast = [c] { return c.high_contrast; };
        NMLVCUSTOMDRAW draw{};
        draw.nmcd.dwItemSpec = 1;
        draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
        draw.clrText = c.row_colour;
        EXPECT_EQ(custom_draw_results_list(state, draw), CDRF_NOTIFYSUBITEMDRAW);
        draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT | CDDS_SUBITEM;
        for (int column = 0; column < 6; ++column) {
            draw.iSubItem = column;
            EXPECT_EQ(custom_draw_results_list(state, draw), CDRF_DODEFAULT);
            EXPECT_EQ(draw.clrText, column == 2 ? c.verdict_cell : c.row_colour) << column;
        }
    }
    paint_hooks().high_contrast = nullptr;

    // A selected row in the focused list: the highlight colour the list gave the row, in every
    // column, the verdict's among them.
    ShowWindow(host_, SW_SHOW);
    select(1);
    SetFocus(state.results_list);
    ASSERT_EQ(GetFocus(), state.results_list);
    NMLVCUSTOMDRAW draw{};
    draw.nmcd.dwItemSpec = 1;
    draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
    draw.clrText = rgb(0xFFFFFF);
    custom_draw_results_list(state, draw);
    draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT | CDDS_SUBITEM;
    for (int column = 0; column < 6; ++column) {
        draw.iSubItem = column;
        custom_draw_results_list(state, draw);
        EXPECT_EQ(draw.clrText, rgb(0xFFFFFF)) << column;
    }
    // The next row, not selected, gets its own colour back after the selected one.
    draw.nmcd.dwItemSpec = 0;
    draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
    draw.clrText = rgb(0x123456);
    custom_draw_results_list(state, draw);
    draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT | CDDS_SUBITEM;
    draw.iSubItem = 1;
    custom_draw_results_list(state, draw);
    EXPECT_EQ(draw.clrText, rgb(0x123456));
    SetFocus(nullptr);
}

TEST_F(ListTest, RowTilesPaintFirstRows) {
    TableModel model = model_of({L"Ping", L"Jitter"});
    model.rows[0].status = {0, 3};
    model.rows[1].status = {1};
    apply_table_model(state, std::move(model));
    for (const int tile : {0, 1}) {
        Canvas canvas(200, 56);
        ASSERT_TRUE(render(canvas, static_cast<UINT>(first_reading_tile_id + tile)));
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0].slot, 0);
        EXPECT_TRUE(same_box(texts[0].box, RECT{12, 3, 188, 28}));
        EXPECT_EQ(texts[1].slot, 2);
        EXPECT_TRUE(same_box(texts[1].box, RECT{12, 26, 188, 53}));
        // The second status entry colours the value; without one the main text colour.
        EXPECT_EQ(texts[1].colour, tile == 0 ? rgb(0xC42B1C) : rgb(0x202020));
        EXPECT_EQ(canvas.at(100, 0), border);
    }
    Canvas canvas(200, 56);
    ASSERT_TRUE(render(canvas, first_reading_tile_id + 2));  // no third row: the frame alone
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(canvas.at(100, 0), border);
    EXPECT_EQ(canvas.at(100, 28), white);
}

// A message row of one cell (the LAN page's "Brak widocznych sąsiadów") after a table of two-cell
// rows: the tile takes the cell as its text and draws it.
TEST_F(ListTest, RowTileOfAOneCellRowShowsThatCell) {
    apply_table_model(state, model_of({L"Połączenie"}));
    TableModel message;
    message.columns = {{L"Adres IP", 193}};
    TableRow row;
    row.cells = {L"Brak widocznych sąsiadów"};
    message.rows.push_back(row);
    message.rows.push_back(TableRow{});  // no cells at all: an empty text
    apply_table_model(state, std::move(message));
    EXPECT_EQ(get_window_text(state.reading_tiles[0]), L"Brak widocznych sąsiadów");
    EXPECT_EQ(get_window_text(state.reading_tiles[1]), L"");
    Canvas canvas(200, 56);
    ASSERT_TRUE(render(canvas, first_reading_tile_id));
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, L"Brak widocznych sąsiadów");
    EXPECT_EQ(texts[0].colour, rgb(0x202020));
    EXPECT_EQ(texts[0].slot, 1);
    EXPECT_TRUE(same_box(texts[0].box, RECT{12, 3, 188, 53}));
    ASSERT_TRUE(render(canvas, first_reading_tile_id + 1));
    EXPECT_TRUE(texts.empty());
}

TableModel chart_model(std::vector<ChartPoint> points) {
    TableModel model = model_of({L"a", L"b"});
    model.rows[1].chart = std::move(points);
    model.rows[1].unit = L"ms";
    return model;
}

TEST_F(ListTest, DetailPanelChartPointsAndGap) {
    apply_table_model(
        state, chart_model({{1.0, true}, {2.5, true}, {0.0, false}, {2.0, true}, {2.5, true}}));
    select(1);
    Canvas canvas(400, 160);
    ASSERT_TRUE(render(canvas, result_detail_id));
    const DrawnText* detail = find_text(L"Szczegóły b");
    ASSERT_NE(detail, nullptr);
    EXPECT_TRUE(same_box(detail->box, RECT{14, 6, 386, 41}));
    EXPECT_NE(detail->flags & DT_WORDBREAK, 0u);
    // A text longer than its two lines must not show half a third line above the chart.
    EXPECT_NE(detail->flags & DT_EDITCONTROL, 0u);
    const DrawnText* top_label = find_text(L"2,5 ms");
    ASSERT_NE(top_label, nullptr);
    EXPECT_TRUE(same_box(top_label->box, RECT{12, 44, 76, 66}));
    const DrawnText* zero_label = find_text(L"0 ms");
    ASSERT_NE(zero_label, nullptr);
    EXPECT_TRUE(same_box(zero_label->box, RECT{12, 134, 72, 154}));

    // x = 80 + (w-100)*i/(n-1), y = h-13 - (h-60)*value/m, with m = 2.5.
    const std::vector<POINT> points{{80, 107}, {155, 47}, {305, 67}, {380, 47}};
    for (const POINT p : points) {
        EXPECT_EQ(canvas.count(accent, RECT{p.x - 1, p.y - 1, p.x + 2, p.y + 2}), 9)
            << p.x << "," << p.y;
        EXPECT_NE(canvas.at(p.x - 2, p.y - 2), accent);
    }
    // Joined between valid neighbours, broken around the invalid third point.
    EXPECT_GT(canvas.count(accent, RECT{115, 74, 120, 80}), 0);
    EXPECT_GT(canvas.count(accent, RECT{340, 54, 345, 60}), 0);
    EXPECT_EQ(canvas.count(accent, RECT{160, 0, 300, 160}), 0);
    EXPECT_EQ(canvas.at(200, 148), border);  // the base line at h-12
    EXPECT_EQ(canvas.at(77, 148), white);
}

TEST_F(ListTest, DetailPanelWithoutSelectionOrChart) {
    apply_table_model(state, chart_model({{0.2, true}}));
    select(1);
    Canvas canvas(400, 160);
    ASSERT_TRUE(render(canvas, result_detail_id));
    EXPECT_NE(find_text(L"1 ms"), nullptr);                      // the scale is at least 1
    EXPECT_EQ(canvas.count(accent, RECT{79, 126, 82, 129}), 9);  // one point at (80, 127)

    select(0);
    ASSERT_TRUE(render(canvas, result_detail_id));
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(same_box(texts[0].box, RECT{14, 6, 386, 155}));
    EXPECT_EQ(canvas.count(accent, RECT{0, 0, 400, 160}), 0);

    clear_selection();
    ASSERT_TRUE(render(canvas, result_detail_id));
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, L"Brak zebranych wyników.");
    EXPECT_EQ(texts[0].colour, rgb(0x616161));
    EXPECT_TRUE(same_box(texts[0].box, RECT{16, 0, 384, 160}));
}

// The harness's main window with the list's notifications passed on, as the program's own
// procedure does; the harness paints.
LRESULT CALLBACK painted_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    MainWindowState& state = main_window_state;
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header->idFrom == results_list_id) {
            if (header->code == NM_CUSTOMDRAW) {
                return custom_draw_results_list(state, *reinterpret_cast<NMLVCUSTOMDRAW*>(lparam));
            }
            if (header->code == LVN_ITEMCHANGED) show_selected_row_detail(state);
            if (header->code == LVN_COLUMNCLICK) {
                sort_results_by_column(state,
                                       reinterpret_cast<const NMLISTVIEW*>(lparam)->iSubItem);
            }
            return 0;
        }
    }
    return test::harness_window_proc(window, message, wparam, lparam);
}

test::HarnessOptions painted_options() {
    test::HarnessOptions options;
    options.procedure = painted_window_proc;
    options.class_name = L"TarviskoPaintedHarness";
    return options;
}

TableModel reading_model(std::uint8_t kind, std::size_t rows) {
    TableModel model;
    model.title = L"Odczyt komputera";
    model.kind = kind;
    model.columns = {{L"Element", 200}, {L"Wartość", 160}, {L"Ocena", 120}};
    const std::vector<std::wstring> names{L"Procesor",       L"Pamięć",    L"Dysk",
                                          L"Karta sieciowa", L"Sterownik", L"System"};
    for (std::size_t i = 0; i < rows; ++i) {
        TableRow row;
        row.cells = {names[i % names.size()], std::to_wstring(10 * (i + 1)) + L",5 %",
                     i % 3 == 0   ? L"Dobrze"
                     : i % 3 == 1 ? L"Uwaga"
                                  : L"Źle"};
        row.status = {0, static_cast<Verdict>(i % 3 + 1), static_cast<Verdict>(i % 3 + 1)};
        row.detail = L"Odczyt " + names[i % names.size()] + L": wartości z ostatnich minut.";
        for (int k = 0; k < 12; ++k) {
            row.chart.push_back({10.0 + 5.0 * ((k * 7 + static_cast<int>(i)) % 6), k != 5});
        }
        row.unit = L"%";
        model.rows.push_back(std::move(row));
    }
    return model;
}

class PageTest : public ::testing::Test {
  protected:
    MainWindowState& state() const { return harness.state(); }
    int column_width(int column) const {
        return static_cast<int>(SendMessageW(state().results_list, LVM_GETCOLUMNWIDTH, column, 0));
    }

    test::WindowHarness harness{painted_options()};
};

TEST_F(PageTest, TablePageShowsListTitleTilesAndFocus) {
    state().report_status_text = L"Raport z wczoraj";
    state().sort_column = 1;
    state().sort_descending = true;
    show_table_page(state(), 2, reading_model(0, 4));
    test::WindowHarness::pump();
    EXPECT_EQ(state().current_page, 2);
    EXPECT_TRUE(state().table_view_shown);
    EXPECT_EQ(state().sort_column, -1);
    EXPECT_FALSE(state().sort_descending);
    EXPECT_TRUE(state().report_status_text.empty());
    EXPECT_EQ(harness.text(page_title_id), L"Komputer");
    EXPECT_TRUE(harness.visible(results_list_id));
    EXPECT_TRUE(harness.visible(result_detail_id));
    for (int id = first_reading_tile_id; id <= last_reading_tile_id; ++id)
        EXPECT_TRUE(harness.visible(id)) << id;
    EXPECT_EQ(harness.text(first_reading_tile_id), L"Procesor  10,5 %");
    EXPECT_EQ(GetFocus(), harness.child(first_nav_button_id + 2));
    EXPECT_EQ(harness.text(result_detail_id), L"Odczyt Procesor: wartości z ostatnich minut.");
    EXPECT_TRUE(harness.enabled(copy_row_button_id));
}

TEST_F(PageTest, SameColumnsAnotherKindRelaysAndKeepsColumns) {
    show_table_page(state(), 2, reading_model(0, 3));
    SendMessageW(state().results_list, LVM_SETCOLUMNWIDTH, 0, 333);
    const RECT list_before = harness.child_rect(results_list_id);

    // Kind 1 has no row tiles: the window is laid out again, the dragged width stays.
    apply_table_model(state(), reading_model(1, 3));
    test::WindowHarness::pump();
    for (int id = first_reading_tile_id; id <= last_reading_tile_id; ++id)
        EXPECT_FALSE(harness.visible(id)) << id;
    EXPECT_NE(harness.child_rect(results_list_id).top, list_before.top);
    EXPECT_EQ(column_width(0), 333);

    // Back to kind 0 with a single row: one tile.
    apply_table_model(state(), reading_model(0, 1));
    test::WindowHarness::pump();
    EXPECT_TRUE(harness.visible(first_reading_tile_id));
    EXPECT_FALSE(harness.visible(first_reading_tile_id + 1));
    EXPECT_FALSE(harness.visible(first_reading_tile_id + 2));
    EXPECT_EQ(column_width(0), 333);
}

TEST_F(PageTest, TextPageZeroLandsOnReportPage) {
    show_table_page(state(), 3, reading_model(1, 2));
    show_text_page(state(), 0, L"Raport techniczny", L"Pierwszy wiersz\r\nDrugi wiersz");
    test::WindowHarness::pump();
    EXPECT_EQ(state().current_page, 10);
    EXPECT_FALSE(state().table_view_shown);
    EXPECT_EQ(harness.text(page_title_id), L"Raport techniczny");
    EXPECT_EQ(harness.text(page_text_edit_id), L"Pierwszy wiersz\r\nDrugi wiersz");
    EXPECT_TRUE(harness.visible(page_text_edit_id));
    EXPECT_FALSE(harness.visible(results_list_id));
    EXPECT_EQ(GetFocus(), harness.child(summary_button_id));
    DWORD start = 1, end = 1;
    SendMessageW(harness.child(page_text_edit_id), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 0u);

    show_text_page(state(), 7, L"Trasa", L"Skok 1");
    EXPECT_EQ(state().current_page, 7);
}

TEST_F(PageTest, SummaryPageReturnsToDashboard) {
    show_table_page(state(), 4, reading_model(1, 2));
    state().report_status_text = L"Raport";
    show_summary_page(state());
    test::WindowHarness::pump();
    EXPECT_EQ(state().current_page, 0);
    EXPECT_FALSE(state().table_view_shown);
    EXPECT_TRUE(state().report_status_text.empty());
    EXPECT_EQ(harness.text(page_title_id), L"Podsumowanie");
    EXPECT_FALSE(harness.visible(results_list_id));
    EXPECT_TRUE(harness.visible(download_tile_id));
    EXPECT_EQ(GetFocus(), harness.child(first_nav_button_id));
}

SummaryModel canned_summary() {
    SummaryModel summary;
    const std::array<const wchar_t*, 5> titles{L"Pobieranie", L"Wysyłanie", L"Ping", L"Jitter ICMP",
                                               L"Utrata odpowiedzi"};
    const std::array<const wchar_t*, 5> values{L"87,4", L"12,1", L"14", L"2,3", L"0"};
    for (std::size_t i = 0; i < titles.size(); ++i)
        summary.tiles[i] = {titles[i], values[i], L"", 1};
    const std::array<const wchar_t*, 8> sections{
        L"Komputer", L"Połączenie", L"Sieć lokalna", L"Sieć operatora",
        L"DNS",      L"IPv4",       L"IPv6",         L"Stabilność połączenia"};
    const std::array<const wchar_t*, 8> verdicts{L"Bez zastrzeżeń",
                                                 L"Kabel, 1 Gb/s",
                                                 L"Router odpowiada",
                                                 L"Opóźnienie w normie",
                                                 L"Odpowiedzi wolniejsze niż zwykle",
                                                 L"Działa",
                                                 L"Brak adresu IPv6 od operatora",
                                                 L"Stabilne"};
    for (std::size_t i = 0; i < sections.size(); ++i) {
        summary.sections[i] = {sections[i], verdicts[i], L"", static_cast<Verdict>(i % 4)};
    }
    summary.download_mbps = 87.4;
    summary.upload_mbps = 12.1;
    IdleQualityCard quality;
    quality.tiles = {TextCard{L"Ping do serwera", L"14 ms", L"", 1},
                     TextCard{L"Wahania pingu", L"2,3 ms", L"", 2},
                     TextCard{L"Bez odpowiedzi na ping", L"0%", L"", 1}};
    quality.profile_line = L"Węzeł: światłowód";
    quality.sentence = L"Połączenie w spoczynku jest stabilne i szybko odpowiada.";
    summary.idle_quality = quality;
    summary.headline = L"Połączenie działa dobrze.";
    summary.advice = L"Nic nie trzeba zmieniać.";
    summary.overall_status = 1;
    summary.has_report = true;
    summary.test_time_text = L"dziś 12:30";
    return summary;
}

// Pixels at least as dark as #606060 in every channel: the main text colour's strokes.
int dark_pixels(const test::Dib& item) {
    int dark = 0;
    for (int y = 0; y < item.height(); ++y) {
        for (int x = 0; x < item.width(); ++x) {
            const COLORREF pixel = item.pixel(x, y);
            if (GetRValue(pixel) <= 0x60 && GetGValue(pixel) <= 0x60 && GetBValue(pixel) <= 0x60) {
                ++dark;
            }
        }
    }
    return dark;
}

// Page 3 read by the window: the report's rows first, then the LAN reading that found no
// neighbour. The first tile, still on show, carries and draws that message.
TEST_F(PageTest, ReadingTileOfAMessageRowIsDrawnWithItsText) {
    show_table_page(state(), 3, reading_model(0, 3));
    TableModel reading;
    reading.title = L"Odczyt sieci lokalnej";
    reading.columns = {{L"Adres IP", 193}, {L"Adres MAC", 148}};
    TableRow row;
    row.cells = {L"Brak widocznych sąsiadów"};
    reading.rows.push_back(row);
    apply_table_model(state(), std::move(reading));
    test::WindowHarness::pump();
    ASSERT_TRUE(harness.visible(first_reading_tile_id));
    EXPECT_FALSE(harness.visible(first_reading_tile_id + 1));
    EXPECT_EQ(harness.text(first_reading_tile_id), L"Brak widocznych sąsiadów");
    const std::unique_ptr<test::Dib> tile = harness.render_item(first_reading_tile_id);
    EXPECT_GT(dark_pixels(*tile), 20);
}

// For people to look at: the painted dashboard and a list page. The items are also drawn
// through the window's WM_DRAWITEM at their real sizes.
TEST_F(PageTest, PaintedDashboardAndListPage) {
    apply_summary_model(state(), canned_summary());
    show_summary_page(state());
    RedrawWindow(harness.window(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    test::WindowHarness::pump();
    for (const int id : {app_title_label_id, download_tile_id, upload_tile_id, first_value_tile_id,
                         first_section_card_id, conclusion_button_id, estimate_panel_id,
                         connection_quality_card_id, start_button_id, first_nav_button_id}) {
        bool handled = false;
        const std::unique_ptr<test::Dib> item = harness.render_item(id, &handled);
        EXPECT_TRUE(handled) << id;
        EXPECT_EQ(item->count(RGB(255, 0, 255), RECT{0, 0, item->width(), item->height()}), 0)
            << id;
    }
    test::WindowHarness::screenshot("paint_dashboard");
    test::save_client_bitmap(harness.window(), "paint_dashboard");

    show_table_page(state(), 2, reading_model(0, 6));
    LVITEMW select{};
    select.state = LVIS_SELECTED | LVIS_FOCUSED;
    select.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(state().results_list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&select));
    RedrawWindow(harness.window(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    test::WindowHarness::pump();
    EXPECT_EQ(harness.text(result_detail_id), L"Odczyt Pamięć: wartości z ostatnich minut.");
    const std::unique_ptr<test::Dib> panel = harness.render_item(result_detail_id);
    EXPECT_GT(panel->count(RGB(0x00, 0x67, 0xC0), RECT{0, 0, panel->width(), panel->height()}), 0);
    test::WindowHarness::screenshot("paint_list_page");
    test::save_client_bitmap(harness.window(), "paint_list_page");
}
}  // namespace
}  // namespace tarvisko
