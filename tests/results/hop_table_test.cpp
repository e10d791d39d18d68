#include "results/hop_table.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "results/fixtures.h"

namespace tarvisko {
namespace {

using nlohmann::json;
using test::ExpectedRow;
using test::probe;

const std::string T = "198.51.100.7";
const std::wstring rating_help = L" Ping: " + test::ping_help + L" Jitter: " + test::jitter_help +
                                 L" Brak odpowiedzi: " + test::loss_help;
const std::wstring intermediate =
    L" Router pośredni może ograniczać odpowiedzi. Porównaj z wynikiem celu.";
const std::wstring no_target_sentence =
    L"Brak potwierdzenia odpowiedzi celu. Host może filtrować próby lub być poza zasięgiem "
    L"pomiaru.";
const std::wstring moving_target_sentence =
    L"Cel odpowiadał na różnych skokach. Trasa zmieniała się między próbami.";
const std::wstring rounds_sentence =
    L"Cel odpowiedział. Do oceny jakości potrzeba porównywalnych rund.";
const std::wstring degradation_sentence =
    L"Pogorszenie widoczne przy celu. Możliwa przyczyna to host docelowy, końcowy odcinek lub "
    L"droga powrotna.";

// One sample per entry of `rtts` at this TTL, attempts 1, 2, ... unless given; a null time is a
// timeout without a responder.
void add_hop(json& samples, long long ttl, const std::string& status, const json& responder,
             const std::vector<json>& rtts, std::vector<long long> attempts = {},
             const std::string& phase = "baseline") {
    for (std::size_t i = 0; i < rtts.size(); ++i) {
        const long long attempt = attempts.empty() ? static_cast<long long>(i) + 1 : attempts[i];
        if (rtts[i].is_null()) {
            samples.push_back(probe(T, ttl, attempt, "timeout", nullptr, nullptr, phase));
        } else {
            samples.push_back(probe(T, ttl, attempt, status, responder, rtts[i], phase));
        }
    }
}

std::vector<std::wstring> cells(std::initializer_list<const wchar_t*> texts) {
    return {texts.begin(), texts.end()};
}

std::vector<Verdict> target_status(Verdict rating, Verdict ping, Verdict jitter, Verdict loss) {
    std::vector<Verdict> status(18, 0);
    status[3] = rating;
    status[4] = ping;
    status[5] = jitter;
    status[6] = loss;
    return status;
}

const std::vector<Verdict> plain(18, 0);

TEST(HopTable, TraceOverASilentRouter) {
    const json report = test::load_result_fixture("trace-silent-router");
    const TableModel model = build_mtr_hop_table(report["mtr_samples"], {});
    EXPECT_EQ(model.kind, 1);
    EXPECT_EQ(model.title, L"Cel pomiaru · 10.200.3.2 · Dobrze");
    const std::wstring tail = L" z sąsiednich odpowiedzi tego samego adresu.";
    test::expect_rows(
        model,
        {
            {cells({L"1", L"10.200.0.2", L"—", L"Pośredni", L"<1", L"<1", L"0", L"5", L"5", L"<1",
                    L"<1", L"<1", L"<1", L"<1", L"<1", L"0", L"ICMP v4", L"Spoczynek"}),
             plain,
             L"Skok 1 · ICMP v4 · Spoczynek. Odpowiedzi 5 z 5. Jitter <1 ms" + tail + intermediate +
                 L"\r\nNazwy reverse DNS\r\n10.200.0.2 · Nazwa nieodczytana"},
            {cells({L"2", L"—", L"—", L"Bez odpowiedzi", L"—", L"—", L"100", L"0", L"5", L"—", L"—",
                    L"—", L"—", L"—", L"—", L"0", L"ICMP v4", L"Spoczynek"}),
             plain,
             L"Skok 2 · ICMP v4 · Spoczynek. Odpowiedzi 0 z 5. Jitter —" + tail + intermediate},
            {cells({L"3", L"10.200.2.2", L"—", L"Pośredni", L"<1", L"<1", L"0", L"5", L"5", L"<1",
                    L"<1", L"<1", L"<1", L"<1", L"<1", L"0", L"ICMP v4", L"Spoczynek"}),
             plain,
             L"Skok 3 · ICMP v4 · Spoczynek. Odpowiedzi 5 z 5. Jitter <1 ms" + tail + intermediate +
                 L"\r\nNazwy reverse DNS\r\n10.200.2.2 · Nazwa nieodczytana"},
            {cells({L"4", L"10.200.3.2", L"—", L"Cel · Dobrze", L"<1", L"<1", L"0", L"5", L"5",
                    L"<1", L"<1", L"<1", L"<1", L"<1", L"<1", L"0", L"ICMP v4", L"Spoczynek"}),
             target_status(1, 1, 1, 1),
             L"Skok 4 · ICMP v4 · Spoczynek. Odpowiedzi 5 z 5. Jitter <1 ms" + tail +
                 L" Ocena celu dla gier · Dobrze." + rating_help +
                 L"\r\nNazwy reverse DNS\r\n10.200.3.2 · Nazwa nieodczytana"},
        });
    // Every round of every hop answered in 0 ms, except the silent router's time-outs.
    const std::vector<ChartPoint> answered(5, {0.0, true});
    const std::vector<ChartPoint> silent(5, {0.0, false});
    for (std::size_t i = 0; i < model.rows.size(); ++i) {
        EXPECT_EQ(model.rows[i].unit, L"ms");
        EXPECT_EQ(model.rows[i].chart, i == 1 ? silent : answered) << i;
    }
    EXPECT_EQ(model.columns.size(), 18u);
    EXPECT_EQ(model.columns[0], (TableColumn{L"Skok", 50}));
    EXPECT_EQ(model.columns[12], (TableColumn{L"Odch. std.", 86}));
    EXPECT_EQ(model.columns[17], (TableColumn{L"Faza", 100}));

    // Names of the run on show: a name, none found (its note), and no entry.
    const ResponderNameMap names = {
        {"10.200.0.2", {L"r1.tarvisko.test", L""}},
        {"10.200.2.2", {L"", L"Brak lokalnej nazwy PTR w pamięci DNS Windows."}},
    };
    const TableModel named = build_mtr_hop_table(report["mtr_samples"], names);
    EXPECT_EQ(named.rows[0].cells[2], L"r1.tarvisko.test");
    EXPECT_TRUE(named.rows[0].detail.ends_with(L"\r\n10.200.0.2 · r1.tarvisko.test"));
    EXPECT_EQ(named.rows[2].cells[2], L"Brak nazwy");
    EXPECT_TRUE(named.rows[2].detail.ends_with(
        L"\r\n10.200.2.2 · Brak lokalnej nazwy PTR w pamięci DNS Windows."));
    EXPECT_EQ(named.rows[3].cells[2], L"—");
    EXPECT_TRUE(named.rows[3].detail.ends_with(L"\r\n10.200.3.2 · Nazwa nieodczytana"));
}

TEST(HopTable, FullTestTracesTwoIdlePhases) {
    const json report = test::load_result_fixture("diagnostics-report");
    const TableModel model = build_mtr_hop_table(report["mtr_samples"], {});
    // Two series of one target: no note in the title, the target named in every detail.
    EXPECT_EQ(model.title, L"Cel pomiaru · 10.200.1.2");
    const std::wstring tail = L" z sąsiednich odpowiedzi tego samego adresu.";
    const std::wstring router_names = L"\r\nNazwy reverse DNS\r\n10.200.0.2 · Nazwa nieodczytana";
    const std::wstring node_names = L"\r\nNazwy reverse DNS\r\n10.200.1.2 · Nazwa nieodczytana";
    const std::wstring target_rating = L" Ocena celu dla gier · Dobrze." + rating_help;
    test::expect_rows(
        model,
        {
            // Router times 7, 0, 0, 0, 0 ms: jitter 7 / 4, spread sqrt(7.84).
            {cells({L"1", L"10.200.0.2", L"—", L"Pośredni", L"1,4", L"1,8", L"0", L"5", L"5", L"<1",
                    L"<1", L"7", L"2,8", L"7", L"7", L"0", L"ICMP v4", L"Spoczynek"}),
             plain,
             L"Skok 1 · ICMP v4 · Spoczynek · Cel 10.200.1.2. Odpowiedzi 5 z 5. Jitter 1,8 ms" +
                 tail + intermediate + router_names},
            // Node times 0, 4, 1, 0, 0 ms: jitter 8 / 4, spread sqrt(2.4).
            {cells({L"2", L"10.200.1.2", L"—", L"Cel · Dobrze", L"1", L"2", L"0", L"5", L"5", L"<1",
                    L"<1", L"4", L"1,5", L"4", L"4", L"0", L"ICMP v4", L"Spoczynek"}),
             target_status(1, 1, 1, 1),
             L"Skok 2 · ICMP v4 · Spoczynek · Cel 10.200.1.2. Odpowiedzi 5 z 5. Jitter 2 ms" +
                 tail + target_rating + node_names},
            // Router times 20, 0, 0, 0, 0 ms: jitter 20 / 4, spread sqrt(64).
            {cells({L"1", L"10.200.0.2", L"—", L"Pośredni", L"4", L"5", L"0", L"5", L"5", L"<1",
                    L"<1", L"20", L"8", L"20", L"20", L"0", L"ICMP v4", L"Po transferze"}),
             plain,
             L"Skok 1 · ICMP v4 · Po transferze · Cel 10.200.1.2. Odpowiedzi 5 z 5. Jitter 5 ms" +
                 tail + intermediate + router_names},
            {cells({L"2", L"10.200.1.2", L"—", L"Cel · Dobrze", L"<1", L"<1", L"0", L"5", L"5",
                    L"<1", L"<1", L"<1", L"<1", L"<1", L"<1", L"0", L"ICMP v4", L"Po transferze"}),
             target_status(1, 1, 1, 1),
             L"Skok 2 · ICMP v4 · Po transferze · Cel 10.200.1.2. Odpowiedzi 5 z 5. Jitter <1 ms" +
                 tail + target_rating + node_names},
        });
    const auto times = [](std::vector<double> ms) {
        std::vector<ChartPoint> chart;
        for (const double value : ms) chart.push_back({value, true});
        return chart;
    };
    const std::vector<ChartPoint> charts[] = {times({7, 0, 0, 0, 0}), times({0, 4, 1, 0, 0}),
                                              times({20, 0, 0, 0, 0}), times({0, 0, 0, 0, 0})};
    ASSERT_EQ(model.rows.size(), 4u);
    for (std::size_t i = 0; i < model.rows.size(); ++i) {
        EXPECT_EQ(model.rows[i].chart, charts[i]) << i;
        EXPECT_EQ(model.rows[i].unit, L"ms");
    }
}

TEST(HopTable, NoUsableSampleGivesTheEmptyTable) {
    const json unusable = json::array({json{{"ttl", 1.0}, {"attempt", 1}, {"status", "echo_reply"}},
                                       json{{"ttl", 1}, {"attempt", "1"}}, json{{"ttl", 1}},
                                       json{{"attempt", 1}}, 5, "x", nullptr, json::array({1})});
    for (const json& input : {json::array(), json(), json::object(), unusable}) {
        const TableModel model = build_mtr_hop_table(input, {});
        EXPECT_EQ(model.title, L"Wybierz skok, aby zobaczyć czasy kolejnych odpowiedzi.");
        EXPECT_EQ(model.kind, 1);
        EXPECT_EQ(model.columns.size(), 18u);
        EXPECT_TRUE(model.rows.empty()) << input;
    }
}

TEST(HopTable, SeriesByPhaseAndTarget) {
    json samples = json::array();
    add_hop(samples, 1, "ttl_expired", "10.0.0.1", {3}, {}, "download");
    add_hop(samples, 2, "echo_reply", T, {9}, {}, "download");
    add_hop(samples, 1, "ttl_expired", "10.0.0.1", {2}, {}, "baseline");
    add_hop(samples, 2, "echo_reply", T, {8}, {}, "baseline");
    const TableModel model = build_mtr_hop_table(samples, {});
    ASSERT_EQ(model.rows.size(), 4u);
    EXPECT_EQ(model.title, L"Cel pomiaru · 198.51.100.7");
    EXPECT_TRUE(model.rows[0].detail.starts_with(
        L"Skok 1 · ICMP v4 · Spoczynek · Cel 198.51.100.7. Odpowiedzi 1 z 1."));
    EXPECT_EQ(model.rows[1].cells[4], L"8");
    EXPECT_TRUE(
        model.rows[2].detail.starts_with(L"Skok 1 · ICMP v4 · Pobieranie · Cel 198.51.100.7."));
    EXPECT_EQ(model.rows[3].cells[17], L"Pobieranie");

    samples.push_back(probe("10.9.9.9", 1, 1, "echo_reply", "10.9.9.9", 4));
    samples.push_back(probe(T, 1, 1, "ttl_expired", "10.0.0.1", 4, "baseline", "tcp", 6));
    const TableModel more = build_mtr_hop_table(samples, {});
    EXPECT_EQ(more.title, L"Cele pomiaru · 10.9.9.9, 198.51.100.7");
    ASSERT_EQ(more.rows.size(), 6u);
    EXPECT_EQ(more.rows[0].cells[16], L"ICMP v4");     // 10.9.9.9 sorts first
    EXPECT_EQ(more.rows[5].cells[16], L"TCP 443 v6");  // family 6 after 4
}

TEST(HopTable, HopCounts) {
    const struct {
        const char* name;
        std::vector<json> samples;
        std::vector<std::wstring> expected;  // cells 1, 3, 4, 5, 6, 7, 8, 9, 15
    } cases[] = {
        {"every sample timed out",
         {probe(T, 3, 1, "timeout", nullptr, nullptr), probe(T, 3, 2, "timeout", nullptr, nullptr)},
         {L"—", L"Bez odpowiedzi", L"—", L"—", L"100", L"0", L"2", L"—", L"0"}},
        {"unreachable without a time is an API error",
         {probe(T, 3, 1, "ttl_expired", "10.0.0.3", 10),
          probe(T, 3, 2, "ttl_expired", "10.0.0.3", 10),
          probe(T, 3, 3, "unreachable", "10.0.0.3", nullptr),
          probe(T, 3, 4, "ttl_expired", "10.0.0.3", 10),
          probe(T, 3, 5, "timeout", nullptr, nullptr),
          probe(T, 3, 6, "ttl_expired", "10.0.0.3", 10),
          probe(T, 3, 7, "unreachable", "10.0.0.3", nullptr),
          probe(T, 3, 8, "ttl_expired", "10.0.0.3", 10),
          probe(T, 3, 9, "ttl_expired", "10.0.0.3", 10),
          probe(T, 3, 10, "ttl_expired", "10.0.0.3", 16)},
         {L"10.0.0.3", L"Pośredni", L"10,9", L"2", L"12,5", L"7", L"8", L"16", L"2"}},
        {"a responder change splits the jitter; samples sorted by attempt",
         {probe(T, 3, 4, "ttl_expired", "10.0.0.4", 30),
          probe(T, 3, 1, "ttl_expired", "10.0.0.3", 10),
          probe(T, 3, 3, "ttl_expired", "10.0.0.4", 20),
          probe(T, 3, 2, "ttl_expired", "10.0.0.3", 12)},
         {L"10.0.0.3, 10.0.0.4", L"Pośredni", L"18", L"6", L"0", L"4", L"4", L"30", L"0"}},
        {"a time without a responder counts but joins no address",
         {probe(T, 3, 1, "ttl_expired", nullptr, 5), probe(T, 3, 2, "ttl_expired", nullptr, 7)},
         {L"—", L"Bez odpowiedzi", L"6", L"—", L"0", L"2", L"2", L"7", L"0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TableModel model = build_mtr_hop_table(json(c.samples), {});
        ASSERT_EQ(model.rows.size(), 1u);
        const std::vector<std::wstring>& row = model.rows[0].cells;
        EXPECT_EQ((std::vector<std::wstring>{row[1], row[3], row[4], row[5], row[6], row[7], row[8],
                                             row[9], row[15]}),
                  c.expected);
    }
}

TEST(HopTable, TargetAssessment) {
    // Router at TTL 1 (10.0.0.1, `router` ms), target at TTL 2.
    const auto run = [](const std::vector<json>& router, const std::vector<json>& target,
                        std::vector<long long> attempts = {}) {
        json samples = json::array();
        add_hop(samples, 1, "ttl_expired", "10.0.0.1", router, attempts);
        add_hop(samples, 2, "echo_reply", T, target, attempts);
        return samples;
    };
    json moving = run({5, 5, 5, 5, 5}, {20, 20, 20, 20, 20});
    moving.push_back(probe(T, 3, 6, "echo_reply", T, 20));
    json no_target = json::array();
    add_hop(no_target, 1, "ttl_expired", "10.0.0.1", {5, 5, 5, 5, 5});
    add_hop(no_target, 2, "timeout", nullptr, {nullptr, nullptr, nullptr, nullptr, nullptr});

    const struct {
        const char* name;
        json samples;
        std::wstring rating;  // "Ocena" of the target hop (the last row)
        Verdict status;
        std::wstring title_end;
        std::wstring sentence;  // in the target hop's detail, or empty for none
    } cases[] = {
        {"good rounds", run({10, 10, 10, 10, 10}, {26, 28, 30, 32, 34}), L"Cel · Dobrze", 1,
         L" · Dobrze", L""},
        {"a gap leaves the jitter unrated",
         run({5, 5, 5, 5, 5}, {26, 28, 30, 32, 34}, {1, 2, 3, 5, 6}), L"Cel · częściowa", 0,
         L" · ocena niepełna", L""},
        {"four rounds only", run({5, 5, 5, 5}, {20, 20, 20, 20}), L"Cel · bez oceny", 0,
         L" · ocena niepełna", rounds_sentence},
        {"a duplicate attempt",
         run({5, 5, 5, 5, 5, 5}, {20, 20, 20, 20, 20, 20}, {1, 2, 3, 4, 5, 5}), L"Cel · bez oceny",
         0, L" · ocena niepełna", rounds_sentence},
        {"target at two hops", moving, L"Cel · bez oceny", 0, L" · ocena niepełna",
         moving_target_sentence},
        {"slow in four rounds of five", run({45, 45, 45, 45, 45}, {80, 80, 80, 80, 60}),
         L"Cel · Uwaga", 2, L" · Uwaga · pogorszenie przy celu", degradation_sentence},
        {"slow in three rounds of five", run({45, 45, 45, 45, 45}, {80, 80, 80, 60, 60}),
         L"Cel · Uwaga", 2, L" · Uwaga", L""},
        {"two target timeouts", run({10, 10, 10, 10, 10}, {12, nullptr, 12, nullptr, 12}),
         L"Cel · Źle", 3, L" · Źle · pogorszenie przy celu", degradation_sentence},
        {"target jitter worse than the router's", run({5, 5, 5, 5, 5}, {20, 30, 20, 30, 20}),
         L"Cel · Uwaga", 2, L" · Uwaga · pogorszenie przy celu", degradation_sentence},
        {"slow but still good: no sentence", run({1, 1, 1, 1, 1}, {25, 25, 25, 25, 25}),
         L"Cel · Dobrze", 1, L" · Dobrze", L""},
        {"a router over 50 ms is no reference",
         run({60, 60, 60, 60, 60}, {200, 200, 200, 200, 200}), L"Cel · Źle", 3, L" · Źle", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TableModel model = build_mtr_hop_table(c.samples, {});
        ASSERT_FALSE(model.rows.empty());
        const TableRow& target = model.rows.back();
        EXPECT_EQ(target.cells[3], c.rating);
        EXPECT_EQ(target.status[3], c.status);
        EXPECT_EQ(model.title, L"Cel pomiaru · 198.51.100.7" + c.title_end);
        for (const std::wstring& sentence :
             {rounds_sentence, moving_target_sentence, degradation_sentence}) {
            EXPECT_EQ(target.detail.find(sentence) != std::wstring::npos, sentence == c.sentence)
                << target.detail;
        }
    }

    // No reply of the target: every hop says so and the title carries the note.
    const TableModel silent = build_mtr_hop_table(no_target, {});
    EXPECT_EQ(silent.title, L"Cel pomiaru · 198.51.100.7 · brak potwierdzenia odpowiedzi");
    for (const TableRow& row : silent.rows) {
        EXPECT_TRUE(row.detail.ends_with(intermediate + L" " + no_target_sentence) ||
                    row.detail.find(intermediate + L" " + no_target_sentence + L"\r\n") !=
                        std::wstring::npos)
            << row.detail;
    }
    // Both hops of a moving target read "Cel · bez oceny".
    const TableModel moved = build_mtr_hop_table(moving, {});
    EXPECT_EQ(moved.rows[1].cells[3], L"Cel · bez oceny");
    EXPECT_EQ(moved.rows[2].cells[3], L"Cel · bez oceny");
}

TEST(HopTable, AssessmentOfOneSeries) {
    json samples = json::array();
    add_hop(samples, 4, "ttl_expired", "10.0.0.4", {5, 5, 5, 5, 5});
    add_hop(samples, 5, "echo_reply", T, {90, 90, 90, 90, 90});
    MtrHops hops;
    for (const json& sample : samples) hops[sample["ttl"].get<long long>()].push_back(&sample);
    const TargetAssessment assessment = assess_target_responses(hops);
    EXPECT_EQ(assessment.target_hops, (std::set<std::int64_t>{5}));
    EXPECT_TRUE(assessment.comparable);
    EXPECT_EQ(assessment.explanation, degradation_sentence);
}

TEST(HopTable, TcpRefusalsAndTwoRoutersWithoutNames) {
    json samples = json::array();
    for (long long attempt = 1; attempt <= 3; ++attempt) {
        samples.push_back(probe(T, 1, attempt, "ttl_expired",
                                attempt == 2 ? "10.0.0.9" : "10.0.0.1", 2, "baseline", "tcp"));
        samples.push_back(probe(T, 2, attempt, "tcp_refused", T, 12, "baseline", "tcp"));
    }
    const TableModel model = build_mtr_hop_table(samples, {});
    ASSERT_EQ(model.rows.size(), 2u);
    EXPECT_EQ(model.rows[0].cells[1], L"10.0.0.1, 10.0.0.9");
    EXPECT_EQ(model.rows[0].cells[2], L"—, —");
    EXPECT_TRUE(
        model.rows[0].detail.ends_with(L"\r\nNazwy reverse DNS\r\n10.0.0.1 · Nazwa "
                                       L"nieodczytana\r\n10.0.0.9 · Nazwa nieodczytana"));
    EXPECT_EQ(model.rows[0].cells[5], L"—");  // 1, then 9, then 1: no two neighbours alike
    EXPECT_EQ(model.rows[1].cells[16], L"TCP 443 v4");
    EXPECT_EQ(model.rows[1].detail,
              L"Skok 2 · TCP 443 v4 · Spoczynek. Odpowiedzi 3 z 3. Jitter 0 ms z sąsiednich "
              L"odpowiedzi tego samego adresu. " +
                  rounds_sentence +
                  L" Cel odpowiedział odmową zestawienia TCP 443 w 3 próbach.\r\nNazwy reverse "
                  L"DNS\r\n198.51.100.7 · Nazwa nieodczytana");
}

TEST(HopTable, EqualAttemptsKeepTheirOrder) {
    const json samples = json::array({probe(T, 1, 3, "ttl_expired", "10.0.0.1", 7),
                                      probe(T, 1, 1, "ttl_expired", "10.0.0.1", 5),
                                      probe(T, 1, 3, "ttl_expired", "10.0.0.1", 9)});
    const TableModel model = build_mtr_hop_table(samples, {});
    ASSERT_EQ(model.rows.size(), 1u);
    EXPECT_EQ(model.rows[0].chart, (std::vector<ChartPoint>{{5, true}, {7, true}, {9, true}}));
    EXPECT_EQ(model.rows[0].cells[9], L"9");
}

TEST(MtrGroupKey, Order) {
    const struct {
        MtrGroupKey a;
        MtrGroupKey b;
        bool less;
    } cases[] = {
        {{"10.0.0.2", 4, "icmp", "baseline"}, {"10.0.0.10", 4, "icmp", "baseline"}, false},
        {{"10.0.0.10", 6, "icmp", "baseline"}, {"10.0.0.2", 4, "icmp", "baseline"}, true},
        {{"a", 6, "icmp", "baseline"}, {"a", 4, "tcp", "baseline"}, false},
        {{"a", 4, "icmp", "recovery"}, {"a", 4, "tcp", "baseline"}, true},
        {{"a", 4, "icmp", "baseline"}, {"a", 4, "icmp", "download"}, true},
        {{"a", 4, "icmp", "baseline"}, {"a", 4, "icmp", "baseline"}, false},
        {{"\xc3\xa9", 4, "", ""}, {"z", 4, "", ""}, false},  // byte-wise: 0xC3 after 'z'
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mtr_group_key_less(c.a, c.b), c.less) << c.a.target << " " << c.b.target;
    }
}

}  // namespace
}  // namespace tarvisko
