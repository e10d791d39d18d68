#include "results/export.h"

#include <gtest/gtest.h>

#include <array>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace tarvisko {
namespace {

using nlohmann::json;

TableRow row(std::vector<std::wstring> cells) { return TableRow{std::move(cells), L"", {}, L"", {}}; }

// Every cell a spreadsheet or a careless reader could trip over.
TableModel awkward_table() {
    TableModel table;
    table.title = L"Tabela";
    table.columns = {{L"Pomiar", 100}, {L"Wynik", 100}, {L"Uwagi", 100}};
    table.rows = {row({L"=SUMA(A1)", L"  -5", L"1-2"}),
                  row({L"", L"a\"b;c", L"x\ty"}),
                  row({L"wiersz\r\ndwa", L"@home", L"+48"}),
                  row({L"krótki"}),
                  row({L" \t-1", L"Łódź", L"-"})};
    return table;
}

TEST(Export, CsvBytes) {
    const std::string expected =
        "\xEF\xBB\xBF"
        "\"Pomiar\";\"Wynik\";\"Uwagi\"\r\n"
        "\"'=SUMA(A1)\";\"'  -5\";\"1-2\"\r\n"
        "\"\";\"a\"\"b;c\";\"x\ty\"\r\n"
        "\"wiersz\r\ndwa\";\"'@home\";\"'+48\"\r\n"
        "\"krótki\"\r\n"
        "\"' \t-1\";\"Łódź\";\"'-\"\r\n";
    EXPECT_EQ(export_file_bytes(ExportFormat::csv, awkward_table(), json{{"a", 1}}, 7), expected);
}

TEST(Export, TextBytes) {
    const std::string expected =
        "\xEF\xBB\xBF"
        "Pomiar\tWynik\tUwagi\r\n"
        "'=SUMA(A1)\t'  -5\t1-2\r\n"
        "\ta\"b;c\tx y\r\n"
        "wiersz  dwa\t'@home\t'+48\r\n"
        "krótki\r\n"
        "'  -1\tŁódź\t'-\r\n";
    EXPECT_EQ(export_file_bytes(ExportFormat::text, awkward_table(), nullptr, 9), expected);
}

TEST(Export, JsonBytes) {
    TableModel table;
    table.columns = {{L"Pomiar", 10}, {L"Wynik", 10}};
    table.rows = {row({L"a\"b;c", L"x\ty\r\nŁ"}), row({})};
    const std::string expected =
        "{\n"
        "  \"report\": {\n"
        "    \"zażółć\": [\n"
        "      1,\n"
        "      null\n"
        "    ]\n"
        "  },\n"
        "  \"table\": [\n"
        "    [\n"
        "      \"Pomiar\",\n"
        "      \"Wynik\"\n"
        "    ],\n"
        "    [\n"
        "      \"a\\\"b;c\",\n"
        "      \"x\\ty\\r\\nŁ\"\n"
        "    ],\n"
        "    []\n"
        "  ],\n"
        "  \"view\": 7\n"
        "}";
    EXPECT_EQ(export_file_bytes(ExportFormat::json, table, json{{"zażółć", {1, nullptr}}}, 7),
              expected);
    EXPECT_EQ(export_file_bytes(ExportFormat::json, TableModel{}, nullptr, 9),
              "{\n  \"report\": null,\n  \"table\": [\n    []\n  ],\n  \"view\": 9\n}");
}

TEST(Export, FailuresAndFilters) {
    TableModel lone = awkward_table();
    lone.rows[1].cells[1] = std::wstring(L"a") + wchar_t(0xD800);
    for (const ExportFormat format : {ExportFormat::csv, ExportFormat::json, ExportFormat::text}) {
        EXPECT_THROW(export_file_bytes(format, lone, nullptr, 1), std::runtime_error);
    }
    EXPECT_THROW(export_file_bytes(ExportFormat::json, awkward_table(), json{{"x", "\xC3\x28"}}, 1),
                 json::type_error);
    EXPECT_EQ(export_format_for_filter(1), ExportFormat::csv);
    EXPECT_EQ(export_format_for_filter(2), ExportFormat::json);
    EXPECT_EQ(export_format_for_filter(3), ExportFormat::text);
    EXPECT_EQ(export_format_for_filter(0), ExportFormat::text);
    EXPECT_EQ(csv_cell(" \r\n"), "\" \r\n\"");
    EXPECT_EQ(csv_cell("\n=1"), "\"'\n=1\"");
    // The text table: one line per row whatever a cell holds, the same guard as the CSV.
    EXPECT_EQ(text_cell("\n=1"), "' =1");
    EXPECT_EQ(text_cell("a\r\n\tb"), "a   b");
    EXPECT_EQ(text_cell(" \r\n"), "   ");
    EXPECT_EQ(text_cell("'=już chronione"), "'=już chronione");
}

TEST(Export, PageReport) {
    const json full = {{"throughput", json::object()}};
    const std::array<json, 3> runs = {json{{"g", 1}}, json{{"r", 1}}, json{{"m", 1}}};
    const std::array<json, 3> no_runs = {nullptr, json::array(), nullptr};
    struct Case {
        int page;
        bool game_shown;
        bool with_runs;
        json expected;
    };
    const Case cases[] = {
        {0, false, true, full},         {1, false, true, full},       {3, false, true, full},
        {4, true, true, nullptr},       {5, false, true, full},       {6, true, true, runs[0]},
        {6, false, true, nullptr},      {6, true, false, full},       {7, false, true, runs[1]},
        {7, false, false, full},        {8, false, true, runs[2]},    {8, false, false, full},
        {9, true, true, nullptr},       {10, true, true, nullptr},    {11, true, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("page " + std::to_string(c.page));
        EXPECT_EQ(page_report(c.page, full, c.with_runs ? runs : no_runs, c.game_shown),
                  c.expected);
    }
    EXPECT_TRUE(page_report(7, nullptr, no_runs, false).is_null());
}

}  // namespace
}  // namespace tarvisko
