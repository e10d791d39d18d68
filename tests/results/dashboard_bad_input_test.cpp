// Reports whose members have the wrong kind: the dashboard and the details pages keep their
// defaults where the data is unusable, and nothing throws.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "results/dashboard.h"
#include "results/dashboard_reports.h"
#include "results/estimate_card.h"
#include "results/fixtures.h"
#include "results/report_details.h"

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

}  // namespace
}  // namespace tarvisko
