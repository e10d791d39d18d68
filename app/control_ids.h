#pragma once
// The control ids of the main window's children. Commands, notifications, painting and the layout
// all tell the children apart by these ids, and tests read the controls by them; the values are
// fixed. A range of similar controls has a first and a last id: the control of index i is
// first + i.

namespace tarvisko {

// The navigation column: the collapse button, the application title and one button per page
// (page p is first_nav_button_id + p).
inline constexpr int nav_toggle_button_id = 107;
inline constexpr int app_title_label_id = 110;
inline constexpr int first_nav_button_id = 200;
inline constexpr int last_nav_button_id = 211;

// The page header and the labels of the dashboard, which no command refers to.
inline constexpr int page_title_id = 900;
inline constexpr int page_subtitle_id = 901;
inline constexpr int result_side_id = 902;
inline constexpr int result_heading_id = 903;
inline constexpr int diagnostics_heading_id = 904;
inline constexpr int profile_label_id = 905;

// The full test and the buttons shared by every page.
inline constexpr int start_button_id = 101;
inline constexpr int copy_code_button_id = 102;
inline constexpr int stop_button_id = 103;
inline constexpr int report_button_id = 105;
inline constexpr int profile_combo_id = 106;
inline constexpr int summary_button_id = 108;
inline constexpr int process_traffic_check_id = 336;

// The window's bottom status line and the read-only text pane of the text pages.
inline constexpr int status_bar_id = 111;
inline constexpr int page_text_edit_id = 112;

// The dashboard: the download and upload tiles, the three value tiles (ping, jitter, loss), the
// eight section cards and the conclusion card.
inline constexpr int download_tile_id = 240;
inline constexpr int upload_tile_id = 241;
inline constexpr int first_value_tile_id = 242;
inline constexpr int first_dashboard_tile_id = download_tile_id;
inline constexpr int last_dashboard_tile_id = 244;
inline constexpr int first_section_card_id = 250;
inline constexpr int last_section_card_id = 257;
inline constexpr int conclusion_button_id = 261;

// The table view: the results list, its detail panel, the three reading tiles above it and the
// buttons that act on its rows.
inline constexpr int results_list_id = 310;
inline constexpr int result_detail_id = 311;
inline constexpr int first_reading_tile_id = 320;
inline constexpr int last_reading_tile_id = 322;
inline constexpr int export_button_id = 319;
inline constexpr int open_report_button_id = 330;
inline constexpr int copy_row_button_id = 332;

// The target pages (game, route trace, monitoring): the target and its options, the run button
// and the favourites.
inline constexpr int target_edit_id = 312;
inline constexpr int target_profile_combo_id = 313;
inline constexpr int method_combo_id = 314;
inline constexpr int run_target_button_id = 315;
inline constexpr int game_server_combo_id = 316;
inline constexpr int max_hops_combo_id = 317;
inline constexpr int interval_combo_id = 318;
inline constexpr int address_family_combo_id = 324;
inline constexpr int save_target_button_id = 325;
inline constexpr int favorites_combo_id = 326;
inline constexpr int game_mode_combo_id = 327;
inline constexpr int game_length_combo_id = 328;
inline constexpr int compare_route_button_id = 329;

// The reading pages, the update check and the speed page's estimate and connection-quality cards.
inline constexpr int update_button_id = 331;
inline constexpr int refresh_reading_button_id = 333;
inline constexpr int resource_monitor_button_id = 334;
inline constexpr int stop_reading_button_id = 335;
inline constexpr int estimate_panel_id = 350;
inline constexpr int connection_quality_card_id = 351;

// The Wi-Fi page: its buttons, the channel chart, the recommendation and comparison cards and the
// band selector (band b is first_band_button_id + b).
inline constexpr int wifi_scan_button_id = 337;
inline constexpr int router_panel_button_id = 338;
inline constexpr int channel_help_button_id = 339;
inline constexpr int first_band_button_id = 340;
inline constexpr int last_band_button_id = 342;
inline constexpr int wifi_chart_id = 343;
inline constexpr int wifi_recommendation_id = 344;
inline constexpr int wifi_details_button_id = 345;
inline constexpr int wifi_before_button_id = 346;
inline constexpr int wifi_after_button_id = 347;
inline constexpr int wifi_compare_button_id = 348;
inline constexpr int wifi_comparison_id = 349;

// The details popup: its read-only text, the "Kopiuj całość" and "Zamknij" buttons, the two chart
// panels ("before", "after") and the caption line above them.
inline constexpr int details_text_id = 401;
inline constexpr int details_copy_button_id = 402;
inline constexpr int details_close_button_id = 403;
inline constexpr int details_before_panel_id = 404;
inline constexpr int details_after_panel_id = 405;
inline constexpr int details_caption_id = 406;

}  // namespace tarvisko
