#include "results/dashboard.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "engine/common/text.h"
#include "results/address_rows.h"
#include "results/format.h"
#include "results/idle_quality.h"
#include "results/latency_stats.h"
#include "results/report_readers.h"

namespace tarvisko {

namespace {

constexpr std::wstring_view tile_titles[] = {L"Pobieranie", L"Wysyłanie", L"Ping", L"Jitter ICMP",
                                             L"Utrata odpowiedzi"};
constexpr std::wstring_view section_titles[] = {
    L"Komputer", L"Połączenie", L"Sieć lokalna", L"Sieć operatora",
    L"DNS",      L"IPv4",       L"IPv6",         L"Stabilność połączenia"};

const nlohmann::json& member(const nlohmann::json& json, std::string_view name) {
    return json_member_or_null(json, name);
}

std::wstring count_text(std::uint64_t count) { return std::to_wstring(count); }

bool equal_ignoring_ascii_case(std::wstring_view a, std::wstring_view b) {
    const auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](wchar_t x, wchar_t y) { return fold(x) == fold(y); });
}

// A trace value that can be a time or a byte count: a JSON integer that is not negative. A
// negative one could never pass the ordering rules anyway.
std::optional<std::uint64_t> trace_count(const nlohmann::json& value) {
    if (value.is_number_unsigned()) return value.get<std::uint64_t>();
    if (value.is_number_integer() && value.get<std::int64_t>() >= 0) {
        return static_cast<std::uint64_t>(value.get<std::int64_t>());
    }
    return std::nullopt;
}

SummaryModel default_model() {
    SummaryModel model;
    for (std::size_t i = 0; i < model.tiles.size(); ++i) {
        model.tiles[i] = {std::wstring(tile_titles[i]), L"—",
                          L"Brak wystarczających próbek tej metryki.", 0};
    }
    for (std::size_t i = 0; i < model.sections.size(); ++i) {
        model.sections[i] = {std::wstring(section_titles[i]), L"Nie przetestowano",
                             L"Ten test nie zawiera osobnej próby tego obszaru.", 0};
    }
    model.headline = L"Rozpocznij test, aby sprawdzić swoje połączenie.";
    model.explanation =
        L"Program zmierzy transfer i czas odpowiedzi serwera oraz odczyta stan sieci na "
        L"komputerze.";
    model.sync_text = L"Brak raportu";
    model.test_time_text = L"Brak wcześniejszego testu";
    return model;
}

// "2024-05-06T07:08:09.123Z" reads "2024-05-06  07:08:09 UTC"; a shorter text stays as it is.
std::wstring test_time(const nlohmann::json& throughput) {
    std::wstring text = json_value_text(member(throughput, "ended_at"));
    if (text.empty()) text = json_value_text(member(throughput, "started_at"));
    if (text.size() < 19) return text;
    return text.substr(0, 10) + L"  " + text.substr(11, 8) + L" UTC";
}

void set_tile_pings(SummaryModel& model, const PingSummary& summary) {
    if (summary.mean_ms) {
        set_text_card(model.tiles[tile_ping], format_icmp_ms(*summary.mean_ms),
                      L"Średni czas odpowiedzi ICMP serwera pomiarowego, w ms. Odpowiedzi: " +
                          count_text(summary.replies) + L".",
                      1);
    }
    if (summary.jitter_ms) {
        set_text_card(model.tiles[tile_jitter], format_icmp_ms(*summary.jitter_ms),
                      L"Średnia bezwzględna różnica czasu kolejnych odpowiedzi ICMP (ms). Przerwa "
                      L"rozdziela pary.",
                      1);
    }
    if (summary.valid) {
        const std::uint64_t total = summary.replies + summary.timeouts;
        set_text_card(
            model.tiles[tile_loss],
            format_decimal(static_cast<double>(summary.timeouts) * 100.0 /
                           static_cast<double>(total)),
            L"Odsetek prób ICMP do serwera zakończonych timeoutem. Próby bez odpowiedzi: " +
                count_text(summary.timeouts) + L" z " + count_text(total) + L".",
            summary.timeouts > 0 ? 2 : 1);
    }
}

