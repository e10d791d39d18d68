#include "results/dashboard.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "results/address_rows.h"
#include "results/dashboard_reports.h"
#include "results/fixtures.h"
#include "results/idle_quality.h"

namespace tarvisko {
namespace {

using nlohmann::json;
using test::echo;
using test::hand_report;
using test::lost;
using test::ok;
using test::patched;
using test::unicast;

const std::wstring no_samples = L"Brak wystarczających próbek tej metryki.";
const std::wstring not_tested = L"Ten test nie zawiera osobnej próby tego obszaru.";
const std::wstring rate_body =
    L"Średnia z całego transferu potwierdzonego przez węzeł pomiarowy, w Mb/s.";
const std::wstring jitter_body =
    L"Średnia bezwzględna różnica czasu kolejnych odpowiedzi ICMP (ms). Przerwa rozdziela pary.";
const std::wstring all_answered_body =
    L"Odsetek prób ICMP do serwera zakończonych timeoutem. Próby bez odpowiedzi: 0 z 5.";

SummaryModel expected_defaults() {
    SummaryModel model;
    model.tiles = {
        TextCard{L"Pobieranie", L"—", no_samples, 0}, TextCard{L"Wysyłanie", L"—", no_samples, 0},
        TextCard{L"Ping", L"—", no_samples, 0}, TextCard{L"Jitter ICMP", L"—", no_samples, 0},
        TextCard{L"Utrata odpowiedzi", L"—", no_samples, 0}};
    const wchar_t* titles[] = {
        L"Komputer", L"Połączenie", L"Sieć lokalna", L"Sieć operatora",
        L"DNS",      L"IPv4",       L"IPv6",         L"Stabilność połączenia"};
    for (std::size_t i = 0; i < 8; ++i) {
        model.sections[i] = {titles[i], L"Nie przetestowano", not_tested, 0};
    }
    model.headline = L"Rozpocznij test, aby sprawdzić swoje połączenie.";
    model.explanation =
        L"Program zmierzy transfer i czas odpowiedzi serwera oraz odczyta stan sieci na "
        L"komputerze.";
    model.sync_text = L"Brak raportu";
    model.test_time_text = L"Brak wcześniejszego testu";
    return model;
}

TEST(ResultsView, CapturedFullTest) {
    const SummaryModel model = build_results_view(test::load_result_fixture("diagnostics-report"));

    EXPECT_TRUE(model.has_report);
    EXPECT_FALSE(model.partial);
    EXPECT_TRUE(model.synchronized);
    EXPECT_EQ(model.test_time_text, L"2026-12-11  13:21:21 UTC");
    EXPECT_EQ(model.sync_text, L"Zapisano w panelu");
    EXPECT_EQ(model.headline, L"Węzeł odpowiedział na wszystkie próby ping.");
    EXPECT_EQ(model.advice, L"");
    EXPECT_EQ(model.explanation,
              L"Wniosek dotyczy krótkiego pomiaru do wybranego serwera. Pełny raport zawiera "
              L"liczbę prób i przebieg trasy.");
    EXPECT_EQ(model.overall_status, 1);

    // 8 MiB each way across the 20 Mbit/s link in 3509.0898 and 3521.1748 ms.
    EXPECT_DOUBLE_EQ(*model.download_mbps, 8388608 * 0.008 / 3509.0898);
    EXPECT_DOUBLE_EQ(*model.upload_mbps, 8388608 * 0.008 / 3521.1748);
    // One point per trace pair after [0, 0], in Mb/s over the interval it closes: the set-up
    // interval first, the one ending at the last counted byte last.
    ASSERT_EQ(model.download_series.size(), 24u);
    EXPECT_EQ(model.download_series.front(), (SeriesPoint{0.012, 32768 * 0.008 / 12}));
    EXPECT_EQ(model.download_series[2], (SeriesPoint{0.333, (720896 - 425984) * 0.008 / 152}));
    EXPECT_EQ(model.download_series.back(),
              (SeriesPoint{3.516, (8388608 - 8093696) * 0.008 / 115}));
    ASSERT_EQ(model.upload_series.size(), 21u);
    EXPECT_EQ(model.upload_series.front(), (SeriesPoint{0.033, 32768 * 0.008 / 33}));
    // The sender's buffers fill faster than the link drains them.
    EXPECT_EQ(model.upload_series[1], (SeriesPoint{0.185, (983040 - 32768) * 0.008 / 152}));
    EXPECT_EQ(model.upload_series.back(), (SeriesPoint{3.255, (8388608 - 8290304) * 0.008 / 32}));

    const std::array<TextCard, 5> tiles = {
        TextCard{L"Pobieranie", L"19,1", rate_body, 1},
        TextCard{L"Wysyłanie", L"19,1", rate_body, 1},
        TextCard{L"Ping", L"<1",
                 L"Średni czas odpowiedzi ICMP serwera pomiarowego, w ms. Odpowiedzi: 5.", 1},
        TextCard{L"Jitter ICMP", L"<1", jitter_body, 1},
        TextCard{L"Utrata odpowiedzi", L"0", all_answered_body, 1}};
    for (std::size_t i = 0; i < tiles.size(); ++i) EXPECT_EQ(model.tiles[i], tiles[i]) << i;

    const std::array<TextCard, 8> sections = {
        TextCard{L"Komputer", L"Odczytano parametry", L"Oxide Virtual Turin-like Processor", 1},
        TextCard{L"Połączenie", L"Ethernet", L"east", 1},
        TextCard{L"Sieć lokalna", L"Nie przetestowano", not_tested, 0},
        TextCard{L"Sieć operatora", L"Nie przetestowano", not_tested, 0},
        TextCard{L"DNS", L"127.0.0.1",
                 L"Jeden DNS IPv4 i maksymalnie dwa publiczne DNS IPv6 z karty testu\r\n"
                 L"127.0.0.1\r\nDNS IPv6 · Nieskonfigurowane",
                 1},
        TextCard{L"IPv4", L"203.0.113.9",
                 L"Adresy lokalne karty\r\n10.200.0.1\r\n\r\n"
                 L"Adres klienta widziany przez węzeł HTTPS\r\n203.0.113.9",
                 1},
        TextCard{L"IPv6", L"fd00:200::1",
                 L"IPv6 · prywatny (ULA)\r\nfd00:200::1\r\nKarta pomiarowa\r\nAdres prywatny ULA, "
                 L"przeznaczony do komunikacji w sieciach prywatnych.\r\n\r\n"
                 L"IPv6 · link-local\r\nfe80::a4fb:e8ff:fe54:19b7\r\nKarta pomiarowa\r\n"
                 L"Adres lokalny dla jednego łącza.",
                 1},
        TextCard{L"Stabilność połączenia", L"Serwer odpowiedział",
                 all_answered_body + L" Krótka seria dotyczy wyłącznie chwili testu.", 1}};
    for (std::size_t i = 0; i < sections.size(); ++i) {
        EXPECT_EQ(model.sections[i], sections[i]) << i;
    }

    ASSERT_TRUE(model.idle_quality.has_value());
    const IdleQualityCard idle{{TextCard{L"Ping do serwera", L"<1 ms", L"", 1},
                                TextCard{L"Wahania pingu", L"<1 ms", L"", 1},
                                TextCard{L"Bez odpowiedzi na ping", L"0 z 5", L"", 1}},
                               L"Limit profilu 100 Mb/s",
                               L"Serwer odpowiadał regularnie na próby ping."};
    EXPECT_EQ(*model.idle_quality, idle);
}

TEST(ResultsView, WithoutAThroughputDocumentTheDefaultsStand) {
    for (const json& report :
         {json(nullptr), json::array({1}), json("text"), json::object(),
          json{{"throughput", json::array()}}, json{{"throughput", "x"}, {"synchronized", true}}}) {
        EXPECT_EQ(build_results_view(report), expected_defaults()) << report.dump();
    }
}

TEST(ResultsView, HandMadeReportsTakeEachBranch) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, json>> patches;
        std::function<void(const SummaryModel&)> check;
    };
    const auto section = [](const SummaryModel& m, SummarySection s) { return m.sections[s]; };
    const std::vector<Case> cases = {
        {"the hand-made report itself",
         {},
         [&](const SummaryModel& m) {
             EXPECT_EQ(m.sync_text, L"Zapisano lokalnie");
             EXPECT_EQ(m.test_time_text, L"2024-05-06  07:08:09 UTC");
             EXPECT_EQ(m.tiles[tile_download], (TextCard{L"Pobieranie", L"100", rate_body, 1}));
             EXPECT_EQ(m.tiles[tile_upload], (TextCard{L"Wysyłanie", L"20", rate_body, 1}));
             EXPECT_EQ(m.download_series, (std::vector<SeriesPoint>{{1.0, 50.0}}));
             EXPECT_EQ(m.upload_series, (std::vector<SeriesPoint>{{0.5, 1.0}}));
             EXPECT_EQ(m.tiles[tile_ping].subtitle, L"21,6");
             EXPECT_EQ(m.tiles[tile_jitter].subtitle, L"3");
             EXPECT_EQ(section(m, section_connection),
                       (TextCard{L"Połączenie", L"Wi-Fi · 72% sygnału", L"Radio AX", 1}));
             EXPECT_EQ(section(m, section_local_network),
                       (TextCard{L"Sieć lokalna", L"Widoczne urządzenia: 2",
                                 L"Różne adresy urządzeń w pamięci sąsiadów Windows na karcie "
                                 L"testu. Jeden komputer może używać wielu adresów.",
                                 1}));
             EXPECT_EQ(section(m, section_ipv6).subtitle, L"2a01:4f8::20");
             EXPECT_EQ(section(m, section_ipv6).status, 1);
             EXPECT_EQ(m.idle_quality->profile_line, L"Profil pełnej prędkości");
         }},
        {"synchronized as the text \"true\"",
         {{"/synchronized", "true"}},
         [](const SummaryModel& m) {
             EXPECT_FALSE(m.synchronized);
             EXPECT_EQ(m.sync_text, L"Zapisano lokalnie");
         }},
        {"synchronized absent",
         {{"/synchronized", "remove"}},
         [](const SummaryModel& m) { EXPECT_EQ(m.sync_text, L"Zapisano lokalnie"); }},
        {"synchronized true",
         {{"/synchronized", true}},
         [](const SummaryModel& m) { EXPECT_EQ(m.sync_text, L"Zapisano w panelu"); }},
        {"no end time: the start time, rewritten",
         {{"/throughput/ended_at", nullptr}, {"/throughput/started_at", "2024-05-06T07:08:09Z"}},
         [](const SummaryModel& m) { EXPECT_EQ(m.test_time_text, L"2024-05-06  07:08:09 UTC"); }},
        {"an end time of 10 characters stays as it is",
         {{"/throughput/ended_at", "2024-05-06"}},
         [](const SummaryModel& m) { EXPECT_EQ(m.test_time_text, L"2024-05-06"); }},
        {"no time at all",
         {{"/throughput/ended_at", "remove"}, {"/throughput/started_at", 5}},
         [](const SummaryModel& m) { EXPECT_EQ(m.test_time_text, L""); }},
        {"a trace of another session",
         {{"/desktop_trace/session_id", "S2"}},
         [](const SummaryModel& m) {
             EXPECT_TRUE(m.download_series.empty());
             EXPECT_TRUE(m.upload_series.empty());
             EXPECT_EQ(m.download_mbps, 100.0);
         }},
        {"the throughput's trace when the report has none",
         {{"/throughput/desktop_trace",
           json{{"session_id", "S1"}, {"download", {{0, 0}, {2000, 250000}}}}},
          {"/desktop_trace", "remove"}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.download_series, (std::vector<SeriesPoint>{{2.0, 1.0}}));
             EXPECT_TRUE(m.upload_series.empty());
         }},
        {"a null trace in the report hides the throughput's",
         {{"/throughput/desktop_trace",
           json{{"session_id", "S1"}, {"download", {{0, 0}, {2000, 250000}}}}},
          {"/desktop_trace", nullptr}},
         [](const SummaryModel& m) { EXPECT_TRUE(m.download_series.empty()); }},
        {"a rate that does not add up leaves its tile",
         {{"/throughput/transfers/upload/node_bytes", 9999999}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.upload_mbps, std::nullopt);
             EXPECT_EQ(m.tiles[tile_upload], (TextCard{L"Wysyłanie", L"—", no_samples, 0}));
         }},
        {"one time-out of five",
         {{"/throughput/host_pings/node/samples/2", lost()}},
         [](const SummaryModel& m) {
             const std::wstring loss =
                 L"Odsetek prób ICMP do serwera zakończonych timeoutem. Próby bez odpowiedzi: 1 "
                 L"z 5.";
             EXPECT_EQ(m.tiles[tile_loss], (TextCard{L"Utrata odpowiedzi", L"20", loss, 2}));
             EXPECT_EQ(m.sections[section_stability],
                       (TextCard{L"Stabilność połączenia", L"Brak części odpowiedzi",
                                 loss + L" Krótka seria dotyczy wyłącznie chwili testu.", 2}));
             EXPECT_EQ(m.headline, L"Brak odpowiedzi na 1 z 5 prób ping.");
             EXPECT_EQ(m.advice, L"Rozmowy mogą przerywać. Powtórz test i porównaj trasę MTR.");
             EXPECT_EQ(m.explanation, loss + L" Powtórz pomiar i porównaj trasę MTR.");
             EXPECT_EQ(m.overall_status, 2);
             // Replies 22 and 25 lost their neighbour: pairs 20-22 and 25-20 remain.
             EXPECT_EQ(m.tiles[tile_ping].body,
                       L"Średni czas odpowiedzi ICMP serwera pomiarowego, w ms. Odpowiedzi: 4.");
             EXPECT_EQ(m.tiles[tile_jitter].subtitle, L"3,5");
         }},
        {"a series that is not valid",
         {{"/throughput/host_pings/node/planned", 6}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.headline, L"Pomiar zakończony. Część ocen wymaga dodatkowych próbek.");
             EXPECT_EQ(m.explanation,
                       L"Otwórz szczegóły danej metryki, aby sprawdzić jej źródło i dostępność.");
             EXPECT_EQ(m.advice, L"");
             EXPECT_EQ(m.overall_status, 0);
             EXPECT_EQ(m.tiles[tile_ping].subtitle, L"21,6");  // a mean still shows
             EXPECT_EQ(m.tiles[tile_loss].subtitle, L"—");
             EXPECT_EQ(m.sections[section_stability].subtitle, L"Nie przetestowano");
         }},
        {"the engine's error wins over the pings",
         {{"/throughput/error", "measurement_interrupted"}},
         [](const SummaryModel& m) {
             EXPECT_TRUE(m.partial);
             EXPECT_EQ(m.headline, L"Test częściowy. Zachowano wykonane pomiary.");
             EXPECT_EQ(m.advice, L"Otwórz raport, aby sprawdzić przyczynę i ukończone próby.");
             EXPECT_EQ(m.explanation, L"Przyczyna zapisana przez silnik: measurement_interrupted");
             EXPECT_EQ(m.overall_status, 2);
         }},
        {"the gateway pings stopped",
         {{"/throughput/host_pings/gateway/reason", "cancelled"}},
         [](const SummaryModel& m) {
             EXPECT_TRUE(m.partial);
             EXPECT_EQ(m.explanation,
                       L"Zatrzymano pomiar ping. Ukończone transfery są dostępne w raporcie.");
         }},
        {"an error that is not a text",
         {{"/throughput/error", json{{"code", 1}}}},
         [](const SummaryModel& m) {
             EXPECT_TRUE(m.partial);
             EXPECT_EQ(m.explanation,
                       L"Zatrzymano pomiar ping. Ukończone transfery są dostępne w raporcie.");
         }},
        {"two local IPv4 addresses and the observed one: four parts",
         {{"/inventory/interfaces/value/0/unicast/value",
           {unicast("192.168.1.20"), unicast("10.1.1.1"), unicast("fe80::1")}}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_ipv4],
                       (TextCard{L"IPv4", L"198.51.100.20",
                                 L"Adresy lokalne karty\r\n192.168.1.20\r\n10.1.1.1\r\n\r\n"
                                 L"Adres klienta widziany przez węzeł HTTPS\r\n198.51.100.20",
                                 1}));
         }},
        {"no observed address: the local ones alone",
         {{"/observed_ip", nullptr}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_ipv4],
                       (TextCard{L"IPv4", L"192.168.1.20", L"192.168.1.20", 1}));
         }},
        {"only an observed address, no test adapter",
         {{"/throughput/reservation_local_ip", {{"status", "unavailable"}}}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_ipv4],
                       (TextCard{L"IPv4", L"198.51.100.20",
                                 L"Adres klienta widziany przez węzeł HTTPS\r\n198.51.100.20", 1}));
             EXPECT_EQ(m.sections[section_connection].subtitle, L"Nie przetestowano");
             EXPECT_EQ(m.sections[section_dns].subtitle, L"Nie przetestowano");
         }},
        {"only link-local addresses",
         {{"/inventory/interfaces/value/0/unicast/value",
           {unicast("192.168.1.20"), unicast("fe80::20%7")}}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_ipv6],
                       (TextCard{L"IPv6", L"Tylko link-local",
                                 L"IPv6 · link-local\r\nfe80::20%7\r\nKarta pomiarowa\r\n"
                                 L"Adres lokalny dla jednego łącza.",
                                 0}));
         }},
        {"no IPv6 address anywhere",
         {{"/inventory/interfaces/value/0/unicast/value", json::array({unicast("192.168.1.20")})}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_ipv4].subtitle, L"198.51.100.20");
             EXPECT_EQ(m.sections[section_ipv6],
                       (TextCard{L"IPv6", L"Brak adresu",
                                 L"Brak dostępnego adresu IPv6 w zapisanych danych pomiaru.", 0}));
         }},
        {"the DNS example",
         {{"/inventory/interfaces/value/0/dns/value",
           {"192.168.1.1", "10.0.0.53", "2a01:1::53", "fd00::53", "2a01:2::53", "2a01:1::53"}}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_dns],
                       (TextCard{L"DNS", L"192.168.1.1  +2",
                                 L"Jeden DNS IPv4 i maksymalnie dwa publiczne DNS IPv6 z karty "
                                 L"testu\r\n192.168.1.1\r\n2a01:1::53\r\n2a01:2::53\r\n",
                                 1}));
         }},
        {"no usable DNS server",
         {{"/inventory/interfaces/value/0/dns/value", {"fd00::53", "dns.example", 7}}},
         [](const SummaryModel& m) {
             EXPECT_EQ(
                 m.sections[section_dns],
                 (TextCard{L"DNS", L"Nieskonfigurowane",
                           L"Brak DNS IPv4 do pokazania.\r\nDNS IPv6 · Nieskonfigurowane.", 0}));
         }},
        {"a cut neighbour list: a lower bound",
         {{"/inventory/neighbors",
           {{"status", "partial"},
            {"reason", "cap"},
            {"total", 300},
            {"value",
             {{{"index", 7}, {"mac_id", ok("a")}},
              {{"index", 7}, {"mac_id", ok("b")}},
              {{"index", 7}, {"mac_id", ok("a")}},
              {{"index", 7}, {"mac_id", ok("c")}},
              {{"index", 7}, {"mac_id", ok(5)}},
              {{"index", 7.0}, {"mac_id", {{"status", "unavailable"}}}},
              {{"index", 3}, {"mac_id", ok("d")}}}}}}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_local_network].subtitle, L"Widoczne urządzenia: ≥ 3");
         }},
        {"neighbours unavailable",
         {{"/inventory/neighbors", {{"status", "unavailable"}, {"reason", "x"}}}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_local_network].subtitle, L"Nie przetestowano");
         }},
        {"a radio of another adapter, or one without a signal",
         {{"/inventory/wifi/value/0/id", "{ab12-cd35}"},
          {"/inventory/wifi/value/1",
           {{"id", "{AB12-cd34}"}, {"connection", ok({{"signal_pct", "72"}})}}}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_connection].subtitle, L"Wi-Fi");
         }},
        {"radios as an object of members",
         {{"/inventory/wifi/value",
           {{"first", {{"id", "{AB12-CD34}"}, {"connection", ok({{"signal_pct", 64.5}})}}}}}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_connection].subtitle, L"Wi-Fi · 64,5% sygnału");
         }},
        {"a tunnel",
         {{"/inventory/interfaces/value/0/type", 131}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_connection].subtitle, L"Tunel");
         }},
        {"an adapter type that is a text",
         {{"/inventory/interfaces/value/0/type", "6"}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_connection].subtitle, L"Karta sieciowa");
         }},
        {"an observed IPv6 address goes first",
         {{"/observed_ip", "2a01:4f8::99"}},
         [](const SummaryModel& m) {
             EXPECT_EQ(m.sections[section_ipv4],
                       (TextCard{L"IPv4", L"192.168.1.20", L"192.168.1.20", 1}));
             EXPECT_EQ(m.sections[section_ipv6].subtitle, L"2a01:4f8::99");
             EXPECT_TRUE(m.sections[section_ipv6].body.starts_with(
                 L"IPv6 · widziany przez serwer\r\n2a01:4f8::99\r\nWęzeł pomiarowy\r\n"
                 L"Adres klienta zarejestrowany przy połączeniu HTTPS.\r\n\r\nIPv6 · globalny"));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.check(build_results_view(patched(hand_report(), c.patches)));
    }
}

