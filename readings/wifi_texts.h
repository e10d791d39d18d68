#pragma once
// The Polish texts of the Wi-Fi page built from channel records and the assessment: cell texts,
// the centre-frequency note, the overlap sentence and the channel assessment card.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "readings/wifi_records.h"
#include "results/summary_model.h"

namespace tarvisko {

// "2,4 GHz", "5 GHz", "6 GHz", or "—" for any other band.
std::wstring band_text(std::int32_t band);
// The channel number, "—" when 0.
std::wstring channel_number_text(const wifi_channel& channel);
// The primary frequency in MHz, "—" when 0.
std::wstring primary_mhz_text(const wifi_channel& channel);
// "80+80 MHz", "<width> MHz" or "Nieznana".
std::wstring width_text(const wifi_channel& channel);
// Empty, or " Środek pasma <centre> MHz[ i <second> MHz]." for a channel centred off its primary.
std::wstring center_note(const wifi_channel& channel);
// How many visible networks overlap, how many of them are strong, how many without a width.
std::wstring overlap_sentence(const overlap_stats& stats);
// The channel assessment card of a detailed scan; a crowded channel shows as a warning.
TextCard channel_assessment_card(const wifi_channel& own, const channel_assessment& assessment);
// A strong 5 GHz network named exactly as the own network (never "Sieć ukryta").
bool strong_twin_on_5ghz(std::span<const VisibleNetwork> networks, std::wstring_view own_ssid);

}  // namespace tarvisko