void set_section_connection(SummaryModel& model, const nlohmann::json& inventory,
                            const nlohmann::json& adapter) {
    const nlohmann::json& type = member(adapter, "type");
    std::wstring subtitle = type == 71    ? L"Wi-Fi"
                            : type == 6   ? L"Ethernet"
                            : type == 131 ? L"Tunel"
                                          : L"Karta sieciowa";
    const nlohmann::json& wifi = json_value_of(inventory, "wifi");
    const std::wstring adapter_id = json_value_text(member(adapter, "id"));
    if (type == 71 && (wifi.is_array() || wifi.is_object())) {
        for (const nlohmann::json& radio : wifi) {
            const std::wstring id = json_value_text(member(radio, "id"));
            const nlohmann::json& signal = member(json_value_of(radio, "connection"), "signal_pct");
            const std::optional<double> percent = stored_amount(signal);
            if (!id.empty() && equal_ignoring_ascii_case(id, adapter_id) && percent) {
                subtitle += L" · " + format_decimal(*percent) + L"% sygnału";
            }
        }
    }
    set_text_card(model.sections[section_connection], std::move(subtitle),
                  json_value_text(json_value_of(adapter, "model")), 1);
}

void set_section_local_network(SummaryModel& model, const nlohmann::json& inventory,
                               const nlohmann::json& adapter) {
    const nlohmann::json& neighbours = json_value_of(inventory, "neighbors");
    if (!neighbours.is_array()) return;
    std::set<std::string> addresses;
    for (const nlohmann::json& entry : neighbours) {
        if (member(entry, "index") != member(adapter, "index")) continue;
        const nlohmann::json& mac = json_value_of(entry, "mac_id");
        if (mac.is_string()) addresses.insert(mac.get<std::string>());
    }
    // A cut neighbour list shows a lower bound.
    const bool cut = json_member_is(member(inventory, "neighbors"), "status", "partial");
    set_text_card(
        model.sections[section_local_network],
        L"Widoczne urządzenia: " + std::wstring(cut ? L"≥ " : L"") + count_text(addresses.size()),
        L"Różne adresy urządzeń w pamięci sąsiadów Windows na karcie testu. Jeden "
        L"komputer może używać wielu adresów.",
        1);
}

void set_section_ipv4(SummaryModel& model, const nlohmann::json& adapter) {
    const nlohmann::json& unicast = json_value_of(adapter, "unicast");
    if (!unicast.is_array()) return;
    TextCard& card = model.sections[section_ipv4];
    bool first = true;
    for (const nlohmann::json& entry : unicast) {
        const std::wstring address = json_value_text(member(entry, "ip"));
        if (address.empty() || address.find(L':') != std::wstring::npos) continue;
        if (first) {
            set_text_card(card, address, address, 1);
            first = false;
        } else {
            card.body += L"\r\n" + address;
        }
    }
}

void set_section_dns(SummaryModel& model, const nlohmann::json& adapter) {
    const std::vector<std::wstring> servers = collect_dns_servers(adapter);
    TextCard& card = model.sections[section_dns];
    if (servers.empty()) {
        set_text_card(card, L"Nieskonfigurowane",
                      L"Brak DNS IPv4 do pokazania.\r\nDNS IPv6 · Nieskonfigurowane.", 0);
        return;
    }
    std::wstring lines;
    bool any_ipv6 = false;
    for (const std::wstring& server : servers) {
        lines += server + L"\r\n";
        any_ipv6 = any_ipv6 || server.find(L':') != std::wstring::npos;
    }
    if (!any_ipv6) lines += L"DNS IPv6 · Nieskonfigurowane";
    std::wstring subtitle = servers.front();
    if (servers.size() > 1) subtitle += L"  +" + count_text(servers.size() - 1);
    set_text_card(card, std::move(subtitle),
                  L"Jeden DNS IPv4 i maksymalnie dwa publiczne DNS IPv6 z karty testu\r\n" + lines,
                  1);
}

void set_observed_ipv4(SummaryModel& model, const nlohmann::json& report) {
    const std::wstring observed = json_value_text(member(report, "observed_ip"));
    if (observed.empty() || observed.find(L':') != std::wstring::npos) return;
    TextCard& card = model.sections[section_ipv4];
    std::wstring body;
    if (card.status == 1) body = L"Adresy lokalne karty\r\n" + card.body + L"\r\n\r\n";
    body += L"Adres klienta widziany przez węzeł HTTPS\r\n" + observed;
    set_text_card(card, observed, std::move(body), 1);
}

