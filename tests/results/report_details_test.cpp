#include "results/report_details.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "results/dashboard.h"
#include "results/dashboard_reports.h"
#include "results/fixtures.h"

namespace tarvisko {
namespace {

using nlohmann::json;
using test::echo;
using test::expect_rows;
using test::ExpectedRow;
using test::hand_report;
using test::latency;
using test::lost;
using test::ok;
using test::patched;
using test::unicast;

const std::wstring pick_title = L"Wybierz pozycję, aby odczytać szczegóły pomiaru.";
const std::wstring addresses_title =
    L"Adresy z ostatniego testu. Dwuklik otwiera szczegóły z możliwością kopiowania.";
const std::wstring rate_body =
    L"Średnia z całego transferu potwierdzonego przez węzeł pomiarowy, w Mb/s.";
const std::wstring no_samples = L"Brak wystarczających próbek tej metryki.";
const std::wstring not_tested = L"Ten test nie zawiera osobnej próby tego obszaru.";
const std::wstring median_detail =
    L"Mediana czasu odpowiedzi HTTPS w tej fazie. Przerwy na wykresie oznaczają brak próbki.";
const std::wstring jitter_detail =
    L"Średnia bezwzględna różnica pomiędzy sąsiednimi poprawnymi czasami HTTPS w tej fazie.";
const std::wstring memory_detail = L"Stan w chwili uruchomienia pomiaru.";
const std::wstring ping_detail_tail =
    L"\r\n\r\nKolejne odpowiedzi ICMP w milisekundach. Luka oznacza brak odczytu.";
const std::wstring ula_detail =
    L"Karta pomiarowa\r\nAdres prywatny ULA, przeznaczony do komunikacji w sieciach prywatnych.";
const std::wstring link_local_detail = L"Karta pomiarowa\r\nAdres lokalny dla jednego łącza.";
const std::wstring no_radio =
    L"Windows nie udostępnił danych o połączeniu bezprzewodowym w tym raporcie.";

TableModel details(int page, const json& report) {
    return build_report_details_table(page, report, build_results_view(report));
}

std::vector<ChartPoint> points(std::vector<double> values) {
    std::vector<ChartPoint> chart;
    for (const double v : values) chart.push_back({v, true});
    return chart;
}

TEST(ReportDetails, CapturedFullTestPageByPage) {
    const json report = test::load_result_fixture("diagnostics-report");
    const SummaryModel summary = build_results_view(report);
    const auto page = [&](int n) { return build_report_details_table(n, report, summary); };

    const TableModel speed = page(1);
    EXPECT_EQ(speed.title, pick_title);
    EXPECT_EQ(speed.columns, (std::vector<TableColumn>{{L"Pomiar", 224}, {L"Wynik", 340}}));
    EXPECT_EQ(speed.kind, 0);
    // The figures of the intervals after the first byte: 23 of download, the even 20 of upload,
    // whose median is the mean of its 10th and 11th rates (18,97 both). The upload's 50 is its
    // second interval, while the sender's buffers filled.
    expect_rows(speed, {{{L"Pobieranie", L"19,1 Mb/s"},
                         {},
                         rate_body + L" Próbki chwilowe (Mb/s) · min 15,5 · P10 18,5 · mediana "
                                     L"18,8 · maks. 20,8."},
                        {{L"Wysyłanie", L"19,1 Mb/s"},
                         {},
                         rate_body + L" Próbki chwilowe (Mb/s) · min 15,5 · P10 17 · mediana 19 "
                                     L"· maks. 50."},
                        {{L"HTTPS · Spoczynek", L"2,8 ms"}, {}, median_detail},
                        {{L"Jitter HTTPS · Spoczynek", L"2 ms"}, {}, jitter_detail},
                        {{L"HTTPS · Po transferze", L"2,8 ms"}, {}, median_detail},
                        {{L"Jitter HTTPS · Po transferze", L"3,5 ms"}, {}, jitter_detail}});
    ASSERT_EQ(speed.rows.size(), 6u);
    EXPECT_EQ(speed.rows[0].unit, L"Mb/s");
    // Every interval is drawn, the set-up one too.
    ASSERT_EQ(speed.rows[0].chart.size(), 24u);
    EXPECT_EQ(speed.rows[0].chart.front(), (ChartPoint{32768 * 0.008 / 12, true}));
    EXPECT_EQ(speed.rows[0].chart.back(), (ChartPoint{(8388608 - 8093696) * 0.008 / 115, true}));
    ASSERT_EQ(speed.rows[1].chart.size(), 21u);
    EXPECT_EQ(speed.rows[1].chart.front(), (ChartPoint{32768 * 0.008 / 33, true}));
    EXPECT_EQ(speed.rows[1].chart.back(), (ChartPoint{(8388608 - 8290304) * 0.008 / 32, true}));
    EXPECT_EQ(speed.rows[2].unit, L"ms");
    EXPECT_EQ(speed.rows[2].chart, points({1.3381, 1.4587, 4.5721, 2.9479, 2.7185, 2.8139, 2.7866,
                                           10.4186, 2.6039, 2.4972, 2.301, 3.807}));
    EXPECT_EQ(speed.rows[4].chart, points({12.2458, 2.036, 2.8441, 1.5182, 1.9923, 8.4769, 2.7828,
                                           2.296, 3.0192, 2.6922, 8.8976, 3.2542}));
    for (const std::size_t jitter_row : {3u, 5u}) {
        EXPECT_TRUE(speed.rows[jitter_row].chart.empty());
        EXPECT_EQ(speed.rows[jitter_row].unit, L"");
    }

    expect_rows(page(2),
                {{{L"Komputer", L"Odczytano parametry"}, {}, L"Oxide Virtual Turin-like Processor"},
                 {{L"Procesor", L"Oxide Virtual Turin-like Processor"},
                  {},
                  L"Model odczytany przez Windows."},
                 {{L"Procesory logiczne", L"8"},
                  {},
                  L"Liczba procesorów logicznych widzianych przez system."},
                 {{L"Pamięć RAM", L"23,5 GiB"}, {}, memory_detail},
                 {{L"Dostępna pamięć", L"22,2 GiB"}, {}, memory_detail},
                 {{L"Aktywna karta", L"east"}, {}, L"Sterownik · Brak odczytu   MTU · 1500"}});

    const ExpectedRow connection{{L"Połączenie", L"Ethernet"}, {}, L"east"};
    expect_rows(page(3), {connection,
                          {{L"Sieć lokalna", L"Nie przetestowano"}, {}, not_tested},
                          {{L"DNS", L"127.0.0.1"},
                           {},
                           L"Jeden DNS IPv4 i maksymalnie dwa publiczne DNS IPv6 z karty testu\r\n"
                           L"127.0.0.1\r\nDNS IPv6 · Nieskonfigurowane"},
                          {{L"IPv4", L"203.0.113.9"},
                           {},
                           L"Adresy lokalne karty\r\n10.200.0.1\r\n\r\n"
                           L"Adres klienta widziany przez węzeł HTTPS\r\n203.0.113.9"},
                          {{L"IPv6", L"fd00:200::1"},
                           {},
                           L"IPv6 · prywatny (ULA)\r\nfd00:200::1\r\n" + ula_detail +
                               L"\r\n\r\nIPv6 · link-local\r\nfe80::a4fb:e8ff:fe54:19b7\r\n" +
                               link_local_detail}});

    // No radio under Wine.
    expect_rows(page(4), {connection, {{L"Radio Wi-Fi", L"Brak danych"}, {}, no_radio}});

    const TableModel internet = page(5);
    EXPECT_EQ(internet.title, addresses_title);
    expect_rows(
        internet,
        {{{L"Ping", L"<1 ms"},
          {},
          L"Średni czas odpowiedzi ICMP serwera pomiarowego, w ms. Odpowiedzi: 5."},
         {{L"Jitter ICMP", L"<1 ms"},
          {},
          L"Średnia bezwzględna różnica czasu kolejnych odpowiedzi ICMP (ms). Przerwa rozdziela "
          L"pary."},
         {{L"Utrata odpowiedzi", L"0 %"},
          {},
          L"Odsetek prób ICMP do serwera zakończonych timeoutem. Próby bez odpowiedzi: 0 z 5."},
         {{L"IPv6 · prywatny (ULA)", L"fd00:200::1"}, {}, ula_detail},
         {{L"IPv6 · link-local", L"fe80::a4fb:e8ff:fe54:19b7"}, {}, link_local_detail},
         {{L"Ping do routera", L"Brak echa ICMP"},
          {},
          L"Cel pomiaru\r\nBrak adresu" + ping_detail_tail},
         {{L"Ping do węzła", L"<1 ms"}, {}, L"Cel pomiaru\r\n10.200.1.2" + ping_detail_tail},
         {{L"DNS IPv4", L"127.0.0.1"}, {}, L"Adres DNS z konfiguracji karty pomiarowej."},
         {{L"DNS IPv6", L"Nieskonfigurowane"},
          {},
          L"Karta pomiarowa nie ma skonfigurowanego publicznego DNS IPv6."},
         {{L"IPv4 · karta", L"10.200.0.1"}, {}, L"Adres odczytany z karty pomiarowej."},
         {{L"Węzeł pomiarowy · IP", L"10.200.1.2"}, {}, L"Adres serwera użyty przez aplikację."},
         {{L"IPv4 · widziany przez serwer", L"203.0.113.9"},
          {},
          L"Adres połączenia zapisany przez serwer pomiarowy HTTPS."}});
    ASSERT_EQ(internet.rows.size(), 12u);
    EXPECT_TRUE(internet.rows[5].chart.empty());
    EXPECT_EQ(internet.rows[5].unit, L"ms");
    EXPECT_EQ(internet.rows[6].chart, points({0, 0, 0, 0, 0}));
    EXPECT_EQ(internet.rows[6].unit, L"ms");
}

TEST(ReportDetails, OtherPagesAndANullReport) {
    for (const int page : {0, 6, -1, 100}) {
        const TableModel model = details(page, test::load_result_fixture("diagnostics-report"));
        EXPECT_EQ(model.title, pick_title);
        EXPECT_EQ(model.columns.size(), 2u);
        EXPECT_TRUE(model.rows.empty()) << page;
    }

    const json none = nullptr;
    expect_rows(details(1, none),
                {{{L"Pobieranie", L"—"}, {}, no_samples}, {{L"Wysyłanie", L"—"}, {}, no_samples}});
    expect_rows(details(2, none),
                {{{L"Komputer", L"Nie przetestowano"}, {}, not_tested},
                 {{L"Procesor", L"Brak odczytu"}, {}, L"Model odczytany przez Windows."},
                 {{L"Procesory logiczne", L"Brak odczytu"},
                  {},
                  L"Liczba procesorów logicznych widzianych przez system."},
                 {{L"Pamięć RAM", L"Brak odczytu"}, {}, memory_detail},
                 {{L"Dostępna pamięć", L"Brak odczytu"}, {}, memory_detail}});
    EXPECT_EQ(details(3, none).rows.size(), 5u);
    expect_rows(details(4, none), {{{L"Połączenie", L"Nie przetestowano"}, {}, not_tested},
                                   {{L"Radio Wi-Fi", L"Brak danych"}, {}, no_radio}});
    const TableModel internet = details(5, none);
    EXPECT_EQ(internet.title, addresses_title);
    expect_rows(internet, {{{L"Ping", L"—"}, {}, no_samples},
                           {{L"Jitter ICMP", L"—"}, {}, no_samples},
                           {{L"Utrata odpowiedzi", L"—"}, {}, no_samples},
                           {{L"IPv6", L"Nie przetestowano"}, {}, not_tested},
                           {{L"IP widziany przez serwer", L"Brak danych"},
                            {},
                            L"Serwer nie podał adresu klienta w ostatnim raporcie."},
                           {{L"DNS", L"Nie przetestowano"}, {}, not_tested},
                           {{L"IPv4", L"Nie przetestowano"}, {}, not_tested}});
}

TEST(ReportDetails, HandMadeReports) {
    // Page 1: the statistics of the intervals within the transfer, from the summary on show. The
    // intervals up to the one in which the first byte arrived hold the connection set-up: they
    // are drawn but left out of the figures.
    SummaryModel summary = build_results_view(hand_report());
    summary.download_series = {{0.5, 0}, {1, 4}, {2, 30}, {3, 10}, {4, 50}, {5, 20}, {6, 40}};
    summary.upload_series = {{1, 2}, {2, 60}, {3, 10}, {4, 50}, {5, 20}, {6, 40}, {7, 30}};
    TableModel speed = build_report_details_table(1, hand_report(), summary);
    EXPECT_EQ(speed.rows[0].cells, (std::vector<std::wstring>{L"Pobieranie", L"100 Mb/s"}));
    EXPECT_EQ(speed.rows[0].detail,
              rate_body + L" Próbki chwilowe (Mb/s) · min 10 · P10 10 · mediana 30 · maks. 50.");
    EXPECT_EQ(speed.rows[0].chart, points({0, 4, 30, 10, 50, 20, 40}));
    // Six intervals: the median is the mean of the two middle ones.
    EXPECT_EQ(speed.rows[1].detail,
              rate_body + L" Próbki chwilowe (Mb/s) · min 10 · P10 10 · mediana 35 · maks. 60.");
    // Four intervals after the set-up: too few for the sentence, the chart stays whole.
    summary.download_series = {{1, 3}, {2, 30}, {3, 10}, {4, 50}, {5, 20}};
    speed = build_report_details_table(1, hand_report(), summary);
    EXPECT_EQ(speed.rows[0].detail, rate_body);
    EXPECT_EQ(speed.rows[0].chart, points({3, 30, 10, 50, 20}));

    // Three valid samples: too few for a median, enough for a jitter. A time with an error is
    // drawn but breaks the chain; a failed probe is a gap.
    const json phase = {latency(10), latency(14),         latency(nullptr, "timeout"),
                        latency(20), latency(23, "late"), latency(29)};
    const TableModel phases = details(
        1, patched(hand_report(),
                   {{"/throughput/phases", {{"baseline", phase}, {"recovery", "remove"}}}}));
    expect_rows(phases, {{{L"Pobieranie", L"100 Mb/s"}, {}, rate_body},
                         {{L"Wysyłanie", L"20 Mb/s"}, {}, rate_body},
                         {{L"HTTPS · Spoczynek", L"Za mało odpowiedzi"}, {}, median_detail},
                         {{L"Jitter HTTPS · Spoczynek", L"4 ms"}, {}, jitter_detail}});
    EXPECT_EQ(
        phases.rows[2].chart,
        (std::vector<ChartPoint>{{10, true}, {14, true}, {}, {20, true}, {23, true}, {29, true}}));
    // No pair at all.
    const TableModel lonely = details(
        1, patched(hand_report(), {{"/throughput/phases/baseline", json::array({latency(5)})},
                                   {"/throughput/phases/recovery", json::object()}}));
    ASSERT_EQ(lonely.rows.size(), 4u);
    EXPECT_EQ(lonely.rows[3].cells[1], L"Za mało odpowiedzi");

    // Page 2: memory in GiB, only adapters that are up.
    const TableModel computer = details(
        2, patched(hand_report(), {{"/inventory/interfaces/value/1/oper_status", 2},
                                   {"/inventory/system/memory/value/available_bytes", "8"}}));
    EXPECT_EQ(computer.rows[3].cells[1], L"16 GiB");
    EXPECT_EQ(computer.rows[4].cells[1], L"Brak odczytu");
    ASSERT_EQ(computer.rows.size(), 6u);
    EXPECT_EQ(computer.rows[5].cells, (std::vector<std::wstring>{L"Aktywna karta", L"Radio AX"}));
    EXPECT_EQ(computer.rows[5].detail, L"Sterownik · 2.1   MTU · 1500");
    // The software loopback (type 24) is up on every machine but is no adapter of the user's.
    json with_loopback = hand_report();
    with_loopback["inventory"]["interfaces"]["value"].push_back(
        {{"id", "lo"}, {"index", 1}, {"type", 24}, {"oper_status", 1}, {"model", ok("lo")}});
    const TableModel adapters = details(2, with_loopback);
    ASSERT_EQ(adapters.rows.size(), 7u);
    EXPECT_EQ(adapters.rows[5].cells[1], L"Radio AX");
    EXPECT_EQ(adapters.rows[6].cells[1], L"Wired GbE");
    EXPECT_EQ(details(2, patched(hand_report(),
                                 {{"/inventory/system/memory/value/total_bytes", 8000000000LL}}))
                  .rows[3]
                  .cells[1],
              L"7,5 GiB");

    // Page 3: the neighbours of the test adapter; none without one.
    const TableModel local = details(3, hand_report());
    ASSERT_EQ(local.rows.size(), 7u);
    EXPECT_EQ(local.rows[5].cells,
              (std::vector<std::wstring>{L"Sąsiad na karcie testu", L"192.168.1.1"}));
    EXPECT_EQ(local.rows[5].detail, L"Wpis w pamięci sąsiadów Windows. Producent · RouterCo");
    EXPECT_EQ(local.rows[6].detail, L"Wpis w pamięci sąsiadów Windows. Producent · Brak odczytu");
    const json no_adapter =
        patched(hand_report(), {{"/throughput/reservation_local_ip/value", "192.168.9.9"}});
    const TableModel unattached = details(3, no_adapter);
    ASSERT_EQ(unattached.rows.size(), 5u);
    EXPECT_EQ(unattached.rows[0].cells[0], L"Połączenie");
    EXPECT_EQ(unattached.rows[4].cells[0], L"IPv6");

    // Page 4: each radio, and an empty list.
    expect_rows(
        details(4, hand_report()),
        {{{L"Połączenie", L"Wi-Fi · 72% sygnału"}, {}, L"Radio AX"},
         {{L"Sygnał", L"72%"}, {}, L"Jakość sygnału zgłoszona przez Windows w chwili testu."},
         {{L"Kanał", L"36"}, {}, L"Kanał połączenia radiowego."},
         {{L"Łącze Wi-Fi · odbiór", L"866,7 Mb/s"},
          {},
          L"Prędkość negocjowana przez kartę bezprzewodową."},
         {{L"Łącze Wi-Fi · nadawanie", L"433,3 Mb/s"},
          {},
          L"Prędkość negocjowana przez kartę bezprzewodową."}});
    expect_rows(details(4, patched(hand_report(), {{"/inventory/wifi/value", json::array()}})),
                {{{L"Połączenie", L"Wi-Fi"}, {}, L"Radio AX"},
                 {{L"Radio Wi-Fi", L"Brak danych"}, {}, no_radio}});
    const TableModel unread = details(
        4, patched(hand_report(), {{"/inventory/wifi/value/0/connection", {{"status", "x"}}}}));
    EXPECT_EQ(unread.rows[1].cells[1], L"Brak odczytu");
    EXPECT_EQ(unread.rows[3].cells[1], L"Brak odczytu");

    // Page 5: the gateway chart with a gap, only an IPv4 DNS server, both fallbacks.
    const TableModel internet = details(5, hand_report());
    std::vector<std::wstring> labels;
    for (const TableRow& row : internet.rows) labels.push_back(row.cells[0] + L"=" + row.cells[1]);
    EXPECT_EQ(labels, (std::vector<std::wstring>{
                          L"Ping=21,6 ms", L"Jitter ICMP=3 ms", L"Utrata odpowiedzi=0 %",
                          L"IPv6 · globalny=2a01:4f8::20", L"IPv6 · link-local=fe80::20",
                          L"Ping do routera=3 ms", L"Ping do węzła=21,6 ms",
                          L"DNS IPv4=192.168.1.1", L"DNS IPv6=Nieskonfigurowane",
                          L"IPv4 · karta=192.168.1.20", L"Węzeł pomiarowy · IP=192.0.2.10",
                          L"IPv4 · widziany przez serwer=198.51.100.20"}));
    EXPECT_EQ(internet.rows[5].detail, L"Cel pomiaru\r\n192.168.1.1" + ping_detail_tail);
    EXPECT_EQ(internet.rows[5].chart, (std::vector<ChartPoint>{{2, true}, {}, {4, true}}));

    const TableModel public_dns = details(
        5, patched(hand_report(),
                   {{"/inventory/interfaces/value/0/dns/value", {"192.168.1.1", "2a01:1::53"}},
                    {"/observed_ip", "2a01:4f8::99"},
                    {"/throughput/peer", 7}}));
    labels.clear();
    for (const TableRow& row : public_dns.rows) labels.push_back(row.cells[0]);
    EXPECT_EQ(labels,
              (std::vector<std::wstring>{L"Ping", L"Jitter ICMP", L"Utrata odpowiedzi",
                                         L"IPv6 · widziany przez serwer", L"IPv6 · globalny",
                                         L"IPv6 · link-local", L"Ping do routera", L"Ping do węzła",
                                         L"DNS IPv4", L"DNS IPv6 · publiczny", L"IPv4 · karta"}));

    // Without a test adapter and with no IPv4 anywhere: the DNS and IPv4 cards stand in.
    const TableModel bare = details(5, patched(no_adapter, {{"/observed_ip", nullptr}}));
    ASSERT_GE(bare.rows.size(), 3u);
    const auto last = bare.rows.end() - 3;
    EXPECT_EQ(last[0].cells[0], L"IP widziany przez serwer");
    EXPECT_EQ(last[1].cells, (std::vector<std::wstring>{L"DNS", L"Nie przetestowano"}));
    EXPECT_EQ(last[2].cells, (std::vector<std::wstring>{L"IPv4", L"Nie przetestowano"}));
}

// The vendor names of a stored report come from a file outside the program.
TEST(ReportDetails, HostileVendorNameArrivesSanitised) {
    const TableModel local =
        details(3, patched(hand_report(), {{"/inventory/neighbors/value/0/vendor/value",
                                            "Router\xE2\x80\xAE\x07\r\nCo\xE2\x80\x8F"}}));
    ASSERT_EQ(local.rows.size(), 7u);
    EXPECT_EQ(local.rows[5].detail, L"Wpis w pamięci sąsiadów Windows. Producent · Router    Co ");
}

}  // namespace
}  // namespace tarvisko
