#include "results/icmp_table.h"

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

using test::jitter_help;
using test::loss_help;
using test::ping_help;

const std::wstring median_detail =
    L"Mediana czasu odpowiedzi celu. Wykres pokazuje kolejne próby ICMP.";
const std::wstring jitter_detail =
    L"Średnia bezwzględna różnica między czasami sąsiednich poprawnych odpowiedzi. Brak "
    L"odpowiedzi lub zmiana celu rozdziela serię.";
const std::wstring p95_detail =
    L"95% zarejestrowanych odpowiedzi miało czas nie większy od wskazanego.";

std::wstring rating(const std::wstring& verdict, const std::wstring& help) {
    return L" Ocena orientacyjna dla gier · " + verdict + L". " + help;
}

// An echo series towards T: one sample per entry, attempts counting from 1.
json echo_series(const std::vector<json>& rtts, const std::string& target = "10.0.0.9") {
    json samples = json::array();
    long long attempt = 1;
    for (const json& rtt : rtts) {
        samples.push_back(rtt.is_null() ? probe(target, 64, attempt, "timeout", nullptr, nullptr)
                                        : probe(target, 64, attempt, "echo_reply", target, rtt));
        ++attempt;
    }
    return samples;
}

const TableRow& row_named(const TableModel& model, const std::wstring& label) {
    for (const TableRow& row : model.rows) {
        if (row.cells.at(0) == label) return row;
    }
    throw std::runtime_error("no row " + std::string(label.begin(), label.end()));
}

TEST(IcmpTable, EchoRunOfARealTarget) {
    const json report = test::load_result_fixture("echo-run");
    const TableModel model = build_icmp_latency_table(report["mtr_samples"]);
    EXPECT_EQ(model.title, L"Opóźnienia do wybranego celu ICMP");
    EXPECT_EQ(model.kind, 0);
    EXPECT_EQ(model.columns,
              (std::vector<TableColumn>{{L"Pomiar", 220}, {L"Wynik", 150}, {L"Ocena", 130}}));
    // Three replies of 0 ms from 10.200.3.2: too few for any verdict.
    const std::wstring few = L"Za mało danych";
    test::expect_rows(
        model,
        {
            {{L"Typowy ping", L"<1 ms", few}, {0, 0, 0}, median_detail + rating(few, ping_help)},
            {{L"Jitter ICMP", L"<1 ms", few}, {0, 0, 0}, jitter_detail + rating(few, jitter_help)},
            {{L"Próby bez echa celu", L"0 %", few},
             {0, 0, 0},
             L"Wysłano 3, cel odpowiedział 3 razy. Przekroczenia czasu: 0. Inne odpowiedzi: 0. "
             L"Błędy lokalne: 0. Host może ograniczać odpowiedzi ICMP." +
                 rating(few, loss_help)},
            {{L"Ping P95", L"<1 ms", few}, {0, 0, 0}, p95_detail + rating(few, ping_help)},
            {{L"Ping minimalny", L"<1 ms", L""}, {}, L"Najszybsza z otrzymanych odpowiedzi."},
            {{L"Ping średni", L"<1 ms", L""}, {}, L"Średnia ze wszystkich otrzymanych odpowiedzi."},
            {{L"Ping maksymalny", L"<1 ms", L""}, {}, L"Najwolniejsza z otrzymanych odpowiedzi."},
            {{L"Odpowiedzi celu", L"3 z 3", L""},
             {},
             L"Liczba poprawnych odpowiedzi względem wysłanych prób."},
            {{L"Adres celu", L"10.200.3.2", L""},
             {},
             L"Adres wybrany przez system Windows na początku tej sesji."},
        });
    EXPECT_EQ(model.rows[0].chart, (std::vector<ChartPoint>(3, {0.0, true})));
    EXPECT_EQ(model.rows[0].unit, L"ms");
    for (std::size_t i = 1; i < model.rows.size(); ++i) {
        EXPECT_TRUE(model.rows[i].chart.empty()) << i;
        EXPECT_TRUE(model.rows[i].unit.empty()) << i;
    }
}

TEST(IcmpTable, NoSamplesGiveTheTitledEmptyTable) {
    for (const json& input : {json::array(), json(), json::object({{"a", 1}}), json("x"),
                              json::array({1, "x", nullptr, json::array()})}) {
        const TableModel model = build_icmp_latency_table(input);
        EXPECT_EQ(model.title, L"Opóźnienia do wybranego celu ICMP") << input;
        EXPECT_EQ(model.columns.size(), 3u);
        EXPECT_TRUE(model.rows.empty()) << input;
    }
}

