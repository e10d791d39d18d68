#pragma once
// The details of the last full test that pages 1 to 5 of the window list under their headline.
#include <cstdint>
#include <nlohmann/json.hpp>

#include "results/summary_model.h"
#include "results/table_model.h"

namespace tarvisko {

// Page 1 "Prędkość internetu", 2 "Komputer", 3 "Sieć lokalna", 4 "Wi-Fi", 5 "Internet": the
// dashboard's tiles and cards as rows, with the raw report members beside them. Any other page
// gives the title and the columns without rows. Never throws on missing or mistyped members.
TableModel build_report_details_table(std::int32_t page, const nlohmann::json& report,
                                      const SummaryModel& summary);

}  // namespace tarvisko
