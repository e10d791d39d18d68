// Reports whose members have the wrong kind: the dashboard and the details pages keep their
// defaults where the data is unusable, and nothing throws.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/text.h"
#include "results/dashboard.h"
#include "results/dashboard_reports.h"
#include "results/estimate_card.h"
#include "results/fixtures.h"
#include "results/hop_table.h"
#include "results/icmp_table.h"
#include "results/report_details.h"
#include "results/session_summary.h"
#include "results/technical_report.h"

namespace tarvisko {
namespace {

using nlohmann::json;

// Strings for numbers, numbers for strings, objects for lists, lists for objects and for the rest.
json wrong_kind(const json& value) {
    if (value.is_number()) return "7";
    if (value.is_string()) return 7;
    if (value.is_array()) return json{{"x", 1}};
    if (value.is_object()) return json::array({1, 2});
    return json::array();
}

json with_every_member_wrong(const json& object) {
    json result = object;
    for (auto& [key, value] : result.items()) value = wrong_kind(object[key]);
    return result;
}

void collect_pointers(const json& value, const json::json_pointer& at,
                      std::vector<json::json_pointer>& out) {
    if (!value.is_structured()) return;
    for (const auto& [key, member] : value.items()) {
        const json::json_pointer path =
            at / (value.is_array() ? std::to_string(std::stoul(key)) : key);
        out.push_back(path);
        collect_pointers(member, path, out);
    }
}

void build_everything(const json& report) {
    const SummaryModel model = build_results_view(report);
    (void)build_estimate_card(model);
    for (int page = 1; page <= 5; ++page) (void)build_report_details_table(page, report, model);
}

TEST(DashboardBadInput, EveryMemberOfTheWrongKind) {
    json report = with_every_member_wrong(test::hand_report());
    report["throughput"] = with_every_member_wrong(test::hand_report()["throughput"]);
    report["inventory"] = with_every_member_wrong(test::hand_report()["inventory"]);

    SummaryModel expected = build_results_view(nullptr);
    expected.has_report = true;
    expected.partial = true;  // an "error" that is not null
    expected.test_time_text = L"";
    expected.sync_text = L"Zapisano lokalnie";
    expected.sections[section_ipv6] = {
        L"IPv6", L"Brak adresu", L"Brak dostępnego adresu IPv6 w zapisanych danych pomiaru.", 0};
    expected.headline = L"Test częściowy. Zachowano wykonane pomiary.";
    expected.advice = L"Otwórz raport, aby sprawdzić przyczynę i ukończone próby.";
    expected.explanation = L"Zatrzymano pomiar ping. Ukończone transfery są dostępne w raporcie.";
    expected.overall_status = 2;
    expected.idle_quality = IdleQualityCard{
        {TextCard{L"Ping do serwera", L"—", L"", 0}, TextCard{L"Wahania pingu", L"—", L"", 0},
         TextCard{L"Bez odpowiedzi na ping", L"—", L"", 0}},
        L"",
        L"Część odczytów ma za mało próbek. Szczegóły pomiaru są w tabeli poniżej."};
    const SummaryModel model = build_results_view(report);
    EXPECT_EQ(model, expected);
    EXPECT_EQ(build_estimate_card(model), std::nullopt);

    // Beside the cards of that model, the details read the raw members as absent.
    for (int page = 1; page <= 5; ++page) {
        EXPECT_EQ(build_report_details_table(page, report, model),
                  build_report_details_table(page, nullptr, model))
            << "page " << page;
    }
}

TEST(DashboardBadInput, EachMemberOfTheWrongKindInTurn) {
    for (const json& original :
         {test::hand_report(), test::load_result_fixture("diagnostics-report")}) {
        std::vector<json::json_pointer> pointers;
        collect_pointers(original, json::json_pointer(), pointers);
        for (const json::json_pointer& pointer : pointers) {
            json report = original;
            report[pointer] = wrong_kind(original[pointer]);
            EXPECT_NO_THROW(build_everything(report)) << pointer.to_string();
            report[pointer] = nullptr;
            EXPECT_NO_THROW(build_everything(report)) << pointer.to_string();
        }
    }
}

// Every text the views make of one report, joined.
std::wstring every_text(const json& report) {
    const SummaryModel model = build_results_view(report);
    std::wstring text;
    for (const TextCard& card : model.tiles) text += card.subtitle + L"\n" + card.body + L"\n";
    for (const TextCard& card : model.sections) text += card.subtitle + L"\n" + card.body + L"\n";
    for (const TextCard& card : model.idle_quality.value().tiles) text += card.subtitle + L"\n";
    text += model.idle_quality->profile_line + L"\n";
    for (int page = 1; page <= 5; ++page) {
        for (const TableRow& row : build_report_details_table(page, report, model).rows) {
            for (const std::wstring& cell : row.cells) text += cell + L"\n";
            text += row.detail + L"\n";
        }
    }
    for (const TableRow& row : build_mtr_hop_table(report["mtr_samples"], {}).rows) {
        for (const std::wstring& cell : row.cells) text += cell + L"\n";
        text += row.detail + L"\n";
    }
    text += to_wide(render_session_summary(report)) + L"\n";
    text += throughput_report_text(report);
    return text;
}

// Stored numbers that no measurement can give: they are shown as missing, never printed as they
// stand, and the sound readings beside them still count.
TEST(DashboardBadInput, NumbersNoMeasurementCanGive) {
    json report = test::load_result_fixture("diagnostics-report");
    json& throughput = report["throughput"];
    json& node = throughput["host_pings"]["node"]["samples"];
    node[0]["rtt_ms"] = 1e308;
    node[1]["rtt_ms"] = -0.2;
    node[2]["rtt_ms"] = 7;
    throughput["phases"]["baseline"][0]["ms"] = 1e308;
    throughput["phases"]["recovery"][0]["ms"] = -0.2;
    for (json& sample : report["mtr_samples"]) {
        if (sample["ttl"] == 1) sample["rtt_ms"] = 1e308;
        if (sample["ttl"] == 2) sample["rtt_ms"] = -0.2;
    }
    for (json& adapter : report["inventory"]["interfaces"]["value"]) adapter["mtu"] = 1.2e29;
    report["inventory"]["system"]["memory"]["value"]["total_bytes"] = -1;
    throughput["transfers"]["download"]["duration_ms"] = -86.9921;

    const std::wstring text = every_text(report);
    for (const std::wstring_view bad :
         {L"inf ", L"nan ", L"e+", L"-0,2", L"-0.2", L"1200000", L"-86", L"-87"}) {
        EXPECT_EQ(text.find(bad), std::wstring::npos) << to_utf8(std::wstring(bad));
    }
    const SummaryModel model = build_results_view(report);
    // The replies of 0, 7, 0 ms that are left: a mean of 2,3 and pairs only between neighbours.
    EXPECT_EQ(model.tiles[tile_ping].subtitle, L"2,3");
    EXPECT_FALSE(model.download_mbps.has_value());
    EXPECT_NE(text.find(L"MTU · Brak odczytu"), std::wstring::npos);
    EXPECT_NE(text.find(L"Pamięć RAM\nBrak odczytu"), std::wstring::npos);

    // The ICMP table of a target run: the two impossible replies count as none.
    json echo = test::load_result_fixture("echo-run");
    int changed = 0;
    for (json& sample : echo["mtr_samples"]) {
        if (sample["status"] == "echo_reply" && changed < 2) {
            sample["rtt_ms"] = changed++ == 0 ? 1e308 : -0.2;
        }
    }
    ASSERT_EQ(changed, 2);
    std::wstring cells;
    for (const TableRow& row : build_icmp_latency_table(echo["mtr_samples"]).rows) {
        for (const std::wstring& cell : row.cells) cells += cell + L"\n";
    }
    for (const std::wstring_view bad : {L"inf ", L"e+", L"-0,2", L"1e308"}) {
        EXPECT_EQ(cells.find(bad), std::wstring::npos) << to_utf8(std::wstring(bad));
    }
    EXPECT_NE(cells.find(L"Odpowiedzi celu\n1 z 3"), std::wstring::npos) << to_utf8(cells);
}

}  // namespace
}  // namespace tarvisko
