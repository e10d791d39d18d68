#include "results/route_comparison.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "results/fixtures.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// The route fixture started at `time`, without the samples of hop `drop_ttl`.
json route_run(const std::string& time, int drop_ttl = 0) {
    json report = test::load_result_fixture("trace-silent-router");
    report["started_at"] = "2026-12-10T" + time + ".000Z";
    report["session_id"] = "run-" + time;
    json kept = json::array();
    for (const json& sample : report["mtr_samples"]) {
        if (sample["ttl"] != drop_ttl) kept.push_back(sample);
    }
    report["mtr_samples"] = kept;
    return report;
}

struct Folder {
    test::TempDir temp;
    fs::path reports = temp.path() / L"reports";
    Folder() { fs::create_directories(reports); }
    void store(const std::wstring& name, const json& report) const {
        test::write_file(reports / name, report.dump());
    }
};

const json current = route_run("20:00:00", 3);

// The earlier run the table is checked against: a slower first hop that lost attempt 5, and no
// answers recorded at hop 4.
json chosen_earlier() {
    json report = route_run("18:30:00", 4);
    for (json& sample : report["mtr_samples"]) {
        if (sample["ttl"] != 1) continue;
        const int attempt = sample["attempt"];
        sample["rtt_ms"] = attempt * 2;
        if (attempt == 5) sample.update({{"status", "timeout"}, {"responder", nullptr}, {"rtt_ms", nullptr}});
    }
    return report;
}

TEST(RouteComparison, ChoosesTheLatestEarlierMatch) {
    Folder folder;
    json other_attempts = route_run("19:00:00");
    other_attempts["measurement"]["attempts"] = 10;
    json gaming = route_run("19:30:00");
    gaming["measurement"]["purpose"] = "gaming";
    json no_samples = route_run("19:45:00");
    no_samples.erase("mtr_samples");
    folder.store(L"a.json", other_attempts);
    folder.store(L"b.json", route_run("21:00:00"));  // later than the current run
    folder.store(L"c.json", route_run("17:00:00"));
    folder.store(L"d.json", chosen_earlier());
    folder.store(L"e.json", route_run("18:00:00"));
    folder.store(L"f.json", gaming);
    test::write_file(folder.reports / L"g.json", "{\"measurement\": {\"purpose\": \"mtr\"");
    folder.store(L"h.json", no_samples);
    folder.store(L"i.JSON", route_run("19:55:00"));
    folder.store(L"j.json.bak", route_run("19:56:00"));
    fs::create_directories(folder.reports / L"sub");
    folder.store(L"sub/k.json", route_run("19:50:00"));
    fs::create_directories(folder.reports / L"folder.json");

    const std::optional<json> earlier = find_earlier_mtr_run(folder.reports, current);
    ASSERT_TRUE(earlier.has_value());
    EXPECT_EQ((*earlier)["started_at"], "2026-12-10T18:30:00.000Z");

    const TableModel table = route_comparison_table(*earlier, current);
    EXPECT_EQ(table.title, L"Porównanie z pomiarem · 2026-12-10T18:30:00.000Z UTC");
    EXPECT_EQ(table.kind, 0);
    const std::vector<TableColumn> columns = {
        {L"Skok", 55},         {L"Router wcześniej", 148},  {L"Router obecnie", 148},
        {L"P95 wcześniej", 100}, {L"P95 obecnie", 96},      {L"Brak wcześniej (%)", 125},
        {L"Brak obecnie (%)", 120}};
    EXPECT_EQ(table.columns, columns);
    const std::wstring detail =
        L"P95 w milisekundach. Adresy wskazują routery, które odpowiedziały w każdej sesji. Brak "
        L"odczytu oznaczono kreską.";
    const std::vector<std::vector<std::wstring>> cells = {
        {L"1", L"10.200.0.2", L"10.200.0.2", L"8", L"<1", L"20", L"0"},
        {L"2", L"—", L"—", L"—", L"—", L"100", L"100"},
        {L"3", L"10.200.2.2", L"—", L"<1", L"—", L"0", L"—"},
        {L"4", L"—", L"10.200.3.2", L"—", L"<1", L"—", L"0"}};
    ASSERT_EQ(table.rows.size(), cells.size());
    for (std::size_t i = 0; i < cells.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table.rows[i], (TableRow{cells[i], detail, {}, L"", {}}));
    }
}

TEST(RouteComparison, NothingToCompare) {
    Folder folder;
    json other_attempts = route_run("19:00:00");
    other_attempts["measurement"]["attempts"] = 6;
    folder.store(L"a.json", other_attempts);
    folder.store(L"b.json", route_run("21:00:00"));
    EXPECT_FALSE(find_earlier_mtr_run(folder.reports, current).has_value());
    EXPECT_FALSE(find_earlier_mtr_run(folder.temp.path() / L"missing", current).has_value());
}

// A stored run without route samples used to end the command with out_of_range; it is passed
// over and the earlier usable run is compared instead.
TEST(RouteComparison, MatchWithoutSamplesIsPassedOver) {
    Folder folder;
    json no_samples = route_run("19:00:00");
    no_samples.erase("mtr_samples");
    folder.store(L"a.json", no_samples);
    folder.store(L"b.json", route_run("18:00:00"));
    const std::optional<json> earlier = find_earlier_mtr_run(folder.reports, current);
    ASSERT_TRUE(earlier.has_value());
    EXPECT_EQ((*earlier)["started_at"], "2026-12-10T18:00:00.000Z");
    folder.store(L"b.json", json::object());
    EXPECT_FALSE(find_earlier_mtr_run(folder.reports, current).has_value());
}

TEST(RouteComparison, SettingsMustAgree) {
    for (const char* name : {"targets", "protocol", "max_ttl", "timeout_ms", "interval_ms"}) {
        SCOPED_TRACE(name);
        Folder folder;
        json other = route_run("19:00:00");
        other["measurement"][name] = 1;
        folder.store(L"a.json", other);
        EXPECT_FALSE(find_earlier_mtr_run(folder.reports, current).has_value());
        // Missing on both sides counts as equal.
        other["measurement"].erase(name);
        folder.store(L"a.json", other);
        json bare = current;
        bare["measurement"].erase(name);
        EXPECT_TRUE(find_earlier_mtr_run(folder.reports, bare).has_value());
    }
}

TEST(RouteComparison, MergeKeepsTheLaterSeries) {
    json report = {{"mtr_samples",
                    json::array({test::probe("a", 1, 1, "ttl_expired", "10.0.0.1", 1),
                                 test::probe("b", 1, 1, "ttl_expired", "10.0.0.9", 1)})}};
    HopPairs pairs;
    merge_mtr_rows_by_hop(pairs, report, 1);
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_FALSE(pairs[1][0].has_value());
    EXPECT_EQ((*pairs[1][1])[1], L"10.0.0.9");
    EXPECT_THROW(merge_mtr_rows_by_hop(pairs, json::object(), 0), json::out_of_range);
}

}  // namespace
}  // namespace tarvisko
