#include "results/estimate_card.h"

#include <cmath>
#include <cstdint>

namespace tarvisko {

std::wstring format_duration(double rate_mbps, double megabytes) {
    const double seconds = megabytes * 8.0 / rate_mbps;
    if (seconds < 1.0) return L"poniżej 1 s";
    // Exactly a day still gets a figure; so does nothing that is not a number of seconds.
    if (!(seconds <= 86400.0)) return L"ponad 24 godz.";
    const auto s = static_cast<std::int64_t>(std::ceil(seconds));
    if (s < 60) return std::to_wstring(s) + L" s";
    if (s < 3600) {
        std::wstring text = std::to_wstring(s / 60) + L" min";
        if (s % 60 != 0) text += L" " + std::to_wstring(s % 60) + L" s";
        return text;
    }
    const std::int64_t minutes = (s + 59) / 60;
    std::wstring text = std::to_wstring(minutes / 60) + L" godz.";
    if (minutes % 60 != 0) text += L" " + std::to_wstring(minutes % 60) + L" min";
    return text;
}

std::wstring format_count_estimate(double budget_mbps, double per_item_mbps) {
    const double count = std::floor(budget_mbps / per_item_mbps);
    if (count >= 1000.0) return L"1000+";
    if (!(count >= 0.0)) return L"0";
    return std::to_wstring(static_cast<std::int64_t>(count));
}

std::optional<std::pair<TextCard, TextCard>> build_estimate_card(const SummaryModel& model) {
    if (!model.has_report || !model.download_mbps) return std::nullopt;
    const double rate = *model.download_mbps;
    if (!std::isfinite(rate) || rate <= 0.0) return std::nullopt;
    const double budget = rate * 0.8;  // a fifth stays free for other traffic

    TextCard download;
    download.title = L"Szacowany czas pobrania";
    download.subtitle = L"100 MB · " + format_duration(rate, 100.0) + L"    |    1 GB · " +
                        format_duration(rate, 1000.0);
    download.body = L"Przy utrzymaniu zmierzonej prędkości.";

    TextCard streams;
    streams.title = L"Szacowana liczba filmów jednocześnie";
    streams.subtitle = L"4K do " + format_count_estimate(budget, 15.0) + L"   ·   Full HD do " +
                       format_count_estimate(budget, 5.0) + L"   ·   HD do " +
                       format_count_estimate(budget, 3.0);
    streams.body = L"Każda jakość osobno. Zapas 20% na inny ruch.";
    return std::pair{std::move(download), std::move(streams)};
}

}  // namespace tarvisko