TEST(IcmpTable, RatesMedianAndP95OfFiveReplies) {
    const TableModel model = build_icmp_latency_table(echo_series({10, 20, 30, 40, 200}));
    const std::vector<std::vector<std::wstring>> expected = {
        {L"Typowy ping", L"30 ms", L"Dobrze"},       {L"Jitter ICMP", L"47,5 ms", L"Źle"},
        {L"Próby bez echa celu", L"0 %", L"Dobrze"}, {L"Ping P95", L"200 ms", L"Źle"},
        {L"Ping minimalny", L"10 ms", L""},          {L"Ping średni", L"60 ms", L""},
        {L"Ping maksymalny", L"200 ms", L""},        {L"Odpowiedzi celu", L"5 z 5", L""},
        {L"Adres celu", L"10.0.0.9", L""},
    };
    ASSERT_EQ(model.rows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(model.rows[i].cells, expected[i]);
    EXPECT_EQ(model.rows[0].status, (std::vector<Verdict>{0, 1, 1}));
    EXPECT_EQ(model.rows[1].status, (std::vector<Verdict>{0, 3, 3}));
    EXPECT_EQ(model.rows[3].status, (std::vector<Verdict>{0, 3, 3}));
    EXPECT_EQ(model.rows[3].detail, p95_detail + rating(L"Źle", ping_help));
}

TEST(IcmpTable, RepliesUnderOneMillisecond) {
    // Windows gives 0 for a reply under 1 ms: every time figure says so instead of "0 ms".
    const TableModel model = build_icmp_latency_table(echo_series({0, 0, 0, 0, 0}));
    const std::vector<std::vector<std::wstring>> expected = {
        {L"Typowy ping", L"<1 ms", L"Dobrze"},       {L"Jitter ICMP", L"<1 ms", L"Dobrze"},
        {L"Próby bez echa celu", L"0 %", L"Dobrze"}, {L"Ping P95", L"<1 ms", L"Dobrze"},
        {L"Ping minimalny", L"<1 ms", L""},          {L"Ping średni", L"<1 ms", L""},
        {L"Ping maksymalny", L"<1 ms", L""},         {L"Odpowiedzi celu", L"5 z 5", L""},
        {L"Adres celu", L"10.0.0.9", L""},
    };
    ASSERT_EQ(model.rows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(model.rows[i].cells, expected[i]);
    // The chart keeps the stored value.
    EXPECT_EQ(model.rows[0].chart.front().value, 0.0);
}

// One case per counting rule: the first four rows' values and verdicts, and the reply count.
TEST(IcmpTable, CountsAndVerdictEdges) {
    const auto with = [](json samples, const std::vector<json>& extra) {
        for (const json& sample : extra) samples.push_back(sample);
        return samples;
    };
    json gap = echo_series({10, 11, 12, 13, 14});
    gap.erase(2);  // attempts 1, 2, 4, 5
    json changed_target = echo_series({10, 11, 12, 13, 14, 15});
    changed_target[3] = probe("10.0.0.8", 64, 4, "echo_reply", "10.0.0.8", 13);
    json ten = echo_series({10, 10, 10, 10, 10, 10, 10, nullptr});
    ten.push_back(probe("10.0.0.9", 64, 9, "unavailable", nullptr, nullptr));
    ten.push_back(probe("10.0.0.9", 64, 10, "unavailable", nullptr, nullptr));
    std::vector<json> nineteen(19, json(10));
    nineteen.push_back(nullptr);
    const json only_local =
        json::array({probe("10.0.0.9", 64, 1, "unavailable", nullptr, nullptr),
                     probe("10.0.0.9", 64, 2, "unavailable", nullptr, nullptr)});

    const struct {
        const char* name;
        json samples;
        std::vector<std::wstring> values;  // rows 1 to 4
        std::vector<Verdict> verdicts;     // rows 1 to 4
        std::wstring replies;
        std::size_t rows;
    } cases[] = {
        {"four replies",
         echo_series({10, 20, 30, 40}),
         {L"25 ms", L"10 ms", L"0 %", L"40 ms"},
         {0, 0, 0, 0},
         L"4 z 4",
         9},
        {"gap of one attempt gives two pairs",
         gap,
         {L"12 ms", L"1 ms", L"0 %", L"14 ms"},
         {0, 0, 0, 0},
         L"4 z 4",
         9},
        {"target change splits the jitter",
         changed_target,
         {L"12,5 ms", L"1 ms", L"0 %", L"15 ms"},
         {1, 0, 1, 1},
         L"6 z 6",
         9},
        {"ten samples, two local errors",
         ten,
         {L"10 ms", L"<1 ms", L"12,5 %", L"10 ms"},
         {1, 1, 3, 1},
         L"7 z 8",
         9},
        {"only local errors",
         only_local,
         {L"Brak odpowiedzi", L"Za mało odpowiedzi", L"Brak wysłanych prób", L"Brak odpowiedzi"},
         {0, 0, 0, 0},
         L"0 z 0",
         6},
        {"echo from another responder",
         with(echo_series({10, 10, 10, 10, 10}),
              {probe("10.0.0.9", 64, 6, "echo_reply", "10.0.0.1", 3)}),
         {L"10 ms", L"<1 ms", L"16,7 %", L"10 ms"},
         {1, 1, 3, 1},
         L"5 z 6",
         9},
        {"unreachable counts as a probe without an echo",
         with(echo_series({10, 10, 10, 10, 10}),
              {probe("10.0.0.9", 64, 6, "unreachable", "10.0.0.1", nullptr)}),
         {L"10 ms", L"<1 ms", L"16,7 %", L"10 ms"},
         {1, 1, 3, 1},
         L"5 z 6",
         9},
        {"median of exactly 50 ms",
         echo_series({40, 45, 50, 55, 60}),
         {L"50 ms", L"5 ms", L"0 %", L"60 ms"},
         {1, 1, 1, 2},
         L"5 z 5",
         9},
        {"loss of exactly 5 %",
         echo_series(nineteen),
         {L"10 ms", L"<1 ms", L"5 %", L"10 ms"},
         {1, 1, 2, 1},
         L"19 z 20",
         9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TableModel model = build_icmp_latency_table(c.samples);
        ASSERT_EQ(model.rows.size(), c.rows);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(model.rows[i].cells[1], c.values[i]) << i;
            EXPECT_EQ(model.rows[i].status[1], c.verdicts[i]) << i;
        }
        EXPECT_EQ(row_named(model, L"Odpowiedzi celu").cells[1], c.replies);
        EXPECT_EQ(model.rows[0].chart.size(), c.samples.size());
    }

    // The counts behind the loss: timeouts, other answers and local errors apart.
    const TableModel ten_table = build_icmp_latency_table(ten);
    EXPECT_EQ(ten_table.rows[2].detail,
              L"Wysłano 8, cel odpowiedział 7 razy. Przekroczenia czasu: 1. Inne odpowiedzi: 0. "
              L"Błędy lokalne: 2. Host może ograniczać odpowiedzi ICMP." +
                  rating(L"Źle", loss_help));
    EXPECT_EQ(ten_table.rows[0].chart[7], (ChartPoint{0.0, false}));
    EXPECT_EQ(ten_table.rows[0].chart[6], (ChartPoint{10.0, true}));
}

// Samples read back from a "last-*.json" on disk may hold anything: what is no object is passed
// over, an attempt that is no number breaks the jitter series like a missing one.
TEST(IcmpTable, MalformedSamplesArePassedOver) {
    json clean = echo_series({10, 12, 14, 16, 18, 20});
    clean[3]["attempt"] = "4";
    json dirty = json::array();
    for (std::size_t i = 0; i < clean.size(); ++i) {
        dirty.push_back(json::array({1, 2}));
        dirty.push_back(clean[i]);
        if (i == 2) dirty.push_back("echo_reply");
    }
    dirty.push_back(nullptr);
    dirty.push_back(7.5);

    const TableModel model = build_icmp_latency_table(dirty);
    EXPECT_EQ(model, build_icmp_latency_table(clean));
    ASSERT_EQ(model.rows.size(), 9u);
    EXPECT_EQ(model.rows[0].chart.size(), 6u);
    // Pairs 10-12, 12-14 and 18-20: the text attempt splits the series around it.
    EXPECT_EQ(model.rows[1].cells[1], L"2 ms");
    EXPECT_EQ(model.rows[1].cells[2], L"Za mało danych");
    EXPECT_EQ(row_named(model, L"Odpowiedzi celu").cells[1], L"6 z 6");
}

TEST(IsTargetReply, StatusAndResponder) {
    const struct {
        json sample;
        bool expected;
    } cases[] = {
        {probe("a", 1, 1, "echo_reply", "a", 1), true},
        {probe("a", 1, 1, "tcp_connected", "a", 1), true},
        {probe("a", 1, 1, "tcp_refused", "a", nullptr), true},
        {probe("a", 1, 1, "ttl_expired", "a", 1), false},
        {probe("a", 1, 1, "echo_reply", "b", 1), false},
        {probe("a", 1, 1, "echo_reply", nullptr, 1), false},
        {json{{"status", "echo_reply"}, {"responder", nullptr}}, false},
        {json{{"status", "echo_reply"}, {"responder", 5}, {"target", 5}}, false},
        {json::array({"echo_reply"}), false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_target_reply(c.sample), c.expected) << c.sample;
}

}  // namespace
}  // namespace tarvisko
