#include "results/idle_quality.h"

#include <cmath>
#include <optional>

#include "results/format.h"
#include "results/latency_stats.h"
#include "results/report_readers.h"

namespace tarvisko {

PingSummary summarize_ping_target(const nlohmann::json& series) {
    PingSummary summary;
    JitterAccumulator jitter;
    double total_ms = 0.0;
    const nlohmann::json& target = json_member_or_null(series, "target");
    const nlohmann::json& samples = json_member_or_null(series, "samples");
    if (samples.is_array()) {
        for (const nlohmann::json& sample : samples) {
            const std::optional<double> rtt =
                stored_round_trip_ms(json_member_or_null(sample, "rtt_ms"));
            const bool reply = json_member_is(sample, "status", "echo_reply") &&
                               json_member_or_null(sample, "responder") == target && rtt;
            if (reply) {
                ++summary.replies;
                total_ms += *rtt;
                jitter_add_sample(jitter, *rtt);
                continue;
            }
            if (json_member_is(sample, "status", "timeout")) ++summary.timeouts;
            jitter_add_sample(jitter, std::nullopt);
        }
    }
    if (summary.replies > 0) summary.mean_ms = total_ms / static_cast<double>(summary.replies);
    summary.pairs = jitter.pairs;
    summary.jitter_ms = jitter_mean(jitter);
    const std::uint64_t answered_or_lost = summary.replies + summary.timeouts;
    const nlohmann::json& planned = json_member_or_null(series, "planned");
    summary.valid = planned.is_number_integer() && planned == answered_or_lost &&
                    json_member_or_null(series, "reason").is_null() && answered_or_lost > 0;
    return summary;
}

TextCard make_ms_metric_tile(const std::wstring& title, std::optional<double> value, bool rated,
                             double good_max, double warn_max) {
    TextCard tile;
    tile.title = title;
    const bool shown = value && std::isfinite(*value);
    tile.subtitle = shown ? format_icmp_ms(*value) + L" ms" : L"—";
    if (shown && rated) tile.status = *value <= good_max ? 1 : *value <= warn_max ? 2 : 3;
    return tile;
}

IdleQualityCard build_ping_card(const nlohmann::json& throughput, const PingSummary& summary) {
    IdleQualityCard card;
    TextCard& ping = card.tiles[0];
    TextCard& jitter = card.tiles[1];
    TextCard& lost = card.tiles[2];
    ping = make_ms_metric_tile(L"Ping do serwera", summary.mean_ms,
                               summary.valid && summary.replies >= 4, 50.0, 100.0);
    jitter = make_ms_metric_tile(L"Wahania pingu", summary.jitter_ms,
                                 summary.valid && summary.pairs >= 3, 5.0, 15.0);

    const std::uint64_t total = summary.replies + summary.timeouts;
    lost.title = L"Bez odpowiedzi na ping";
    lost.subtitle =
        summary.valid ? std::to_wstring(summary.timeouts) + L" z " + std::to_wstring(total) : L"—";
    if (summary.valid && total >= 5) lost.status = summary.timeouts > 0 ? 2 : 1;

    const nlohmann::json& profile = json_member_or_null(throughput, "profile");
    const nlohmann::json& rate = json_member_or_null(profile, "rate_bps");
    if (json_member_is(profile, "mode", "windowed")) {
        card.profile_line = L"Profil pełnej prędkości";
    } else if (const std::optional<double> bps = stored_amount(rate); bps && *bps > 0.0) {
        card.profile_line = L"Limit profilu " + format_decimal(*bps / 1000000.0) + L" Mb/s";
    }

    if (lost.status == 2) {
        card.sentence =
            L"Nie wszystkie próby ping otrzymały odpowiedź. Serwer może ograniczać "
            L"odpowiedzi na ping.";
    } else if (jitter.status >= 2) {
        card.sentence =
            L"Czas odpowiedzi się wahał. W rozmowie lub grze mogą pojawić się krótkie "
            L"przycięcia.";
    } else if (ping.status >= 2) {
        card.sentence =
            L"Serwer odpowiadał z opóźnieniem. Na czas odpowiedzi wpływa też "
            L"odległość do serwera.";
    } else if (ping.status == 0 || jitter.status == 0 || lost.status == 0) {
        card.sentence = L"Część odczytów ma za mało próbek. Szczegóły pomiaru są w tabeli poniżej.";
    } else {
        card.sentence = L"Serwer odpowiadał regularnie na próby ping.";
    }
    return card;
}

}  // namespace tarvisko
