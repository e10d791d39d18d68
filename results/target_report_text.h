#pragma once
// The text page of a target run (game target, route or monitoring): a simple variant that
// restates the view's table with its explanations, and a technical one that adds the whole report
// as indented JSON.
#include <nlohmann/json.hpp>
#include <string>

#include "results/table_model.h"

namespace tarvisko {

// `status` is the table the view shows for `report` (measurement_view_status). A report without
// "measurement", or with a member of the wrong type, raises the JSON library's error; so does a
// text that is not valid UTF-8 in the technical variant. The JSON part keeps the library's LF
// line ends.
std::wstring target_report_text(const nlohmann::json& report, const TableModel& status,
                                bool technical);

}  // namespace tarvisko
