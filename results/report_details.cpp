#include "results/report_details.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/display_text.h"
#include "results/address_rows.h"
#include "results/dashboard.h"
#include "results/format.h"
#include "results/latency_stats.h"
#include "results/report_readers.h"
#include "results/table_rows.h"

namespace tarvisko {

namespace {

const nlohmann::json& member(const nlohmann::json& json, std::string_view name) {
    return json_member_or_null(json, name);
}

bool has_colon(const std::wstring& text) { return text.find(L':') != std::wstring::npos; }

// The elements of a JSON array; anything else has none.
const nlohmann::json::array_t& elements(const nlohmann::json& value) {
    static const nlohmann::json::array_t none;
    return value.is_array() ? value.get_ref<const nlohmann::json::array_t&>() : none;
}

std::wstring number_or_missing(std::optional<double> value, double divisor,
                               std::wstring_view unit) {
    if (!value) return L"Brak odczytu";
    return format_decimal(*value / divisor) + std::wstring(unit);
}

// The round trips under `key`, a gap for each sample without a usable one.
std::vector<ChartPoint> chart_of(const nlohmann::json& samples, std::string_view key) {
    std::vector<ChartPoint> chart;
    for (const nlohmann::json& sample : elements(samples)) {
        const std::optional<double> value = stored_round_trip_ms(member(sample, key));
        chart.push_back(value ? ChartPoint{*value, true} : ChartPoint{});
    }
    return chart;
}

void add_speed_rows(TableModel& model, const nlohmann::json& throughput,
                    const SummaryModel& summary) {
    const std::pair<const TextCard*, const std::vector<SeriesPoint>*> directions[] = {
        {&summary.tiles[tile_download], &summary.download_series},
        {&summary.tiles[tile_upload], &summary.upload_series}};
    for (const auto& [tile, series] : directions) {
        add_row_with_unit(model, *tile, L" Mb/s");
        TableRow& row = model.rows.back();
        row.unit = L"Mb/s";
        for (const SeriesPoint& point : *series) row.chart.push_back({point.mbps, true});
        const std::optional<TransferSampleStats> stats = transfer_sample_stats(*series);
        if (!stats) continue;
        row.detail += L" Próbki chwilowe (Mb/s) · min " + format_decimal(stats->minimum) +
                      L" · P10 " + format_decimal(stats->p10) + L" · mediana " +
                      format_decimal(stats->median) + L" · maks. " +
                      format_decimal(stats->maximum) + L".";
    }

    for (const char* phase : {"baseline", "recovery"}) {
        const nlohmann::json& samples = member(member(throughput, "phases"), phase);
        if (!samples.is_array()) continue;
        const std::wstring name = phase_display_name(phase);
        const std::optional<double> median = median_phase_ms(samples);
        add_table_row(model, L"HTTPS · " + name,
                      median ? format_decimal(*median) + L" ms" : L"Za mało odpowiedzi",
                      L"Mediana czasu odpowiedzi HTTPS w tej fazie. Przerwy na wykresie oznaczają "
                      L"brak próbki.");
        model.rows.back().unit = L"ms";
        model.rows.back().chart = chart_of(samples, "ms");

        // A sample with an error breaks the chain even when it carries a time.
        JitterAccumulator jitter;
        for (const nlohmann::json& sample : samples) {
            const std::optional<double> ms = stored_round_trip_ms(member(sample, "ms"));
            jitter_add_sample(jitter, member(sample, "error").is_null() ? ms : std::nullopt);
        }
        const std::optional<double> mean = jitter_mean(jitter);
        add_table_row(model, L"Jitter HTTPS · " + name,
                      mean ? format_decimal(*mean) + L" ms" : L"Za mało odpowiedzi",
                      L"Średnia bezwzględna różnica pomiędzy sąsiednimi poprawnymi czasami HTTPS "
                      L"w tej fazie.");
    }
}

void add_computer_rows(TableModel& model, const nlohmann::json& inventory,
                       const SummaryModel& summary) {
    const nlohmann::json& system = member(inventory, "system");
    add_row_with_unit(model, summary.sections[section_computer], L"");
    add_table_row(model, L"Procesor", json_display_text(json_value_of(system, "cpu_model")),
                  L"Model odczytany przez Windows.");
    add_table_row(model, L"Procesory logiczne",
                  json_display_text(member(system, "logical_processors")),
                  L"Liczba procesorów logicznych widzianych przez system.");
    const nlohmann::json& memory = json_value_of(system, "memory");
    constexpr double gibibyte = 1024.0 * 1024.0 * 1024.0;
    add_table_row(
        model, L"Pamięć RAM",
        number_or_missing(stored_amount(member(memory, "total_bytes")), gibibyte, L" GiB"),
        L"Stan w chwili uruchomienia pomiaru.");
    add_table_row(
        model, L"Dostępna pamięć",
        number_or_missing(stored_amount(member(memory, "available_bytes")), gibibyte, L" GiB"),
        L"Stan w chwili uruchomienia pomiaru.");
    for (const nlohmann::json& adapter : elements(json_value_of(inventory, "interfaces"))) {
        // Down adapters and the software loopback, which every other list of adapters leaves out.
        if (member(adapter, "oper_status") != 1 || member(adapter, "type") == 24) continue;
        add_table_row(model, L"Aktywna karta", json_display_text(json_value_of(adapter, "model")),
                      L"Sterownik · " + json_display_text(json_value_of(adapter, "driver")) +
                          L"   MTU · " +
                          number_or_missing(stored_mtu(member(adapter, "mtu")), 1, L""));
    }
}

void add_local_network_rows(TableModel& model, const nlohmann::json& inventory,
                            const nlohmann::json* adapter, const SummaryModel& summary) {
    for (const std::size_t card :
         {section_connection, section_local_network, section_dns, section_ipv4, section_ipv6}) {
        add_row_with_unit(model, summary.sections[card], L"");
    }
    if (adapter == nullptr) return;
    for (const nlohmann::json& entry : elements(json_value_of(inventory, "neighbors"))) {
        if (member(entry, "index") != member(*adapter, "index")) continue;
        add_table_row(model, L"Sąsiad na karcie testu", json_display_text(member(entry, "ip")),
                      L"Wpis w pamięci sąsiadów Windows. Producent · " +
                          sanitize_display_text(json_display_text(json_value_of(entry, "vendor"))));
    }
}

void add_wifi_rows(TableModel& model, const nlohmann::json& inventory,
                   const SummaryModel& summary) {
    add_row_with_unit(model, summary.sections[section_connection], L"");
    const nlohmann::json& radios = json_value_of(inventory, "wifi");
    for (const nlohmann::json& radio : elements(radios)) {
        const nlohmann::json& connection = json_value_of(radio, "connection");
        add_table_row(model, L"Sygnał",
                      number_or_missing(stored_amount(member(connection, "signal_pct")), 1, L"%"),
                      L"Jakość sygnału zgłoszona przez Windows w chwili testu.");
        add_table_row(model, L"Kanał", json_display_text(json_value_of(radio, "channel")),
                      L"Kanał połączenia radiowego.");
        add_table_row(
            model, L"Łącze Wi-Fi · odbiór",
            number_or_missing(stored_amount(member(connection, "rx_kbps")), 1000, L" Mb/s"),
            L"Prędkość negocjowana przez kartę bezprzewodową.");
        add_table_row(
            model, L"Łącze Wi-Fi · nadawanie",
            number_or_missing(stored_amount(member(connection, "tx_kbps")), 1000, L" Mb/s"),
            L"Prędkość negocjowana przez kartę bezprzewodową.");
    }
    if (elements(radios).empty()) {
        add_table_row(model, L"Radio Wi-Fi", L"Brak danych",
                      L"Windows nie udostępnił danych o połączeniu bezprzewodowym w tym raporcie.");
    }
}

void add_internet_rows(TableModel& model, const nlohmann::json& report,
                       const nlohmann::json& throughput, const nlohmann::json* adapter,
                       const SummaryModel& summary) {
    add_row_with_unit(model, summary.tiles[tile_ping], L" ms");
    add_row_with_unit(model, summary.tiles[tile_jitter], L" ms");
    add_row_with_unit(model, summary.tiles[tile_loss], L" %");

    const std::vector<Ipv6AddressRow> addresses = build_adapter_rows(report, adapter);
    for (const Ipv6AddressRow& row : addresses) {
        add_table_row(model, row.label, row.address, row.detail);
    }
    if (addresses.empty()) add_row_with_unit(model, summary.sections[section_ipv6], L"");

    const std::pair<const char*, const wchar_t*> targets[] = {{"gateway", L"Ping do routera"},
                                                              {"node", L"Ping do węzła"}};
    for (const auto& [name, label] : targets) {
        const nlohmann::json& series = member(member(throughput, "host_pings"), name);
        if (!series.is_object()) continue;
        const nlohmann::json& samples = member(series, "samples");
        double total = 0.0;
        std::size_t replies = 0;
        for (const nlohmann::json& sample : elements(samples)) {
            const std::optional<double> rtt = stored_round_trip_ms(member(sample, "rtt_ms"));
            if (json_member_is(sample, "status", "echo_reply") && rtt) {
                total += *rtt;
                ++replies;
            }
        }
        const nlohmann::json& target = member(series, "target");
        add_table_row(model, label,
                      replies > 0 ? format_icmp_ms(total / static_cast<double>(replies)) + L" ms"
                                  : L"Brak echa ICMP",
                      L"Cel pomiaru\r\n" +
                          (target.is_string() ? json_display_text(target) : L"Brak adresu") +
                          L"\r\n\r\nKolejne odpowiedzi ICMP w milisekundach. Luka oznacza brak "
                          L"odczytu.");
        model.rows.back().unit = L"ms";
        model.rows.back().chart = chart_of(samples, "rtt_ms");
    }
    model.title = L"Adresy z ostatniego testu. Dwuklik otwiera szczegóły z możliwością kopiowania.";

    if (adapter != nullptr) {
        const std::vector<std::wstring> servers = collect_dns_servers(*adapter);
        for (const std::wstring& server : servers) {
            add_table_row(model, has_colon(server) ? L"DNS IPv6 · publiczny" : L"DNS IPv4", server,
                          L"Adres DNS z konfiguracji karty pomiarowej.");
        }
        if (std::none_of(servers.begin(), servers.end(), has_colon)) {
            add_table_row(model, L"DNS IPv6", L"Nieskonfigurowane",
                          L"Karta pomiarowa nie ma skonfigurowanego publicznego DNS IPv6.");
        }
        for (const nlohmann::json& entry : elements(json_value_of(*adapter, "unicast"))) {
            const nlohmann::json& ip = member(entry, "ip");
            if (!ip.is_string() || has_colon(json_value_text(ip))) continue;
            add_table_row(model, L"IPv4 · karta", json_display_text(ip),
                          L"Adres odczytany z karty pomiarowej.");
        }
    }
    const nlohmann::json& peer = member(throughput, "peer");
    if (peer.is_string()) {
        add_table_row(model, L"Węzeł pomiarowy · IP", json_display_text(peer),
                      L"Adres serwera użyty przez aplikację.");
    }
    const nlohmann::json& observed = member(report, "observed_ip");
    if (!observed.is_string()) {
        add_table_row(model, L"IP widziany przez serwer", L"Brak danych",
                      L"Serwer nie podał adresu klienta w ostatnim raporcie.");
    } else if (const std::wstring text = json_value_text(observed); !has_colon(text)) {
        add_table_row(model, L"IPv4 · widziany przez serwer", text,
                      L"Adres połączenia zapisany przez serwer pomiarowy HTTPS.");
    }  // an IPv6 one stands among the IPv6 rows

    if (adapter == nullptr && summary.sections[section_dns].status == 0) {
        add_row_with_unit(model, summary.sections[section_dns], L"");
    }
    if (summary.sections[section_ipv4].status == 0) {
        add_row_with_unit(model, summary.sections[section_ipv4], L"");
    }
}

}  // namespace

TableModel build_report_details_table(std::int32_t page, const nlohmann::json& report,
                                      const SummaryModel& summary) {
    TableModel model;
    model.title = L"Wybierz pozycję, aby odczytać szczegóły pomiaru.";
    model.columns = {{L"Pomiar", 224}, {L"Wynik", 340}};
    model.kind = 0;
    const nlohmann::json& throughput = member(report, "throughput");
    const nlohmann::json& inventory = member(report, "inventory");
    const nlohmann::json* adapter = find_measurement_interface(inventory, throughput);
    switch (page) {
        case 1:
            add_speed_rows(model, throughput, summary);
            break;
        case 2:
            add_computer_rows(model, inventory, summary);
            break;
        case 3:
            add_local_network_rows(model, inventory, adapter, summary);
            break;
        case 4:
            add_wifi_rows(model, inventory, summary);
            break;
        case 5:
            add_internet_rows(model, report, throughput, adapter, summary);
            break;
        default:
            break;
    }
    return model;
}

}  // namespace tarvisko
