#include "results/view_status.h"

#include <gtest/gtest.h>

#include <array>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "results/fixtures.h"
#include "results/hop_table.h"
#include "results/icmp_table.h"

namespace tarvisko {
namespace {

using nlohmann::json;
using test::probe;

const std::string T = "198.51.100.7";

json echo_samples(int count) {
    json samples = json::array();
    for (int attempt = 1; attempt <= count; ++attempt) {
        samples.push_back(probe(T, 64, attempt, "echo_reply", T, 20 + attempt));
    }
    return samples;
}

json game_report(const json& measurement_extra, const json& samples = echo_samples(5)) {
    json measurement = {{"purpose", "gaming"},      {"technique", "echo"},
                        {"target_name", "eu.game"}, {"profile_name", "Gra"},
                        {"region", "Europa"},       {"target_kind", "game_server"}};
    if (measurement_extra.is_object()) measurement.update(measurement_extra);
    return {{"session_id", "G1"},
            {"state", "completed"},
            {"measurement", measurement},
            {"mtr_samples", samples}};
}

TEST(ViewStatus, RouteRunWithItsOwnNames) {
    const json report = test::load_result_fixture("trace-silent-router");
    const SessionResponderNames own{report["session_id"], {{"10.200.0.2", {L"r1.test", L""}}}};
    const TableModel named = measurement_view_status(7, report, own);
    EXPECT_EQ(named.title, L"Cel pomiaru · 10.200.3.2 · Dobrze · Zakończono");
    EXPECT_EQ(named.kind, 1);
    ASSERT_EQ(named.rows.size(), 4u);
    EXPECT_EQ(named.rows[0].cells[2], L"r1.test");

    // Names resolved for another run are not shown, nor are names without a session.
    for (const std::string& session : {std::string("OTHER"), std::string()}) {
        SessionResponderNames other = own;
        other.session_id = session;
        const TableModel unnamed = measurement_view_status(7, report, other);
        ASSERT_EQ(unnamed.rows.size(), 4u);
        EXPECT_EQ(unnamed.rows[0].cells[2], L"—");
        EXPECT_EQ(unnamed.rows, build_mtr_hop_table(report["mtr_samples"], {}).rows);
    }
    json anonymous = report;
    anonymous.erase("session_id");
    EXPECT_EQ(measurement_view_status(7, anonymous, SessionResponderNames{"", own.names})
                  .rows[0]
                  .cells[2],
              L"—");
}

TEST(ViewStatus, FullTestOnTheRoutePage) {
    const json report = test::load_result_fixture("diagnostics-report");
    const TableModel model = measurement_view_status(7, report, {});
    // The full test has no "measurement": its hop table, its state, no target name.
    EXPECT_EQ(model.title, L"Cel pomiaru · 10.200.1.2 · Zakończono");
    EXPECT_EQ(model.rows, build_mtr_hop_table(report["mtr_samples"], {}).rows);
    EXPECT_EQ(model.columns.size(), 18u);
}

TEST(ViewStatus, EchoRunOnTheMonitoringPage) {
    const json report = test::load_result_fixture("echo-run");
    const TableModel model = measurement_view_status(8, report, {});
    EXPECT_EQ(model.title, L"10.200.3.2 · Zakończono");
    EXPECT_EQ(model.rows, build_icmp_latency_table(report["mtr_samples"]).rows);
    EXPECT_EQ(model.kind, 0);
}

TEST(ViewStatus, TitlesAndGameRows) {
    json cancelled_monitor = {{"state", "cancelled"},
                              {"measurement", {{"purpose", "monitor"}, {"target_name", "host.pl"}}},
                              {"mtr_samples", echo_samples(3)}};
    json unknown_state = cancelled_monitor;
    unknown_state["state"] = "running";
    json no_rows = cancelled_monitor;
    no_rows["mtr_samples"] = json::array();
    json no_target = cancelled_monitor;
    no_target["measurement"] = "odd";
    json null_state = cancelled_monitor;
    null_state["state"] = nullptr;
    json no_state = cancelled_monitor;
    no_state.erase("state");

    const struct {
        const char* name;
        int view;
        json report;
        std::wstring title;
        std::size_t rows;
    } cases[] = {
        {"empty game page", 6, json(), L"Wybierz grę i cel pomiaru lub wpisz własny adres.", 0},
        {"empty route page", 7, json(), L"Podaj cel i uruchom pomiar trasy.", 0},
        {"empty monitoring page", 8, json(), L"Podaj cel i wybierz czas obserwacji.", 0},
        {"empty other view", 5, json::array(), L"Wybierz grę i cel pomiaru lub wpisz własny adres.",
         0},
        {"cancelled monitoring", 8, cancelled_monitor, L"host.pl · Zatrzymano", 9},
        {"unknown state", 8, unknown_state, L"host.pl · Pomiar częściowy", 9},
        {"null state", 8, null_state, L"host.pl · Pomiar częściowy", 9},
        {"state without rows", 8, no_rows, L"host.pl · Zatrzymano", 0},
        {"state without a target name", 8, no_target, L"Zatrzymano", 9},
        {"rows without a state", 8, no_state, L"Opóźnienia do wybranego celu ICMP", 9},
        {"route page, state without rows", 7, no_rows, L"host.pl · Zatrzymano", 0},
        {"route page, no state, no rows", 7, json{{"mtr_samples", json::array()}},
         L"Podaj cel i uruchom pomiar trasy.", 0},
        {"game page, route technique", 6, game_report({{"technique", "trace"}}),
         L"Cel pomiaru · 198.51.100.7 · Dobrze · Zakończono", 1},
        {"game page with profile and region", 6, game_report({}), L"eu.game · Zakończono", 11},
        {"game page without profile", 6, game_report({{"profile_name", ""}}),
         L"eu.game · Zakończono", 10},
        {"game page without region", 6, game_report({{"region", nullptr}}), L"eu.game · Zakończono",
         10},
        {"game page without rows", 6, game_report({}, json::array()), L"eu.game · Zakończono", 0},
        {"game report on the monitoring page", 8, game_report({}), L"eu.game · Zakończono", 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TableModel model = measurement_view_status(c.view, c.report, {});
        EXPECT_EQ(model.title, c.title);
        EXPECT_EQ(model.rows.size(), c.rows);
    }

    const TableModel game = measurement_view_status(6, game_report({}), {});
    ASSERT_EQ(game.rows.size(), 11u);
    EXPECT_EQ(game.rows[9].cells, (std::vector<std::wstring>{L"Profil gry", L"Gra", L""}));
    EXPECT_EQ(game.rows[9].detail, L"Profil wybrany przed pomiarem.");
    EXPECT_TRUE(game.rows[9].status.empty());
    EXPECT_TRUE(game.rows[9].chart.empty());
    EXPECT_EQ(game.rows[10].cells, (std::vector<std::wstring>{L"Region lub cel", L"Europa", L""}));
    EXPECT_EQ(game.rows[10].detail,
              L"Adres, pod którym można dołączyć do gry. Test mierzy czas odpowiedzi ICMP.");
    const TableModel unknown_kind =
        measurement_view_status(6, game_report({{"target_kind", "mystery"}}), {});
    EXPECT_EQ(unknown_kind.rows.back().detail,
              L"Regionalny adres diagnostyczny wskazany przez wydawcę.");
}

TEST(ViewStatus, ResultSlotOfEachView) {
    const json full_test = {{"state", "completed"}};
    std::array<json, 3> slots = {json{{"id", 6}}, json(), json{{"id", 8}}};
    EXPECT_EQ(&view_result_slot(6, slots, full_test), &slots[0]);
    EXPECT_EQ(&view_result_slot(7, slots, full_test), &full_test);
    EXPECT_EQ(&view_result_slot(8, slots, full_test), &slots[2]);
    slots[1] = json::array({1});  // no object yet: still the full test's route
    EXPECT_EQ(&view_result_slot(7, slots, full_test), &full_test);
    slots[1] = {{"id", 7}};
    EXPECT_EQ(&view_result_slot(7, slots, full_test), &slots[1]);
    slots[0] = nullptr;  // only the route view falls back
    EXPECT_EQ(&view_result_slot(6, slots, full_test), &slots[0]);
    EXPECT_TRUE(view_result_slot(9, slots, full_test).is_null());
}

TEST(ViewStatus, ReadersOfTheReport) {
    EXPECT_EQ(report_session_id(json{{"session_id", "abc"}}), "abc");
    EXPECT_EQ(report_session_id(json{{"session_id", 5}}), "");
    EXPECT_EQ(report_session_id(json::array({"session_id"})), "");
    EXPECT_TRUE(is_route_report(7, json()));
    EXPECT_TRUE(is_route_report(6, json{{"measurement", {{"technique", "trace"}}}}));
    EXPECT_FALSE(is_route_report(8, json{{"measurement", {{"technique", "echo"}}}}));
    EXPECT_FALSE(is_route_report(8, json{{"measurement", {{"technique", "Trace"}}}}));
    EXPECT_FALSE(is_route_report(6, json{{"technique", "trace"}}));
}

TEST(ViewStatus, TargetKinds) {
    const struct {
        const char* kind;
        const wchar_t* text;
    } cases[] = {
        {"game_server",
         L"Adres, pod którym można dołączyć do gry. Test mierzy czas odpowiedzi ICMP."},
        {"steam_relay", L"Przekaźnik Steam. Pomiar obejmuje drogę do przekaźnika."},
        {"session_server",
         L"Serwer meczu, z którym League of Legends połączyło się na tym komputerze w ostatnich "
         L"24 godzinach."},
        {"session_relay",
         L"Przekaźnik użyty przez Roblox na tym komputerze w ostatnich 24 godzinach."},
        {"game_service", L"Usługa wskazana w profilu. Ping podczas rozgrywki może być inny."},
        {"network_probe", L"Punkt pomiarowy w sieci dostawcy. Wynik dotyczy drogi do tego punktu."},
        {"Game_Server", L"Regionalny adres diagnostyczny wskazany przez wydawcę."},
        {"", L"Regionalny adres diagnostyczny wskazany przez wydawcę."},
        {"official_diagnostic", L"Regionalny adres diagnostyczny wskazany przez wydawcę."},
    };
    for (const auto& c : cases) EXPECT_EQ(target_kind_description(c.kind), c.text) << c.kind;
}

// What a damaged or foreign report file may hold in place of probe samples.
TEST(BadInput, NoBuilderThrows) {
    const std::string broken = "10.0.0.\xff";
    const json samples = json::array({
        5,
        "echo_reply",
        nullptr,
        json::array({1, 2}),
        json{{"target", broken},
             {"ttl", 2},
             {"attempt", 1},
             {"status", "echo_reply"},
             {"responder", broken},
             {"rtt_ms", "12"}},
        json{{"target", broken},
             {"ttl", 2},
             {"attempt", 2},
             {"status", "echo_reply"},
             {"responder", broken},
             {"rtt_ms", 7}},
        json{{"target", T},
             {"ttl", 1.5},
             {"attempt", 1},
             {"status", "ttl_expired"},
             {"responder", "10.0.0.1"},
             {"rtt_ms", 3}},
        json{{"target", json::array()},
             {"ttl", 3},
             {"attempt", 3},
             {"status", 5},
             {"responder", json::array({1})},
             {"rtt_ms", json::object()},
             {"family", "4"}},
        json{{"attempt", true}, {"ttl", -1}, {"phase", 9}},
    });
    TableModel icmp;
    ASSERT_NO_THROW(icmp = build_icmp_latency_table(samples));
    ASSERT_EQ(icmp.rows.size(), 9u);
    EXPECT_EQ(icmp.rows[8].cells[1], L"10.0.0.\xFFFD");
    EXPECT_EQ(icmp.rows[7].cells[1], L"1 z 5");

    TableModel hops;
    ASSERT_NO_THROW(hops = build_mtr_hop_table(samples, {}));
    ASSERT_EQ(hops.rows.size(), 2u);  // the text attempt and the floating TTL are left out
    EXPECT_EQ(hops.rows[1].cells[0], L"2");
    EXPECT_EQ(hops.rows[1].cells[1], L"10.0.0.\xFFFD");
    EXPECT_EQ(hops.rows[1].cells[7], L"1");  // the text time is no time
    EXPECT_EQ(hops.rows[1].cells[15], L"1");

    for (const int view : {6, 7, 8}) {
        for (const json& report :
             {json{{"state", 5}, {"mtr_samples", samples}, {"measurement", samples}},
              json{{"state", "completed"},
                   {"mtr_samples", "x"},
                   {"session_id", json::array()},
                   {"measurement", {{"technique", 5}, {"target_name", broken}, {"region", 7}}}},
              json(samples)}) {
            EXPECT_NO_THROW(measurement_view_status(view, report, {}))
                << view << report.type_name();
        }
    }
    const json named = {{"state", "completed"}, {"measurement", {{"target_name", broken}}}};
    EXPECT_EQ(measurement_view_status(8, named, {}).title, L"10.0.0.\xFFFD · Zakończono");
}

TEST(SelectedRowText, ColumnsCellsAndDetail) {
    TableModel model;
    model.columns = {{L"Pomiar", 220}, {L"Wynik", 150}, {L"Ocena", 130}};
    model.rows.push_back({{L"Ping", L"12 ms", L"Dobrze"}, L"Mediana.", {}, L"", {}});
    model.rows.push_back({{L"A", L"B", L"C", L"D"}, L"", {}, L"", {}});
    model.rows.push_back({{L"A"}, L"x", {}, L"", {}});
    EXPECT_EQ(selected_row_text(model, 0),
              L"Pomiar\tPing\r\nWynik\t12 ms\r\nOcena\tDobrze\r\n\r\nMediana.");
    EXPECT_EQ(selected_row_text(model, 1), L"Pomiar\tA\r\nWynik\tB\r\nOcena\tC\r\n");
    EXPECT_EQ(selected_row_text(model, 2), L"Pomiar\tA\r\n\r\nx");
    EXPECT_EQ(selected_row_text(model, -1), L"");
    EXPECT_EQ(selected_row_text(model, 3), L"");
    EXPECT_EQ(selected_row_text(TableModel{}, 0), L"");
}

}  // namespace
}  // namespace tarvisko
