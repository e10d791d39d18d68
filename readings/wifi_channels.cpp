#include "readings/wifi_channels.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace tarvisko {
namespace {

constexpr std::uint8_t ht_operation_id = 61;
constexpr std::uint8_t vht_operation_id = 192;
constexpr std::uint8_t extension_id = 255;
constexpr std::uint8_t he_operation_extension = 36;
constexpr std::uint8_t eht_operation_extension = 106;

// The data bytes of the last operation element of each kind in a beacon.
struct OperationElements {
    std::span<const std::uint8_t> ht;
    std::span<const std::uint8_t> vht;
    std::span<const std::uint8_t> he;
    std::span<const std::uint8_t> eht;
};

// Walks identifier, length, data until fewer than two bytes remain or an element claims more
// bytes than remain: what was found before a broken element still counts.
OperationElements find_operation_elements(std::span<const std::uint8_t> elements) {
    OperationElements found;
    std::size_t at = 0;
    while (elements.size() - at >= 2) {
        const std::uint8_t id = elements[at];
        const std::size_t length = elements[at + 1];
        if (length > elements.size() - at - 2) break;
        const std::span<const std::uint8_t> data = elements.subspan(at + 2, length);
        if (id == ht_operation_id && length >= 2) {
            found.ht = data;
        } else if (id == vht_operation_id && length >= 3) {
            found.vht = data;
        } else if (id == extension_id && length >= 7 && data[0] == he_operation_extension) {
            found.he = data;
        } else if (id == extension_id && length >= 9 && data[0] == eht_operation_extension &&
                   (data[1] & 1) != 0) {
            found.eht = data;
        }
        at += 2 + length;
    }
    return found;
}

void apply_ht(wifi_channel& result, std::int32_t frequency, std::span<const std::uint8_t> ht) {
    const std::int32_t primary = ht[0];
    const std::int32_t primary_mhz = channel_to_mhz(result.band, primary);
    if (primary_mhz == 0 || std::abs(primary_mhz - frequency) > 80) return;
    result.channel = primary;
    result.primary_mhz = primary_mhz;
    result.center_mhz = primary_mhz;
    const std::uint8_t information = ht[1];
    const int secondary = information & 3;
    if ((information & 4) == 0 || secondary == 0) {
        result.width_mhz = 20;
    } else if (secondary == 1) {
        fit_channel_width(result, 40, primary + 2, 0);
    } else if (secondary == 3) {
        fit_channel_width(result, 40, primary - 2, 0);
    }
}

void apply_vht(wifi_channel& result, std::span<const std::uint8_t> vht) {
    const std::int32_t width = vht[0];
    const std::int32_t s0 = vht[1];
    const std::int32_t s1 = vht[2];
    const std::int32_t distance = std::abs(s1 - s0);
    if (width == 1) {
        if (s1 == 0) {
            fit_channel_width(result, 80, s0, 0);
        } else if (distance == 8) {
            fit_channel_width(result, 160, s1, 0);
        } else if (distance > 16) {
            fit_channel_width(result, 80, s0, s1);
        }
    } else if (width == 2) {
        fit_channel_width(result, 160, s0, 0);
    } else if (width == 3 && s1 != 0 && distance > 16) {
        fit_channel_width(result, 80, s0, s1);
    }
}

void apply_he(wifi_channel& result, std::int32_t frequency, std::span<const std::uint8_t> he) {
    const std::uint32_t parameters = he[1] | (he[2] << 8) | (he[3] << 16);
    if ((parameters & (1u << 17)) == 0) return;
    std::size_t at = 7;
    if ((parameters & (1u << 14)) != 0) at += 3;
    if ((parameters & (1u << 15)) != 0) at += 1;
    if (he.size() < at + 5) return;
    const std::int32_t primary = he[at];
    const std::uint8_t control = he[at + 1];
    const std::int32_t s0 = he[at + 2];
    const std::int32_t s1 = he[at + 3];
    const std::int32_t primary_mhz = channel_to_mhz(3, primary);
    if (primary_mhz == 0 || std::abs(primary_mhz - frequency) > 160) return;
    result.channel = primary;
    result.primary_mhz = primary_mhz;
    result.center_mhz = primary_mhz;
    std::int32_t width = 20 << (control & 3);
    std::int32_t center = s0;
    std::int32_t second = 0;
    if (width == 160) {
        if (std::abs(s1 - s0) <= 16) {
            if (s1 != 0) center = s1;  // contiguous 160 MHz: segment 1 is its centre
        } else if (s1 != 0) {
            width = 80;  // 80+80
            second = s1;
        }
    }
    fit_channel_width(result, width, center, second);
}

void apply_eht(wifi_channel& result, std::span<const std::uint8_t> eht) {
    const int code = eht[6] & 7;
    if (!(code < 4 || (code == 4 && result.band == 3))) return;
    const std::int32_t width = 20 << code;
    const std::int32_t center = width >= 160 && eht[8] != 0 ? eht[8] : eht[7];
    fit_channel_width(result, width, center, 0);
}

}  // namespace

