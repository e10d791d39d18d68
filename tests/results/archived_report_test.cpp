#include "results/archived_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "results/fixtures.h"
#include "results/report_files.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::wstring id = L"0f0e0d0c-0b0a-4908-8706-050403020100";

struct ReportsFolder {
    test::TempDir temp;
    void put(const std::string& bytes, const std::wstring& name = id) const {
        std::ofstream(temp.path() / (name + L".json"), std::ios::binary | std::ios::trunc) << bytes;
    }
    ArchivedReport open(const std::wstring& cell = id) const {
        return read_archived_report(temp.path(), cell);
    }
};

TEST(ArchivedReport, AFullTestOpensAsItsPlainText) {
    ReportsFolder reports;
    reports.put(test::load_result_fixture("diagnostics-report").dump());
    const ArchivedReport opened = reports.open();
    EXPECT_EQ(opened.kind, ArchivedReport::Kind::full_test);
    EXPECT_EQ(opened.title, L"Archiwalny raport z pomiaru");
    EXPECT_EQ(opened.text.rfind(L"Twój wynik\r\n\r\nPrędkość pobierania: 19,1 Mb/s\r\n", 0), 0u);
    EXPECT_EQ(opened.page, 0);
}

TEST(ArchivedReport, ATargetRunOpensOnThePageOfItsPurpose) {
    const std::vector<std::pair<json, int>> cases = {{"gaming", 6}, {"monitor", 8}, {"mtr", 7},
                                                     {"other", 7},  {nullptr, 7},   {12, 7}};
    for (const auto& [purpose, page] : cases) {
        SCOPED_TRACE(purpose.dump());
        ReportsFolder reports;
        json report = {{"session_id", "x"}, {"measurement", {{"targets", {"10.0.0.1"}}}}};
        if (!purpose.is_null()) report["measurement"]["purpose"] = purpose;
        reports.put(report.dump());
        const ArchivedReport opened = reports.open();
        EXPECT_EQ(opened.kind, ArchivedReport::Kind::target_run);
        EXPECT_EQ(opened.page, page);
        EXPECT_EQ(opened.report, report);
    }
}

TEST(ArchivedReport, BadIdsMissingFilesAndHostileArchivesOpenNothing) {
    ReportsFolder reports;
    reports.put("{\"measurement\":{}}", L"0f0e0d0c-0b0a-4908-8706-05040302010");
    const std::vector<std::wstring> cells = {L"",
                                             L"0f0e0d0c-0b0a-4908-8706-05040302010",
                                             L"0f0e0d0c-0b0a-4908-8706-0504030201000",
                                             L"0f0e0d0c-0b0a-4908-8706-05040302010ż",
                                             L"..\\..\\..\\..\\..\\..\\..\\..\\Windows\\abcd",
                                             id /* missing file */};
    for (const std::wstring& cell : cells) {
        EXPECT_EQ(reports.open(cell).kind, ArchivedReport::Kind::none);
    }
    const std::vector<std::pair<const char*, std::string>> hostile = {
        {"truncated", "{\"measurement\":{\"purpose\":\"gam"},
        {"an array", "[{\"measurement\":{}}]"},
        {"a text", "\"measurement\""},
        {"no known kind", "{\"session_id\":\"x\"}"},
        {"measurement not an object", "{\"measurement\":[\"gaming\"]}"},
        {"nested 100,000 deep", "{\"throughput\":" + test::nested_arrays(100000) + "}"},
        {"empty", ""},
    };
    for (const auto& [name, bytes] : hostile) {
        SCOPED_TRACE(name);
        reports.put(bytes);
        EXPECT_EQ(reports.open().kind, ArchivedReport::Kind::none);
    }
    fs::remove(reports.temp.path() / (id + L".json"));
    fs::create_directory(reports.temp.path() / (id + L".json"));
    EXPECT_EQ(reports.open().kind, ArchivedReport::Kind::none);
}

TEST(ArchivedReport, AnArchiveAboveTheCapIsNotOpened) {
    ReportsFolder reports;
    const std::string report = R"({"session_id":"x","measurement":{"purpose":"mtr"}})";
    // A valid document padded with blanks: only its size keeps it closed.
    reports.put(report + std::string(report_file_size_cap - report.size(), ' '));
    EXPECT_EQ(reports.open().kind, ArchivedReport::Kind::target_run);
    reports.put(report + std::string(report_file_size_cap + 1 - report.size(), ' '));
    EXPECT_EQ(reports.open().kind, ArchivedReport::Kind::none);
}

TEST(ArchivedReport, AMalformedFullTestRaisesAClearError) {
    ReportsFolder reports;
    reports.put(R"({"throughput":{"error":null}})");
    EXPECT_EQ(test::error_text([&] { reports.open(); }),
              "Nie udało się odczytać raportu · [json.exception.out_of_range.403] key "
              "'synchronized' not found");
    reports.put(R"({"throughput":[],"synchronized":true})");
    EXPECT_EQ(test::error_text([&] { reports.open(); }),
              "Nie udało się odczytać raportu · [json.exception.type_error.304] cannot use at() "
              "with array");
}

}  // namespace
}  // namespace tarvisko
