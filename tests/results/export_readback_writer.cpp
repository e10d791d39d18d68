// Writes one awkward table as CSV and as JSON the way the export does, for
// export_readback.py to read back with Python's csv module.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/common/system.h"
#include "engine/common/text.h"
#include "results/export.h"
#include "results/report_files.h"

namespace tarvisko {
namespace {

TEST(ExportReadback, WritesCsvAndJson) {
    std::string top = to_utf8(read_environment_variable(L"TARVISKO_BINARY_DIR"));
    ASSERT_FALSE(top.empty()) << "run through CTest";
    if (top.front() == '/') top = "Z:" + top;
    const std::filesystem::path folder = to_wide(top + "/tests/results/export-readback");
    std::filesystem::create_directories(folder);

    TableModel table;
    table.columns = {{L"Pomiar", 100}, {L"Wynik", 100}, {L"Uwagi; \"cytat\"", 100}};
    const auto add = [&](std::vector<std::wstring> cells) {
        table.rows.push_back(TableRow{std::move(cells), L"", {}, L"", {}});
    };
    add({L"=SUMA(A1)", L"  -5", L"1-2"});
    add({L"", L"a\"b;c", L"x\ty"});
    add({L"wiersz\r\ndwa", L"@home", L"+48 600"});
    add({L"krótki"});
    add({L" \t-1", L"Zażółć gęślą jaźń", L"-"});
    add({L"\"", L";", L"'=już chronione"});

    const nlohmann::json report = {{"session_id", "S"}};
    write_file_atomically(folder / L"table.csv",
                          export_file_bytes(ExportFormat::csv, table, report, 7));
    write_file_atomically(folder / L"table.json",
                          export_file_bytes(ExportFormat::json, table, report, 7));
}

}  // namespace
}  // namespace tarvisko
