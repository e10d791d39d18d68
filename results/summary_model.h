#pragma once
// The records of the results dashboard: cards, the live rate series and the idle-quality block.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "results/table_model.h"

namespace tarvisko {

struct TextCard {
    std::wstring title;
    std::wstring subtitle;
    std::wstring body;
    Verdict status = 0;

    bool operator==(const TextCard&) const = default;
};

struct SeriesPoint {
    double seconds = 0.0;  // time since the start of the transfer
    double mbps = 0.0;     // rate over the interval that ends at that time

    bool operator==(const SeriesPoint&) const = default;
};

struct IdleQualityCard {
    // "Ping do serwera", "Wahania pingu", "Bez odpowiedzi na ping", in this order.
    std::array<TextCard, 3> tiles;
    std::wstring profile_line;  // names the node profile; empty when there is nothing to say
    std::wstring sentence;      // the one-sentence conclusion

    bool operator==(const IdleQualityCard&) const = default;
};

struct SummaryModel {
    // "Pobieranie", "Wysyłanie", "Ping", "Jitter ICMP", "Utrata odpowiedzi".
    std::array<TextCard, 5> tiles;
    // "Komputer", "Połączenie", "Sieć lokalna", "Sieć operatora", "DNS", "IPv4", "IPv6",
    // "Stabilność połączenia".
    std::array<TextCard, 8> sections;
    std::vector<SeriesPoint> download_series;
    std::vector<SeriesPoint> upload_series;
    std::optional<double> download_mbps;  // average rate of the direction, Mb/s
    std::optional<double> upload_mbps;
    std::optional<IdleQualityCard> idle_quality;
    std::wstring test_time_text;
    std::wstring headline;
    std::wstring advice;
    std::wstring explanation;
    std::wstring sync_text;
    Verdict overall_status = 0;
    bool has_report = false;
    bool partial = false;
    bool synchronized = false;

    bool operator==(const SummaryModel&) const = default;
};

}  // namespace tarvisko
