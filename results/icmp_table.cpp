#include "results/icmp_table.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "results/format.h"
#include "results/latency_stats.h"
#include "results/report_readers.h"
#include "results/table_rows.h"

namespace tarvisko {

namespace {

bool status_is(const nlohmann::json& sample, std::string_view status) {
    return json_member_is(sample, "status", status);
}

// The attempt number, or -1 when it is missing or no usable number: a hand-edited or foreign
// "last-*.json" may hold anything there.
std::int64_t attempt_number(const nlohmann::json& sample) {
    const nlohmann::json& attempt = json_member_or_null(sample, "attempt");
    if (attempt.is_number_float()) {
        const double value = attempt.get<double>();
        return std::isfinite(value) && std::fabs(value) < 9.0e15 ? static_cast<std::int64_t>(value)
                                                                 : -1;
    }
    return json_int64(attempt).value_or(-1);
}

std::wstring count_text(std::uint64_t count) { return std::to_wstring(count); }

}  // namespace

bool is_target_reply(const nlohmann::json& sample) {
    const nlohmann::json& responder = json_member_or_null(sample, "responder");
    return responder.is_string() && responder == json_member_or_null(sample, "target") &&
           (status_is(sample, "echo_reply") || status_is(sample, "tcp_connected") ||
            status_is(sample, "tcp_refused"));
}

TableModel build_icmp_latency_table(const nlohmann::json& samples) {
    TableModel model;
    model.title = L"Opóźnienia do wybranego celu ICMP";
    model.kind = 0;
    model.columns = {{L"Pomiar", 220}, {L"Wynik", 150}, {L"Ocena", 130}};
    if (!samples.is_array()) return model;

    const nlohmann::json* first = nullptr;
    std::vector<double> replies;
    std::uint64_t considered = 0;
    std::uint64_t timeouts = 0;
    std::uint64_t local_errors = 0;
    std::uint64_t other = 0;
    JitterAccumulator jitter;
    std::vector<ChartPoint> chart;
    chart.reserve(samples.size());
    std::int64_t previous_attempt = -1;
    const nlohmann::json null_target;
    const nlohmann::json* previous_target = &null_target;

    for (const nlohmann::json& sample : samples) {
        if (!sample.is_object()) continue;
        if (!first) first = &sample;
        ++considered;
        const std::int64_t attempt = attempt_number(sample);
        const nlohmann::json& target = json_member_or_null(sample, "target");
        if (attempt <= 0 || !attempt_follows(attempt, previous_attempt) ||
            target != *previous_target) {
            jitter_add_sample(jitter, std::nullopt);
        }
        const nlohmann::json& rtt = json_member_or_null(sample, "rtt_ms");
        const std::optional<double> stored = stored_round_trip_ms(rtt);
        if (status_is(sample, "echo_reply") && is_target_reply(sample) && stored) {
            const double time = *stored;
            replies.push_back(time);
            chart.push_back({time, true});
            jitter_add_sample(jitter, time);
        } else {
            jitter_add_sample(jitter, std::nullopt);
            chart.push_back({0.0, false});
            if (status_is(sample, "timeout")) {
                ++timeouts;
            } else if (status_is(sample, "unavailable")) {
                ++local_errors;
            } else {
                ++other;
            }
        }
        previous_attempt = attempt;
        previous_target = &target;
    }
    if (!first) return model;

    std::sort(replies.begin(), replies.end());
    const std::uint64_t n = replies.size();
    const std::optional<double> median = median_of_sorted(replies);
    std::optional<double> p95;
    if (n > 0) p95 = percentile_nearest_rank(replies, 0.95);
    const std::optional<double> jitter_ms = jitter_mean(jitter);
    const std::uint64_t sent = considered - local_errors;
    std::optional<double> loss;
    if (sent > 0) {
        loss = static_cast<double>(timeouts + other) * 100.0 / static_cast<double>(sent);
    }

    const Verdict ping = ping_verdict(median, n);
    add_verdict_row(model, L"Typowy ping", format_rtt_ms(median),
                    L"Mediana czasu odpowiedzi celu. Wykres pokazuje kolejne próby ICMP." +
                        game_rating_text(ping, ping_rating_help),
                    ping);
    model.rows.back().chart = std::move(chart);
    model.rows.back().unit = L"ms";

    const Verdict jitter_rating = jitter_verdict(jitter_ms, jitter.pairs);
    add_verdict_row(model, L"Jitter ICMP",
                    jitter_ms ? format_rtt_ms(jitter_ms) : L"Za mało odpowiedzi",
                    L"Średnia bezwzględna różnica między czasami sąsiednich poprawnych odpowiedzi. "
                    L"Brak odpowiedzi lub zmiana celu rozdziela serię." +
                        game_rating_text(jitter_rating, jitter_rating_help),
                    jitter_rating);

    const Verdict loss_rating = loss_verdict(loss, sent);
    add_verdict_row(model, L"Próby bez echa celu",
                    loss ? format_decimal(*loss) + L" %" : L"Brak wysłanych prób",
                    L"Wysłano " + count_text(sent) + L", cel odpowiedział " + count_text(n) +
                        L" razy. Przekroczenia czasu: " + count_text(timeouts) +
                        L". Inne odpowiedzi: " + count_text(other) + L". Błędy lokalne: " +
                        count_text(local_errors) + L". Host może ograniczać odpowiedzi ICMP." +
                        game_rating_text(loss_rating, loss_rating_help),
                    loss_rating);

    const Verdict p95_rating = ping_verdict(p95, n);
    add_verdict_row(model, L"Ping P95", format_rtt_ms(p95),
                    L"95% zarejestrowanych odpowiedzi miało czas nie większy od wskazanego." +
                        game_rating_text(p95_rating, ping_rating_help),
                    p95_rating);

    if (n > 0) {
        add_table_row(model, L"Ping minimalny", format_rtt_ms(replies.front()),
                      L"Najszybsza z otrzymanych odpowiedzi.");
        add_table_row(model, L"Ping średni", format_rtt_ms(mean_of(replies)),
                      L"Średnia ze wszystkich otrzymanych odpowiedzi.");
        add_table_row(model, L"Ping maksymalny", format_rtt_ms(replies.back()),
                      L"Najwolniejsza z otrzymanych odpowiedzi.");
    }
    add_table_row(model, L"Odpowiedzi celu", count_text(n) + L" z " + count_text(sent),
                  L"Liczba poprawnych odpowiedzi względem wysłanych prób.");
    add_table_row(model, L"Adres celu", json_display_text(json_member_or_null(*first, "target")),
                  L"Adres wybrany przez system Windows na początku tej sesji.");

    for (TableRow& row : model.rows) row.cells.resize(3);
    return model;
}

}  // namespace tarvisko
