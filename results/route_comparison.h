#pragma once
// The route page's comparison of the last route run with the most recent earlier run to the same
// target with the same settings, found among the stored report files: both runs' hop tables lined
// up hop by hop in a before/now table.
#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "results/table_model.h"

namespace tarvisko {

inline constexpr std::wstring_view no_route_run_message =
    L"Wykonaj samodzielny MTR, aby porównać zapisane trasy.";
inline constexpr std::wstring_view no_earlier_run_message =
    L"Brak wcześniejszego MTR do tego adresu z tymi samymi parametrami.";

// TTL -> the cells of that hop's row in the earlier (0) and the current (1) run.
using HopPairs = std::map<std::int64_t, std::array<std::optional<std::vector<std::wstring>>, 2>>;

// Puts the rows of the report's hop table (no responder names) into `slot` under the TTL of their
// "Skok" cell; of several series with one TTL the later in the table wins. A report without
// "mtr_samples" raises the JSON library's out_of_range error.
void merge_mtr_rows_by_hop(HopPairs& rows, const nlohmann::json& report, int slot);

// The stored route run ("measurement"."purpose" "mtr") to compare `current` with: the ".json"
// files directly in the folder (no subfolders; a missing folder holds none) whose "targets",
// "protocol", "max_ttl", "timeout_ms", "interval_ms" and "attempts" equal the current run's and
// whose "started_at" is earlier, the latest of them. Unreadable, unparseable and foreign files,
// and runs without route samples, are passed over. An error while stepping through the folder
// raises the file-system error of "directory_iterator::operator++".
std::optional<nlohmann::json> find_earlier_mtr_run(const std::filesystem::path& reports_folder,
                                                   const nlohmann::json& current);

// The seven-column before/now table, titled with the earlier run's start time.
TableModel route_comparison_table(const nlohmann::json& earlier, const nlohmann::json& current);

}  // namespace tarvisko
