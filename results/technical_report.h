#pragma once
// The technical text of a full test: the raw figures of the session, line by line, for a support
// technician to read or copy beside the plain-language text.
#include <nlohmann/json.hpp>
#include <string>

namespace tarvisko {

// The whole text of a `diagnostics_report`, lines ending in CR LF and no line end after the last.
// All or nothing: a missing required member or a value of the wrong type raises the JSON
// library's exception, whose message names it.
std::wstring throughput_report_text(const nlohmann::json& report);

}  // namespace tarvisko
