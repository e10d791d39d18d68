// A full test for real across a shaped link, with transfers of a few seconds: the sample figures
// that page 1 shows beside each direction's average must agree with it. Run by
// tools/netns/with-node; tools/capture-result-fixtures keeps its report as the fixture of the
// result views.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>

#include "engine/common/system.h"
#include "engine/common/text.h"
#include "engine/runs/desktop_test.h"
#include "engine/throughput/live_progress.h"
#include "results/dashboard.h"
#include "results/report_details.h"
#include "support/simulator_client.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

TEST(PageFiguresInNamespaces, SamplesAgreeWithTheAverage) {
    test::simulator_reset_when_ready(20);
    ASSERT_FALSE(read_environment_variable(L"TARVISKO_NETNS_TARGET").empty())
        << "run through tools/netns/with-node";
    // 8 MiB each way over the shaped 20 Mbit/s link: about three seconds per direction.
    test::simulator_control("POST", "node/config",
                            {{"profile",
                              {{"mode", "whole"},
                               {"bytes", 8 * 1048576},
                               {"rate_bps", 100'000'000},
                               {"deadline_s", 60}}}});
    test::TempDir directory;
    test::ScopedEnv queue_dir{L"QUORVEL_QUEUE_DIR", directory.path().wstring()};
    test::ScopedEnv node_origin{L"QUORVEL_NODE_ORIGIN", to_wide(test::simulator_origin())};
    test::ScopedEnv api_origin{L"QUORVEL_API_ORIGIN", to_wide(test::simulator_origin())};
    test::ScopedEnv token{L"QUORVEL_TOKEN", std::wstring(40, L't')};
    test::ScopedEnv node_token{L"QUORVEL_NODE_TOKEN", std::wstring(40, L'n')};
    // The portal reservation with the capacity profile turns the desktop trace on.
    test::ScopedEnv portal{L"QUORVEL_PORTAL_RESERVATION", std::wstring(L"1")};
    LiveTraffic live;
    live.capacity = true;
    std::atomic<bool> cancel{false};
    const nlohmann::json report = run_desktop_test(cancel, [](const std::string&) {}, live);
    test::save_fixture("diagnostics-report", report);

    const nlohmann::json& throughput = report["throughput"];
    ASSERT_TRUE(throughput["error"].is_null()) << throughput["error"];
    const SummaryModel summary = build_results_view(report);
    const TableModel page = build_report_details_table(1, report, summary);
    ASSERT_GE(page.rows.size(), 2u);
    const struct {
        const char* name;
        const std::optional<double>& average;
        const std::vector<SeriesPoint>& series;
        const TableRow& row;
    } directions[] = {{"download", summary.download_mbps, summary.download_series, page.rows[0]},
                      {"upload", summary.upload_mbps, summary.upload_series, page.rows[1]}};
    for (const auto& direction : directions) {
        SCOPED_TRACE(direction.name);
        EXPECT_EQ(throughput["transfers"][direction.name]["status"], "ok");
        ASSERT_TRUE(direction.average.has_value());
        const std::optional<TransferSampleStats> stats = transfer_sample_stats(direction.series);
        ASSERT_TRUE(stats.has_value()) << direction.series.size() << " points";
        EXPECT_GE(stats->intervals, 5u);
        EXPECT_LE(stats->minimum, *direction.average);
        EXPECT_GE(stats->maximum, *direction.average);
        EXPECT_NE(direction.row.detail.find(L" Próbki chwilowe (Mb/s) · min "), std::wstring::npos);
    }
}

}  // namespace
}  // namespace tarvisko
