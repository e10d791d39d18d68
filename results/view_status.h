#pragma once
// The tables of the three target pages (6 games, 7 route, 8 monitoring) and the plain text of a
// results-list row.
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

#include "results/responder_names.h"
#include "results/table_model.h"

namespace tarvisko {

// The result a target view shows: last_results[view - 6]; on the route view, while that slot
// holds no object, the last full test's report (its route samples). A view outside 6..8 gets a
// null value.
const nlohmann::json& view_result_slot(int view, std::span<const nlohmann::json, 3> last_results,
                                       const nlohmann::json& last_diagnostics_report);
// The top-level "session_id" when it is a text, else empty.
std::string report_session_id(const nlohmann::json& report);
// View 7 always; otherwise "measurement"."technique" is "trace".
bool is_route_report(int view, const nlohmann::json& report);
// The explanation of a game profile's target kind (exact, case-sensitive UTF-8).
std::wstring target_kind_description(std::string_view kind);

// The table of one target view for `report` (any JSON value). `held_names` are the reverse DNS
// names the window holds; they are used only when they belong to the report's session.
TableModel measurement_view_status(int view, const nlohmann::json& report,
                                   const SessionResponderNames& held_names);

// Each column's name, TAB, its cell and CR LF, then CR LF and the detail when there is one; empty
// when `index` is no row of `model`.
std::wstring selected_row_text(const TableModel& model, int index);

}  // namespace tarvisko