std::int32_t channel_to_mhz(std::int32_t band, std::int32_t channel) {
    switch (band) {
        case 1:
            if (channel == 14) return 2484;
            if (channel >= 1 && channel <= 13) return 2407 + 5 * channel;
            return 0;
        case 2:
            if (channel >= 7 && channel <= 177) return 5000 + 5 * channel;
            return 0;
        case 3:
            if (channel == 2) return 5935;
            if (channel >= 1 && channel <= 233) return 5950 + 5 * channel;
            return 0;
        default:
            return 0;
    }
}

wifi_channel mhz_to_channel(std::int32_t frequency_mhz, std::span<const std::uint8_t> elements) {
    const std::int32_t f = frequency_mhz;
    wifi_channel result{0, 0, f, f, 0, 0};
    if (f >= 2412 && f <= 2484) {
        result.band = 1;
        result.channel = f == 2484 ? 14 : (f - 2407) / 5;
    } else if (f >= 5035 && f <= 5885) {
        result.band = 2;
        result.channel = (f - 5000) / 5;
    } else if (f == 5935) {
        result.band = 3;
        result.channel = 2;
    } else if (f >= 5955 && f <= 7115) {
        result.band = 3;
        result.channel = (f - 5950) / 5;
    }
    if (result.band == 0 || channel_to_mhz(result.band, result.channel) != f) {
        result.band = 0;
        result.channel = 0;
        return result;
    }
    if (elements.size() < 2) return result;

    const OperationElements found = find_operation_elements(elements);
    if (!found.ht.empty() && result.band != 3) apply_ht(result, f, found.ht);
    if (!found.vht.empty() && result.band == 2) apply_vht(result, found.vht);
    if (!found.he.empty() && result.band == 3) apply_he(result, f, found.he);
    if (!found.eht.empty()) apply_eht(result, found.eht);
    return result;
}

bool fit_channel_width(wifi_channel& channel, std::int32_t width, std::int32_t center,
                       std::int32_t second) {
    const std::int32_t center_mhz = channel_to_mhz(channel.band, center);
    const std::int32_t second_mhz = second != 0 ? channel_to_mhz(channel.band, second) : 0;
    if (center_mhz == 0 || (second != 0 && second_mhz == 0)) return false;
    if (std::abs(channel.primary_mhz - center_mhz) > width / 2 - 10) return false;
    channel.width_mhz = width;
    channel.center_mhz = center_mhz;
    channel.second_center_mhz = second_mhz;
    return true;
}

overlap_stats overlap_score(const wifi_channel& channel, std::span<const plot_point> networks) {
    overlap_stats stats;
    const double width = channel.width_mhz != 0 ? channel.width_mhz : 20;
    const std::array<std::int32_t, 2> segments{channel.center_mhz, channel.second_center_mhz};
    const int segment_count = channel.second_center_mhz != 0 ? 2 : 1;
    for (const plot_point& network : networks) {
        if (network.own || network.rssi_dbm < wifi_visible_dbm || network.band != channel.band ||
            network.primary_mhz == 0) {
            continue;
        }
        const double network_width = network.width_mhz != 0 ? network.width_mhz : 20;
        const std::array<std::int32_t, 2> network_segments{network.center_mhz,
                                                           network.second_center_mhz};
        double overlap = 0.0;
        for (const std::int32_t a : segments) {
            if (a == 0) continue;
            for (const std::int32_t b : network_segments) {
                if (b == 0) continue;
                const double high = std::min(a + width / 2, b + network_width / 2);
                const double low = std::max(a - width / 2, b - network_width / 2);
                overlap += std::max(0.0, high - low);
            }
        }
        if (overlap <= 0) continue;
        ++stats.overlapping;
        if (network.rssi_dbm >= wifi_strong_dbm) ++stats.strong;
        if (network.width_mhz == 0) ++stats.unknown_width;
        const double weight = network.rssi_dbm >= wifi_strong_dbm ? 4.0
                              : network.rssi_dbm >= -80           ? 2.0
                                                                  : 1.0;
        stats.score += weight * overlap / (segment_count * width);
    }
    return stats;
}

