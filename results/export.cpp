#include "results/export.h"

#include <vector>

#include "engine/common/text.h"

namespace tarvisko {

namespace {

using nlohmann::json;

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// The header, then the rows, each cell in UTF-8.
std::vector<std::vector<std::string>> table_lines(const TableModel& table) {
    std::vector<std::vector<std::string>> lines;
    lines.reserve(table.rows.size() + 1);
    std::vector<std::string> header;
    for (const TableColumn& column : table.columns) header.push_back(to_utf8(column.name));
    lines.push_back(std::move(header));
    for (const TableRow& row : table.rows) {
        std::vector<std::string> cells;
        cells.reserve(row.cells.size());
        for (const std::wstring& cell : row.cells) cells.push_back(to_utf8(cell));
        lines.push_back(std::move(cells));
    }
    return lines;
}

}  // namespace

ExportFormat export_format_for_filter(int filter_index) {
    if (filter_index == 1) return ExportFormat::csv;
    if (filter_index == 2) return ExportFormat::json;
    return ExportFormat::text;
}

bool starts_formula(std::string_view cell) {
    const std::size_t first = cell.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos &&
           std::string_view("=+-@").find(cell[first]) != std::string_view::npos;
}

std::string csv_cell(std::string_view cell) {
    std::string quoted = "\"";
    if (starts_formula(cell)) quoted += '\'';
    for (const char c : cell) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string export_file_bytes(ExportFormat format, const TableModel& table, const json& report,
                              int page) {
    const std::vector<std::vector<std::string>> lines = table_lines(table);
    if (format == ExportFormat::json) {
        json document = json::object();
        document["report"] = report;
        document["table"] = lines;
        document["view"] = page;
        return document.dump(2, ' ', false, json::error_handler_t::strict);
    }
    std::string bytes(byte_order_mark);
    const bool csv = format == ExportFormat::csv;
    for (const std::vector<std::string>& line : lines) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (i > 0) bytes += csv ? ';' : '\t';
            bytes += csv ? csv_cell(line[i]) : text_cell(line[i]);
        }
        bytes += "\r\n";
    }
    return bytes;
}

std::string text_cell(std::string_view cell) {
    std::string text;
    text.reserve(cell.size() + 1);
    if (starts_formula(cell)) text += '\'';
    for (const char c : cell) text += (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
    return text;
}

const json& page_report(int page, const json& last_diagnostics_report,
                        std::span<const json, 3> last_results, bool game_result_shown) {
    static const json none;
    if (page == 4 || page >= 9 || (page == 6 && !game_result_shown)) return none;
    if (page >= 6 && page <= 8 && last_results[static_cast<std::size_t>(page - 6)].is_object()) {
        return last_results[static_cast<std::size_t>(page - 6)];
    }
    return last_diagnostics_report;
}

}  // namespace tarvisko
