#include "results/last_reports.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "results/report_files.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A data directory in a temporary folder, found for origin "https://o" and credential "token".
struct DataFolder {
    test::TempDir temp;
    std::wstring origin = L"https://o";
    std::wstring credential = L"token";
    int directory_calls = 0;

    LastReportSources sources() {
        return {[this] { return origin; },
                [this](const std::wstring& o) {
                    EXPECT_EQ(o, origin);
                    return credential;
                },
                [this](const std::wstring& o, const std::wstring& c) {
                    ++directory_calls;
                    EXPECT_EQ(o, origin);
                    EXPECT_EQ(c, L"token");
                    return temp.path();
                }};
    }
    fs::path file(const std::string& name) const { return temp.path() / name; }
};

TEST(LastReports, ReadsTheLastReportAndTheTargetRunsByPurpose) {
    DataFolder data;
    test::write_file(data.file("last-report.json"), "[1,2]");  // taken whatever its type
    test::write_file(data.file("last-gaming.json"), R"({"session_id":"g"})");
    test::write_file(data.file("last-mtr.json"), "[]");           // not an object: passed over
    test::write_file(data.file("last-monitor.json"), "{\"x\":");  // unparseable: passed over
    const LastReports loaded = read_last_reports(data.sources(), L"");
    EXPECT_EQ(loaded.api_token, L"token");
    EXPECT_EQ(loaded.current_report, json::parse("[1,2]"));
    EXPECT_EQ(loaded.last_results[0], json::parse(R"({"session_id":"g"})"));
    EXPECT_EQ(loaded.last_results[1], std::nullopt);
    EXPECT_EQ(loaded.last_results[2], std::nullopt);
    EXPECT_EQ(loaded.error_text, std::nullopt);

    // Nothing there at all: nothing changes and nothing fails.
    DataFolder empty;
    const LastReports none = read_last_reports(empty.sources(), L"");
    EXPECT_EQ(none.current_report, std::nullopt);
    EXPECT_EQ(none.error_text, std::nullopt);
}

TEST(LastReports, ATargetRunFileAboveTheCapIsPassedOver) {
    DataFolder data;
    test::make_sized_file(data.file("last-gaming.json"), report_file_size_cap + 1, "{}");
    test::write_file(data.file("last-mtr.json"), R"({"session_id":"m"})");
    const LastReports loaded = read_last_reports(data.sources(), L"");
    EXPECT_EQ(loaded.last_results[0], std::nullopt);
    EXPECT_EQ(loaded.last_results[1], json::parse(R"({"session_id":"m"})"));
    EXPECT_EQ(loaded.error_text, std::nullopt);
}

TEST(LastReports, WithoutCredentialNothingIsRead) {
    DataFolder data;
    test::write_file(data.file("last-report.json"), "{}");
    data.credential = L"";
    const LastReports loaded = read_last_reports(data.sources(), L"");
    EXPECT_EQ(loaded.api_token, L"");
    EXPECT_EQ(loaded.current_report, std::nullopt);
    EXPECT_EQ(data.directory_calls, 0);

    // Without an origin the credential held so far is kept and used.
    data.origin = L"";
    LastReportSources sources = data.sources();
    sources.data_directory = [&](const std::wstring& o, const std::wstring& c) {
        EXPECT_EQ(o, L"");
        EXPECT_EQ(c, L"held");
        return data.temp.path();
    };
    const LastReports held = read_last_reports(sources, L"held");
    EXPECT_EQ(held.api_token, std::nullopt);
    EXPECT_EQ(held.current_report, json::object());
}

TEST(LastReports, AFailureEndsTheReadingWithItsMessage) {
    DataFolder data;
    test::write_file(data.file("last-report.json"), "{\"throughput\":");
    test::write_file(data.file("last-gaming.json"), "{}");
    const LastReports broken = read_last_reports(data.sources(), L"");
    ASSERT_TRUE(broken.error_text);
    EXPECT_EQ(
        broken.error_text->rfind(L"[json.exception.parse_error.101] parse error at line 1", 0), 0u)
        << testing::PrintToString(*broken.error_text);
    EXPECT_EQ(broken.current_report, std::nullopt);
    EXPECT_EQ(broken.last_results[0], std::nullopt);  // later files unread

    test::write_file(data.file("last-report.json"), test::nested_arrays(100000));
    EXPECT_EQ(read_last_reports(data.sources(), L"").error_text, L"invalid_local_report");
    test::write_file(data.file("last-report.json"), std::string("{}\0{}", 5));
    EXPECT_EQ(read_last_reports(data.sources(), L"").error_text, L"invalid_local_report");

    // A last report above the cap is not read: its own message, and nothing taken.
    test::make_sized_file(data.file("last-report.json"), report_file_size_cap + 1, "{}");
    const LastReports too_large = read_last_reports(data.sources(), L"");
    EXPECT_EQ(too_large.error_text, L"local_report_too_large");
    EXPECT_EQ(too_large.current_report, std::nullopt);

    LastReportSources sources = data.sources();
    sources.data_directory = [](const std::wstring&, const std::wstring&) -> fs::path {
        throw std::runtime_error("local_app_data_unavailable");
    };
    EXPECT_EQ(read_last_reports(sources, L"").error_text, L"local_app_data_unavailable");
    sources.stored_credential = [](const std::wstring&) -> std::wstring {
        throw std::runtime_error("windows_credential_read_failed");
    };
    const LastReports no_store = read_last_reports(sources, L"old");
    EXPECT_EQ(no_store.error_text, L"windows_credential_read_failed");
    EXPECT_EQ(no_store.api_token, std::nullopt);
}

}  // namespace
}  // namespace tarvisko
