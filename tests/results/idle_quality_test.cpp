#include "results/idle_quality.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tarvisko {
namespace {

using nlohmann::json;

const std::string node = "10.200.1.2";

json reply(const json& rtt, const std::string& responder = node) {
    return {{"status", "echo_reply"}, {"responder", responder}, {"rtt_ms", rtt}};
}
json with_status(const std::string& status) {
    return {{"status", status}, {"responder", nullptr}, {"rtt_ms", nullptr}};
}
json series(json samples, const json& planned = 5, const json& reason = nullptr) {
    return {{"target", node},
            {"planned", planned},
            {"timeout_ms", 400},
            {"reason", reason},
            {"samples", std::move(samples)}};
}
json replies(std::vector<double> times) {
    json samples = json::array();
    for (const double t : times) samples.push_back(reply(t));
    return samples;
}

TEST(PingSummary, CountsRepliesTimeoutsPairsAndValidity) {
    const PingSummary five = summarize_ping_target(series(replies({20, 22, 21, 25, 20})));
    EXPECT_EQ(five.replies, 5u);
    EXPECT_EQ(five.timeouts, 0u);
    EXPECT_EQ(five.pairs, 4u);
    EXPECT_DOUBLE_EQ(*five.mean_ms, 21.6);
    EXPECT_DOUBLE_EQ(*five.jitter_ms, 3.0);
    EXPECT_TRUE(five.valid);

    // A time-out splits the jitter series.
    const PingSummary split = summarize_ping_target(
        series(json::array({reply(10), with_status("timeout"), reply(30)}), 3));
    EXPECT_EQ(split.replies, 2u);
    EXPECT_EQ(split.timeouts, 1u);
    EXPECT_EQ(split.pairs, 0u);
    EXPECT_EQ(split.jitter_ms, std::nullopt);
    EXPECT_TRUE(split.valid);

    struct Case {
        const char* name;
        json series;
        std::uint64_t replies, timeouts;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"an echo reply from another host counts as neither",
         series(json::array({reply(10), reply(10), reply(10), reply(10), reply(10, "10.0.0.9")})),
         4, 0, false},
        {"a reply without a time counts as neither",
         series(json::array({reply(10), reply(10), reply(10), reply(10), reply(nullptr)})), 4, 0,
         false},
        {"an unavailable sample",
         series(json::array({reply(1), reply(1), reply(1), reply(1), with_status("unavailable")})),
         4, 0, false},
        {"a series cut short", series(replies({1, 2, 3, 4, 5}), 5, "cancelled"), 5, 0, false},
        {"planned is not an integer", series(replies({1, 2, 3, 4, 5}), 5.0), 5, 0, false},
        {"planned absent", series(replies({1, 2, 3, 4, 5}), nullptr), 5, 0, false},
        {"planned nothing", series(json::array(), 0), 0, 0, false},
        {"samples not a list", series(json::object({{"x", reply(1)}}), 0), 0, 0, false},
        {"not an object at all", json::array({reply(1)}), 0, 0, false},
        {"only time-outs", series(json::array({with_status("timeout"), with_status("timeout")}), 2),
         0, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PingSummary s = summarize_ping_target(c.series);
        EXPECT_EQ(s.replies, c.replies);
        EXPECT_EQ(s.timeouts, c.timeouts);
        EXPECT_EQ(s.valid, c.valid);
        EXPECT_EQ(s.mean_ms.has_value(), c.replies > 0);
    }
}

TEST(MsMetricTile, BoundsAreInclusiveAndTheTextRoundsApart) {
    struct Case {
        std::optional<double> value;
        bool rated;
        std::wstring subtitle;
        Verdict status;
    };
    const std::vector<Case> cases = {
        {50.0, true, L"50 ms", 1},    {50.04, true, L"50 ms", 2},   {100.0, true, L"100 ms", 2},
        {100.04, true, L"100 ms", 3}, {21.6, false, L"21,6 ms", 0}, {std::nullopt, true, L"—", 0},
        {HUGE_VAL, true, L"—", 0},    {0.0, true, L"<1 ms", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.value));
        const TextCard tile = make_ms_metric_tile(L"Ping do serwera", c.value, c.rated, 50, 100);
        EXPECT_EQ(tile, (TextCard{L"Ping do serwera", c.subtitle, L"", c.status}));
    }
}

