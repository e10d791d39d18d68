#pragma once
// The twelve pages of the main window: what show_page builds for each (the report lists of pages
// 9 and 10 come from app/report_list.h).
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

// Page 11's five rows; a configuration that gives no origin shows why instead.
std::vector<TableRow> settings_rows(const OriginSetting& origin, bool full_speed_profile,
                                    const std::wstring& update_text);

}  // namespace tarvisko
