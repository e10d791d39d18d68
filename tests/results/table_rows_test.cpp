#include "results/table_rows.h"

#include <gtest/gtest.h>

#include <locale>
#include <nlohmann/json.hpp>
#include <string>

#include "results/format.h"

namespace tarvisko {
namespace {

using nlohmann::json;

// A locale whose numbers read "1.234,5": what a Polish user's global locale could look like.
struct CommaGrouping : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};
struct WideCommaGrouping : std::numpunct<wchar_t> {
    wchar_t do_decimal_point() const override { return L','; }
    wchar_t do_thousands_sep() const override { return L'.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(FormatDecimal, OneDigitCommaAndNoTrailingZero) {
    const struct {
        double value;
        const char* text;
    } cases[] = {{12.34, "12,3"},     {5, "5"},       {0.04, "0"},    {99.96, "100"}, {-0.04, "-0"},
                 {1234.56, "1234,6"}, {12.5, "12,5"}, {-3.26, "-3,3"}};
    const auto check_all = [&] {
        for (const auto& c : cases) {
            const std::string narrow = format_decimal_comma(c.value);
            EXPECT_EQ(narrow, c.text) << c.value;
            EXPECT_EQ(format_decimal(c.value), std::wstring(narrow.begin(), narrow.end()))
                << c.value;
        }
    };
    check_all();
    const std::locale previous = std::locale::global(
        std::locale(std::locale(std::locale::classic(), new CommaGrouping), new WideCommaGrouping));
    check_all();
    std::locale::global(previous);
}

TEST(FormatDecimal, RttAndDisplayTexts) {
    EXPECT_EQ(format_rtt_ms(std::nullopt), L"Brak odpowiedzi");
    EXPECT_EQ(format_rtt_ms(4.0), L"4 ms");
    // Windows reports an ICMP reply under 1 ms as 0: such a figure reads "<1", as in its ping.
    const struct {
        double value;
        const char* text;
    } icmp[] = {{0.0, "<1"},  {0.04, "<1"}, {0.05, "0,1"},
                {0.4, "0,4"}, {1.0, "1"},   {12.34, "12,3"}};
    for (const auto& c : icmp) {
        const std::string narrow = format_icmp_ms_comma(c.value);
        EXPECT_EQ(narrow, c.text) << c.value;
        EXPECT_EQ(format_icmp_ms(c.value), std::wstring(narrow.begin(), narrow.end())) << c.value;
    }
    EXPECT_EQ(format_rtt_ms(0.0), L"<1 ms");
    EXPECT_EQ(json_display_text(true), L"Brak odczytu");
    EXPECT_EQ(json_display_text(json()), L"Brak odczytu");
    EXPECT_EQ(json_display_text(json::array({1})), L"Brak odczytu");
    EXPECT_EQ(json_display_text(7), L"7");
    EXPECT_EQ(json_display_text(7u), L"7");
    EXPECT_EQ(json_display_text(2.26), L"2,3");
    EXPECT_EQ(json_display_text("Łódź"), L"Łódź");
    EXPECT_EQ(json_display_text("a\xff"), L"a\xFFFD");
    EXPECT_EQ(phase_display_name("baseline"), L"Spoczynek");
    EXPECT_EQ(phase_display_name("download"), L"Pobieranie");
    EXPECT_EQ(phase_display_name("upload"), L"Wysyłanie");
    EXPECT_EQ(phase_display_name("recovery"), L"Po transferze");
    EXPECT_EQ(phase_display_name("Baseline"), L"Baseline");
    EXPECT_EQ(phase_display_name(json()), L"Brak odczytu");
}

TEST(JsonMemberOrNull, NeverInsertsOrThrows) {
    const json object = {{"a", 1}, {"env", {{"status", "ok"}, {"value", "x"}}}};
    const json documents[] = {json::array({1, 2}), json("a"), json(), object, json(3)};
    for (const json& document : documents) {
        const json before = document;
        EXPECT_TRUE(json_member_or_null(document, "missing").is_null());
        EXPECT_TRUE(json_member_or_null(document, "A").is_null());
        EXPECT_EQ(document, before);
    }
    EXPECT_EQ(json_member_or_null(object, "a"), 1);
    EXPECT_EQ(&json_member_or_null(object, "a"), &object["a"]);
    EXPECT_EQ(json_value_of(object, "env"), "x");
    EXPECT_TRUE(json_member_is(object["env"], "status", "ok"));
    EXPECT_FALSE(json_member_is(object["env"], "status", "OK"));
    EXPECT_FALSE(json_member_is(object, "a", "1"));
    EXPECT_EQ(json_int64(-5), -5);
    EXPECT_EQ(json_int64(std::uint64_t{1} << 63), std::nullopt);
    EXPECT_EQ(json_int64(1.0), std::nullopt);
    EXPECT_EQ(json_int64("1"), std::nullopt);
    EXPECT_TRUE(json_value_of(object, "a").is_null());
}

TEST(Verdicts, TextsAndColours) {
    const struct {
        Verdict verdict;
        const wchar_t* text;
        std::uint32_t colorref;
    } cases[] = {{0, L"Za mało danych", 0x616161}, {1, L"Dobrze", 0x107C10},
                 {2, L"Uwaga", 0x005D9D},          {3, L"Źle", 0x1C2BC4},
                 {7, L"Za mało danych", 0x616161}, {-1, L"Za mało danych", 0x616161}};
    for (const auto& c : cases) {
        EXPECT_EQ(verdict_text(c.verdict), c.text) << c.verdict;
        EXPECT_EQ(verdict_color(c.verdict), c.colorref) << c.verdict;
    }
    // COLORREF keeps red in the low byte: #C42B1C is red C4, green 2B, blue 1C.
    EXPECT_EQ(verdict_color(3) & 0xFF, 0xC4u);
    EXPECT_EQ(game_rating_text(2, L"Pomoc."), L" Ocena orientacyjna dla gier · Uwaga. Pomoc.");
}

TEST(Verdicts, BoundsAndMinimumCounts) {
    using Rating = Verdict (*)(std::optional<double>, std::uint64_t);
    const struct {
        Rating rating;
        std::optional<double> value;
        std::uint64_t count;
        Verdict expected;
    } cases[] = {
        {ping_verdict, 50, 5, 1},        {ping_verdict, 50.0001, 5, 2},  {ping_verdict, 100, 5, 2},
        {ping_verdict, 100.0001, 5, 3},  {ping_verdict, 10, 4, 0},       {ping_verdict, {}, 9, 0},
        {jitter_verdict, 5, 4, 1},       {jitter_verdict, 5.0001, 4, 2}, {jitter_verdict, 15, 4, 2},
        {jitter_verdict, 15.0001, 4, 3}, {jitter_verdict, 3, 4, 1},      {jitter_verdict, 3, 3, 0},
        {loss_verdict, 0, 5, 1},         {loss_verdict, 0.0001, 5, 2},   {loss_verdict, 5, 5, 2},
        {loss_verdict, 5.0001, 5, 3},    {loss_verdict, 0, 4, 0},        {loss_verdict, {}, 5, 0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].rating(cases[i].value, cases[i].count), cases[i].expected) << i;
    }
}

TEST(RowBuilders, CellsStatusAndUnits) {
    TableModel model;
    add_table_row(model, L"A", L"1", L"d");
    add_verdict_row(model, L"B", L"2", L"e", 0);
    add_verdict_row(model, L"C", L"3", L"", 3);
    add_row_with_unit(model, TextCard{L"Ping", L"—", L"brak", 0}, L" ms");
    add_row_with_unit(model, TextCard{L"Ping", L"12", L"jest", 1}, L" ms");
    ASSERT_EQ(model.rows.size(), 5u);
    EXPECT_EQ(model.rows[0].cells, (std::vector<std::wstring>{L"A", L"1"}));
    EXPECT_EQ(model.rows[0].detail, L"d");
    EXPECT_TRUE(model.rows[0].status.empty());
    EXPECT_EQ(model.rows[1].cells, (std::vector<std::wstring>{L"B", L"2", L"Za mało danych"}));
    EXPECT_EQ(model.rows[1].status, (std::vector<Verdict>{0, 0, 0}));
    EXPECT_EQ(model.rows[2].cells[2], L"Źle");
    EXPECT_EQ(model.rows[2].status, (std::vector<Verdict>{0, 3, 3}));
    EXPECT_EQ(model.rows[3].cells, (std::vector<std::wstring>{L"Ping", L"—"}));
    EXPECT_EQ(model.rows[3].detail, L"brak");
    EXPECT_EQ(model.rows[4].cells, (std::vector<std::wstring>{L"Ping", L"12 ms"}));
    EXPECT_TRUE(model.rows[4].chart.empty());
    EXPECT_TRUE(model.rows[4].unit.empty());
}

}  // namespace
}  // namespace tarvisko
