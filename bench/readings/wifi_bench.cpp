// Prints what the channel arithmetic of a detailed Wi-Fi scan costs on this machine, each figure
// beside a bare loop over the same bytes or points:
// - reading the channel of 300 BSS entries of a fixture network list with mhz_to_channel, beside
//   a loop that only walks the same elements;
// - rating a 300-network 5 GHz scene as the reading does (assess_channel, then the 20 MHz score
//   of every comparison row of the three bands), beside the same overlaps summed inline.
//   tools/wine/run-test build/bench/readings/wifi_bench.exe
#include <windows.h>
#include <wlanapi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <span>
#include <vector>

#include "readings/wifi_channels.h"
#include "support/wifi_fixtures.h"
#include "wifi_bench_scenes.h"
#include "bench_timing.h"

using namespace tarvisko;
using bench::apartment_block;
using bench::median_us;
using bench::report;
using test::Bytes;

namespace {

struct EntryView {
    std::int32_t mhz;
    std::span<const std::uint8_t> elements;
};

// The entries and their element spans, read from the list as the reading reads it.
std::vector<EntryView> entry_views(const Bytes& list) {
    std::vector<EntryView> views;
    WLAN_BSS_LIST header{};
    std::memcpy(&header, list.data(), 8);
    for (std::size_t i = 0; i < header.dwNumberOfItems; ++i) {
        const std::size_t at = 8 + i * sizeof(WLAN_BSS_ENTRY);
        WLAN_BSS_ENTRY entry;
        std::memcpy(&entry, list.data() + at, sizeof entry);
        views.push_back({static_cast<std::int32_t>(entry.ulChCenterFrequency / 1000),
                         std::span(list.data() + at + entry.ulIeOffset, entry.ulIeSize)});
    }
    return views;
}

// A 5 GHz scene: the own access point on 36 at 80 MHz and 300 neighbours across the band.
std::vector<plot_point> crowded_5ghz(std::size_t count) {
    std::vector<plot_point> points{{2, 36, 5180, 5210, 80, 0, -45, true}};
    const std::int32_t widths[] = {20, 40, 80, 160, 0};
    const std::vector<std::int32_t> channels = candidate_channels(2);
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t c = channels[i % channels.size()];
        const std::int32_t mhz = channel_to_mhz(2, c);
        const std::int32_t width = widths[i % 5];
        points.push_back({2, c, mhz, mhz + (width >= 40 ? 10 : 0), width, i % 17 == 0 ? 5775 : 0,
                          -50 - static_cast<std::int32_t>(i % 45), false});
    }
    return points;
}

// The reading's comparison rows of one band: candidates and the channels seen, in order.
std::vector<std::int32_t> row_channels(std::int32_t band, const std::vector<plot_point>& points) {
    std::set<std::int32_t> channels;
    for (const std::int32_t c : candidate_channels(band)) channels.insert(c);
    for (const plot_point& p : points) {
        if (p.band == band) channels.insert(p.channel);
    }
    return {channels.begin(), channels.end()};
}

}  // namespace

int main() {
    const Bytes list = test::bss_list(apartment_block(300));
    const std::vector<EntryView> views = entry_views(list);
    std::printf("fixture list: %zu entries, %zu bytes\n", views.size(), list.size());

    std::int64_t sink = 0;
    const double parse = median_us(200, [&] {
        for (const EntryView& view : views)
            sink += mhz_to_channel(view.mhz, view.elements).width_mhz;
    });
    const double walk = median_us(200, [&] {
        for (const EntryView& view : views) {
            std::size_t at = 0;
            while (view.elements.size() - at >= 2) {
                const std::size_t length = view.elements[at + 1];
                if (length > view.elements.size() - at - 2) break;
                sink += view.elements[at];
                at += 2 + length;
            }
        }
    });
    report("mhz_to_channel, 300 entries", parse, "bare element walk, same bytes", walk);

    const std::vector<plot_point> scene = crowded_5ghz(300);
    const wifi_channel own{2, 36, 5180, 5210, 80, 0};
    std::vector<std::vector<std::int32_t>> rows;
    std::size_t row_count = 0;
    for (std::int32_t band = 1; band <= 3; ++band) {
        rows.push_back(row_channels(band, scene));
        row_count += rows.back().size();
    }
    std::printf("5 GHz scene: %zu networks, %zu comparison rows\n", scene.size(), row_count);

    double score_sink = 0;
    const double assess = median_us(200, [&] {
        score_sink += assess_channel(own, scene).own.score;
        for (std::int32_t band = 1; band <= 3; ++band) {
            for (const std::int32_t c : rows[band - 1]) {
                const std::int32_t mhz = channel_to_mhz(band, c);
                score_sink += overlap_score({band, c, mhz, mhz, 20, 0}, scene).score;
            }
        }
    });
    const double inline_sum = median_us(200, [&] {
        // The same pairs as the assessment (own channel, its 20 MHz rescore and the seven
        // candidates of a proposal at most) and the rows, one overlap sum each.
        const auto sum = [&](std::int32_t band, double a, double width) {
            double total = 0;
            for (const plot_point& p : scene) {
                if (p.own || p.band != band || p.rssi_dbm < -85) continue;
                const double w = p.width_mhz != 0 ? p.width_mhz : 20;
                total += std::max(0.0, std::min(a + width / 2, p.center_mhz + w / 2) -
                                           std::max(a - width / 2, p.center_mhz - w / 2));
            }
            return total;
        };
        score_sink += sum(2, 5210, 80) + sum(2, 5180, 20);
        for (const double a : {5180.0, 5200.0, 5220.0, 5240.0}) score_sink += sum(2, a, 20);
        for (std::int32_t band = 1; band <= 3; ++band) {
            for (const std::int32_t c : rows[band - 1]) {
                score_sink += sum(band, channel_to_mhz(band, c), 20);
            }
        }
    });
    report("assess_channel + 20 MHz rows of three bands", assess, "overlaps summed inline",
           inline_sum);
    std::printf("(checksums %lld %.1f)\n", static_cast<long long>(sink), score_sink);
    return 0;
}