TEST(IdleQualityCard, TilesProfileLineAndSentence) {
    const std::wstring regular = L"Serwer odpowiadał regularnie na próby ping.";
    const std::wstring unanswered =
        L"Nie wszystkie próby ping otrzymały odpowiedź. Serwer może ograniczać odpowiedzi na ping.";
    const std::wstring unsteady =
        L"Czas odpowiedzi się wahał. W rozmowie lub grze mogą pojawić się krótkie przycięcia.";
    const std::wstring slow =
        L"Serwer odpowiadał z opóźnieniem. Na czas odpowiedzi wpływa też odległość do serwera.";
    const std::wstring too_few =
        L"Część odczytów ma za mało próbek. Szczegóły pomiaru są w tabeli poniżej.";

    json four_then_timeout = replies({10, 30, 10, 30});  // jitter 20 ms over three pairs
    four_then_timeout.push_back(with_status("timeout"));
    json four_then_unavailable = replies({20, 20, 20, 20});
    four_then_unavailable.push_back(with_status("unavailable"));

    struct Case {
        const char* name;
        json series;
        std::array<std::wstring, 3> subtitles;
        std::array<Verdict, 3> status;
        std::wstring sentence;
    };
    const std::vector<Case> cases = {
        {"five regular replies",
         series(replies({20, 22, 21, 25, 20})),
         {L"21,6 ms", L"3 ms", L"0 z 5"},
         {1, 1, 1},
         regular},
        {"unanswered comes before jitter",
         series(four_then_timeout),
         {L"20 ms", L"20 ms", L"1 z 5"},
         {1, 3, 2},
         unanswered},
        {"unsteady",
         series(replies({10, 20, 10, 20, 10})),
         {L"14 ms", L"10 ms", L"0 z 5"},
         {1, 2, 1},
         unsteady},
        {"slow",
         series(replies({100, 100, 100, 100, 100})),
         {L"100 ms", L"<1 ms", L"0 z 5"},
         {2, 1, 1},
         slow},
        {"an unavailable sample leaves the mean unrated",
         series(four_then_unavailable),
         {L"20 ms", L"<1 ms", L"—"},
         {0, 0, 0},
         too_few},
        {"reply, time-out, reply",
         series(json::array({reply(10), with_status("timeout"), reply(12)}), 3),
         {L"11 ms", L"—", L"1 z 3"},
         {0, 0, 0},
         too_few},
        {"four replies rate the ping but not the loss",
         series(replies({5, 5, 5, 5}), 4),
         {L"5 ms", L"<1 ms", L"0 z 4"},
         {1, 1, 0},
         too_few},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const IdleQualityCard card =
            build_ping_card(json::object(), summarize_ping_target(c.series));
        const std::array<std::wstring, 3> titles = {L"Ping do serwera", L"Wahania pingu",
                                                    L"Bez odpowiedzi na ping"};
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(card.tiles[i], (TextCard{titles[i], c.subtitles[i], L"", c.status[i]}))
                << "tile " << i;
        }
        EXPECT_EQ(card.sentence, c.sentence);
        EXPECT_EQ(card.profile_line, L"");
    }

    struct Profile {
        json profile;
        std::wstring line;
    };
    const std::vector<Profile> profiles = {
        {{{"mode", "windowed"}, {"rate_bps", 300000000}}, L"Profil pełnej prędkości"},
        {{{"mode", "whole"}, {"rate_bps", 300000000}}, L"Limit profilu 300 Mb/s"},
        {{{"rate_bps", 12345678.9}}, L"Limit profilu 12,3 Mb/s"},
        {{{"mode", "whole"}, {"rate_bps", 0}}, L""},
        {{{"mode", "whole"}, {"rate_bps", nullptr}}, L""},
        {{{"rate_bps", "300000000"}}, L""},
        {json::array(), L""},
    };
    for (const Profile& p : profiles) {
        SCOPED_TRACE(p.profile.dump());
        EXPECT_EQ(build_ping_card({{"profile", p.profile}}, PingSummary{}).profile_line, p.line);
    }
}

}  // namespace
}  // namespace tarvisko
