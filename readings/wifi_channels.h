#pragma once
// Channel arithmetic of Wi-Fi and the rating of the own channel: channel numbers and
// frequencies, the true width of an access point's channel from its beacon's operation elements,
// how much the visible networks overlap a channel, and whether to keep the channel, try another
// or call it crowded. Pure functions: no state, no Windows calls.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "readings/wifi_records.h"

namespace tarvisko {

// Networks weaker than this are left out of counts and scores.
inline constexpr std::int32_t wifi_visible_dbm = -85;
// Networks at least this strong count as strong.
inline constexpr std::int32_t wifi_strong_dbm = -67;

// Centre frequency of the channel in MHz; 0 when the band has no such channel.
std::int32_t channel_to_mhz(std::int32_t band, std::int32_t channel);

// The channel of a beacon heard on `frequency_mhz`, with its width read from the HT, VHT, HE and
// EHT Operation elements among `elements`. A frequency between channel centres gives band 0.
wifi_channel mhz_to_channel(std::int32_t frequency_mhz, std::span<const std::uint8_t> elements);

// Sets width and centres when the centre channel `center` (and `second`, when not 0) exists in
// the channel's band and the primary channel lies inside the width; otherwise changes nothing
// and returns false.
bool fit_channel_width(wifi_channel& channel, std::int32_t width, std::int32_t center,
                       std::int32_t second);

// How much the networks (own and weak ones left out) overlap the channel.
overlap_stats overlap_score(const wifi_channel& channel, std::span<const plot_point> networks);

bool is_heavy_overlap(const overlap_stats& stats);

struct OverlapLevel {
    std::wstring text;
    std::int32_t level = 0;  // a Verdict: 1 none, 2 neighbours, 3 heavy
};
OverlapLevel overlap_level(const overlap_stats& stats);

// The channels the Wi-Fi page compares in its channel rows (not the candidates of a proposal).
std::vector<std::int32_t> candidate_channels(std::int32_t band);

// A channel among 1, 6, 11 (2.4 GHz) or 36, 40, 44, 48 (5 GHz) that clearly beats the own
// primary channel at 20 MHz; none in the 6 GHz band.
std::optional<std::int32_t> best_candidate_channel(const wifi_channel& own,
                                                   std::span<const plot_point> networks);

channel_assessment assess_channel(const wifi_channel& own, std::span<const plot_point> networks);

}  // namespace tarvisko
