#include "results/target_report_text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "results/fixtures.h"
#include "results/view_status.h"

namespace tarvisko {
namespace {

using nlohmann::json;

const std::wstring route_header =
    L"MTR · 10.200.3.2\r\n"
    L"Cel pomiaru · 10.200.3.2 · Dobrze · Zakończono\r\n"
    L"Zapis lokalny\r\n"
    L"Adres IP użyty w teście · 10.200.3.2\r\n"
    L"Rozpoczęcie UTC · 2026-12-10T18:13:37.491Z\r\n"
    L"Zakończenie UTC · 2026-12-10T18:13:40.515Z\r\n\r\n";

TEST(TargetReportText, RouteRunSimple) {
    const json report = test::load_result_fixture("trace-silent-router");
    const TableModel status = measurement_view_status(7, report, {});
    ASSERT_EQ(status.rows.size(), 4u);
    // One block per hop: its number, three blanks, the responder, then its explanation.
    std::wstring blocks;
    const wchar_t* const hops[][2] = {{L"1", L"10.200.0.2"},
                                      {L"2", L"—"},
                                      {L"3", L"10.200.2.2"},
                                      {L"4", L"10.200.3.2"}};
    for (std::size_t i = 0; i < 4; ++i) {
        blocks += std::wstring(hops[i][0]) + L"   " + hops[i][1] + L"\r\n" +
                  status.rows[i].detail + L"\r\n\r\n";
    }
    EXPECT_EQ(target_report_text(report, status, false), route_header + blocks);
}

TEST(TargetReportText, RouteRunTechnical) {
    json report = test::load_result_fixture("trace-silent-router");
    report["measurement"]["profile_name"] = "Trasa łącza";
    const TableModel status = measurement_view_status(7, report, {});
    const std::wstring text = target_report_text(report, status, true);
    std::wstring header = route_header;
    header.replace(0, 3, L"Trasa łącza");
    ASSERT_EQ(text.rfind(header, 0), 0u) << text.substr(0, 200);
    const std::wstring dump = text.substr(header.size());
    // The library's own indentation and LF line ends; Polish letters as they are.
    EXPECT_EQ(dump.rfind(L"{\n  \"device\": {\n    \"id\": \"d2bc6b7a-01be-8c5d-b5db-33c987fb8d5a\",\n",
                         0),
              0u);
    EXPECT_NE(dump.find(L"\n    \"profile_name\": \"Trasa łącza\",\n"), std::wstring::npos);
    EXPECT_EQ(dump.find(L'\r'), std::wstring::npos);
    EXPECT_EQ(dump.substr(dump.size() - 23), L"  \"version\": \"1.1.18\"\n}");
}

json game_report() {
    json samples = json::array();
    for (int attempt = 1; attempt <= 5; ++attempt) {
        samples.push_back(test::probe("198.51.100.7", 64, attempt, "echo_reply", "198.51.100.7",
                                      20 + attempt));
    }
    return {{"session_id", "G1"},
            {"state", "cancelled"},
            {"synchronized", true},
            {"started_at", "2026-12-10T08:00:00.000Z"},
            {"measurement",
             {{"purpose", "gaming"},
              {"technique", "echo"},
              {"target_name", "eu.game"},
              {"profile_name", "Gra"},
              {"region", "Europa"},
              {"target_kind", "steam_relay"},
              {"targets", json::array({"198.51.100.7", 5, nullptr})}}},
            {"mtr_samples", samples}};
}

TEST(TargetReportText, GameTargetSimple) {
    const json report = game_report();
    const TableModel status = measurement_view_status(6, report, {});
    const std::wstring text = target_report_text(report, status, false);
    EXPECT_EQ(text.rfind(L"Gra · eu.game\r\neu.game · Zatrzymano\r\nZapisano w panelu\r\n"
                         L"Adres IP użyty w teście · 198.51.100.7\r\n"
                         L"Rozpoczęcie UTC · 2026-12-10T08:00:00.000Z\r\nZakończenie UTC · \r\n\r\n",
                         0),
              0u)
        << text;
    const std::wstring ending =
        L"Profil gry   Gra\r\nProfil wybrany przed pomiarem.\r\n\r\n"
        L"Region lub cel   Europa\r\nPrzekaźnik Steam. Pomiar obejmuje drogę do przekaźnika."
        L"\r\n\r\n";
    ASSERT_GE(text.size(), ending.size());
    EXPECT_EQ(text.substr(text.size() - ending.size()), ending);
}

TEST(TargetReportText, RowsWithoutTwoCellsKeepTheirDetail) {
    TableModel status;
    status.title = L"Tytuł";
    status.rows = {{{L"tylko"}, L"Opis", {}, L"", {}}, {{L"a", L"b"}, L"", {}, L"", {}}};
    const json report = {{"measurement", json::object()}};
    EXPECT_EQ(target_report_text(report, status, false),
              L" · \r\nTytuł\r\nZapis lokalny\r\nRozpoczęcie UTC · \r\nZakończenie UTC · "
              L"\r\n\r\nOpis\r\n\r\na   b\r\n\r\n\r\n");
}

TEST(TargetReportText, MalformedReportsFail) {
    const TableModel status;
    json no_measurement = game_report();
    no_measurement.erase("measurement");
    EXPECT_THROW(target_report_text(no_measurement, status, false), json::out_of_range);
    json cases[4] = {game_report(), game_report(), game_report(), game_report()};
    cases[0]["measurement"] = "trace";
    cases[1]["measurement"]["profile_name"] = 3;
    cases[2]["synchronized"] = "yes";
    cases[3]["ended_at"] = nullptr;
    for (const json& report : cases) {
        EXPECT_THROW(target_report_text(report, status, false), json::type_error);
    }
    // Invalid UTF-8 fails the JSON dump only.
    json broken = game_report();
    broken["error"] = "\xC3\x28";
    EXPECT_NO_THROW(target_report_text(broken, status, false));
    EXPECT_THROW(target_report_text(broken, status, true), json::type_error);
}

}  // namespace
}  // namespace tarvisko
