#pragma once
// The twelve pages of the main window: what show_page builds for each, and the report lists of
// pages 9 and 10.
#include <windows.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/config.h"
#include "results/table_model.h"

namespace tarvisko {

void show_page(HWND window, int page);

// One row of the report list of page 9 or 10 from one parsed report file; none when the
// document is not an object, lacks a session id or has members of an unexpected type.
std::optional<TableRow> report_list_row(int page, const nlohmann::json& document);
// The list of a reports folder: every ".json" file, newest first; unreadable files left out.
TableModel report_list_table(int page, const std::filesystem::path& reports_folder);
// Page 11's five rows; a configuration that gives no origin shows why instead.
std::vector<TableRow> settings_rows(const OriginSetting& origin, bool full_speed_profile,
                                    const std::wstring& update_text);

}  // namespace tarvisko
