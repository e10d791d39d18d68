#include "results/route_comparison.h"

#include <string_view>
#include <system_error>

#include "engine/common/json_document.h"
#include "results/format.h"
#include "results/hop_table.h"
#include "results/report_files.h"

namespace tarvisko {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// The settings two route runs must share to be compared.
constexpr std::string_view compared_settings[] = {"targets",     "protocol",    "max_ttl",
                                                  "timeout_ms",  "interval_ms", "attempts"};

std::optional<std::size_t> column_index(const TableModel& model, std::wstring_view name) {
    for (std::size_t i = 0; i < model.columns.size(); ++i) {
        if (model.columns[i].name == name) return i;
    }
    return std::nullopt;
}

std::optional<std::int64_t> parse_ttl(const std::wstring& cell) {
    if (cell.empty() || cell.size() > 18) return std::nullopt;
    std::int64_t value = 0;
    std::size_t i = cell[0] == L'-' ? 1 : 0;
    if (i == cell.size()) return std::nullopt;
    for (; i < cell.size(); ++i) {
        if (cell[i] < L'0' || cell[i] > L'9') return std::nullopt;
        value = value * 10 + (cell[i] - L'0');
    }
    return cell[0] == L'-' ? -value : value;
}

// A stored run that may be compared with the current one.
bool comparable_run(const json& stored, const json& current_measurement,
                    const json& current_started) {
    const json& measurement = json_member_or_null(stored, "measurement");
    if (!measurement.is_object() || !json_member_is(measurement, "purpose", "mtr")) return false;
    for (const std::string_view name : compared_settings) {
        if (json_member_or_null(measurement, name) !=
            json_member_or_null(current_measurement, name)) {
            return false;
        }
    }
    // A run without route samples has nothing to line up: an earlier usable run is taken instead.
    if (!stored.contains("mtr_samples")) return false;
    return json_member_or_null(stored, "started_at") < current_started;
}

std::optional<json> read_stored_report(const fs::path& path) {
    std::optional<std::string> text;
    try {
        text = read_report_file_within_cap(path);
    } catch (const std::runtime_error&) {
        return std::nullopt;  // unreadable after opening, or too large: passed over
    }
    if (!text) return std::nullopt;
    return parse_json_document(*text);
}

const std::wstring& cell_or_dash(const std::optional<std::vector<std::wstring>>& cells,
                                 std::optional<std::size_t> column) {
    static const std::wstring dash = L"—";
    if (!cells || !column || *column >= cells->size()) return dash;
    return (*cells)[*column];
}

}  // namespace

void merge_mtr_rows_by_hop(HopPairs& rows, const json& report, int slot) {
    const TableModel table = build_mtr_hop_table(report.at("mtr_samples"), {});
    const std::optional<std::size_t> hop = column_index(table, L"Skok");
    if (!hop) return;
    for (const TableRow& row : table.rows) {
        if (*hop >= row.cells.size()) continue;
        const std::optional<std::int64_t> ttl = parse_ttl(row.cells[*hop]);
        if (!ttl) continue;
        rows[*ttl][static_cast<std::size_t>(slot)] = row.cells;
    }
}

std::optional<json> find_earlier_mtr_run(const fs::path& reports_folder, const json& current) {
    const json& current_measurement = json_member_or_null(current, "measurement");
    const json& current_started = json_member_or_null(current, "started_at");
    std::error_code error;
    fs::directory_iterator entry(reports_folder, error);
    if (error) {
        std::error_code status_error;
        if (fs::status(reports_folder, status_error).type() == fs::file_type::not_found) {
            return std::nullopt;  // no run stored yet
        }
        throw fs::filesystem_error("directory_iterator::directory_iterator", reports_folder,
                                   error);
    }
    std::optional<json> best;
    for (; entry != fs::directory_iterator(); entry.increment(error)) {
        if (error) break;
        const fs::path& path = entry->path();
        if (path.extension().native() != L".json") continue;
        std::optional<json> stored = read_stored_report(path);
        if (!stored || !comparable_run(*stored, current_measurement, current_started)) continue;
        if (!best || json_member_or_null(*best, "started_at") <
                         json_member_or_null(*stored, "started_at")) {
            best = std::move(stored);
        }
    }
    if (error) throw fs::filesystem_error("directory_iterator::operator++", reports_folder, error);
    return best;
}

TableModel route_comparison_table(const json& earlier, const json& current) {
    HopPairs pairs;
    merge_mtr_rows_by_hop(pairs, earlier, 0);
    merge_mtr_rows_by_hop(pairs, current, 1);
    const TableModel shape = build_mtr_hop_table(json::array(), {});
    const std::optional<std::size_t> address = column_index(shape, L"Adres IP");
    const std::optional<std::size_t> p95 = column_index(shape, L"P95");
    const std::optional<std::size_t> loss = column_index(shape, L"Brak (%)");

    TableModel model;
    model.kind = 0;
    model.title = L"Porównanie z pomiarem · " +
                  json_display_text(json_member_or_null(earlier, "started_at")) + L" UTC";
    model.columns = {{L"Skok", 55},          {L"Router wcześniej", 148},
                     {L"Router obecnie", 148}, {L"P95 wcześniej", 100},
                     {L"P95 obecnie", 96},     {L"Brak wcześniej (%)", 125},
                     {L"Brak obecnie (%)", 120}};
    for (const auto& [ttl, sides] : pairs) {
        TableRow row;
        row.cells = {std::to_wstring(ttl),         cell_or_dash(sides[0], address),
                     cell_or_dash(sides[1], address), cell_or_dash(sides[0], p95),
                     cell_or_dash(sides[1], p95),     cell_or_dash(sides[0], loss),
                     cell_or_dash(sides[1], loss)};
        row.detail =
            L"P95 w milisekundach. Adresy wskazują routery, które odpowiedziały w każdej sesji. "
            L"Brak odczytu oznaczono kreską.";
        model.rows.push_back(std::move(row));
    }
    return model;
}

}  // namespace tarvisko