bool is_heavy_overlap(const overlap_stats& stats) { return stats.strong > 0 || stats.score >= 4.0; }

OverlapLevel overlap_level(const overlap_stats& stats) {
    if (stats.overlapping == 0) return {L"Nie widać innych", 1};
    if (is_heavy_overlap(stats)) return {L"Dużo nakładania", 3};
    return {L"Widać sąsiadów", 2};
}

std::vector<std::int32_t> candidate_channels(std::int32_t band) {
    std::vector<std::int32_t> channels;
    const auto add = [&channels](std::int32_t first, std::int32_t last, std::int32_t step) {
        for (std::int32_t c = first; c <= last; c += step) channels.push_back(c);
    };
    if (band == 1) {
        add(1, 13, 1);
    } else if (band == 2) {
        add(36, 64, 4);
        add(100, 144, 4);
        add(149, 177, 4);
    } else if (band == 3) {
        add(1, 233, 4);
    }
    return channels;
}

namespace {

// The channel c of the band taken as a plain 20 MHz channel.
wifi_channel twenty_mhz_channel(std::int32_t band, std::int32_t c) {
    const std::int32_t mhz = channel_to_mhz(band, c);
    return {band, c, mhz, mhz, 20, 0};
}

}  // namespace

std::optional<std::int32_t> best_candidate_channel(const wifi_channel& own,
                                                   std::span<const plot_point> networks) {
    if ((own.band != 1 && own.band != 2) || own.channel == 0 || own.primary_mhz == 0) {
        return std::nullopt;
    }
    const wifi_channel own_at_20{own.band, own.channel, own.primary_mhz, own.primary_mhz, 20, 0};
    const double own_score = overlap_score(own_at_20, networks).score;
    std::int32_t best = own.channel;
    double best_score = own_score;
    static constexpr std::array<std::int32_t, 3> candidates_24{1, 6, 11};
    static constexpr std::array<std::int32_t, 4> candidates_5{36, 40, 44, 48};
    const std::span<const std::int32_t> candidates =
        own.band == 1 ? std::span<const std::int32_t>(candidates_24)
                      : std::span<const std::int32_t>(candidates_5);
    for (const std::int32_t c : candidates) {
        const double score = overlap_score(twenty_mhz_channel(own.band, c), networks).score;
        if (score < best_score) {
            best = c;
            best_score = score;
        }
    }
    if (best != own.channel && own_score - best_score >= 1.0 && best_score <= 0.75 * own_score) {
        return best;
    }
    return std::nullopt;
}

channel_assessment assess_channel(const wifi_channel& own, std::span<const plot_point> networks) {
    channel_assessment result;
    if (own.band == 0 || own.channel == 0 || own.primary_mhz == 0 || own.center_mhz == 0) {
        return result;
    }
    result.own = overlap_score(own, networks);
    result.proposal = best_candidate_channel(own, networks);
    if (result.proposal) {
        const wifi_channel own_at_20{own.band,        own.channel, own.primary_mhz,
                                     own.primary_mhz, 20,          0};
        result.current_at_20 = overlap_score(own_at_20, networks);
        result.proposed_at_20 =
            overlap_score(twenty_mhz_channel(own.band, *result.proposal), networks);
        result.verdict = 2;
        return result;
    }
    if (is_heavy_overlap(result.own)) {
        result.verdict = 3;
        return result;
    }
    if (own.width_mhz == 0) {
        const bool neighbour_seen =
            std::any_of(networks.begin(), networks.end(), [&own](const plot_point& network) {
                return !network.own && network.band == own.band &&
                       network.rssi_dbm >= wifi_visible_dbm;
            });
        if (neighbour_seen) {
            result.verdict = 0;
            return result;
        }
    }
    result.verdict = 1;
    return result;
}

}  // namespace tarvisko