void set_section_ipv6(SummaryModel& model, const nlohmann::json& report,
                      const nlohmann::json* adapter) {
    const std::vector<Ipv6AddressRow> rows = build_adapter_rows(report, adapter);
    TextCard& card = model.sections[section_ipv6];
    if (rows.empty()) {
        set_text_card(card, L"Brak adresu",
                      L"Brak dostępnego adresu IPv6 w zapisanych danych pomiaru.", 0);
        return;
    }
    std::wstring body;
    for (const Ipv6AddressRow& row : rows) {
        if (!body.empty()) body += L"\r\n\r\n";
        body += row.label + L"\r\n" + row.address + L"\r\n" + row.detail;
    }
    // Link-local rows sort last: a link-local first row means there is nothing else.
    const auto first = parse_ipv6_literal(rows.front().address);
    if (first && is_ipv6_link_local(*first)) {
        set_text_card(card, L"Tylko link-local", std::move(body), 0);
    } else {
        set_text_card(card, rows.front().address, std::move(body), 1);
    }
}

void set_headline(SummaryModel& model, const nlohmann::json& throughput,
                  const PingSummary& summary) {
    const std::uint64_t total = summary.replies + summary.timeouts;
    if (model.partial) {
        const nlohmann::json& error = member(throughput, "error");
        model.headline = L"Test częściowy. Zachowano wykonane pomiary.";
        model.advice = L"Otwórz raport, aby sprawdzić przyczynę i ukończone próby.";
        model.explanation =
            error.is_string()
                ? L"Przyczyna zapisana przez silnik: " + json_value_text(error)
                : L"Zatrzymano pomiar ping. Ukończone transfery są dostępne w raporcie.";
        model.overall_status = 2;
    } else if (!summary.valid) {
        model.headline = L"Pomiar zakończony. Część ocen wymaga dodatkowych próbek.";
        model.explanation =
            L"Otwórz szczegóły danej metryki, aby sprawdzić jej źródło i dostępność.";
        model.overall_status = 0;
    } else if (summary.timeouts > 0) {
        model.headline = L"Brak odpowiedzi na " + count_text(summary.timeouts) + L" z " +
                         count_text(total) + L" prób ping.";
        model.advice = L"Rozmowy mogą przerywać. Powtórz test i porównaj trasę MTR.";
        model.explanation = model.tiles[tile_loss].body + L" Powtórz pomiar i porównaj trasę MTR.";
        model.overall_status = 2;
    } else {
        model.headline = L"Węzeł odpowiedział na wszystkie próby ping.";
        model.explanation =
            L"Wniosek dotyczy krótkiego pomiaru do wybranego serwera. Pełny raport zawiera "
            L"liczbę prób i przebieg trasy.";
        model.overall_status = 1;
    }
}

}  // namespace

std::wstring json_value_text(const nlohmann::json& value) {
    return value.is_string() ? to_wide(value.get_ref<const std::string&>()) : std::wstring();
}

void set_text_card(TextCard& card, std::wstring subtitle, std::wstring body, Verdict status) {
    card.subtitle = std::move(subtitle);
    card.body = std::move(body);
    card.status = status;
}

std::wstring rating_label(Verdict status) {
    switch (status) {
        case 1:
            return L"Dobrze";
        case 2:
            return L"Uwaga";
        case 3:
            return L"Wysoka wartość";  // a high ping or jitter, not a verdict on the user
        default:
            return L"Za mało danych";
    }
}

std::vector<SeriesPoint> read_series_pairs(const nlohmann::json& trace) {
    if (!trace.is_array() || trace.size() > 1024) return {};
    std::vector<SeriesPoint> points;
    points.reserve(trace.size());
    bool first = true;
    std::uint64_t previous_ms = 0;
    std::uint64_t previous_bytes = 0;
    for (const nlohmann::json& pair : trace) {
        if (!pair.is_array() || pair.size() != 2) return {};
        const auto ms = trace_count(pair[0]);
        const auto bytes = trace_count(pair[1]);
        if (!ms || !bytes) return {};
        if (first) {
            if (*ms != 0 || *bytes != 0) return {};
            first = false;
            continue;
        }
        if (*ms <= previous_ms || *bytes < previous_bytes) return {};
        points.push_back({static_cast<double>(*ms) / 1000.0,
                          static_cast<double>(*bytes - previous_bytes) * 0.008 /
                              static_cast<double>(*ms - previous_ms)});
        previous_ms = *ms;
        previous_bytes = *bytes;
    }
    return points;
}

