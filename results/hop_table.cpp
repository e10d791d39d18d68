#include "results/hop_table.h"

#include <algorithm>
#include <optional>
#include <tuple>
#include <utility>

#include "engine/common/text.h"
#include "results/format.h"
#include "results/icmp_table.h"
#include "results/latency_stats.h"
#include "results/report_readers.h"
#include "results/table_rows.h"

namespace tarvisko {

namespace {

constexpr std::wstring_view dash = L"—";

bool status_is(const nlohmann::json& sample, std::string_view status) {
    return json_member_is(sample, "status", status);
}

std::int64_t attempt_of(const nlohmann::json& sample) {
    return *json_int64(json_member_or_null(sample, "attempt"));  // checked while grouping
}

struct KeyLess {
    bool operator()(const MtrGroupKey& a, const MtrGroupKey& b) const {
        return mtr_group_key_less(a, b);
    }
};

using MtrGroups = std::map<MtrGroupKey, MtrHops, KeyLess>;

enum Column : std::size_t {
    hop_column,
    address_column,
    name_column,
    rating_column,
    mean_column,
    jitter_column,
    loss_column,
    replies_column,
    sent_column,
    last_column,
    min_column,
    max_column,
    deviation_column,
    p95_column,
    p99_column,
    api_errors_column,
    protocol_column,
    phase_column,
    column_count
};

std::vector<TableColumn> hop_columns() {
    return {{L"Skok", 50},       {L"Adres IP", 147},   {L"Nazwa DNS", 162}, {L"Ocena", 120},
            {L"Śr. (ms)", 74},   {L"Jitter (ms)", 84}, {L"Brak (%)", 74},   {L"Odp.", 61},
            {L"Wysłano", 75},    {L"Ostatni", 72},     {L"Min", 62},        {L"Maks.", 66},
            {L"Odch. std.", 86}, {L"P95", 62},         {L"P99", 62},        {L"Błędy API", 82},
            {L"Protokół", 84},   {L"Faza", 100}};
}

template <typename Range>
std::wstring joined(const Range& texts) {
    std::wstring result;
    for (const std::wstring& text : texts) {
        if (!result.empty()) result += L", ";
        result += text;
    }
    return result;
}

// What one hop's samples add up to.
struct HopFigures {
    std::vector<double> times;  // sorted ascending once the walk is done
    std::set<std::string> responders;
    std::vector<ChartPoint> chart;
    std::uint64_t timeouts = 0;
    std::uint64_t api_errors = 0;
    std::uint64_t refusals = 0;
    std::uint64_t sent = 0;
    std::optional<double> loss;
    std::optional<double> jitter;
    std::uint64_t pairs = 0;
    std::optional<double> last;
};

HopFigures walk_hop(const std::vector<const nlohmann::json*>& samples) {
    HopFigures hop;
    hop.chart.reserve(samples.size());
    JitterAccumulator jitter;
    std::int64_t previous_attempt = -1;
    const nlohmann::json null_responder;
    const nlohmann::json* previous_responder = &null_responder;
    for (const nlohmann::json* sample : samples) {
        const std::int64_t attempt = attempt_of(*sample);
        const nlohmann::json& responder = json_member_or_null(*sample, "responder");
        if (!attempt_follows(attempt, previous_attempt) || responder != *previous_responder) {
            jitter_add_sample(jitter, std::nullopt);
        }
        const nlohmann::json& rtt = json_member_or_null(*sample, "rtt_ms");
        const std::optional<double> time = stored_round_trip_ms(rtt);
        if (time) {
            hop.times.push_back(*time);
            hop.chart.push_back({*time, true});
            if (responder.is_string()) hop.responders.insert(responder.get<std::string>());
        } else {
            hop.chart.push_back({0.0, false});
            if (status_is(*sample, "timeout")) {
                ++hop.timeouts;
            } else {
                ++hop.api_errors;
            }
        }
        if (is_target_reply(*sample) && status_is(*sample, "tcp_refused")) ++hop.refusals;
        jitter_add_sample(jitter, time && responder.is_string() ? time : std::nullopt);
        previous_attempt = attempt;
        previous_responder = &responder;
        hop.last = time;
    }
    hop.sent = samples.size() - hop.api_errors;
    if (hop.sent > 0) {
        hop.loss = static_cast<double>(hop.timeouts) * 100.0 / static_cast<double>(hop.sent);
    }
    hop.jitter = jitter_mean(jitter);
    hop.pairs = jitter.pairs;
    std::sort(hop.times.begin(), hop.times.end());
    return hop;
}

// Step 5 of the assessment: does the router just before the target answer every round of the
// target, from one address, in at most 50 ms?
bool router_mirrors_target(const std::vector<const nlohmann::json*>& router,
                           const std::vector<const nlohmann::json*>& target) {
    if (router.size() != target.size() || router.empty()) return false;
    const nlohmann::json& first_responder = json_member_or_null(*router.front(), "responder");
    if (!first_responder.is_string()) return false;
    for (std::size_t i = 0; i < router.size(); ++i) {
        const nlohmann::json& r = *router[i];
        const std::optional<double> rtt = stored_round_trip_ms(json_member_or_null(r, "rtt_ms"));
        if (attempt_of(r) != attempt_of(*target[i]) || !status_is(r, "ttl_expired") ||
            json_member_or_null(r, "responder") != first_responder || !rtt || *rtt > 50.0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool mtr_group_key_less(const MtrGroupKey& a, const MtrGroupKey& b) {
    return std::tie(a.target, a.family, a.protocol, a.phase) <
           std::tie(b.target, b.family, b.protocol, b.phase);
}

TargetAssessment assess_target_responses(const MtrHops& hops) {
    TargetAssessment assessment;
    std::set<std::int64_t> attempts;
    for (const auto& [ttl, samples] : hops) {
        for (const nlohmann::json* sample : samples) {
            attempts.insert(attempt_of(*sample));
            if (is_target_reply(*sample)) assessment.target_hops.insert(ttl);
        }
    }
    if (assessment.target_hops.empty()) {
        assessment.explanation =
            L"Brak potwierdzenia odpowiedzi celu. Host może filtrować próby lub być poza "
            L"zasięgiem pomiaru.";
        return assessment;
    }
    if (assessment.target_hops.size() > 1) {
        assessment.explanation =
            L"Cel odpowiadał na różnych skokach. Trasa zmieniała się między próbami.";
        return assessment;
    }

    const std::int64_t d = *assessment.target_hops.begin();
    const std::vector<const nlohmann::json*>& target = hops.at(d);
    std::set<std::int64_t> target_attempts;
    bool rounds_comparable = target.size() == attempts.size() && target.size() >= 5;
    for (const nlohmann::json* sample : target) {
        rounds_comparable = rounds_comparable &&
                            target_attempts.insert(attempt_of(*sample)).second &&
                            (is_target_reply(*sample) || status_is(*sample, "timeout"));
    }
    if (!rounds_comparable) {
        assessment.explanation =
            L"Cel odpowiedział. Do oceny jakości potrzeba porównywalnych rund.";
        return assessment;
    }
    assessment.comparable = true;

    const auto router_hop = hops.find(d - 1);
    if (router_hop == hops.end() || !router_mirrors_target(router_hop->second, target)) {
        return assessment;
    }
    const std::vector<const nlohmann::json*>& router = router_hop->second;
    JitterAccumulator router_jitter;
    JitterAccumulator target_jitter;
    std::int64_t previous_attempt = -1;
    std::uint64_t target_timeouts = 0;
    std::uint64_t slow_rounds = 0;
    for (std::size_t i = 0; i < target.size(); ++i) {
        const std::int64_t attempt = attempt_of(*target[i]);
        if (!attempt_follows(attempt, previous_attempt)) {
            jitter_add_sample(router_jitter, std::nullopt);
            jitter_add_sample(target_jitter, std::nullopt);
        }
        const double router_time = *stored_round_trip_ms(json_member_or_null(*router[i], "rtt_ms"));
        jitter_add_sample(router_jitter, router_time);
        const nlohmann::json& target_rtt = json_member_or_null(*target[i], "rtt_ms");
        const std::optional<double> target_time = stored_round_trip_ms(target_rtt);
        jitter_add_sample(target_jitter, target_time);
        if (status_is(*target[i], "timeout")) {
            ++target_timeouts;
        } else if (target_time && *target_time - router_time >= 20.0) {
            ++slow_rounds;
        }
        previous_attempt = attempt;
    }
    const std::uint64_t n = target.size();
    const Verdict target_rating = jitter_verdict(jitter_mean(target_jitter), target_jitter.pairs);
    const Verdict router_rating = jitter_verdict(jitter_mean(router_jitter), router_jitter.pairs);
    if (target_timeouts >= 2 || 5 * slow_rounds >= 4 * n ||
        ((target_rating == 2 || target_rating == 3) && router_rating == 1)) {
        assessment.explanation =
            L"Pogorszenie widoczne przy celu. Możliwa przyczyna to host docelowy, końcowy odcinek "
            L"lub droga powrotna.";
    }
    return assessment;
}

TableModel build_mtr_hop_table(const nlohmann::json& samples, const ResponderNameMap& names) {
    TableModel model;
    model.kind = 1;
    model.title = L"Wybierz skok, aby zobaczyć czasy kolejnych odpowiedzi.";
    model.columns = hop_columns();

    MtrGroups groups;
    std::set<std::string> targets;
    if (samples.is_array()) {
        for (const nlohmann::json& sample : samples) {
            if (!sample.is_object()) continue;
            const auto ttl = json_int64(json_member_or_null(sample, "ttl"));
            if (!ttl || !json_int64(json_member_or_null(sample, "attempt"))) continue;
            MtrGroupKey key;
            key.target = json_string_or_empty(json_member_or_null(sample, "target"));
            key.family = json_int64(json_member_or_null(sample, "family")).value_or(0);
            key.protocol = json_string_or_empty(json_member_or_null(sample, "protocol"));
            key.phase = json_string_or_empty(json_member_or_null(sample, "phase"));
            targets.insert(key.target);
            groups[std::move(key)][*ttl].push_back(&sample);
        }
    }
    if (groups.empty()) return model;

    const bool several_series = groups.size() > 1;
    std::wstring last_note;
    bool last_degraded = false;
    for (auto& [key, hops] : groups) {
        for (auto& [ttl, hop_samples] : hops) {
            std::stable_sort(hop_samples.begin(), hop_samples.end(),
                             [](const nlohmann::json* a, const nlohmann::json* b) {
                                 return attempt_of(*a) < attempt_of(*b);
                             });
        }
        const TargetAssessment assessment = assess_target_responses(hops);
        std::wstring note;
        if (assessment.target_hops.empty()) {
            note = L"brak potwierdzenia odpowiedzi";
        } else if (!assessment.comparable) {
            note = L"ocena niepełna";
        }
        bool degraded = false;

        const std::wstring protocol = std::wstring(key.protocol == "tcp" ? L"TCP 443" : L"ICMP") +
                                      (key.family == 6 ? L" v6" : L" v4");
        const std::wstring phase = phase_display_name(nlohmann::json(key.phase));

        for (const auto& [ttl, hop_samples] : hops) {
            HopFigures hop = walk_hop(hop_samples);
            TableRow row;
            row.cells.assign(column_count, std::wstring(dash));
            row.status.assign(column_count, 0);
            row.cells[hop_column] = std::to_wstring(ttl);
            if (!hop.responders.empty()) {
                std::vector<std::wstring> addresses;
                std::vector<std::wstring> host_names;
                for (const std::string& responder : hop.responders) {
                    addresses.push_back(to_wide(responder));
                    const auto entry = names.find(responder);
                    if (entry == names.end()) {
                        host_names.emplace_back(dash);
                    } else {
                        host_names.push_back(entry->second.name.empty() ? L"Brak nazwy"
                                                                        : entry->second.name);
                    }
                }
                row.cells[address_column] = joined(addresses);
                row.cells[name_column] = joined(host_names);
            }
            row.cells[rating_column] = hop.responders.empty() ? L"Bez odpowiedzi" : L"Pośredni";
            // ICMP times come in whole milliseconds; TCP times are measured finer.
            const auto ms = key.protocol == "tcp" ? format_decimal : format_icmp_ms;
            if (!hop.times.empty()) {
                row.cells[mean_column] = ms(mean_of(hop.times));
                row.cells[min_column] = ms(hop.times.front());
                row.cells[max_column] = ms(hop.times.back());
                row.cells[deviation_column] = ms(population_deviation(hop.times));
                row.cells[p95_column] = ms(percentile_nearest_rank(hop.times, 0.95));
                row.cells[p99_column] = ms(percentile_nearest_rank(hop.times, 0.99));
            }
            if (hop.jitter) row.cells[jitter_column] = ms(*hop.jitter);
            if (hop.loss) row.cells[loss_column] = format_decimal(*hop.loss);
            row.cells[replies_column] = std::to_wstring(hop.times.size());
            row.cells[sent_column] = std::to_wstring(hop.sent);
            if (hop.last) row.cells[last_column] = ms(*hop.last);
            row.cells[api_errors_column] = std::to_wstring(hop.api_errors);
            row.cells[protocol_column] = protocol;
            row.cells[phase_column] = phase;

            std::wstring detail =
                L"Skok " + row.cells[hop_column] + L" · " + protocol + L" · " + phase;
            if (several_series) detail += L" · Cel " + to_wide(key.target);
            detail += L". Odpowiedzi " + row.cells[replies_column] + L" z " +
                      row.cells[sent_column] + L". Jitter " +
                      (hop.jitter ? ms(*hop.jitter) + L" ms" : std::wstring(dash)) +
                      L" z sąsiednich odpowiedzi tego samego adresu.";

            if (assessment.target_hops.count(ttl)) {
                row.cells[rating_column] = L"Cel · bez oceny";
                if (assessment.comparable) {
                    const std::optional<double> mean =
                        hop.times.empty() ? std::nullopt : std::optional(mean_of(hop.times));
                    const Verdict ping = ping_verdict(mean, hop.times.size());
                    const Verdict jitter = jitter_verdict(hop.jitter, hop.pairs);
                    const Verdict loss = loss_verdict(hop.loss, hop.sent);
                    row.status[mean_column] = ping;
                    row.status[jitter_column] = jitter;
                    row.status[loss_column] = loss;
                    const Verdict worst = std::max({ping, jitter, loss});
                    row.status[rating_column] = worst;
                    note = verdict_text(worst);
                    row.cells[rating_column] = L"Cel · " + note;
                    if (worst == 1 && (ping == 0 || jitter == 0)) {
                        row.status[rating_column] = 0;
                        note = L"ocena niepełna";
                        row.cells[rating_column] = L"Cel · częściowa";
                    }
                    detail += L" Ocena celu dla gier · " + note + L". Ping: ";
                    detail += ping_rating_help;
                    detail += L" Jitter: ";
                    detail += jitter_rating_help;
                    detail += L" Brak odpowiedzi: ";
                    detail += loss_rating_help;
                    if (worst >= 2 && !assessment.explanation.empty()) degraded = true;
                }
                if (!assessment.explanation.empty() && (!assessment.comparable || degraded)) {
                    detail += L" " + assessment.explanation;
                }
                if (hop.refusals > 0) {
                    detail += L" Cel odpowiedział odmową zestawienia TCP 443 w " +
                              std::to_wstring(hop.refusals) + L" próbach.";
                }
            } else {
                detail += L" Router pośredni może ograniczać odpowiedzi. Porównaj z wynikiem celu.";
                if (assessment.target_hops.empty()) detail += L" " + assessment.explanation;
            }
            if (!hop.responders.empty()) {
                detail += L"\r\nNazwy reverse DNS";
                for (const std::string& responder : hop.responders) {
                    detail += L"\r\n" + to_wide(responder) + L" · ";
                    const auto entry = names.find(responder);
                    if (entry == names.end()) {
                        detail += L"Nazwa nieodczytana";
                    } else {
                        detail +=
                            entry->second.name.empty() ? entry->second.note : entry->second.name;
                    }
                }
            }
            row.detail = std::move(detail);
            row.chart = std::move(hop.chart);
            row.unit = L"ms";
            model.rows.push_back(std::move(row));
        }
        last_note = std::move(note);
        last_degraded = degraded;
    }

    std::vector<std::wstring> target_texts;
    for (const std::string& target : targets) target_texts.push_back(to_wide(target));
    model.title =
        (targets.size() == 1 ? L"Cel pomiaru · " : L"Cele pomiaru · ") + joined(target_texts);
    if (!several_series) {
        if (!last_note.empty()) model.title += L" · " + last_note;
        if (last_degraded) model.title += L" · pogorszenie przy celu";
    }
    return model;
}

}  // namespace tarvisko
