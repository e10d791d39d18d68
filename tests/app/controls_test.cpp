// The main window's children: the pure layout as tables of hand-computed rectangles, then the
// real window under the test display (children on those rectangles, scrolling, busy state,
// fonts at 96 and 144 DPI, creation order, combo contents, resources).
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/cards.h"
#include "app/control_ids.h"
#include "app/controls.h"
#include "app/results_list.h"
#include "support/window_harness.h"

namespace tarvisko {
namespace {

using test::WindowHarness;

ControlPlace place_of(const LayoutResult& layout, int id) {
    for (const auto& [control, place] : layout.places) {
        if (control == id) return place;
    }
    ADD_FAILURE() << "no place for control " << id;
    return {};
}

std::string describe(const ControlPlace& p) {
    if (!p.visible) return "hidden";
    return std::to_string(p.x) + "," + std::to_string(p.y) + " " + std::to_string(p.width) + "x" +
           std::to_string(p.height);
}

LayoutInput input(int width, int height, int page = 0, bool table = false) {
    LayoutInput in;
    in.width_dip = width;
    in.height_dip = height;
    in.page = page;
    in.table_view_shown = table;
    return in;
}

struct PlaceCase {
    const char* name;
    LayoutInput in;
    int id;
    const char* expected;  // "x,y wxh" or "hidden"
};

// Rectangles worked out by hand from the layout rules, a short and a tall size per family.
TEST(ComputeLayout, PlacesControlsAsWorkedOutByHand) {
    LayoutInput page7 = input(1200, 800, 7, true);
    page7.table_rows = 3;
    LayoutInput wifi = input(1200, 800, 4, true);
    wifi.table_kind = 1;
    wifi.table_rows = 5;
    LayoutInput wifi_short = wifi;
    wifi_short.height_dip = 600;
    LayoutInput page3 = input(1200, 800, 3, true);
    page3.table_rows = 2;
    LayoutInput page2_busy = input(1200, 800, 2, true);
    page2_busy.busy = true;
    const LayoutInput page1 = input(1200, 700, 1, true);
    const PlaceCase cases[] = {
        // Page 0, tall: cards, tiles, rows and the conclusion.
        {"p0 title", input(1200, 800), page_title_id, "234,18 590x40"},
        {"p0 subtitle", input(1200, 800), page_subtitle_id, "234,61 595x24"},
        {"p0 card 240", input(1200, 800), download_tile_id, "234,134 466x182"},
        {"p0 card 241", input(1200, 800), upload_tile_id, "708,134 466x182"},
        {"p0 tile 242", input(1200, 800), first_value_tile_id, "234,324 305x74"},
        {"p0 tile 243", input(1200, 800), first_value_tile_id + 1, "547,324 305x74"},
        {"p0 tile 244", input(1200, 800), first_value_tile_id + 2, "860,324 314x74"},
        {"p0 heading", input(1200, 800), diagnostics_heading_id, "234,416 470x30"},
        {"p0 report", input(1200, 800), report_button_id, "1044,416 130x30"},
        {"p0 row 250", input(1200, 800), first_section_card_id, "234,450 466x50"},
        {"p0 row 257", input(1200, 800), first_section_card_id + 7, "708,606 466x50"},
        {"p0 conclusion", input(1200, 800), conclusion_button_id, "234,662 940x44"},
        {"p0 start", input(1200, 800), start_button_id, "1022,33 152x36"},
        {"p0 profile", input(1200, 800), profile_combo_id, "861,39 145x140"},
        {"p0 checkbox", input(1200, 800), process_traffic_check_id, "861,67 153x19"},
        {"p0 profile label", input(1200, 800), profile_label_id, "861,16 140x20"},
        {"p0 side label", input(1200, 800), result_side_id, "704,100 470x28"},
        {"p0 status bar", input(1200, 800), status_bar_id, "0,770 1200x30"},
        {"p0 nav 9", input(1200, 800), first_nav_button_id + 9, "8,473 192x40"},
        // Page 0, short and narrow.
        {"p0s card 240", input(1000, 600), download_tile_id, "190,111 393x100"},
        {"p0s card 241", input(1000, 600), upload_tile_id, "591,111 393x100"},
        {"p0s tile 242", input(1000, 600), first_value_tile_id, "190,219 256x60"},
        {"p0s tile 243", input(1000, 600), first_value_tile_id + 1, "454,219 257x60"},
        {"p0s tile 244", input(1000, 600), first_value_tile_id + 2, "719,219 265x60"},
        {"p0s row 252", input(1000, 600), first_section_card_id + 2, "190,374 393x49"},
        {"p0s conclusion", input(1000, 600), conclusion_button_id, "190,531 794x35"},
        {"p0s nav 11", input(1000, 600), first_nav_button_id + 11, "8,491 158x34"},
        {"p0s status bar", input(1000, 600), status_bar_id, "0,570 1000x30"},
        // Page 7: two rows of inputs, the list, the bottom row.
        {"p7 edit", page7, target_edit_id, "234,100 514x30"},
        {"p7 attempts", page7, target_profile_combo_id, "756,100 150x300"},
        {"p7 method", page7, method_combo_id, "914,100 110x160"},
        {"p7 run", page7, run_target_button_id, "1032,100 142x31"},
        {"p7 hops", page7, max_hops_combo_id, "234,139 130x150"},
        {"p7 interval", page7, interval_combo_id, "372,139 115x150"},
        {"p7 family", page7, address_family_combo_id, "495,139 92x120"},
        {"p7 save", page7, save_target_button_id, "595,139 105x28"},
        {"p7 favourites", page7, favorites_combo_id, "708,139 466x230"},
        {"p7 list", page7, results_list_id, "234,182 940x412"},
        {"p7 detail", page7, result_detail_id, "234,602 940x116"},
        {"p7 compare", page7, compare_route_button_id, "910,724 132x32"},
        {"p7 export", page7, export_button_id, "1050,724 124x32"},
        {"p7 copy row", page7, copy_row_button_id, "776,724 126x32"},
        {"p7 copy code", page7, copy_code_button_id, "234,724 180x32"},
        {"p7 report", page7, report_button_id, "424,724 130x32"},
        {"p7 no tiles", page7, first_reading_tile_id, "hidden"},
        // Page 4, tall and short: the Wi-Fi block.
        {"p4 title", wifi, page_title_id, "234,18 324x40"},
        {"p4 summary", wifi, summary_button_id, "574,24 135x34"},
        {"p4 recommendation", wifi, wifi_recommendation_id, "234,100 821x63"},
        {"p4 details", wifi, wifi_details_button_id, "1063,115 111x32"},
        {"p4 comparison", wifi, wifi_comparison_id, "234,171 590x44"},
        {"p4 before", wifi, wifi_before_button_id, "832,177 135x32"},
        {"p4 after", wifi, wifi_after_button_id, "975,177 93x32"},
        {"p4 compare", wifi, wifi_compare_button_id, "1076,177 98x32"},
        {"p4 band 2,4", wifi, first_band_button_id, "234,221 86x28"},
        {"p4 band 6", wifi, first_band_button_id + 2, "422,221 86x28"},
        {"p4 chart", wifi, wifi_chart_id, "234,257 940x136"},
        {"p4 list", wifi, results_list_id, "234,401 940x193"},
        {"p4 scan", wifi, wifi_scan_button_id, "719,24 167x34"},
        {"p4 router", wifi, router_panel_button_id, "894,24 137x34"},
        {"p4 help", wifi, channel_help_button_id, "1039,24 135x34"},
        {"p4s recommendation", wifi_short, wifi_recommendation_id, "234,83 821x54"},
        {"p4s details", wifi_short, wifi_details_button_id, "1063,94 111x32"},
        {"p4s comparison", wifi_short, wifi_comparison_id, "234,145 590x44"},
        {"p4s band", wifi_short, first_band_button_id + 1, "328,195 86x28"},
        {"p4s chart", wifi_short, wifi_chart_id, "234,231 940x112"},
        {"p4s list", wifi_short, results_list_id, "234,351 940x65"},
        {"p4s detail", wifi_short, result_detail_id, "234,424 940x94"},
        // Page 1 with its table: cards right under the header, then the estimate panels.
        {"p1 card", page1, download_tile_id, "234,100 466x147"},
        {"p1 estimate", page1, estimate_panel_id, "234,255 940x66"},
        {"p1 quality", page1, connection_quality_card_id, "234,329 940x124"},
        {"p1 list", page1, results_list_id, "234,461 940x33"},
        {"p1 no tiles", page1, first_value_tile_id, "hidden"},
        // Reading tiles: page 3 with two rows of kind 0.
        {"p3 tile 320", page3, first_reading_tile_id, "234,100 307x65"},
        {"p3 tile 321", page3, first_reading_tile_id + 1, "547,100 307x65"},
        {"p3 tile 322", page3, first_reading_tile_id + 2, "hidden"},
        {"p3 list", page3, results_list_id, "234,174 940x420"},
        {"p3 refresh", page3, refresh_reading_button_id, "884,24 142x34"},
        // Page 2 while a reading runs.
        {"p2 stop", page2_busy, stop_reading_button_id, "234,100 190x32"},
        {"p2 monitor", page2_busy, resource_monitor_button_id, "729,24 147x34"},
    };
    for (const PlaceCase& c : cases) {
        EXPECT_EQ(describe(place_of(compute_layout(c.in), c.id)), c.expected) << c.name;
    }
}

// The navigation narrows at 1080 DIP and collapses below 940 DIP whatever was requested.
TEST(ComputeLayout, NavigationWidthFollowsTheWindowWidth) {
    struct Case {
        int width;
        bool requested;
        bool collapsed;
        const char* toggle;
        const char* nav;
        const char* title;
    };
    const Case cases[] = {
        {939, false, true, "8,14 38x28", "8,88 44x40", "76,18 497x40"},
        {940, false, false, "132,58 38x28", "8,88 158x40", "190,18 384x40"},
        {1079, false, false, "132,58 38x28", "8,88 158x40", "190,18 523x40"},
        {1080, false, false, "166,58 38x28", "8,88 192x40", "234,18 470x40"},
        {1200, true, true, "8,14 38x28", "8,88 44x40", "86,18 738x40"},
    };
    for (const Case& c : cases) {
        LayoutInput in = input(c.width, 800);
        in.nav_collapse_requested = c.requested;
        const LayoutResult layout = compute_layout(in);
        EXPECT_EQ(layout.nav_collapsed, c.collapsed) << c.width;
        EXPECT_EQ(describe(place_of(layout, nav_toggle_button_id)), c.toggle) << c.width;
        EXPECT_EQ(describe(place_of(layout, first_nav_button_id)), c.nav) << c.width;
        EXPECT_EQ(describe(place_of(layout, page_title_id)), c.title) << c.width;
        EXPECT_EQ(place_of(layout, app_title_label_id).visible, !c.collapsed) << c.width;
    }
}

// The pitch stays within 31..42 DIP and the last three buttons keep their 7 DIP gap.
TEST(ComputeLayout, NavigationPitchIsClampedAndKeepsTheGap) {
    for (int height : {300, 590, 699, 700, 800, 2000}) {
        const LayoutResult layout = compute_layout(input(1200, height));
        const int pitch =
            place_of(layout, first_nav_button_id + 1).y - place_of(layout, first_nav_button_id).y;
        EXPECT_GE(pitch, 31) << height;
        EXPECT_LE(pitch, 42) << height;
        EXPECT_EQ(place_of(layout, first_nav_button_id + 2).height, pitch - 2) << height;
        EXPECT_EQ(place_of(layout, first_nav_button_id + 9).y -
                      place_of(layout, first_nav_button_id + 8).y,
                  pitch + 7)
            << height;
        EXPECT_EQ(place_of(layout, first_nav_button_id + 11).y -
                      place_of(layout, first_nav_button_id + 10).y,
                  pitch)
            << height;
    }
    EXPECT_EQ(place_of(compute_layout(input(1200, 2000)), first_nav_button_id + 1).y -
                  place_of(compute_layout(input(1200, 2000)), first_nav_button_id).y,
              42);
    EXPECT_EQ(place_of(compute_layout(input(1200, 400)), first_nav_button_id + 1).y -
                  place_of(compute_layout(input(1200, 400)), first_nav_button_id).y,
              35);
}

TEST(ComputeLayout, ContentHeightAndScrollClamps) {
    struct Case {
        LayoutInput in;
        int content_height;
        int range;
        int pos;
    };
    auto scrolled = [](LayoutInput in, int pos) {
        in.scroll_pos = pos;
        return in;
    };
    const Case cases[] = {
        {input(1200, 500), 590, 90, 0},
        {scrolled(input(1200, 500), 200), 590, 90, 90},
        {scrolled(input(1200, 500), -5), 590, 90, 0},
        {scrolled(input(1200, 500), 40), 590, 90, 40},
        {scrolled(input(1200, 500, 1, true), 500), 590, 90, 90},
        {scrolled(input(1200, 700, 1, false), 30), 700, 0, 0},
        {scrolled(input(1200, 900, 1, true), 30), 900, 0, 0},
    };
    for (const Case& c : cases) {
        const LayoutResult layout = compute_layout(c.in);
        EXPECT_EQ(layout.content_height, c.content_height);
        EXPECT_EQ(layout.scroll_range, c.range);
        EXPECT_EQ(layout.scroll_pos, c.pos);
    }
    // The status bar follows the window's own height, not the content's.
    EXPECT_EQ(describe(place_of(compute_layout(input(1200, 500)), status_bar_id)), "0,470 1200x30");
}

// The closed height of a drop list in DIP: its box is as tall as its font makes it (14 DIP),
// whatever height the layout gives its dropped list. The window test below checks it.
constexpr int drop_list_closed_height = 27;
const std::set<int> drop_lists = {
    profile_combo_id,   target_profile_combo_id, method_combo_id,         game_server_combo_id,
    max_hops_combo_id,  interval_combo_id,       address_family_combo_id, favorites_combo_id,
    game_mode_combo_id, game_length_combo_id};

// The pixel rectangle a control covers on screen when the window is laid out.
RECT covered_pixels(int id, ControlPlace place, int dpi, int scroll_pos, SIZE client) {
    if (id == status_bar_id) return status_bar_pixels(client, dpi);
    if (drop_lists.count(id) != 0) place.height = std::min(place.height, drop_list_closed_height);
    return control_pixels(place, dpi, scroll_pos);
}

// From the client area of the smallest window (960 x 640 DIP less its frame and caption) up, at
// 96 and 144 DPI, on every page and table: no two shown controls overlap, none leaves the client
// area, and nothing scrolls, so the status line stays clear. No control of the main window is
// meant to lie inside another, so every pair must keep apart.
TEST(ComputeLayout, NoControlsOverlapFromTheSmallestWindowUp) {
    const int widths[] = {940, 944, 960, 1008, 1079, 1080, 1184, 1366, 1920, 2560};
    const int heights[] = {590, 601, 640, 699, 700, 729, 761, 800, 1040, 1400};
    struct Page {
        int page;
        bool table;
    };
    std::vector<Page> pages = {{0, false}};
    for (int page = 1; page <= 11; ++page) {
        pages.push_back({page, true});
        pages.push_back({page, false});  // a report text in the text pane
    }
    std::vector<std::string> faults;
    const auto fault = [&faults](const std::string& text) {
        if (faults.size() < 20) faults.push_back(text);
    };
    int layouts = 0;
    for (const int dpi : {96, 144}) {
        for (const int width : widths) {
            for (const int height : heights) {
                // At 144 DPI an odd pixel more, so the DIP sizes do not all come out whole.
                const SIZE client{MulDiv(width, dpi, 96) + (dpi == 96 ? 0 : 1),
                                  MulDiv(height, dpi, 96) + (dpi == 96 ? 0 : 1)};
                for (const Page& page : pages) {
                    for (const int flags : {0, 1, 2, 3}) {
                        for (const std::size_t rows : {0u, 3u, 9u}) {
                            for (const int kind : {0, 1}) {
                                LayoutInput in =
                                    input(MulDiv(client.cx, 96, dpi), MulDiv(client.cy, 96, dpi),
                                          page.page, page.table);
                                in.busy = (flags & 1) != 0;
                                in.nav_collapse_requested = (flags & 2) != 0;
                                in.table_rows = rows;
                                in.table_kind = static_cast<std::uint8_t>(kind);
                                in.list_rows_height =
                                    rows == 0 ? 0 : 26 + 20 * static_cast<int>(rows);
                                const LayoutResult layout = compute_layout(in);
                                ++layouts;
                                const std::string where =
                                    std::to_string(client.cx) + "x" + std::to_string(client.cy) +
                                    " px at " + std::to_string(dpi) + " DPI, page " +
                                    std::to_string(page.page) + (page.table ? " table" : "") +
                                    (in.busy ? " busy" : "") +
                                    (in.nav_collapse_requested ? " collapsed" : "") + " rows " +
                                    std::to_string(rows) + " kind " + std::to_string(kind);
                                if (layout.scroll_range != 0) fault(where + ": scrolls");
                                std::vector<std::pair<int, RECT>> shown;
                                for (const auto& [id, place] : layout.places) {
                                    if (!place.visible) continue;
                                    const RECT r =
                                        covered_pixels(id, place, dpi, layout.scroll_pos, client);
                                    if (r.left < 0 || r.top < 0 || r.right > client.cx ||
                                        r.bottom > client.cy) {
                                        fault(where + ": control " + std::to_string(id) +
                                              " leaves the client area");
                                    }
                                    for (const auto& [other, other_rect] : shown) {
                                        RECT overlap{};
                                        if (IntersectRect(&overlap, &r, &other_rect)) {
                                            fault(where + ": controls " + std::to_string(other) +
                                                  " and " + std::to_string(id) + " overlap");
                                        }
                                    }
                                    shown.emplace_back(id, r);
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(layouts, 10000);
    std::string report;
    for (const std::string& text : faults) report += text + "\n";
    EXPECT_TRUE(faults.empty()) << report;
}

// Page 1 gives its list room for every row where the page has the room: its speed cards shrink
// toward their 100 DIP minimum first.
TEST(ComputeLayout, PageOneListShowsItsRowsWhereThereIsRoom) {
    struct Case {
        int height;
        int rows_height;
        int list_height;  // what the list gets
        int card_height;
    };
    const Case cases[] = {
        {800, 0, 98, 182},     // no rows measured: the cards take their share
        {800, 146, 146, 134},  // six rows of 20 DIP under a 26 DIP header
        {768, 146, 146, 102},
        {761, 146, 141, 100},   // no more room: the cards stay at their minimum
        {1000, 146, 298, 182},  // a tall window: the list takes what the cards leave
        {601, 146, 20, 100},    // the smallest window: the list gets what is left
    };
    for (const Case& c : cases) {
        LayoutInput in = input(1184, c.height, 1, true);
        in.table_rows = 6;
        in.list_rows_height = c.rows_height;
        const LayoutResult layout = compute_layout(in);
        EXPECT_EQ(place_of(layout, results_list_id).height, c.list_height) << c.height;
        EXPECT_EQ(place_of(layout, download_tile_id).height, c.card_height) << c.height;
        EXPECT_EQ(layout.scroll_range, 0) << c.height;
    }
}

// NB: a narrow column on pages 7, 9 and 10 squeezes 105 and 102 to make room for a third button.
TEST(ComputeLayout, BottomRowNarrowsOnPagesWithThreeButtons) {
    struct Case {
        int width;
        int page;
        const char* report;
        const char* copy_code;
        const char* copy_row;
    };
    const Case cases[] = {
        {819, 7, "228,724 118x32", "76,724 142x32", "405,724 126x32"},
        {820, 7, "266,724 130x32", "76,724 180x32", "406,724 126x32"},
        {819, 9, "228,724 118x32", "76,724 142x32", "405,724 126x32"},
        {819, 5, "266,724 130x32", "76,724 180x32", "545,724 126x32"},
    };
    for (const Case& c : cases) {
        const LayoutResult layout = compute_layout(input(c.width, 800, c.page, true));
        EXPECT_EQ(describe(place_of(layout, report_button_id)), c.report)
            << c.width << " " << c.page;
        EXPECT_EQ(describe(place_of(layout, copy_code_button_id)), c.copy_code)
            << c.width << " " << c.page;
        EXPECT_EQ(describe(place_of(layout, copy_row_button_id)), c.copy_row)
            << c.width << " " << c.page;
    }
}

struct VisibilityCase {
    const char* name;
    LayoutInput in;
    std::vector<int> shown;
    std::vector<int> hidden;
};

TEST(ComputeLayout, ShowsEachPagesControls) {
    LayoutInput busy0 = input(1200, 800);
    busy0.busy = true;
    LayoutInput page3 = input(1200, 800, 3, true);
    page3.table_rows = 2;
    LayoutInput page7 = input(1200, 800, 7, true);
    page7.table_rows = 5;
    LayoutInput page7_busy = page7;
    page7_busy.busy = true;
    LayoutInput page5_kind1 = input(1200, 800, 5, true);
    page5_kind1.table_rows = 5;
    page5_kind1.table_kind = 1;
    LayoutInput page8 = input(1200, 800, 8, true);
    page8.table_rows = 4;
    LayoutInput page2_busy = input(1200, 800, 2, true);
    page2_busy.busy = true;
    const VisibilityCase cases[] = {
        {"idle page 0",
         input(1200, 800),
         {start_button_id, profile_combo_id, process_traffic_check_id, report_button_id,
          download_tile_id, first_value_tile_id + 2, first_section_card_id,
          first_section_card_id + 7, conclusion_button_id, result_heading_id},
         {stop_button_id, copy_code_button_id, summary_button_id, page_text_edit_id,
          results_list_id, estimate_panel_id, stop_reading_button_id}},
        {"busy page 0",
         busy0,
         {stop_button_id, profile_combo_id, report_button_id},
         {start_button_id, process_traffic_check_id}},
        {"text page",
         input(1200, 800, 5),
         {page_text_edit_id, copy_code_button_id, summary_button_id, report_button_id},
         {results_list_id, result_detail_id, start_button_id, download_tile_id,
          first_reading_tile_id}},
        {"page 3 two rows",
         page3,
         {first_reading_tile_id, first_reading_tile_id + 1, results_list_id, result_detail_id,
          refresh_reading_button_id, export_button_id, copy_row_button_id},
         {first_reading_tile_id + 2, resource_monitor_button_id, page_text_edit_id}},
        {"page 7",
         page7,
         {target_edit_id, target_profile_combo_id, method_combo_id, run_target_button_id,
          max_hops_combo_id, interval_combo_id, address_family_combo_id, save_target_button_id,
          favorites_combo_id, compare_route_button_id},
         {first_reading_tile_id, game_server_combo_id, game_mode_combo_id}},
        {"page 7 busy",
         page7_busy,
         {run_target_button_id, target_edit_id},
         {compare_route_button_id}},
        {"kind 1 table",
         page5_kind1,
         {results_list_id},
         {first_reading_tile_id, first_reading_tile_id + 1, first_reading_tile_id + 2}},
        {"page 8",
         page8,
         {target_edit_id, target_profile_combo_id, method_combo_id, run_target_button_id,
          first_reading_tile_id, first_reading_tile_id + 1, first_reading_tile_id + 2},
         {max_hops_combo_id, favorites_combo_id, compare_route_button_id}},
        {"page 2 busy",
         page2_busy,
         {stop_reading_button_id, refresh_reading_button_id, resource_monitor_button_id},
         {}},
        {"page 11",
         input(1200, 800, 11, true),
         {update_button_id},
         {refresh_reading_button_id, open_report_button_id}},
        {"page 9",
         input(1200, 800, 9, true),
         {open_report_button_id, export_button_id, copy_row_button_id},
         {compare_route_button_id, first_reading_tile_id}},
        {"page 6",
         input(1200, 800, 6, true),
         {target_edit_id, target_profile_combo_id, game_server_combo_id, game_mode_combo_id,
          game_length_combo_id, run_target_button_id},
         {method_combo_id, max_hops_combo_id, address_family_combo_id}},
        {"page 1",
         input(1200, 800, 1, true),
         {download_tile_id, upload_tile_id, estimate_panel_id, connection_quality_card_id,
          results_list_id},
         {first_value_tile_id, first_section_card_id, start_button_id}},
    };
    for (const VisibilityCase& c : cases) {
        const LayoutResult layout = compute_layout(c.in);
        for (int id : c.shown) EXPECT_TRUE(place_of(layout, id).visible) << c.name << " " << id;
        for (int id : c.hidden) EXPECT_FALSE(place_of(layout, id).visible) << c.name << " " << id;
    }
}

// Every child of the window, in its creation (tab) order.
const std::vector<int> creation_order = {nav_toggle_button_id,
                                         app_title_label_id,
                                         first_nav_button_id,
                                         first_nav_button_id + 1,
                                         first_nav_button_id + 2,
                                         first_nav_button_id + 3,
                                         first_nav_button_id + 4,
                                         first_nav_button_id + 5,
                                         first_nav_button_id + 6,
                                         first_nav_button_id + 7,
                                         first_nav_button_id + 8,
                                         first_nav_button_id + 9,
                                         first_nav_button_id + 10,
                                         first_nav_button_id + 11,
                                         page_title_id,
                                         page_subtitle_id,
                                         result_side_id,
                                         result_heading_id,
                                         diagnostics_heading_id,
                                         profile_label_id,
                                         profile_combo_id,
                                         start_button_id,
                                         stop_button_id,
                                         report_button_id,
                                         copy_code_button_id,
                                         summary_button_id,
                                         download_tile_id,
                                         upload_tile_id,
                                         first_value_tile_id,
                                         first_value_tile_id + 1,
                                         first_value_tile_id + 2,
                                         first_section_card_id,
                                         first_section_card_id + 1,
                                         first_section_card_id + 2,
                                         first_section_card_id + 3,
                                         first_section_card_id + 4,
                                         first_section_card_id + 5,
                                         first_section_card_id + 6,
                                         first_section_card_id + 7,
                                         conclusion_button_id,
                                         status_bar_id,
                                         page_text_edit_id,
                                         estimate_panel_id,
                                         connection_quality_card_id,
                                         first_reading_tile_id,
                                         first_reading_tile_id + 1,
                                         first_reading_tile_id + 2,
                                         results_list_id,
                                         result_detail_id,
                                         target_edit_id,
                                         target_profile_combo_id,
                                         method_combo_id,
                                         game_server_combo_id,
                                         max_hops_combo_id,
                                         interval_combo_id,
                                         game_mode_combo_id,
                                         game_length_combo_id,
                                         address_family_combo_id,
                                         save_target_button_id,
                                         favorites_combo_id,
                                         update_button_id,
                                         open_report_button_id,
                                         compare_route_button_id,
                                         run_target_button_id,
                                         export_button_id,
                                         copy_row_button_id,
                                         refresh_reading_button_id,
                                         resource_monitor_button_id,
                                         wifi_scan_button_id,
                                         router_panel_button_id,
                                         channel_help_button_id,
                                         wifi_chart_id,
                                         wifi_recommendation_id,
                                         wifi_details_button_id,
                                         wifi_before_button_id,
                                         wifi_after_button_id,
                                         wifi_compare_button_id,
                                         wifi_comparison_id,
                                         first_band_button_id,
                                         first_band_button_id + 1,
                                         first_band_button_id + 2,
                                         stop_reading_button_id,
                                         process_traffic_check_id};

TEST(ComputeLayout, PlacesEveryChildOnce) {
    const LayoutResult layout = compute_layout(input(1200, 800));
    std::multiset<int> placed;
    for (const auto& entry : layout.places) placed.insert(entry.first);
    EXPECT_EQ(placed, std::multiset<int>(creation_order.begin(), creation_order.end()));
}

// Every child sits where the pure layout puts it for the window's present size and state.
void expect_children_on_layout(const WindowHarness& harness, const std::string& label) {
    const MainWindowState& state = harness.state();
    const LayoutResult layout = compute_layout(layout_input(state));
    for (const auto& [id, place] : layout.places) {
        EXPECT_EQ(harness.visible(id), place.visible) << label << " control " << id;
        if (!place.visible) continue;
        RECT want = id == status_bar_id
                        ? status_bar_pixels(harness.client_size(), state.dpi)
                        : test::expected_pixels(place.x, place.y, place.width, place.height,
                                                state.dpi, state.scroll_pos, false);
        const RECT got = harness.child_rect(id);
        // A drop list's height is that of its list; the closed box keeps its own height.
        wchar_t window_class[32]{};
        GetClassNameW(harness.child(id), window_class, 32);
        if (_wcsicmp(window_class, L"ComboBox") == 0) want.bottom = got.bottom;
        EXPECT_TRUE(EqualRect(&want, &got))
            << label << " control " << id << ": want " << want.left << "," << want.top << " "
            << want.right << "," << want.bottom << " got " << got.left << "," << got.top << " "
            << got.right << "," << got.bottom;
    }
}

// Lays out the window for a page as the page switcher would leave it.
void show(WindowHarness& harness, int page, bool table, std::size_t rows = 0,
          std::uint8_t kind = 0) {
    MainWindowState& state = harness.state();
    state.current_page = page;
    state.table_view_shown = table;
    state.shown_table.kind = kind;
    state.shown_table.rows.assign(rows, TableRow{});
    layout_main_window(state);
    WindowHarness::pump();
}

class MainWindow : public ::testing::Test {
  protected:
    void show(int page, bool table, std::size_t rows = 0, std::uint8_t kind = 0) {
        ::tarvisko::show(harness, page, table, rows, kind);
    }
    void expect_children_on_layout(const std::string& label) {
        ::tarvisko::expect_children_on_layout(harness, label);
    }

    WindowHarness harness;
};

TEST_F(MainWindow, ChildrenLandOnTheLayoutAtSeveralSizes) {
    struct Size {
        int width, height, page;
        bool table;
        std::size_t rows;
    };
    const Size sizes[] = {{1200, 800, 0, false, 0}, {1000, 600, 0, false, 0},
                          {900, 500, 0, false, 0},  {1200, 800, 7, true, 3},
                          {1000, 500, 4, true, 2},  {1100, 650, 1, true, 4},
                          {1200, 800, 3, true, 2}};
    for (const Size& size : sizes) {
        harness.set_client_size(size.width, size.height);
        show(size.page, size.table, size.rows);
        expect_children_on_layout(std::to_string(size.width) + "x" + std::to_string(size.height) +
                                  " page " + std::to_string(size.page));
    }
    // A short window scrolls: content 590 DIP high in a 500 DIP client area.
    harness.set_client_size(900, 500);
    show(0, false);
    EXPECT_EQ(harness.state().scroll_range, 90);
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(harness.window(), SB_VERT, &info);
    EXPECT_EQ(info.nMax, 589);
    EXPECT_EQ(info.nPage, 500u);
}

TEST_F(MainWindow, ScrollingMovesEveryChildButTheStatusBar) {
    harness.set_client_size(1000, 500);
    show(0, false);
    MainWindowState& state = harness.state();
    ASSERT_EQ(state.scroll_range, 90);
    const RECT card = harness.child_rect(download_tile_id);
    const RECT nav = harness.child_rect(first_nav_button_id);
    const RECT status = harness.child_rect(status_bar_id);

    SendMessageW(harness.window(), WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(state.scroll_pos, 36);
    EXPECT_EQ(harness.child_rect(download_tile_id).top, card.top - 36);
    EXPECT_EQ(harness.child_rect(first_nav_button_id).top, nav.top - 36);
    EXPECT_EQ(harness.child_rect(status_bar_id).top, status.top);
    expect_children_on_layout("scrolled");

    SendMessageW(harness.window(), WM_VSCROLL, SB_PAGEDOWN, 0);
    EXPECT_EQ(state.scroll_pos, 90);  // clamped to the range
    SendMessageW(harness.window(), WM_VSCROLL, SB_LINEUP, 0);
    EXPECT_EQ(state.scroll_pos, 54);
    SendMessageW(harness.window(), WM_VSCROLL, SB_PAGEUP, 0);
    EXPECT_EQ(state.scroll_pos, 0);
    SendMessageW(harness.window(), WM_VSCROLL, SB_ENDSCROLL, 0);
    EXPECT_EQ(state.scroll_pos, 0);

    // Tall enough: nothing to scroll, every code ignored.
    harness.set_client_size(1000, 700);
    EXPECT_EQ(state.scroll_range, 0);
    SendMessageW(harness.window(), WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(state.scroll_pos, 0);
}

TEST_F(MainWindow, BusyStateSwapsTheStartButtonAndDisablesTheProfile) {
    MainWindowState& state = harness.state();
    EXPECT_TRUE(harness.visible(start_button_id));
    EXPECT_FALSE(harness.enabled(copy_code_button_id));  // no client token yet
    EXPECT_FALSE(harness.enabled(report_button_id));     // no report yet

    set_busy_state(state, true, true, true);
    WindowHarness::pump();
    EXPECT_TRUE(harness.visible(stop_button_id));
    EXPECT_FALSE(harness.visible(start_button_id));
    EXPECT_FALSE(harness.visible(process_traffic_check_id));
    EXPECT_TRUE(harness.visible(profile_combo_id));
    EXPECT_FALSE(harness.enabled(profile_combo_id));
    EXPECT_FALSE(harness.enabled(start_button_id));
    EXPECT_FALSE(harness.enabled(copy_code_button_id));
    EXPECT_FALSE(harness.enabled(report_button_id));

    set_busy_state(state, false, true, false);
    WindowHarness::pump();
    EXPECT_TRUE(harness.visible(start_button_id));
    EXPECT_TRUE(harness.visible(process_traffic_check_id));
    EXPECT_TRUE(harness.enabled(profile_combo_id));
    EXPECT_TRUE(harness.enabled(start_button_id));
    EXPECT_TRUE(harness.enabled(copy_code_button_id));
    EXPECT_FALSE(harness.enabled(report_button_id));
    set_busy_state(state, false, false, true);
    EXPECT_FALSE(harness.enabled(copy_code_button_id));
    EXPECT_TRUE(harness.enabled(report_button_id));
}

TEST_F(MainWindow, OpenReportIsEnabledOnlyWhenIdleWithRows) {
    MainWindowState& state = harness.state();
    show(9, true, 0);
    EXPECT_TRUE(harness.visible(open_report_button_id));
    EXPECT_FALSE(harness.enabled(open_report_button_id));
    show(9, true, 2);
    EXPECT_TRUE(harness.enabled(open_report_button_id));
    state.busy = true;
    show(10, true, 2);
    EXPECT_FALSE(harness.enabled(open_report_button_id));
}

// The tab order is the creation order; the z-order lists children in it.
TEST_F(MainWindow, CreatesEveryChildInTabOrder) {
    std::vector<int> ids;
    for (HWND child = GetWindow(harness.window(), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        ids.push_back(GetDlgCtrlID(child));
    }
    // The layout raises the status bar to the top; everything else keeps its creation order.
    std::vector<int> expected = creation_order;
    std::erase(expected, status_bar_id);
    expected.insert(expected.begin(), status_bar_id);
    EXPECT_EQ(ids, expected);

    struct TextCase {
        int id;
        const wchar_t* text;
    };
    const TextCase texts[] = {{nav_toggle_button_id, L"Zwiń lub rozwiń nawigację"},
                              {app_title_label_id, L"Tarvisko"},
                              {first_nav_button_id + 1, L"Prędkość internetu"},
                              {first_nav_button_id + 11, L"Ustawienia"},
                              {page_title_id, L"Podsumowanie"},
                              {page_subtitle_id, L"Gotowy do pomiaru"},
                              {export_button_id, L"Eksportuj…"},
                              {wifi_before_button_id, L"Zapisz skan „Przed”"},
                              {wifi_after_button_id, L"Skanuj „Po”"},
                              {process_traffic_check_id, L"Pokaż ruch procesów"},
                              {first_band_button_id, L"2,4 GHz"},
                              {results_list_id, L"Wyniki diagnostyczne"}};
    for (const TextCase& c : texts) EXPECT_EQ(harness.text(c.id), c.text) << c.id;

    const LONG_PTR check_style =
        GetWindowLongPtrW(harness.child(process_traffic_check_id), GWL_STYLE);
    EXPECT_EQ(check_style & BS_TYPEMASK, BS_AUTOCHECKBOX);
    EXPECT_EQ(
        GetWindowLongPtrW(harness.child(start_button_id), GWL_STYLE) & (BS_TYPEMASK | WS_TABSTOP),
        BS_OWNERDRAW | WS_TABSTOP);
    EXPECT_EQ(GetWindowLongPtrW(harness.child(wifi_chart_id), GWL_STYLE) & SS_TYPEMASK,
              SS_OWNERDRAW);
    EXPECT_EQ(SendMessageW(harness.child(target_edit_id), EM_GETLIMITTEXT, 0, 0), 253);
    EXPECT_EQ(SendMessageW(harness.child(game_server_combo_id), CB_GETDROPPEDWIDTH, 0, 0), 360);
    const LRESULT extended =
        SendMessageW(harness.child(results_list_id), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    EXPECT_EQ(extended & (LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER),
              LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER);

    // The navigation buttons and the profile combo carry their tooltips.
    const MainWindowState& state = harness.state();
    EXPECT_EQ(state.tooltip_texts.at(state.nav_buttons[6]), L"Gry online");
    EXPECT_EQ(state.tooltip_texts.at(state.profile_combo).substr(0, 14), L"Pełna prędkość");
}

std::vector<std::wstring> combo_items(HWND combo) {
    std::vector<std::wstring> items;
    const auto count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring text(static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)),
                          L'\0');
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        items.push_back(text);
    }
    return items;
}

TEST_F(MainWindow, CombosStartFilledAndFillComboReplacesItems) {
    struct Case {
        int id;
        std::vector<std::wstring> items;
        int selected;
    };
    const Case cases[] = {
        {profile_combo_id, {L"Pełna prędkość", L"Mały transfer"}, 0},
        {max_hops_combo_id, {L"8 skoków", L"16 skoków", L"32 skoki"}, 1},
        {interval_combo_id, {L"100 ms", L"500 ms", L"1000 ms"}, 0},
        {game_mode_combo_id, {L"Ping do celu", L"Trasa MTR"}, 0},
        {game_length_combo_id, {L"20 przebiegów", L"100 przebiegów", L"300 przebiegów"}, 0},
        {address_family_combo_id, {L"Auto IP", L"IPv4", L"IPv6"}, 0},
        {target_profile_combo_id, {}, -1},
        {favorites_combo_id, {}, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(combo_items(harness.child(c.id)), c.items) << c.id;
        EXPECT_EQ(SendMessageW(harness.child(c.id), CB_GETCURSEL, 0, 0), c.selected) << c.id;
    }
    EXPECT_TRUE(is_first_choice_selected(harness.state()));
    fill_combo(harness.state(), profile_combo_id, {L"a", L"b", L"c"}, 2);
    EXPECT_EQ(combo_items(harness.child(profile_combo_id)),
              (std::vector<std::wstring>{L"a", L"b", L"c"}));
    EXPECT_FALSE(is_first_choice_selected(harness.state()));
}

// Page 1 of a 1200 x 800 client area shows all six rows of its table: the speed cards make room.
TEST_F(MainWindow, PageOneListShowsItsSixRows) {
    TableModel table;
    table.columns = {{L"Pomiar", 220}, {L"Wynik", 220}};
    for (int i = 0; i < 6; ++i) {
        TableRow row;
        row.cells = {L"Pomiar " + std::to_wstring(i), std::to_wstring(i) + L" ms"};
        table.rows.push_back(row);
    }
    show_table_page(harness.state(), 1, std::move(table));
    WindowHarness::pump();
    EXPECT_GE(SendMessageW(harness.child(results_list_id), LVM_GETCOUNTPERPAGE, 0, 0), 6);
    expect_children_on_layout("page 1 with six rows");
}

// A drop list's closed box is no taller than the overlap test above takes it to be.
TEST_F(MainWindow, DropListsCloseWithinTheirAssumedHeight) {
    for (const int id : drop_lists) {
        RECT rect{};
        GetWindowRect(harness.child(id), &rect);
        EXPECT_LE(rect.bottom - rect.top,
                  MulDiv(drop_list_closed_height, harness.state().dpi, 96))
            << id;
    }
}

// Each control's font slot: size and weight of the slot at 96 DPI, with the fallback face.
TEST_F(MainWindow, FontsGoToTheirControls) {
    struct Case {
        int id;
        LONG height;
        LONG weight;
    };
    const Case cases[] = {
        {page_subtitle_id, -13, 400},
        {result_side_id, -13, 400},
        {status_bar_id, -13, 400},
        {profile_label_id, -13, 400},
        {process_traffic_check_id, -13, 400},
        {profile_combo_id, -14, 400},
        {page_text_edit_id, -14, 400},
        {results_list_id, -14, 400},
        {target_edit_id, -14, 400},
        {target_profile_combo_id, -14, 400},
        {method_combo_id, -14, 400},
        {game_server_combo_id, -14, 400},
        {max_hops_combo_id, -14, 400},
        {interval_combo_id, -14, 400},
        {address_family_combo_id, -14, 400},
        {favorites_combo_id, -14, 400},
        {game_mode_combo_id, -14, 400},
        {game_length_combo_id, -14, 400},
        {result_heading_id, -19, 600},
        {diagnostics_heading_id, -19, 600},
        {page_title_id, -28, 600},
    };
    for (const Case& c : cases) {
        const LOGFONTW font = harness.font(c.id);
        EXPECT_EQ(font.lfHeight, c.height) << c.id;
        EXPECT_EQ(font.lfWeight, c.weight) << c.id;
        EXPECT_EQ(font.lfQuality, CLEARTYPE_QUALITY) << c.id;
        EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET) << c.id;
        // "Segoe UI Variable Text" is not installed under the test display's Wine.
        EXPECT_STREQ(font.lfFaceName, L"Segoe UI") << c.id;
    }
    // The painting-only slots.
    const struct {
        int slot;
        LONG height;
        const wchar_t* face;
    } painting[] = {{4, -34, L"Segoe UI"}, {5, -12, L"Segoe UI"},
                    {6, -17, L"Segoe MDL2 Assets"}, {7, -15, L"Segoe UI"}};
    for (const auto& p : painting) {
        LOGFONTW font{};
        ASSERT_NE(GetObjectW(harness.state().fonts[p.slot], sizeof font, &font), 0) << p.slot;
        EXPECT_EQ(font.lfHeight, p.height) << p.slot;
        EXPECT_STREQ(font.lfFaceName, p.face) << p.slot;
    }
}

TEST(FontExistsProc, MarksTheFlagAndStopsTheEnumeration) {
    BYTE found = 0;
    EXPECT_EQ(font_exists_proc(nullptr, nullptr, 0, reinterpret_cast<LPARAM>(&found)), 0);
    EXPECT_EQ(found, 1);
}

// A DPI change remakes the fonts at the new size and places everything in pixels at 144 DPI.
TEST_F(MainWindow, DpiChangeRecreatesFontsAndScalesTheLayout) {
    MainWindowState& state = harness.state();
    const std::array<HFONT, 8> old_fonts = state.fonts;
    RECT window{};
    GetWindowRect(harness.window(), &window);
    RECT suggested{window.left, window.top, window.left + 1800, window.top + 1250};
    SendMessageW(harness.window(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                 reinterpret_cast<LPARAM>(&suggested));
    WindowHarness::pump();
    EXPECT_EQ(state.dpi, 144);
    EXPECT_EQ(harness.font(page_subtitle_id).lfHeight, -20);  // 13 DIP
    EXPECT_EQ(harness.font(page_title_id).lfHeight, -42);     // 28 DIP
    EXPECT_EQ(harness.font(profile_combo_id).lfHeight, -21);  // 14 DIP
    const RECT status = harness.child_rect(status_bar_id);
    EXPECT_EQ(status.bottom - status.top, 45);
    // The client height converts to whole DIP and back, which may land one pixel off its edge.
    EXPECT_NEAR(status.bottom, harness.client_size().cy, 1);
    // The old fonts are gone once their replacements are in place.
    for (HFONT font : old_fonts) EXPECT_EQ(GetObjectType(font), 0u);
    show(7, true, 3);
    expect_children_on_layout("144 DPI page 7");
    show(0, false);
    expect_children_on_layout("144 DPI page 0");

    // Back at 96 DPI the fonts return to their sizes.
    create_fonts(state, 0);
    EXPECT_EQ(state.dpi, 96);
    EXPECT_EQ(harness.font(page_subtitle_id).lfHeight, -13);
}

// The list's columns follow the DPI: their widths are kept in DIP.
TEST_F(MainWindow, FontRecreationRescalesListColumns) {
    MainWindowState& state = harness.state();
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH | LVCF_TEXT;
    column.cx = 100;
    column.pszText = const_cast<wchar_t*>(L"Test");
    SendMessageW(state.results_list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    SendMessageW(state.results_list, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&column));
    state.shown_table.columns = {{L"Test", 120}, {L"Wynik", 250}};
    create_fonts(state, 144);
    EXPECT_EQ(SendMessageW(state.results_list, LVM_GETCOLUMNWIDTH, 0, 0), 180);
    EXPECT_EQ(SendMessageW(state.results_list, LVM_GETCOLUMNWIDTH, 1, 0), 375);
}

TEST(MainWindowResources, OperatorIconBesideTheProgramIsLoadedAndFreed) {
    wchar_t module[MAX_PATH]{};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    const std::filesystem::path icon = std::filesystem::path(module).parent_path() / L"operator.ico";
    std::filesystem::remove(icon);
    {
        WindowHarness harness;
        EXPECT_EQ(harness.state().app_icon, nullptr);  // missing: no icon and no message
    }
    // The idle icon the build draws stands in for an operator's icon.
    const char* binary_dir = std::getenv("TARVISKO_BINARY_DIR");
    ASSERT_NE(binary_dir, nullptr);
    std::filesystem::copy_file(std::filesystem::path(binary_dir) / "app" / "icons" / "idle.ico",
                               icon, std::filesystem::copy_options::overwrite_existing);
    {
        WindowHarness harness;
        MainWindowState& state = harness.state();
        ASSERT_NE(state.app_icon, nullptr);
        destroy_window_resources(state);
        EXPECT_EQ(state.app_icon, nullptr);
        for (HFONT font : state.fonts) EXPECT_EQ(font, nullptr);
    }
    std::filesystem::remove(icon);
}

TEST_F(MainWindow, LayoutWaitsForTheStatusBar) {
    MainWindowState empty = ui_state_init();
    layout_main_window(empty);  // nothing exists: nothing happens
    EXPECT_EQ(empty.scroll_range, 0);
    EXPECT_EQ(control_by_id(empty, start_button_id), nullptr);
    EXPECT_EQ(control_by_id(harness.state(), start_button_id), harness.state().start_button);
}

// The window in a prefix whose system DPI is 144 (run by app_controls_144dpi_test, which sets
// TARVISKO_EXPECT_DPI): the DPI comes from the window itself, not from a message.
TEST(HighDpiPrefix, LaysOutAndSizesFontsAtTheSystemDpi) {
    const char* expected = std::getenv("TARVISKO_EXPECT_DPI");
    if (expected == nullptr) GTEST_SKIP() << "runs in the 144 DPI prefix only";
    test::HarnessOptions options;
    options.client_width = 1800;
    options.client_height = 1150;
    WindowHarness harness(options);
    MainWindowState& state = harness.state();
    ASSERT_EQ(state.dpi, std::atoi(expected));
    EXPECT_EQ(harness.font(page_subtitle_id).lfHeight, -20);
    const RECT status = harness.child_rect(status_bar_id);
    EXPECT_EQ(status.bottom - status.top, 45);
    expect_children_on_layout(harness, "system 144 DPI page 0");
    show(harness, 4, true, 3, 1);
    expect_children_on_layout(harness, "system 144 DPI page 4");
    WindowHarness::screenshot("controls-144dpi-page4");
}

// Pictures of the main pages at three widths, for people to look at.
TEST_F(MainWindow, Screenshots) {
    for (int width : {1200, 1000, 900}) {
        harness.set_client_size(width, 720);
        for (int page : {0, 4, 7}) {
            show(page, page != 0, page == 0 ? 0 : 3, page == 4 ? 1 : 0);
            WindowHarness::screenshot("controls-page" + std::to_string(page) + "-" +
                                      std::to_string(width));
        }
    }
}

}  // namespace
}  // namespace tarvisko