std::vector<double> transfer_interval_rates(const std::vector<SeriesPoint>& series) {
    std::vector<double> rates;
    bool bytes_counted = false;
    for (const SeriesPoint& point : series) {
        if (bytes_counted) rates.push_back(point.mbps);
        bytes_counted = bytes_counted || point.mbps > 0.0;
    }
    return rates;
}

std::optional<TransferSampleStats> transfer_sample_stats(const std::vector<SeriesPoint>& series) {
    std::vector<double> rates = transfer_interval_rates(series);
    if (rates.size() < 5) return std::nullopt;
    TransferSampleStats stats;
    stats.intervals = rates.size();
    stats.last = rates.back();
    std::sort(rates.begin(), rates.end());
    stats.minimum = rates.front();
    stats.p10 = percentile_nearest_rank(rates, 0.1);
    stats.median = *median_of_sorted(rates);
    stats.maximum = rates.back();
    return stats;
}

SummaryModel build_results_view(const nlohmann::json& report) {
    SummaryModel model = default_model();
    const nlohmann::json& throughput = member(report, "throughput");
    if (!throughput.is_object()) return model;  // the dashboard before the first test

    model.has_report = true;
    const nlohmann::json& pings = member(throughput, "host_pings");
    model.partial = !member(throughput, "error").is_null() ||
                    json_member_is(member(pings, "gateway"), "reason", "cancelled") ||
                    json_member_is(member(pings, "node"), "reason", "cancelled");
    model.synchronized = member(report, "synchronized") == true;
    model.test_time_text = test_time(throughput);
    model.sync_text = model.synchronized ? L"Zapisano w panelu" : L"Zapisano lokalnie";

    const nlohmann::json& trace = report.contains("desktop_trace")
                                      ? member(report, "desktop_trace")
                                      : member(throughput, "desktop_trace");
    const nlohmann::json& trace_session = member(trace, "session_id");
    const bool same_session =
        trace_session.is_string() && trace_session == member(throughput, "session_id");
    const std::pair<const char*, SummaryTile> directions[] = {{"download", tile_download},
                                                              {"upload", tile_upload}};
    for (const auto& [direction, tile] : directions) {
        const std::optional<double> rate = transfer_rate_mbps(throughput, direction);
        (tile == tile_download ? model.download_mbps : model.upload_mbps) = rate;
        if (rate) {
            set_text_card(model.tiles[tile], format_decimal(*rate),
                          L"Średnia z całego transferu potwierdzonego przez węzeł pomiarowy, w "
                          L"Mb/s.",
                          1);
        }
        if (same_session) {
            (tile == tile_download ? model.download_series : model.upload_series) =
                read_series_pairs(member(trace, direction));
        }
    }

    const PingSummary summary = summarize_ping_target(member(pings, "node"));
    set_tile_pings(model, summary);
    model.idle_quality = build_ping_card(throughput, summary);

    const nlohmann::json& inventory = member(report, "inventory");
    const std::wstring processor =
        json_value_text(json_value_of(member(inventory, "system"), "cpu_model"));
    if (!processor.empty()) {
        set_text_card(model.sections[section_computer], L"Odczytano parametry", processor, 1);
    }

    const nlohmann::json* adapter = find_measurement_interface(inventory, throughput);
    if (adapter != nullptr) {
        set_section_connection(model, inventory, *adapter);
        set_section_local_network(model, inventory, *adapter);
        set_section_ipv4(model, *adapter);
        set_section_dns(model, *adapter);
    }
    set_observed_ipv4(model, report);
    set_section_ipv6(model, report, adapter);

    if (summary.valid) {
        set_text_card(
            model.sections[section_stability],
            summary.timeouts > 0 ? L"Brak części odpowiedzi" : L"Serwer odpowiedział",
            model.tiles[tile_loss].body + L" Krótka seria dotyczy wyłącznie chwili testu.",
            summary.timeouts > 0 ? 2 : 1);
    }
    set_headline(model, throughput, summary);
    return model;
}

}  // namespace tarvisko
