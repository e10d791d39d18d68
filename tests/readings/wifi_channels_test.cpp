#include "readings/wifi_channels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/wifi_fixtures.h"

namespace tarvisko {
namespace {

using test::Bytes;
using test::join;

std::string describe(const wifi_channel& c) {
    return "band " + std::to_string(c.band) + " ch " + std::to_string(c.channel) + " primary " +
           std::to_string(c.primary_mhz) + " centre " + std::to_string(c.center_mhz) + " width " +
           std::to_string(c.width_mhz) + " second " + std::to_string(c.second_center_mhz);
}

TEST(ChannelToMhz, BandsAndMissingChannels) {
    const struct {
        std::int32_t band, channel, mhz;
    } cases[] = {
        {1, 1, 2412},   {1, 13, 2472},  {1, 14, 2484}, {1, 0, 0},   {1, 15, 0},   {2, 7, 5035},
        {2, 36, 5180},  {2, 177, 5885}, {2, 6, 0},     {2, 178, 0}, {3, 1, 5955}, {3, 2, 5935},
        {3, 233, 7115}, {3, 0, 0},      {3, 234, 0},   {0, 36, 0},  {4, 1, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(channel_to_mhz(c.band, c.channel), c.mhz) << c.band << "/" << c.channel;
    }
}

TEST(MhzToChannel, FrequencyAlone) {
    const struct {
        std::int32_t mhz;
        wifi_channel expected;
    } cases[] = {
        {2484, {1, 14, 2484, 2484, 0, 0}}, {2417, {1, 2, 2417, 2417, 0, 0}},
        {2413, {0, 0, 2413, 2413, 0, 0}},  {2482, {0, 0, 2482, 2482, 0, 0}},
        {5180, {2, 36, 5180, 5180, 0, 0}}, {5935, {3, 2, 5935, 5935, 0, 0}},
        {5955, {3, 1, 5955, 5955, 0, 0}},  {5890, {0, 0, 5890, 5890, 0, 0}},
        {5940, {0, 0, 5940, 5940, 0, 0}},  {7115, {3, 233, 7115, 7115, 0, 0}},
        {0, {0, 0, 0, 0, 0, 0}},
    };
    const Bytes one_byte{61};
    for (const auto& c : cases) {
        EXPECT_EQ(mhz_to_channel(c.mhz, {}), c.expected) << c.mhz;
        EXPECT_EQ(mhz_to_channel(c.mhz, one_byte), c.expected) << c.mhz;
    }
}

// Beacons as access points send them: the operation elements among the usual others.
Bytes beacon(std::initializer_list<Bytes> operation) {
    const Bytes ssid = test::element(0, {'H', 'o', 'm', 'e'});
    const Bytes rates = test::element(1, {0x82, 0x84, 0x8B, 0x96, 0x0C, 0x12, 0x18, 0x24});
    const Bytes country = test::element(7, {'P', 'L', 0x20, 0x24, 0x04, 0x17});
    Bytes out = join({ssid, rates, country});
    for (const Bytes& part : operation) out.insert(out.end(), part.begin(), part.end());
    return join({out, test::router_wps_element("Maker", "Router AX", "AX-1")});
}

TEST(MhzToChannel, WidthFromOperationElements) {
    using test::eht_operation;
    using test::he_operation;
    using test::ht_operation;
    using test::vht_operation;
    const Bytes ht36_above = ht_operation(36, test::ht_secondary_above);
    const auto six = [](std::uint8_t primary, std::uint8_t code, std::uint8_t s0, std::uint8_t s1) {
        test::HeOperation operation;
        operation.six_ghz = test::SixGhzOperation{primary, code, s0, s1};
        return operation;
    };
    test::HeOperation shifted = six(5, 2, 7, 0);
    shifted.vht_information = true;
    shifted.cohosted_bss = true;

    const struct {
        const char* name;
        std::int32_t mhz;
        Bytes elements;
        wifi_channel expected;
    } cases[] = {
        // 2.4 GHz.
        {"HT 20",
         2437,
         beacon({ht_operation(6, test::ht_no_secondary)}),
         {1, 6, 2437, 2437, 20, 0}},
        {"HT 40 above",
         2437,
         beacon({ht_operation(6, test::ht_secondary_above)}),
         {1, 6, 2437, 2447, 40, 0}},
        {"HT 40 below",
         2437,
         beacon({ht_operation(6, test::ht_secondary_below)}),
         {1, 6, 2437, 2427, 40, 0}},
        {"HT offset without any-width bit",
         2437,
         beacon({ht_operation(6, test::ht_secondary_above, false)}),
         {1, 6, 2437, 2437, 20, 0}},
        {"HT offset 2 changes nothing",
         2437,
         beacon({ht_operation(6, 2)}),
         {1, 6, 2437, 2437, 0, 0}},
        {"HT above on 13 has no centre 15",
         2472,
         beacon({ht_operation(13, test::ht_secondary_above)}),
         {1, 13, 2472, 2472, 0, 0}},
        {"HT primary of an unknown channel",
         2437,
         beacon({ht_operation(0, 0)}),
         {1, 6, 2437, 2437, 0, 0}},
        {"HT primary further than 80 MHz",
         5180,
         beacon({ht_operation(64, 0)}),
         {2, 36, 5180, 5180, 0, 0}},
        {"VHT in 2.4 GHz is ignored",
         2437,
         beacon({ht_operation(6, test::ht_no_secondary), vht_operation(1, 42, 0)}),
         {1, 6, 2437, 2437, 20, 0}},
        {"EHT 40 in 2.4 GHz",
         2437,
         beacon({ht_operation(6, 0), eht_operation(1, 8, 0)}),
         {1, 6, 2437, 2447, 40, 0}},
        // 5 GHz, the worked examples.
        {"HT 40 at 36", 5180, beacon({ht36_above}), {2, 36, 5180, 5190, 40, 0}},
        {"VHT 80", 5180, beacon({ht36_above, vht_operation(1, 42, 0)}), {2, 36, 5180, 5210, 80, 0}},
        {"VHT 160 by segment 1",
         5180,
         beacon({ht36_above, vht_operation(1, 42, 50)}),
         {2, 36, 5180, 5250, 160, 0}},
        {"VHT 80+80",
         5180,
         beacon({ht36_above, vht_operation(1, 42, 155)}),
         {2, 36, 5180, 5210, 80, 5775}},
        {"VHT width 2",
         5180,
         beacon({ht36_above, vht_operation(2, 50, 0)}),
         {2, 36, 5180, 5250, 160, 0}},
        {"VHT width 3",
         5180,
         beacon({ht36_above, vht_operation(3, 42, 155)}),
         {2, 36, 5180, 5210, 80, 5775}},
        {"VHT width 3 without segment 1",
         5180,
         beacon({ht36_above, vht_operation(3, 42, 0)}),
         {2, 36, 5180, 5190, 40, 0}},
        {"VHT segments 12 apart change nothing",
         5180,
         beacon({ht36_above, vht_operation(1, 42, 54)}),
         {2, 36, 5180, 5190, 40, 0}},
        {"VHT width 0 keeps HT",
         5180,
         beacon({ht36_above, vht_operation(0, 38, 0)}),
         {2, 36, 5180, 5190, 40, 0}},
        {"VHT 160 too far from the primary is refused",
         5180,
         beacon({ht36_above, vht_operation(2, 58, 0)}),
         {2, 36, 5180, 5190, 40, 0}},
        {"VHT 80+80 with a second centre outside the band is refused",
         5180,
         beacon({ht36_above, vht_operation(1, 42, 181)}),
         {2, 36, 5180, 5190, 40, 0}},
        {"the last HT element counts",
         5200,
         beacon({ht36_above, ht_operation(40, test::ht_secondary_below)}),
         {2, 40, 5200, 5190, 40, 0}},
        {"EHT 160 in 5 GHz",
         5180,
         beacon({ht36_above, vht_operation(1, 42, 0), eht_operation(3, 42, 50)}),
         {2, 36, 5180, 5250, 160, 0}},
        {"EHT 320 outside 6 GHz is ignored",
         5180,
         beacon({ht36_above, vht_operation(1, 42, 0), eht_operation(4, 50, 63)}),
         {2, 36, 5180, 5210, 80, 0}},
        // 6 GHz.
        {"HT in 6 GHz is ignored",
         5955,
         beacon({ht_operation(1, test::ht_secondary_above)}),
         {3, 1, 5955, 5955, 0, 0}},
        {"HE 80", 5975, beacon({he_operation(six(5, 2, 7, 0))}), {3, 5, 5975, 5985, 80, 0}},
        {"HE 160 contiguous",
         5955,
         beacon({he_operation(six(1, 3, 7, 15))}),
         {3, 1, 5955, 6025, 160, 0}},
        {"HE 160 given by segment 0 alone",
         5955,
         beacon({he_operation(six(1, 3, 15, 0))}),
         {3, 1, 5955, 6025, 160, 0}},
        {"HE 80+80", 5955, beacon({he_operation(six(1, 3, 7, 71))}), {3, 1, 5955, 5985, 80, 6305}},
        {"HE after VHT information and co-hosted byte",
         5975,
         beacon({he_operation(shifted)}),
         {3, 5, 5975, 5985, 80, 0}},
        {"HE without 6 GHz information",
         5975,
         beacon({he_operation({})}),
         {3, 5, 5975, 5975, 0, 0}},
        {"HE primary further than 160 MHz",
         5955,
         beacon({he_operation(six(37, 0, 37, 0))}),
         {3, 1, 5955, 5955, 0, 0}},
        {"HE on channel 2",
         5935,
         beacon({he_operation(six(2, 0, 2, 0))}),
         {3, 2, 5935, 5935, 20, 0}},
        {"EHT 320",
         5955,
         beacon({he_operation(six(1, 3, 7, 15)), eht_operation(4, 15, 31)}),
         {3, 1, 5955, 6105, 320, 0}},
        {"EHT 160 without CCFS1 takes CCFS0",
         5955,
         beacon({he_operation(six(1, 2, 7, 0)), eht_operation(3, 15, 0)}),
         {3, 1, 5955, 6025, 160, 0}},
        {"EHT width code 5 is ignored",
         5955,
         beacon({he_operation(six(1, 2, 7, 0)), eht_operation(5, 15, 31)}),
         {3, 1, 5955, 5985, 80, 0}},
        {"EHT with a disabled subchannel bitmap",
         5955,
         beacon({he_operation(six(1, 2, 7, 0)), eht_operation(4, 15, 31, true, true)}),
         {3, 1, 5955, 6105, 320, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(describe(mhz_to_channel(c.mhz, c.elements)), describe(c.expected)) << c.name;
    }
}

TEST(MhzToChannel, HostileElementsStopTheWalkAndKeepWhatCameBefore) {
    using test::ht_operation;
    using test::vht_operation;
    const Bytes ht = ht_operation(36, test::ht_secondary_above);
    const Bytes vht80 = vht_operation(1, 42, 0);
    test::HeOperation he80;
    he80.six_ghz = test::SixGhzOperation{1, 2, 7, 0};
    const Bytes he = test::he_operation(he80);

    const struct {
        const char* name;
        std::int32_t mhz;
        Bytes elements;
        std::int32_t width, center;
    } cases[] = {
        {"element past the end after VHT", 5180,
         join({ht, vht80, test::element_claiming(192, 200, {2, 50, 0, 0, 0})}), 80, 5210},
        {"element past the end before VHT", 5180,
         join({ht, test::element_claiming(221, 60, {0, 0x50, 0xF2}), vht80}), 40, 5190},
        {"truncated last element", 5180, test::truncated(join({ht, vht80}), 1), 40, 5190},
        {"only a header left", 5180, join({ht, vht80, Bytes{221}}), 80, 5210},
        {"length byte missing", 5180, Bytes{61}, 0, 5180},
        {"HT too short", 5180, test::shortened(ht, 21), 0, 5180},
        {"VHT too short", 5180, join({ht, test::shortened(vht80, 3)}), 40, 5190},
        {"HE with its 6 GHz bit but without the bytes", 5955, test::shortened(he, 5), 0, 5955},
        {"HE one byte short of its 6 GHz information", 5955, test::shortened(he, 1), 0, 5955},
        {"EHT without its information bit", 5955, join({he, test::eht_operation(4, 15, 31, false)}),
         80, 5985},
        {"EHT cut before CCFS1", 5955,
         join({he, test::shortened(test::eht_operation(4, 15, 31), 1)}), 80, 5985},
    };
    for (const auto& c : cases) {
        const wifi_channel channel = mhz_to_channel(c.mhz, c.elements);
        EXPECT_EQ(channel.width_mhz, c.width) << c.name;
        EXPECT_EQ(channel.center_mhz, c.center) << c.name;
    }
}

TEST(FitChannelWidth, PrimaryMustLieInsideTheWidth) {
    const struct {
        std::int32_t band, primary, width, center, second;
        bool accepted;
    } cases[] = {
        {2, 5180, 20, 36, 0, true},   {2, 5180, 20, 40, 0, false},  {2, 5180, 40, 38, 0, true},
        {2, 5180, 40, 42, 0, false},  {2, 5180, 80, 42, 0, true},   {2, 5180, 80, 46, 0, false},
        {2, 5180, 160, 50, 0, true},  {2, 5180, 160, 54, 0, false}, {3, 5955, 320, 31, 0, true},
        {3, 5955, 320, 33, 0, false}, {2, 5180, 80, 42, 6, false},  {2, 5180, 80, 0, 0, false},
        {1, 2412, 40, 3, 0, true},    {1, 2412, 40, 15, 0, false},
    };
    for (const auto& c : cases) {
        wifi_channel channel{c.band, 1, c.primary, c.primary, 0, 0};
        const wifi_channel before = channel;
        EXPECT_EQ(fit_channel_width(channel, c.width, c.center, c.second), c.accepted)
            << c.width << " around " << c.center;
        if (c.accepted) {
            EXPECT_EQ(channel.width_mhz, c.width);
            EXPECT_EQ(channel.center_mhz, channel_to_mhz(c.band, c.center));
        } else {
            EXPECT_EQ(channel, before);
        }
    }
}

// A network of the 2.4 GHz band on channel c, 20 MHz wide.
plot_point net24(std::int32_t c, std::int32_t rssi, std::int32_t width = 20) {
    const std::int32_t mhz = channel_to_mhz(1, c);
    return {1, c, mhz, mhz, width, 0, rssi, false};
}

const wifi_channel channel6{1, 6, 2437, 2437, 20, 0};

TEST(OverlapScore, WorkedExamples) {
    const struct {
        const char* name;
        wifi_channel channel;
        std::vector<plot_point> networks;
        overlap_stats expected;
    } cases[] = {
        {"adjacent strong", channel6, {net24(7, -60)}, {1, 1, 0, 3.0}},
        {"adjacent weak", channel6, {net24(7, -81)}, {1, 0, 0, 0.75}},
        {"adjacent below -85", channel6, {net24(7, -86)}, {0, 0, 0, 0.0}},
        {"at -85", channel6, {net24(7, -85)}, {1, 0, 0, 0.75}},
        {"at -67 strong", channel6, {net24(6, -67)}, {1, 1, 0, 4.0}},
        {"at -68 medium", channel6, {net24(6, -68)}, {1, 0, 0, 2.0}},
        {"at -80 medium", channel6, {net24(6, -80)}, {1, 0, 0, 2.0}},
        {"11 against 1", {1, 1, 2412, 2412, 20, 0}, {net24(11, -40)}, {0, 0, 0, 0.0}},
        {"edges touching do not overlap", channel6, {net24(10, -40)}, {0, 0, 0, 0.0}},
        {"unknown width counted as 20", channel6, {net24(8, -60, 0)}, {1, 1, 1, 2.0}},
        {"own network skipped", channel6, {{1, 6, 2437, 2437, 20, 0, -30, true}}, {0, 0, 0, 0.0}},
        {"other band skipped", channel6, {{2, 36, 5180, 5180, 20, 0, -30, false}}, {0, 0, 0, 0.0}},
        {"no primary skipped", channel6, {{1, 6, 0, 2437, 20, 0, -30, false}}, {0, 0, 0, 0.0}},
        {"own width 0 taken as 20", {1, 6, 2437, 2437, 0, 0}, {net24(7, -60)}, {1, 1, 0, 3.0}},
        {"40 MHz neighbour", channel6, {{1, 1, 2412, 2422, 40, 0, -60, false}}, {1, 1, 0, 3.0}},
        // 80+80 own channel: each segment is 80 MHz, the score is shared by both.
        {"80+80 own",
         {2, 36, 5180, 5210, 80, 5775},
         {{2, 157, 5785, 5775, 80, 0, -60, false}, {2, 40, 5200, 5210, 80, 0, -60, false}},
         {2, 2, 0, 4.0}},
        {"80+80 neighbour over both own segments",
         {2, 36, 5180, 5210, 80, 5775},
         {{2, 36, 5180, 5210, 80, 5775, -75, false}},
         {1, 0, 0, 2.0}},
    };
    for (const auto& c : cases) {
        const overlap_stats stats = overlap_score(c.channel, c.networks);
        EXPECT_EQ(stats.overlapping, c.expected.overlapping) << c.name;
        EXPECT_EQ(stats.strong, c.expected.strong) << c.name;
        EXPECT_EQ(stats.unknown_width, c.expected.unknown_width) << c.name;
        EXPECT_DOUBLE_EQ(stats.score, c.expected.score) << c.name;
    }
}

TEST(OverlapLevel, Levels) {
    EXPECT_FALSE(is_heavy_overlap({2, 0, 0, 3.99}));
    EXPECT_TRUE(is_heavy_overlap({1, 0, 0, 4.0}));
    EXPECT_TRUE(is_heavy_overlap({1, 1, 0, 0.5}));
    const struct {
        overlap_stats stats;
        const wchar_t* text;
        std::int32_t level;
    } cases[] = {
        {{0, 0, 0, 0.0}, L"Nie widać innych", 1}, {{1, 0, 0, 0.25}, L"Widać sąsiadów", 2},
        {{3, 0, 0, 3.75}, L"Widać sąsiadów", 2},  {{4, 0, 0, 4.0}, L"Dużo nakładania", 3},
        {{1, 1, 0, 1.0}, L"Dużo nakładania", 3},
    };
    for (const auto& c : cases) {
        const OverlapLevel level = overlap_level(c.stats);
        EXPECT_EQ(level.text, c.text);
        EXPECT_EQ(level.level, c.level);
    }
}

TEST(CandidateChannels, Bands) {
    const std::vector<std::int32_t> band1{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    EXPECT_EQ(candidate_channels(1), band1);
    const std::vector<std::int32_t> band2{36,  40,  44,  48,  52,  56,  60,  64,  100, 104,
                                          108, 112, 116, 120, 124, 128, 132, 136, 140, 144,
                                          149, 153, 157, 161, 165, 169, 173, 177};
    EXPECT_EQ(candidate_channels(2), band2);
    const std::vector<std::int32_t> band3 = candidate_channels(3);
    ASSERT_EQ(band3.size(), 59u);
    EXPECT_EQ(band3.front(), 1);
    EXPECT_EQ(band3[1], 5);
    EXPECT_EQ(band3.back(), 233);
    EXPECT_TRUE(candidate_channels(0).empty());
    EXPECT_TRUE(candidate_channels(4).empty());
}

// Scores at 20 MHz per network, by distance in channels d: strong 4, 3, 2, 1; medium (-75)
// 2, 1.5, 1, 0.5; weak (-82) 1, 0.75, 0.5, 0.25.
constexpr std::int32_t strong = -60;
constexpr std::int32_t medium = -75;
constexpr std::int32_t weak = -82;

TEST(BestCandidateChannel, TiesAndThresholds) {
    const plot_point own_point{1, 6, 2437, 2437, 20, 0, -40, true};
    const struct {
        const char* name;
        wifi_channel own;
        std::vector<plot_point> networks;
        std::optional<std::int32_t> expected;
    } cases[] = {
        // 6 scores 6.0, 1 and 11 score 1.0 each: the earlier candidate wins the tie.
        {"6.0 against 1.0 and 1.0",
         channel6,
         {own_point, net24(6, strong), net24(6, weak), net24(3, medium), net24(9, medium)},
         1},
        {"drop of exactly 1.0", channel6, {net24(6, medium), net24(1, weak), net24(11, weak)}, 1},
        // 6 scores 1.75, 1 scores 1.0: the drop stays below 1.0.
        {"drop below 1.0",
         channel6,
         {net24(6, weak), net24(7, weak), net24(1, weak), net24(11, weak)},
         std::nullopt},
        // 6 scores 8.0, 1 and 11 score 6.5: not at most three quarters.
        {"8.0 against 6.5",
         channel6,
         {net24(6, strong), net24(6, strong), net24(1, strong), net24(2, medium), net24(1, weak),
          net24(11, strong), net24(10, medium), net24(11, weak)},
         std::nullopt},
        {"8.0 against exactly 6.0",
         channel6,
         {net24(6, strong), net24(6, strong), net24(1, strong), net24(1, medium), net24(11, strong),
          net24(11, medium)},
         1},
        {"own channel wins a tie",
         {1, 1, 2412, 2412, 20, 0},
         {net24(1, strong), net24(11, strong), net24(6, strong)},
         std::nullopt},
        // At 20 MHz channel 6 scores 3.0 and channel 1 2.5: no proposal. Scored at its 40 MHz
        // the own channel would reach 4.375 and wrongly propose 1.
        {"own primary rescored at 20 MHz",
         {1, 6, 2437, 2447, 40, 0},
         {net24(8, strong), net24(9, strong), net24(11, weak), net24(2, medium), net24(1, weak)},
         std::nullopt},
        {"5 GHz candidates",
         {2, 36, 5180, 5180, 20, 0},
         {{2, 36, 5180, 5180, 20, 0, strong, false}, {2, 40, 5200, 5200, 20, 0, strong, false}},
         44},
        {"6 GHz never proposes",
         {3, 1, 5955, 5955, 20, 0},
         {{3, 1, 5955, 5955, 20, 0, strong, false}},
         std::nullopt},
        {"no channel", {1, 0, 2437, 2437, 20, 0}, {net24(6, strong)}, std::nullopt},
        {"no primary", {1, 6, 0, 2437, 20, 0}, {net24(6, strong)}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(best_candidate_channel(c.own, c.networks), c.expected) << c.name;
    }
}

TEST(AssessChannel, RulesInOrder) {
    const plot_point own_point{1, 6, 2437, 2437, 20, 0, -40, true};
    const wifi_channel width0{1, 6, 2437, 2437, 0, 0};
    const wifi_channel six{3, 5, 5975, 5985, 80, 0};
    const plot_point six_strong{3, 5, 5975, 5975, 20, 0, strong, false};
    const plot_point six_weak{3, 9, 5995, 5995, 20, 0, weak, false};
    const struct {
        const char* name;
        wifi_channel own;
        std::vector<plot_point> networks;
        std::int32_t verdict;
    } cases[] = {
        {"no band", {0, 6, 2437, 2437, 20, 0}, {net24(6, strong)}, 0},
        {"no channel", {1, 0, 2437, 2437, 20, 0}, {net24(6, strong)}, 0},
        {"no primary", {1, 6, 0, 2437, 20, 0}, {net24(6, strong)}, 0},
        {"no centre", {1, 6, 2437, 0, 20, 0}, {net24(6, strong)}, 0},
        {"proposal", channel6, {own_point, net24(6, strong), net24(6, medium)}, 2},
        {"crowded by a strong neighbour",
         channel6,
         {net24(6, strong), net24(1, strong), net24(11, strong)},
         3},
        {"crowded by score 4.0",
         channel6,
         {net24(6, weak), net24(6, weak), net24(6, weak), net24(6, weak), net24(1, medium),
          net24(1, medium), net24(11, medium), net24(11, medium)},
         3},
        {"score 3.75 is kept",
         channel6,
         {net24(6, weak), net24(6, weak), net24(6, weak), net24(7, weak), net24(1, medium),
          net24(1, medium), net24(11, medium), net24(11, medium)},
         1},
        {"unknown width with a neighbour", width0, {own_point, net24(1, weak)}, 0},
        {"unknown width, neighbour below -85", width0, {own_point, net24(1, -86)}, 1},
        {"unknown width, neighbour in another band",
         width0,
         {own_point, {2, 36, 5180, 5180, 20, 0, strong, false}},
         1},
        {"nothing around", channel6, {own_point}, 1},
        {"6 GHz crowded", six, {six_strong}, 3},
        {"6 GHz quiet", six, {six_weak}, 1},
        {"6 GHz with unknown width", {3, 5, 5975, 5975, 0, 0}, {six_weak}, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(assess_channel(c.own, c.networks).verdict, c.verdict) << c.name;
    }
}

TEST(AssessChannel, FillsTheStatsOfItsVerdict) {
    const std::vector<plot_point> scene{net24(6, strong), net24(7, medium), net24(11, weak)};
    const channel_assessment proposal = assess_channel(channel6, scene);
    ASSERT_EQ(proposal.verdict, 2);
    EXPECT_EQ(proposal.proposal, 1);
    EXPECT_EQ(proposal.own, (overlap_stats{2, 1, 0, 5.5}));
    EXPECT_EQ(proposal.current_at_20, (overlap_stats{2, 1, 0, 5.5}));
    EXPECT_EQ(proposal.proposed_at_20, (overlap_stats{}));

    // A 40 MHz own channel is scored at its width, the comparison at 20 MHz.
    const wifi_channel wide{1, 6, 2437, 2447, 40, 0};
    const channel_assessment wide_proposal = assess_channel(wide, scene);
    ASSERT_EQ(wide_proposal.verdict, 2);
    EXPECT_EQ(wide_proposal.own, (overlap_stats{3, 1, 0, 3.375}));
    EXPECT_EQ(wide_proposal.current_at_20, (overlap_stats{2, 1, 0, 5.5}));

    const channel_assessment unknown =
        assess_channel({1, 6, 2437, 2437, 0, 0}, std::vector<plot_point>{net24(1, weak)});
    EXPECT_EQ(unknown.verdict, 0);
    EXPECT_EQ(unknown.own, (overlap_stats{}));  // channel 1 does not reach channel 6
    const channel_assessment unknown_near =
        assess_channel({1, 6, 2437, 2437, 0, 0}, std::vector<plot_point>{net24(4, weak)});
    EXPECT_EQ(unknown_near.verdict, 0);
    EXPECT_EQ(unknown_near.own, (overlap_stats{1, 0, 0, 0.5}));  // the stats stay filled
    EXPECT_FALSE(unknown_near.proposal);
    EXPECT_EQ(unknown_near.current_at_20, (overlap_stats{}));

    const channel_assessment none = assess_channel({}, scene);
    EXPECT_EQ(none.verdict, 0);
    EXPECT_EQ(none.own, (overlap_stats{}));
    EXPECT_FALSE(none.proposal);
}

}  // namespace
}  // namespace tarvisko
