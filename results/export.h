#pragma once
// Saving what the results list shows: a CSV table for spreadsheets, a plain text table, or a JSON
// document carrying the table together with the report behind the page. The bytes are built
// whole in memory, so the window writes them in one atomic step.
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

#include "results/table_model.h"

namespace tarvisko {

enum class ExportFormat { csv, json, text };

// The save dialog's filter index: 1 CSV, 2 JSON, anything else the text table.
ExportFormat export_format_for_filter(int filter_index);

// The first character of the cell that is not a blank, TAB, CR or LF would start a spreadsheet
// formula (=, +, -, @). Spreadsheets open both the CSV and the text export, so both guard it.
bool starts_formula(std::string_view cell);
// One CSV cell: quoted, quotes doubled, and an apostrophe in front of a would-be formula.
std::string csv_cell(std::string_view cell);
// One cell of the text table: CR, LF and TAB become blanks, so a cell never splits its row or
// shifts its columns, and an apostrophe goes in front of a would-be formula.
std::string text_cell(std::string_view cell);

// The whole file: the column names as a header row, then each row's cells (no padding of short
// rows). CSV and text begin with the UTF-8 byte-order mark and end each row with CR LF; the JSON
// document is {"report", "table", "view"} indented by two blanks. Raises on a cell that is not
// valid UTF-16 and on a report text that is not valid UTF-8.
std::string export_file_bytes(ExportFormat format, const TableModel& table,
                              const nlohmann::json& report, int page);

// The report behind a page: the last full test's, or on pages 6 to 8 the page's own run when its
// slot holds one; none on page 4, on the game choice table of page 6 and on pages 9 to 11.
const nlohmann::json& page_report(int page, const nlohmann::json& last_diagnostics_report,
                                  std::span<const nlohmann::json, 3> last_results,
                                  bool game_result_shown);

}  // namespace tarvisko