TEST(ResultsView, SeriesPairs) {
    struct Case {
        const char* name;
        json trace;
        std::vector<SeriesPoint> points;
    };
    json long_trace = json::array();
    for (int i = 0; i < 1024; ++i) long_trace.push_back({i * 10, i * 1250});
    json too_long = long_trace;
    too_long.push_back({10240, 1280000});
    const std::vector<Case> cases = {
        {"one interval", {{0, 0}, {1000, 125000}}, {{1.0, 1.0}}},
        {"two intervals", {{0, 0}, {500, 0}, {1500, 250000}}, {{0.5, 0.0}, {1.5, 2.0}}},
        {"unsigned integers", json::array({{0u, 0u}, {1000u, 125000u}}), {{1.0, 1.0}}},
        {"only the start", {{0, 0}}, {}},
        {"time not increasing", {{0, 0}, {1000, 0}, {1000, 10}}, {}},
        {"bytes going back", {{0, 0}, {1000, 10}, {2000, 5}}, {}},
        {"a start other than [0, 0]", {{5, 0}, {1000, 10}}, {}},
        {"a time in floating point", {{0, 0}, {1000.0, 10}}, {}},
        {"a negative time", {{0, 0}, {-1, 10}}, {}},
        {"three numbers in a pair", {{0, 0}, {1000, 10, 1}}, {}},
        {"a pair as an object", json::array({{{"t", 0}}, {1000, 10}}), {}},
        {"not a list", {{"download", 1}}, {}},
        {"null", nullptr, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(read_series_pairs(c.trace), c.points) << c.name;
    EXPECT_EQ(read_series_pairs(long_trace).size(), 1023u);
    EXPECT_TRUE(read_series_pairs(too_long).empty());
}

TEST(ResultsView, SmallReaders) {
    EXPECT_EQ(rating_label(1), L"Dobrze");
    EXPECT_EQ(rating_label(2), L"Uwaga");
    EXPECT_EQ(rating_label(3), L"Wysoka wartość");
    EXPECT_EQ(rating_label(0), L"Za mało danych");
    EXPECT_EQ(rating_label(-4), L"Za mało danych");

    EXPECT_EQ(json_value_text("zażółć"), L"zażółć");
    EXPECT_EQ(json_value_text(std::string("a\xff")), L"a\uFFFD");
    for (const json& other : {json(nullptr), json(7), json(true), json::object(), json::array()}) {
        EXPECT_EQ(json_value_text(other), L"") << other.dump();
    }

    TextCard card{L"Tytuł", L"a", L"b", 0};
    set_text_card(card, L"c", L"d", 2);
    EXPECT_EQ(card, (TextCard{L"Tytuł", L"c", L"d", 2}));
}

TEST(AddressRows, KindsOrderAndDuplicates) {
    EXPECT_EQ(parse_ipv6_literal(L"fe80::1%12"), parse_ipv6_literal(L"fe80::1"));
    EXPECT_TRUE(parse_ipv6_literal(L"2001:db8::1").has_value());
    EXPECT_EQ(parse_ipv6_literal(L"192.0.2.1"), std::nullopt);
    EXPECT_EQ(parse_ipv6_literal(L"not an address"), std::nullopt);
    EXPECT_EQ(parse_ipv6_literal(L""), std::nullopt);

    Ipv6AddressBuckets buckets;
    for (const wchar_t* address :
         {L"::", L"::1", L"ff02::1", L"::ffff:192.0.2.1", L"10.0.0.1", L"junk", L""}) {
        add_ipv6_address_row(buckets, address, L"Karta", false);
    }
    for (const auto& bucket : buckets) EXPECT_TRUE(bucket.empty());

    add_ipv6_address_row(buckets, L"fe80::9", L"Węzeł pomiarowy", true);  // link-local wins
    add_ipv6_address_row(buckets, L"2001:db8::5", L"A", false);
    add_ipv6_address_row(buckets, L"2001:db8::5", L"A", false);  // the same: once
    add_ipv6_address_row(buckets, L"2001:db8::5", L"B", false);  // another source: again
    add_ipv6_address_row(buckets, L"fd12::1", L"A", false);
    add_ipv6_address_row(buckets, L"fc00::1", L"A", false);
    add_ipv6_address_row(buckets, L"4000::1", L"A", false);
    add_ipv6_address_row(buckets, L"2001:db8::6", L"Węzeł pomiarowy", true);
    const auto sizes = [&] {
        std::vector<std::size_t> n;
        for (const auto& bucket : buckets) n.push_back(bucket.size());
        return n;
    };
    EXPECT_EQ(sizes(), (std::vector<std::size_t>{1, 2, 2, 1, 1}));
    EXPECT_EQ(buckets[0][0], (Ipv6AddressRow{L"2001:db8::6", L"IPv6 · widziany przez serwer",
                                             L"Węzeł pomiarowy\r\nAdres klienta zarejestrowany "
                                             L"przy połączeniu HTTPS."}));
    EXPECT_EQ(buckets[1][1].detail,
              L"B\r\nAdres z zakresu globalnego. Odczyt karty sam nie potwierdza łączności IPv6.");
    EXPECT_EQ(buckets[2][1].label, L"IPv6 · prywatny (ULA)");
    EXPECT_EQ(buckets[3][0], (Ipv6AddressRow{L"4000::1", L"IPv6 · inny zakres",
                                             L"A\r\nAdres IPv6 spoza typowych zakresów "
                                             L"globalnego, ULA i link-local."}));
    EXPECT_EQ(buckets[4][0].detail, L"Węzeł pomiarowy\r\nAdres lokalny dla jednego łącza.");
}

TEST(AddressRows, AdapterRowsSkipUnusableAddressesAndAdapters) {
    json report = hand_report();
    json& adapters = report["inventory"]["interfaces"]["value"];
    adapters[0]["unicast"]["value"] = {unicast("2a01::1", 1),
                                       unicast("2a01::2", 3),
                                       unicast("2a01::3", 4),
                                       json{{"ip", "2a01::4"}},
                                       json{{"ip", "2a01::5"}, {"dad_state", 4.0}},
                                       json{{"ip", "2a01::6"}, {"dad_state", 2}}};
    adapters[1]["unicast"]["value"] = {unicast("fd00::7"), unicast("2a01::3")};
    adapters.push_back({{"index", 9},
                        {"type", 24},
                        {"oper_status", 1},
                        {"unicast", ok(json::array({unicast("2a01::8")}))}});
    adapters.push_back({{"index", 10},
                        {"type", 6},
                        {"oper_status", 2},
                        {"unicast", ok(json::array({unicast("2a01::9")}))}});
    adapters.push_back({{"index", 11},
                        {"type", 6},
                        {"oper_status", 1},
                        {"unicast", ok(json::array({unicast("2a01::a")}))}});
    report["observed_ip"] = "192.0.2.1";

    const json* test_adapter = &adapters[0];
    std::vector<std::wstring> listed;
    for (const Ipv6AddressRow& row : build_adapter_rows(report, test_adapter)) {
        listed.push_back(row.address + L" | " + row.detail.substr(0, row.detail.find(L'\r')));
    }
    // dad_state 3 or 4, or none that is an integer; loopback and down adapters left out.
    EXPECT_EQ(listed,
              (std::vector<std::wstring>{L"2a01::2 | Karta pomiarowa", L"2a01::3 | Karta pomiarowa",
                                         L"2a01::4 | Karta pomiarowa", L"2a01::5 | Karta pomiarowa",
                                         L"2a01::3 | Inna aktywna karta · Wired GbE",
                                         L"2a01::a | Inna aktywna karta",
                                         L"fd00::7 | Inna aktywna karta · Wired GbE"}));

    // Without a test adapter every active adapter is "another" one.
    const auto rows = build_adapter_rows(report, nullptr);
    EXPECT_EQ(rows.front().detail.substr(0, rows.front().detail.find(L'\r')),
              L"Inna aktywna karta · Radio AX");
}

}  // namespace
}  // namespace tarvisko
