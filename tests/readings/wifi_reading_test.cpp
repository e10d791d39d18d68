#include "readings/wifi_reading.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "engine/common/hash.h"
#include "engine/common/system.h"
#include "engine/common/text.h"
#include "readings/router_identity.h"
#include "support/upnp_fake.h"
#include "support/wifi_fixtures.h"
#include "support/wlan_fake.h"

namespace tarvisko {
namespace {

using test::BssEntry;
using test::Bytes;

constexpr std::int32_t interface_rssi = -47;

BssEntry network(std::uint32_t n, std::string ssid, ULONG mhz, LONG rssi, Bytes elements = {}) {
    BssEntry entry;
    entry.bssid = test::test_bssid(n);
    entry.ssid = std::move(ssid);
    entry.frequency_khz = mhz * 1000;
    entry.rssi_dbm = rssi;
    entry.elements = std::move(elements);
    return entry;
}

Bytes ht20(std::uint8_t channel) { return test::ht_operation(channel, test::ht_no_secondary); }

// A 5 GHz access point of 80 MHz (or 160 and 80+80 through segment 1) on channels 36-48.
Bytes vht(std::uint8_t primary, std::uint8_t segment1 = 0) {
    const std::uint8_t offset =
        primary % 8 == 4 ? test::ht_secondary_above : test::ht_secondary_below;
    return test::join({test::ht_operation(primary, offset), test::vht_operation(1, 42, segment1)});
}

// The access point this computer is connected to: network 1.
BssEntry home_ap(ULONG mhz, LONG rssi, Bytes operation, const char* ssid = "Dom") {
    return network(1, ssid, mhz, rssi,
                   test::join({operation, test::router_wps_element("TP-LINK", "Archer C6", "C6")}));
}

// "cells|...|cells #verdict" for every row: the whole table in one comparable list. Also checks
// that a row's verdict sits in the last column only.
std::vector<std::wstring> row_lines(const TableModel& table) {
    std::vector<std::wstring> lines;
    for (const TableRow& row : table.rows) {
        std::wstring line;
        for (std::size_t i = 0; i < row.cells.size(); ++i) line += (i ? L"|" : L"") + row.cells[i];
        EXPECT_EQ(row.cells.size(), 8u) << to_utf8(line);
        EXPECT_TRUE(row.chart.empty() && row.unit.empty());
        Verdict verdict = 0;
        if (!row.status.empty()) {
            EXPECT_EQ(row.status.size(), 8u);
            EXPECT_EQ(std::count(row.status.begin(), row.status.end() - 1, 0), 7);
            verdict = row.status.back();
            EXPECT_NE(verdict, 0) << "a verdict 0 row keeps its status empty";
        }
        lines.push_back(line + L" #" + std::to_wstring(verdict));
    }
    return lines;
}

const TableRow* find_row(const TableModel& table, std::wstring_view kind,
                         std::wstring_view second = {}) {
    for (const TableRow& row : table.rows) {
        if (row.cells[0] == kind && (second.empty() || row.cells[1] == second)) return &row;
    }
    return nullptr;
}

bool utc_time(const std::string& text) {
    return std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)"));
}

const std::wstring scope_body =
    L"\r\n\r\nOcena dotyczy widocznych sieci Wi-Fi w chwili skanu. Aplikacja pomija sygnały "
    L"słabsze niż \u221285 dBm i nie mierzy zakłóceń spoza Wi-Fi.";
const std::wstring scope_row = L"Zakres|Co widzi karta|||||| #0";
const std::wstring card_line = L"Karta|Intel(R) Wi-Fi 6 AX201 160MHz|||||| #0";
const std::wstring gateway_line = L"Brama IPv4|192.168.1.1|||||| #0";

class WifiReadingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        calls.wlan = &wlan.api();
        calls.gateways = [this](const WLAN_INTERFACE_INFO& info) {
            EXPECT_TRUE(IsEqualGUID(info.InterfaceGuid, wlan.interfaces.back().guid));
            return gateways;
        };
        calls.upnp_finder = &test::FakeUpnp::factory;
        upnp.devices = {
            test::upnp_device_from_description(test::upnp_description_fixture("igd-archer"))};
    }

    void TearDown() override {
        wlan.expect_released();
        upnp.expect_released();
    }

    // One connected adapter (network 1's access point, SSID "Dom") that serves the list; a scan
    // is confirmed at once.
    void connect(const std::vector<BssEntry>& entries,
                 WLAN_CONNECTION_ATTRIBUTES connection = test::wlan_connection("Dom",
                                                                               test::test_bssid(1)),
                 std::uint32_t channel_number = 6) {
        test::FakeWlanInterface item =
            test::connected_wlan_interface(1, connection, interface_rssi, channel_number);
        item.description = L"Intel(R) Wi-Fi 6 AX201 160MHz";
        item.bss_list = {ERROR_SUCCESS, test::bss_list(entries)};
        wlan.interfaces = {item};
        wlan.scan_notifications = {test::FakeScanNotification{}};
    }

    WifiReading read(bool detailed) { return read_wifi_environment(detailed, calls); }

    test::FakeWlan wlan;
    test::FakeUpnp upnp;
    WifiGateways gateways{L"192.168.1.1", L""};
    WifiCalls calls;
};

// A flat 2.4 GHz scene: the own access point on channel 6 (HT 20 MHz, WPS data), a strong
// neighbour on 6, others on 1 and 11, a hidden one, one too weak to count, and the own network's
// strong 5 GHz twin.
std::vector<BssEntry> flat_24_scene() {
    return {
        home_ap(2437, -48, ht20(6)),
        network(2, "Sasiad", 2437, -60, ht20(6)),
        network(3, "Kawiarnia", 2412, -70, ht20(1)),
        network(4, "", 2462, -75, ht20(11)),
        network(5, "Daleko", 2437, -86, ht20(6)),
        network(6, "Dom", 5180, -55, vht(36)),
    };
}

TEST_F(WifiReadingTest, DetailedFlat24Scene) {
    gateways.ipv6 = L"fe80::1%7";
    connect(flat_24_scene());
    const WifiReading reading = read(true);

    ASSERT_TRUE(utc_time(reading.snapshot ? reading.snapshot->observed_at : ""));
    const std::string& observed_at = reading.snapshot->observed_at;
    EXPECT_EQ(reading.table.title,
              L"Skan zakończony · widoczne punkty Wi-Fi: 5 · " + to_wide(observed_at));
    EXPECT_EQ(reading.table.kind, 1);
    ASSERT_EQ(reading.table.columns.size(), 8u);
    const std::vector<TableColumn> columns{
        {L"Rodzaj", 106}, {L"Sieć lub parametr", 176}, {L"Pasmo", 75},  {L"Kanał", 54},
        {L"MHz", 63},     {L"Szerokość", 82},          {L"Sygnał", 74}, {L"Ocena", 137}};
    EXPECT_EQ(reading.table.columns, columns);

    const std::vector<std::wstring> expected{
        card_line,
        gateway_line,
        L"Brama IPv6|fe80::1%7|||||| #0",
        L"Połączenie|Dom|2,4 GHz|6|2437|20 MHz|-47 dBm| #0",
        L"Model bramy|TP-Link Archer C6|||||| #0",
        L"Model nadajnika|TP-LINK Archer C6|||||| #0",
        L"Mój kanał|Nakładanie sieci|2,4 GHz|6|2437|20 MHz||Dużo nakładania #3",
        L"Punkt Wi-Fi|Dom|2,4 GHz|6|2437|20 MHz|-48 dBm|Połączono #0",
        L"Punkt Wi-Fi|Dom|5 GHz|36|5180|80 MHz|-55 dBm|\u2014 #0",
        L"Punkt Wi-Fi|Sasiad|2,4 GHz|6|2437|20 MHz|-60 dBm|Nakłada się #2",
        L"Punkt Wi-Fi|Kawiarnia|2,4 GHz|1|2412|20 MHz|-70 dBm|\u2014 #0",
        L"Punkt Wi-Fi|Sieć ukryta|2,4 GHz|11|2462|20 MHz|-75 dBm|\u2014 #0",
        L"Kanał|1 nakładających|2,4 GHz|1|2412|20 MHz||Proponowany #1",
        L"Kanał|1 nakładających|2,4 GHz|2|2417|20 MHz||Widać sąsiadów #2",
        L"Kanał|2 nakładających|2,4 GHz|3|2422|20 MHz||Dużo nakładania #3",
        L"Kanał|2 nakładających|2,4 GHz|4|2427|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|2,4 GHz|5|2432|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|2,4 GHz|6|2437|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|2,4 GHz|7|2442|20 MHz||Dużo nakładania #3",
        L"Kanał|2 nakładających|2,4 GHz|8|2447|20 MHz||Dużo nakładania #3",
        L"Kanał|2 nakładających|2,4 GHz|9|2452|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|2,4 GHz|10|2457|20 MHz||Widać sąsiadów #2",
        L"Kanał|1 nakładających|2,4 GHz|11|2462|20 MHz||Widać sąsiadów #2",
        L"Kanał|1 nakładających|2,4 GHz|12|2467|20 MHz||Widać sąsiadów #2",
        L"Kanał|1 nakładających|2,4 GHz|13|2472|20 MHz||Widać sąsiadów #2",
        L"Kanał|1 nakładających|5 GHz|36|5180|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|5 GHz|40|5200|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|5 GHz|44|5220|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|5 GHz|48|5240|20 MHz||Dużo nakładania #3",
        scope_row,
    };
    EXPECT_EQ(row_lines(reading.table), expected);

    // Details of the rows that carry numbers the cells do not show.
    EXPECT_EQ(find_row(reading.table, L"Połączenie")->detail,
              L"Częstotliwość kanału podstawowego w MHz. Odbiór i nadawanie karty: 866,7 / 585 "
              L"Mb/s (prędkości negocjowane).");
    EXPECT_EQ(find_row(reading.table, L"Mój kanał")->detail,
              L"1 widocznych punktów nakłada się na kanał, w tym 1 silnych (od \u221267 dBm). Dla "
              L"0 punktów bez odczytu szerokości przyjęto 20 MHz.");
    EXPECT_EQ(find_row(reading.table, L"Punkt Wi-Fi", L"Sasiad")->detail,
              L"Widoczny nadajnik 3C:84:6A:00:00:02. MHz to częstotliwość kanału podstawowego. Moc "
              L"sygnału zarejestrowana przez tę kartę Wi-Fi. Pasma sygnałów według dostępnych "
              L"danych częściowo lub w całości się pokrywają.");
    EXPECT_EQ(reading.table.rows[8].detail,
              L"Widoczny nadajnik 3C:84:6A:00:00:06. MHz to częstotliwość kanału podstawowego. Moc "
              L"sygnału zarejestrowana przez tę kartę Wi-Fi. Środek pasma 5210 MHz.");
    EXPECT_EQ(reading.table.rows[12].detail,
              L"Porównanie dla hipotetycznego kanału 20 MHz. 1 widocznych punktów nakłada się na "
              L"kanał, w tym 0 silnych (od \u221267 dBm). Dla 0 punktów bez odczytu szerokości "
              L"przyjęto 20 MHz. Dostępność kanału zależy od ustawień kraju i sprzętu.");
    EXPECT_EQ(reading.table.rows.back().detail,
              L"Skan pokazuje nadajniki Wi-Fi widoczne z tego miejsca. Lista pomija sieci słabsze "
              L"niż \u221285 dBm, z wyjątkiem własnej sieci. Bluetooth, mikrofalówka, poziom szumu "
              L"i czas zajęcia kanału wymagają innego pomiaru.");

    const std::wstring advice =
        L"Kanał 1 w paśmie 2,4 GHz wygląda korzystniej w porównaniu przy 20 MHz. Sprawdź, czy "
        L"router udostępnia ten kanał. Widać silną sieć 5 GHz o tej samej nazwie. Jeśli to Twoja "
        L"sieć, porównaj wynik w paśmie 5 GHz.";
    EXPECT_EQ(reading.card.title, L"Warto sprawdzić kanał 1");
    EXPECT_EQ(reading.card.subtitle, L"Obecny kanał 6 · 2,4 GHz · Mniej nakładania przy 20 MHz.");
    EXPECT_EQ(reading.card.status, 2);
    EXPECT_EQ(reading.card.body,
              L"Warto sprawdzić kanał 1\r\nObecny kanał 6 · 2,4 GHz · Mniej nakładania przy 20 "
              L"MHz.\r\n\r\nObecna częstotliwość 2437 MHz. Szerokość 20 MHz. 1 widocznych punktów "
              L"nakłada się na kanał, w tym 1 silnych (od \u221267 dBm). Dla 0 punktów bez odczytu "
              L"szerokości przyjęto 20 MHz.\r\n\r\nPorównanie dla 20 MHz\r\nKanał 6 · 1 "
              L"nakładających. Wynik 4.\r\nKanał 1 · 1 nakładających. Wynik 2.\r\nNiższy wynik "
              L"oznacza mniej nakładających się sygnałów lub słabsze sygnały. Sprawdź, czy router "
              L"udostępnia proponowany kanał, a po zmianie powtórz skan.\r\n\r\n" +
                  advice +
                  L"\r\n\r\nNajsilniejsze nakładające się sieci\r\nSasiad · kanał 6 · -60 dBm" +
                  scope_body);

    EXPECT_EQ(reading.panel_address, L"http://192.168.1.1/");
    EXPECT_EQ(reading.router_instructions,
              router_channel_instructions(L"TP-Link Archer C6", advice));

    const WifiChartData& chart = reading.chart;
    EXPECT_EQ(chart.band, 1);
    EXPECT_TRUE(chart.has_proposal);
    EXPECT_EQ(chart.proposed_channel, 1);
    EXPECT_FALSE(chart.from_cache);
    ASSERT_EQ(chart.items.size(), 5u);
    const plot_point own_point{1, 6, 2437, 2437, 20, 0, -48, true};
    EXPECT_EQ(chart.items[0].label, L"Dom");
    EXPECT_EQ(chart.items[0].point, own_point);
    EXPECT_FALSE(chart.items[0].overlaps);
    EXPECT_EQ(chart.items[2].label, L"Sasiad");
    EXPECT_TRUE(chart.items[2].overlaps);
    EXPECT_EQ(chart.items[4].label, L"Sieć ukryta");

    // The snapshot names the pair of adapter and access point by the HMAC keyed with the
    // interface GUID over the BSSID, and plots the own band with the own point last.
    const WifiSnapshot& snapshot = *reading.snapshot;
    const GUID guid = test::test_guid(1);
    const auto bssid = test::test_bssid(1);
    EXPECT_EQ(snapshot.connection_id,
              hmac_sha256(bssid, std::span(reinterpret_cast<const std::uint8_t*>(&guid), 16)));
    EXPECT_EQ(snapshot.connection_id.size(), 64u);
    EXPECT_EQ(snapshot.channel, (wifi_channel{1, 6, 2437, 2437, 20, 0}));
    EXPECT_EQ(snapshot.overlap, (overlap_stats{1, 1, 0, 4.0}));
    EXPECT_EQ(snapshot.rssi_dbm, interface_rssi);
    EXPECT_EQ(snapshot.client_version, "1.1.18");
    EXPECT_EQ(snapshot.os_version, windows_version_text());
    const std::vector<plot_point> plot{
        {1, 6, 2437, 2437, 20, 0, -60, false},
        {1, 1, 2412, 2412, 20, 0, -70, false},
        {1, 11, 2462, 2462, 20, 0, -75, false},
        {1, 6, 2437, 2437, 20, 0, interface_rssi, true},
    };
    EXPECT_EQ(snapshot.plot, plot);

    EXPECT_EQ(wlan.scans, 1);
    EXPECT_FALSE(wlan.bss_list_call_filtered);
    EXPECT_EQ(upnp.finders_created, 1);
}

TEST_F(WifiReadingTest, QuickReadingWhileConnected) {
    connect(flat_24_scene());
    const WifiReading reading = read(false);
    EXPECT_EQ(reading.table.title,
              L"Bieżące Wi-Fi · kliknij Badaj szczegółowo Wi-Fi, aby sprawdzić otoczenie.");
    const std::vector<std::wstring> expected{
        card_line,
        gateway_line,
        L"Połączenie|Dom|2,4 GHz|6|2437|20 MHz|-47 dBm| #0",
        L"Model nadajnika|TP-LINK Archer C6|||||| #0",
    };
    EXPECT_EQ(row_lines(reading.table), expected);
    EXPECT_EQ(reading.card, wifi_default_card());
    EXPECT_TRUE(reading.chart.items.empty());
    EXPECT_EQ(reading.chart.band, 1);
    EXPECT_FALSE(reading.chart.has_proposal);
    EXPECT_FALSE(reading.snapshot);
    EXPECT_EQ(reading.router_instructions, router_channel_instructions(L"TP-LINK Archer C6", L""));
    // Neither a scan nor the UPnP search: both take seconds.
    EXPECT_EQ(wlan.scans, 0);
    EXPECT_EQ(upnp.finders_created, 0);
    EXPECT_EQ(wlan.bss_list_calls, 1);
}

TEST_F(WifiReadingTest, Crowded5GhzScene) {
    // The own access point at 80 MHz on 36 and eight neighbours over it: 80, 160 and 80+80 MHz
    // among them, two of equal signal. One more far away on 149.
    connect(
        {
            home_ap(5180, -50, vht(36), "Dom5"),
            network(2, "A80", 5200, -58, vht(40)),
            network(3, "B160", 5220, -61, vht(44, 50)),
            network(4, "C8080", 5240, -63, vht(48, 155)),
            network(5, "D1", 5180, -70, vht(36)),
            network(6, "D2", 5200, -72, vht(40)),
            network(7, "D3", 5220, -74, vht(44)),
            network(8, "D4", 5240, -76, vht(48)),
            network(9, "D5", 5180, -76, vht(36)),
            network(10, "Daleka", 5745, -65, ht20(149)),
        },
        test::wlan_connection("Dom5", test::test_bssid(1)), 36);
    const WifiReading reading = read(true);

    EXPECT_EQ(find_row(reading.table, L"Mój kanał")->cells,
              (std::vector<std::wstring>{L"Mój kanał", L"Nakładanie sieci", L"5 GHz", L"36",
                                         L"5180", L"80 MHz", L"", L"Dużo nakładania"}));
    EXPECT_EQ(reading.card.title, L"Kanał 36 jest zatłoczony");
    // Strongest first; equal signals keep the adapter's order.
    std::vector<std::wstring> names;
    for (const WifiChartItem& item : reading.chart.items) names.push_back(item.label);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Dom5", L"A80", L"B160", L"C8080", L"Daleka",
                                                L"D1", L"D2", L"D3", L"D4", L"D5"}));
    EXPECT_EQ(find_row(reading.table, L"Punkt Wi-Fi", L"B160")->cells[5], L"160 MHz");
    EXPECT_EQ(find_row(reading.table, L"Punkt Wi-Fi", L"C8080")->cells[5], L"80+80 MHz");
    EXPECT_NE(find_row(reading.table, L"Punkt Wi-Fi", L"C8080")
                  ->detail.find(L" Środek pasma 5210 MHz i 5775 MHz."),
              std::wstring::npos);
    EXPECT_EQ(find_row(reading.table, L"Punkt Wi-Fi", L"Daleka")->cells[7], L"\u2014");

    const std::wstring list =
        L"\r\n\r\nNajsilniejsze nakładające się sieci\r\nA80 · kanał 40 · -58 dBm\r\nB160 · kanał "
        L"44 · -61 dBm\r\nC8080 · kanał 48 · -63 dBm\r\nD1 · kanał 36 · -70 dBm\r\nD2 · kanał 40 "
        L"· -72 dBm\r\nD3 · kanał 44 · -74 dBm\r\nPozostałe punkty · 2";
    EXPECT_TRUE(reading.card.body.ends_with(
        L"\r\n\r\nSkan nie wskazał wyraźnie lepszego kanału spośród porównanych przy 20 MHz." +
        list + scope_body));
    EXPECT_EQ(wifi_summary_line(reading.chart, 2), L"5 GHz · 10 punktów · 8 nakłada się");
    ASSERT_TRUE(reading.snapshot);
    EXPECT_EQ(reading.snapshot->overlap.overlapping, 8);
    EXPECT_EQ(reading.snapshot->plot->size(), 10u);
}

TEST_F(WifiReadingTest, SixGhzScene) {
    // The own access point at 160 MHz on 37 (HE), a 320 MHz EHT neighbour over it and a 20 MHz
    // one on 101.
    test::HeOperation own_he;
    own_he.six_ghz = test::SixGhzOperation{37, 3, 39, 47};
    test::HeOperation wide_he;
    wide_he.six_ghz = test::SixGhzOperation{53, 3, 55, 47};
    test::HeOperation narrow_he;
    narrow_he.six_ghz = test::SixGhzOperation{101, 0, 101, 0};
    connect(
        {
            home_ap(6135, -52, test::he_operation(own_he), "Dom6"),
            network(2, "Szeroka", 6215, -60,
                    test::join({test::he_operation(wide_he), test::eht_operation(4, 47, 31)})),
            network(3, "Waska", 6455, -70, test::he_operation(narrow_he)),
        },
        test::wlan_connection("Dom6", test::test_bssid(1)), 37);
    const WifiReading reading = read(true);

    EXPECT_EQ(find_row(reading.table, L"Mój kanał")->cells[5], L"160 MHz");
    EXPECT_EQ(find_row(reading.table, L"Punkt Wi-Fi", L"Szeroka")->cells[5], L"320 MHz");
    EXPECT_EQ(reading.card.title, L"Kanał 37 jest zatłoczony");
    EXPECT_FALSE(reading.chart.has_proposal);
    EXPECT_EQ(reading.chart.band, 3);
    EXPECT_NE(reading.card.body.find(L"\r\n\r\nW paśmie 6 GHz wybierz kanał dostępny w routerze "
                                     L"albo skorzystaj z wyboru automatycznego.\r\n\r\n"),
              std::wstring::npos);
    // Sixteen 20 MHz channels under the 320 MHz neighbour, and 101.
    std::vector<std::wstring> channel_rows;
    for (const TableRow& row : reading.table.rows) {
        if (row.cells[0] == L"Kanał") channel_rows.push_back(row.cells[3] + L":" + row.cells[7]);
    }
    std::vector<std::wstring> expected;
    for (int c = 1; c <= 61; c += 4) expected.push_back(std::to_wstring(c) + L":Dużo nakładania");
    expected.push_back(L"101:Widać sąsiadów");
    EXPECT_EQ(channel_rows, expected);
    ASSERT_TRUE(reading.snapshot);
    EXPECT_EQ(reading.snapshot->channel, (wifi_channel{3, 37, 6135, 6185, 160, 0}));
}

// The network rows as "name|band|channel|MHz|width|signal|state".
std::vector<std::wstring> network_rows(const TableModel& table) {
    std::vector<std::wstring> rows;
    for (const TableRow& row : table.rows) {
        if (row.cells[0] != L"Punkt Wi-Fi") continue;
        std::wstring line = row.cells[1];
        for (std::size_t i = 2; i < row.cells.size(); ++i) line += L"|" + row.cells[i];
        rows.push_back(line);
    }
    return rows;
}

TEST_F(WifiReadingTest, NetworkListShapes) {
    // The own access point is left out of these lists: only the walk over the entries counts.
    const auto with = [](BssEntry entry, auto change) {
        change(entry);
        return entry;
    };
    const BssEntry plain = network(2, "Sasiad", 2437, -60, ht20(6));
    const BssEntry wide = network(3, "Szeroka", 2412, -60, test::ht_operation(1, 1));
    const struct {
        const char* name;
        test::BssList list;
        std::vector<std::wstring> rows;
    } cases[] = {
        {"one row for a repeated BSSID and frequency",
         {{plain, plain, with(plain, [](BssEntry& e) { e.rssi_dbm = -40; })}},
         {L"Sasiad|2,4 GHz|6|2437|20 MHz|-60 dBm|\u2014"}},
        {"the same BSSID on two frequencies",
         {{plain, with(plain,
                       [](BssEntry& e) {
                           e.frequency_khz = 2462000;
                           e.elements = ht20(11);
                       })}},
         {L"Sasiad|2,4 GHz|6|2437|20 MHz|-60 dBm|\u2014",
          L"Sasiad|2,4 GHz|11|2462|20 MHz|-60 dBm|\u2014"}},
        {"hidden, blank and over-long names",
         {{network(4, "", 2412, -50, ht20(1)), network(5, " \t ", 2412, -51, ht20(1)),
           with(network(6, std::string(32, 'N') + "XYZ", 2412, -52, ht20(1)),
                [](BssEntry& e) { e.ssid_length = 200; })}},
         {L"Sieć ukryta|2,4 GHz|1|2412|20 MHz|-50 dBm|\u2014",
          L"Sieć ukryta|2,4 GHz|1|2412|20 MHz|-51 dBm|\u2014",
          std::wstring(32, L'N') + L"|2,4 GHz|1|2412|20 MHz|-52 dBm|\u2014"}},
        {"-85 dBm shown, -86 left out",
         {{network(7, "Na granicy", 2412, -85, ht20(1)),
           network(8, "Za slaby", 2412, -86, ht20(1))}},
         {L"Na granicy|2,4 GHz|1|2412|20 MHz|-85 dBm|\u2014"}},
        {"between channel centres: no band",
         {{network(9, "Dziwny", 2440, -60)}},
         {L"Dziwny|\u2014|\u2014|2440|Nieznana|-60 dBm|\u2014"}},
        {"total size below the header", {{plain}, std::nullopt, 4}, {}},
        {"a count above what fits",
         {{plain}, 50},
         {L"Sasiad|2,4 GHz|6|2437|20 MHz|-60 dBm|\u2014"}},
        // The elements lie after both entries, so past the declared end too.
        {"a total size that cuts the last entry",
         {{plain, wide}, std::nullopt, 8 + 360 + 359},
         {L"Sasiad|2,4 GHz|6|2437|Nieznana|-60 dBm|\u2014"}},
        {"elements where they belong", {{wide}}, {L"Szeroka|2,4 GHz|1|2412|40 MHz|-60 dBm|\u2014"}},
        {"element offset inside the entry",
         {{with(wide, [](BssEntry& e) { e.ie_offset = 100; })}},
         {L"Szeroka|2,4 GHz|1|2412|Nieznana|-60 dBm|\u2014"}},
        {"element offset at the entry's end",
         {{with(wide,
                [](BssEntry& e) {
                    e.ie_offset = 360;
                    e.ie_size = 0;
                })}},
         {L"Szeroka|2,4 GHz|1|2412|Nieznana|-60 dBm|\u2014"}},
        {"elements one byte past the end",
         {{with(wide, [](BssEntry& e) { e.ie_size = static_cast<ULONG>(e.elements.size() + 1); })}},
         {L"Szeroka|2,4 GHz|1|2412|Nieznana|-60 dBm|\u2014"}},
        {"element offset past the end",
         {{with(wide, [](BssEntry& e) { e.ie_offset = 0x7FFFFFF0; })}},
         {L"Szeroka|2,4 GHz|1|2412|Nieznana|-60 dBm|\u2014"}},
        // 8 + 360 + 0xFFFFFE90 wraps to 0 in 32 bits and would pass a 32-bit check.
        {"offset plus size wrapping 32 bits",
         {{with(wide,
                [](BssEntry& e) {
                    e.ie_offset = 360;
                    e.ie_size = 0xFFFFFE90;
                })}},
         {L"Szeroka|2,4 GHz|1|2412|Nieznana|-60 dBm|\u2014"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        connect({});
        wlan.interfaces[0].bss_list.bytes = test::bss_list(c.list);
        const WifiReading reading = read(true);
        EXPECT_EQ(network_rows(reading.table), c.rows);
        EXPECT_TRUE(reading.table.title.starts_with(L"Skan zakończony · widoczne punkty Wi-Fi: " +
                                                    std::to_wstring(c.rows.size()) + L" · "));
        // Without the own access point in the list there is nothing to rate.
        EXPECT_EQ(reading.card.title, L"Brak oceny kanału");
        EXPECT_EQ(reading.chart.band, 0);
        EXPECT_FALSE(reading.snapshot);
    }
}

TEST_F(WifiReadingTest, OwnAccessPointBelowTheThreshold) {
    connect({home_ap(2437, -90, ht20(6)), network(2, "Slaby", 2412, -90, ht20(1))});
    const WifiReading reading = read(true);
    EXPECT_EQ(network_rows(reading.table),
              (std::vector<std::wstring>{L"Dom|2,4 GHz|6|2437|20 MHz|-90 dBm|Połączono"}));
    ASSERT_TRUE(reading.snapshot);
    EXPECT_EQ(reading.snapshot->plot->size(), 1u);  // only the own point, at the interface's RSSI
}

TEST_F(WifiReadingTest, ListCutTo1024Entries) {
    std::vector<BssEntry> entries;
    for (std::uint32_t i = 0; i < 2000; ++i) {
        entries.push_back(network(100 + i, "N" + std::to_string(i), 2412 + 5 * (i % 13),
                                  -40 - static_cast<LONG>(i % 40),
                                  ht20(static_cast<std::uint8_t>(1 + i % 13))));
    }
    connect(entries);
    const WifiReading reading = read(true);
    EXPECT_EQ(network_rows(reading.table).size(), 1024u);
    EXPECT_EQ(reading.chart.items.size(), 1024u);
    EXPECT_TRUE(reading.table.title.starts_with(L"Skan zakończony · widoczne punkty Wi-Fi: 1024"));
    // The last entry read is 1023; 1024 and later are not.
    EXPECT_TRUE(find_row(reading.table, L"Punkt Wi-Fi", L"N1023"));
    EXPECT_FALSE(find_row(reading.table, L"Punkt Wi-Fi", L"N1024"));
    // Strongest first; among the 25 or 26 networks of each signal the adapter's order holds, so
    // the rows and the card come out the same from one reading of a list to the next.
    const auto number = [](const WifiChartItem& item) { return std::stoi(item.label.substr(1)); };
    for (std::size_t i = 1; i < reading.chart.items.size(); ++i) {
        const WifiChartItem& before = reading.chart.items[i - 1];
        const WifiChartItem& after = reading.chart.items[i];
        ASSERT_GE(before.point.rssi_dbm, after.point.rssi_dbm);
        if (before.point.rssi_dbm == after.point.rssi_dbm) {
            ASSERT_LT(number(before), number(after)) << "at row " << i;
        }
    }
}

TEST_F(WifiReadingTest, SignalOfTheConnection) {
    auto connection = test::wlan_connection("Dom", test::test_bssid(1));
    connection.wlanAssociationAttributes.wlanSignalQuality = 72;
    const struct {
        const char* name;
        std::optional<test::FakeWlanReply> reply;
        const wchar_t* cell;
        std::int32_t snapshot_rssi;
    } cases[] = {
        {"RSSI read", test::FakeWlanReply{0, test::bytes_of(std::int32_t{-47})}, L"-47 dBm", -47},
        {"no RSSI: the quality, and the scan's RSSI for the snapshot", std::nullopt, L"72 %", -48},
        {"RSSI call failed", test::FakeWlanReply{ERROR_NOT_SUPPORTED, {}}, L"72 %", -48},
        {"short RSSI reply", test::FakeWlanReply{0, {0xD1, 0xFF}}, L"72 %", -48},
        {"implausible RSSI shown, not kept",
         test::FakeWlanReply{0, test::bytes_of(std::int32_t{5})}, L"5 dBm", -48},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        connect(flat_24_scene(), connection);
        auto& replies = wlan.interfaces[0].replies;
        replies.erase(wlan_intf_opcode_rssi);
        if (c.reply) replies[wlan_intf_opcode_rssi] = *c.reply;
        const WifiReading reading = read(true);
        EXPECT_EQ(find_row(reading.table, L"Połączenie")->cells[6], c.cell);
        ASSERT_TRUE(reading.snapshot);
        EXPECT_EQ(reading.snapshot->rssi_dbm, c.snapshot_rssi);
        EXPECT_EQ(reading.snapshot->plot->back(),
                  (plot_point{1, 6, 2437, 2437, 20, 0, c.snapshot_rssi, true}));
    }
}

TEST_F(WifiReadingTest, UnknownWidthTakesTheInterfaceChannel) {
    const struct {
        const char* name;
        std::uint32_t reported;
        const wchar_t* cells;  // channel|MHz|width of the connection and the own channel
    } cases[] = {
        {"another channel", 11, L"11|2462|Nieznana"},
        {"the same channel", 6, L"6|2437|Nieznana"},
        {"no such channel in the band", 40, L"6|2437|Nieznana"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        connect({home_ap(2437, -48, {}), network(2, "Sasiad", 2462, -60, ht20(11))},
                test::wlan_connection("Dom", test::test_bssid(1)), c.reported);
        const WifiReading reading = read(true);
        const TableRow& connection = *find_row(reading.table, L"Połączenie");
        EXPECT_EQ(connection.cells[3] + L"|" + connection.cells[4] + L"|" + connection.cells[5],
                  c.cells);
        EXPECT_TRUE(connection.detail.ends_with(
            L" Mb/s (prędkości negocjowane). Sterownik lub nadajnik nie udostępnił obsługiwanego "
            L"opisu szerokości kanału."));
        const TableRow& own = *find_row(reading.table, L"Mój kanał");
        EXPECT_EQ(own.cells[3] + L"|" + own.cells[4] + L"|" + own.cells[5], c.cells);
        EXPECT_TRUE(own.detail.ends_with(L" Szerokość własnego kanału oszacowano na 20 MHz."));
        EXPECT_FALSE(reading.snapshot) << "no snapshot without a known width";
    }
}

TEST_F(WifiReadingTest, ProposedChannelWithoutNeighbours) {
    // Own at 40 MHz on 1 with strong neighbours on 1 and 6: 11 is proposed though nobody is on it.
    connect({home_ap(2412, -45, test::ht_operation(1, test::ht_secondary_above)),
             network(2, "Na jedynce", 2412, -50, ht20(1)),
             network(3, "Na szostce", 2437, -55, ht20(6))},
            test::wlan_connection("Dom", test::test_bssid(1)), 1);
    const WifiReading reading = read(true);
    std::vector<std::wstring> channel_rows;
    for (const std::wstring& line : row_lines(reading.table)) {
        if (line.starts_with(L"Kanał|")) channel_rows.push_back(line);
    }
    const std::vector<std::wstring> expected{
        L"Kanał|1 nakładających|2,4 GHz|1|2412|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|2,4 GHz|2|2417|20 MHz||Dużo nakładania #3",
        L"Kanał|2 nakładających|2,4 GHz|3|2422|20 MHz||Dużo nakładania #3",
        L"Kanał|2 nakładających|2,4 GHz|4|2427|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|2,4 GHz|5|2432|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|2,4 GHz|6|2437|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|2,4 GHz|7|2442|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|2,4 GHz|8|2447|20 MHz||Dużo nakładania #3",
        L"Kanał|1 nakładających|2,4 GHz|9|2452|20 MHz||Dużo nakładania #3",
        L"Kanał|0 nakładających|2,4 GHz|11|2462|20 MHz||Proponowany #1",
    };
    EXPECT_EQ(channel_rows, expected);
    const std::wstring advice =
        L"Kanał 11 w paśmie 2,4 GHz wygląda korzystniej w porównaniu przy 20 MHz. Sprawdź, czy "
        L"router udostępnia ten kanał. Przy zajętym paśmie 2,4 GHz warto też wypróbować szerokość "
        L"20 MHz.";
    EXPECT_NE(reading.card.body.find(L"\r\n\r\n" + advice + L"\r\n\r\nNajsilniejsze"),
              std::wstring::npos);
    EXPECT_EQ(reading.router_instructions,
              router_channel_instructions(L"TP-Link Archer C6", advice));
    EXPECT_EQ(wifi_summary_line(reading.chart, 1),
              L"2,4 GHz · 3 punktów · 2 nakłada się · proponowany kanał 11");
    EXPECT_EQ(wifi_summary_line(reading.chart, 2), L"5 GHz · 0 punktów · 0 nakłada się");
}

TEST_F(WifiReadingTest, NetworkListRefused) {
    const struct {
        DWORD error;
        bool buffer_too;  // the service hands a list back with the failure
        const wchar_t* row;
        std::wstring text;
    } cases[] = {
        {ERROR_ACCESS_DENIED, false, L"Dostęp|Lokalizacja wymagana|||||| #0",
         L"Włącz dostęp do lokalizacji dla aplikacji klasycznych w ustawieniach prywatności "
         L"Windows, aby odczytać punkty Wi-Fi."},
        {1234, true, L"Dostęp|Brak odczytu otoczenia|||||| #0",
         L"Windows nie odczytał listy punktów (kod 1234)."},
    };
    for (const auto& c : cases) {
        for (const bool detailed : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.error << (detailed ? " detailed" : " quick"));
            connect(flat_24_scene());
            wlan.interfaces[0].bss_list.result = c.error;
            if (!c.buffer_too) wlan.interfaces[0].bss_list.bytes.clear();
            const WifiReading reading = read(detailed);
            std::vector<std::wstring> expected{
                card_line,
                gateway_line,
                L"Połączenie|Dom|\u2014|6|\u2014|Nieznana|-47 dBm| #0",
                c.row,
            };
            if (detailed) expected.push_back(L"Model bramy|TP-Link Archer C6|||||| #0");
            if (!detailed) expected.push_back(L"Model|Nieznany|||||| #0");
            if (detailed) expected.push_back(scope_row);
            EXPECT_EQ(row_lines(reading.table), expected);
            EXPECT_EQ(find_row(reading.table, L"Dostęp")->detail, c.text);
            if (detailed) {
                EXPECT_EQ(reading.table.title, L"Szczegółowy skan Wi-Fi");
                EXPECT_EQ(reading.card,
                          (TextCard{L"Brak oceny kanału", L"Windows nie udostępnił listy sieci.",
                                    c.text + scope_body, 0}));
            } else {
                EXPECT_EQ(reading.card, wifi_default_card());
            }
            EXPECT_EQ(reading.chart.band, 0);
            EXPECT_FALSE(reading.snapshot);
        }
    }
}

TEST_F(WifiReadingTest, UnconfirmedScan) {
    const std::wstring warning =
        L"Windows odmówił dostępu do skanu Wi-Fi. Sprawdź Ustawienia → Prywatność i "
        L"zabezpieczenia → Lokalizacja.";
    connect(flat_24_scene());
    wlan.scan_result = ERROR_ACCESS_DENIED;
    const WifiReading reading = read(true);

    EXPECT_TRUE(
        reading.table.title.starts_with(L"Odczyt z pamięci karty · widoczne punkty Wi-Fi: 5 · "));
    const TableRow& scan = *find_row(reading.table, L"Skan");
    EXPECT_EQ(scan.cells[1], L"Odczyt niepełny");
    EXPECT_EQ(scan.detail, warning);
    EXPECT_EQ(scan.status.back(), 2);
    EXPECT_FALSE(find_row(reading.table, L"Mój kanał"));
    // The list is still shown, overlaps judged against the own channel; the channel rows are
    // not confirmed.
    EXPECT_EQ(network_rows(reading.table).size(), 5u);
    EXPECT_EQ(find_row(reading.table, L"Punkt Wi-Fi", L"Sasiad")->cells[7], L"Nakłada się");
    for (const TableRow& row : reading.table.rows) {
        if (row.cells[0] != L"Kanał") continue;
        EXPECT_EQ(row.cells[7], L"Niepotwierdzone");
        EXPECT_TRUE(row.status.empty());
    }
    EXPECT_TRUE(find_row(reading.table, L"Kanał", L"1 nakładających"));
    EXPECT_EQ(reading.card,
              (TextCard{L"Brak świeżej oceny kanału", L"Powtórz szczegółowy skan Wi-Fi.",
                        warning +
                            L"\r\n\r\nNajsilniejsze nakładające się sieci\r\nSasiad · kanał 6 · "
                            L"-60 dBm" +
                            scope_body,
                        0}));
    EXPECT_TRUE(reading.chart.from_cache);
    EXPECT_FALSE(reading.chart.has_proposal);
    EXPECT_EQ(reading.chart.band, 1);
    EXPECT_FALSE(reading.snapshot);
    EXPECT_EQ(wifi_summary_line(reading.chart, 1),
              L"2,4 GHz · 4 punktów · 1 nakłada się · odczyt z pamięci");
    EXPECT_EQ(reading.router_instructions, router_channel_instructions(L"TP-Link Archer C6", L""));
}

TEST_F(WifiReadingTest, ScanServiceLostClosesTheHandleOnce) {
    // The registration cannot be removed: the scan closes the handle and nulls it, every later
    // call fails, and the reading's guard must not close it again.
    connect(flat_24_scene());
    wlan.unregister_result = ERROR_INVALID_STATE;
    const WifiReading reading = read(true);

    const std::vector<std::wstring> expected{
        card_line,
        gateway_line,
        L"Dostęp|Brak odczytu otoczenia|||||| #0",
        L"Model bramy|TP-Link Archer C6|||||| #0",
        L"Skan|Odczyt niepełny|||||| #2",
        scope_row,
    };
    EXPECT_EQ(row_lines(reading.table), expected);
    EXPECT_EQ(find_row(reading.table, L"Dostęp")->detail,
              L"Windows nie odczytał listy punktów (kod 6).");
    EXPECT_EQ(reading.card.title, L"Brak świeżej oceny kanału");
    EXPECT_EQ(reading.card.body, L"Usługa Wi-Fi Windows przerwała odczyt skanu." + scope_body);
    EXPECT_EQ(wlan.opens, 1);
    EXPECT_EQ(wlan.closes, 1);
    // The connection, RSSI and list calls went to the closed handle, as they must.
    EXPECT_EQ(wlan.invalid_handle_calls, 3);
    wlan.invalid_handle_calls = 0;
}

TEST_F(WifiReadingTest, AdapterNotConnected) {
    test::FakeWlanInterface item;
    item.guid = test::test_guid(1);
    item.description = L"Intel(R) Wi-Fi 6 AX201 160MHz";
    item.bss_list = {ERROR_SUCCESS, test::bss_list({network(2, "Sasiad", 2437, -60, ht20(6)),
                                                    home_ap(2437, -48, ht20(6))})};
    wlan.interfaces = {item};
    wlan.scan_notifications = {test::FakeScanNotification{}};
    gateways = {};
    const WifiReading reading = read(true);

    const std::vector<std::wstring> expected{
        L"Karta|Intel(R) Wi-Fi 6 AX201 160MHz|||||| #0",
        L"Panel routera|Nieustalony adres|||||| #0",
        L"Model|Nieznany|||||| #0",
        L"Punkt Wi-Fi|Dom|2,4 GHz|6|2437|20 MHz|-48 dBm|\u2014 #0",
        L"Punkt Wi-Fi|Sasiad|2,4 GHz|6|2437|20 MHz|-60 dBm|\u2014 #0",
        L"Kanał|2 nakładających|2,4 GHz|3|2422|20 MHz||Dużo nakładania #3",
        L"Kanał|2 nakładających|2,4 GHz|4|2427|20 MHz||Dużo nakładania #3",
        L"Kanał|2 nakładających|2,4 GHz|5|2432|20 MHz||Dużo nakładania #3",
        L"Kanał|2 nakładających|2,4 GHz|6|2437|20 MHz||Dużo nakładania #3",
        L"Kanał|2 nakładających|2,4 GHz|7|2442|20 MHz||Dużo nakładania #3",
        L"Kanał|2 nakładających|2,4 GHz|8|2447|20 MHz||Dużo nakładania #3",
        L"Kanał|2 nakładających|2,4 GHz|9|2452|20 MHz||Dużo nakładania #3",
        scope_row,
    };
    EXPECT_EQ(row_lines(reading.table), expected);
    EXPECT_EQ(reading.table.rows[0].detail,
              L"Karta nie jest połączona. Można sprawdzić otoczenie oraz dostępność sieci.");
    EXPECT_EQ(reading.table.rows[1].detail,
              L"Do otwarcia panelu potrzeba adresu IPv4 lub IPv6 obsługiwanego przez "
              L"przeglądarkę. Brama IPv6 link-local jest pokazana w tabeli.");
    const std::wstring why = L"Połącz komputer z siecią Wi-Fi i powtórz skan.";
    EXPECT_EQ(reading.card, (TextCard{L"Brak oceny kanału", why, why + scope_body, 0}));
    EXPECT_EQ(reading.panel_address, L"");
    EXPECT_EQ(reading.chart.band, 0);
    EXPECT_EQ(upnp.finders_created, 0);  // no IPv4 gateway to look for
}

TEST_F(WifiReadingTest, ConnectedAccessPointNotListed) {
    connect({network(2, "Sasiad", 2437, -60, ht20(6))});
    const WifiReading reading = read(true);
    const TableRow& connection = *find_row(reading.table, L"Połączenie");
    EXPECT_EQ(connection.cells,
              (std::vector<std::wstring>{L"Połączenie", L"Dom", L"\u2014", L"6", L"\u2014",
                                         L"Nieznana", L"-47 dBm", L""}));
    const std::wstring why = L"Windows nie podał dokładnego kanału bieżącej sieci.";
    EXPECT_EQ(reading.card, (TextCard{L"Brak oceny kanału", why, why + scope_body, 0}));
    // The gateway still answers over UPnP; the access point's WPS data is not to be had.
    EXPECT_TRUE(find_row(reading.table, L"Model bramy"));
    EXPECT_FALSE(find_row(reading.table, L"Model nadajnika"));
    EXPECT_EQ(reading.chart.band, 0);
    EXPECT_FALSE(reading.snapshot);
}

TEST_F(WifiReadingTest, GatewayAndModelRows) {
    BssEntry without_wps = network(1, "Dom", 2437, -48, ht20(6));
    const struct {
        const char* name;
        WifiGateways gateways;
        bool upnp_answers;
        bool wps;
        bool detailed;
        std::vector<std::wstring> rows;  // after "Karta" and before "Połączenie", then the models
        const wchar_t* panel;
        const wchar_t* model;  // given to the instructions
    } cases[] = {
        {"IPv4 and both models",
         {L"192.168.1.1", L""},
         true,
         true,
         true,
         {L"Brama IPv4|192.168.1.1", L"Model bramy|TP-Link Archer C6",
          L"Model nadajnika|TP-LINK Archer C6"},
         L"http://192.168.1.1/",
         L"TP-Link Archer C6"},
        {"quick: no UPnP",
         {L"192.168.1.1", L""},
         true,
         true,
         false,
         {L"Brama IPv4|192.168.1.1", L"Model nadajnika|TP-LINK Archer C6"},
         L"http://192.168.1.1/",
         L"TP-LINK Archer C6"},
        {"gateway model only",
         {L"192.168.1.1", L""},
         true,
         false,
         true,
         {L"Brama IPv4|192.168.1.1", L"Model bramy|TP-Link Archer C6"},
         L"http://192.168.1.1/",
         L"TP-Link Archer C6"},
        {"UPnP of another gateway",
         {L"10.0.0.1", L""},
         true,
         false,
         true,
         {L"Brama IPv4|10.0.0.1", L"Model|Nieznany"},
         L"http://10.0.0.1/",
         L""},
        {"IPv6 only",
         {L"", L"2001:db8::1"},
         true,
         true,
         true,
         {L"Brama IPv6|2001:db8::1", L"Model nadajnika|TP-LINK Archer C6"},
         L"http://[2001:db8::1]/",
         L"TP-LINK Archer C6"},
        {"link-local IPv6 only",
         {L"", L"fe80::1%7"},
         false,
         false,
         true,
         {L"Brama IPv6|fe80::1%7", L"Panel routera|Nieustalony adres", L"Model|Nieznany"},
         L"",
         L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gateways = c.gateways;
        if (!c.upnp_answers) upnp.devices.clear();
        std::vector<BssEntry> entries = flat_24_scene();
        if (!c.wps) entries[0] = without_wps;
        connect(entries);
        const WifiReading reading = read(c.detailed);
        std::vector<std::wstring> rows;
        for (const TableRow& row : reading.table.rows) {
            if (row.cells[0] == L"Karta" || row.cells[0] == L"Połączenie") continue;
            if (row.cells[0] != L"Brama IPv4" && row.cells[0] != L"Brama IPv6" &&
                row.cells[0] != L"Panel routera" && !row.cells[0].starts_with(L"Model")) {
                continue;
            }
            rows.push_back(row.cells[0] + L"|" + row.cells[1]);
        }
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(reading.panel_address, c.panel);
        // The instructions name the gateway's model before the access point's.
        const std::wstring heading =
            *c.model != L'\0' ? L"Rozpoznane urządzenie · " + std::wstring(c.model) + L"\r\n"
                              : L"Model urządzenia jest nieznany.";
        EXPECT_TRUE(reading.router_instructions.starts_with(heading));
    }
}

TEST_F(WifiReadingTest, WithoutAnAdapter) {
    const struct {
        const char* name;
        DWORD open_result, enum_result;
        const wchar_t* state;
        const wchar_t* text;
        int opens;
    } cases[] = {
        {"no adapter listed", 0, 0, L"Brak karty Wi-Fi",
         L"Windows nie wykrył obsługiwanej karty Wi-Fi.", 1},
        {"service not running", ERROR_SERVICE_NOT_ACTIVE, 0, L"Wi-Fi niedostępne",
         L"Windows nie otworzył karty Wi-Fi (kod 1062).", 0},
        {"adapters not listed", 0, ERROR_ACCESS_DENIED, L"Wi-Fi niedostępne",
         L"Windows nie otworzył karty Wi-Fi (kod 5).", 1},
    };
    for (const auto& c : cases) {
        for (const bool detailed : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.name << (detailed ? " detailed" : " quick"));
            wlan.open_result = c.open_result;
            wlan.enum_result = c.enum_result;
            wlan.opens = wlan.closes = 0;
            const WifiReading reading = read(detailed);
            EXPECT_EQ(row_lines(reading.table),
                      std::vector<std::wstring>{L"Stan|" + std::wstring(c.state) + L"|||||| #0"});
            EXPECT_EQ(reading.table.rows[0].detail, c.text);
            EXPECT_EQ(reading.card, (TextCard{L"Brak oceny kanału", c.state, c.text, 0}));
            EXPECT_EQ(reading.table.title.starts_with(L"Szczegółowy skan Wi-Fi"), detailed);
            EXPECT_EQ(reading.router_instructions, router_channel_instructions(L"", L""));
            EXPECT_EQ(reading.panel_address, L"");
            EXPECT_EQ(wlan.opens, c.opens);
            EXPECT_EQ(wlan.closes, c.opens);
        }
    }
}

TEST_F(WifiReadingTest, EverythingReleasedWhenAReadThrows) {
    // The third interface query (the channel number, after the list was read) runs out of
    // memory: the list is freed and the handle closed on the way out.
    connect(flat_24_scene());
    wlan.throw_on_query = 2;
    EXPECT_THROW(read(true), std::bad_alloc);
    EXPECT_EQ(wlan.bss_list_calls, 1);
}

TEST(WifiReadingUnderWine, NoAdapterInEitherMode) {
    // Wine's WLAN service lists no interface; WlanGetNetworkBssList is never reached.
    for (const bool detailed : {false, true}) {
        SCOPED_TRACE(detailed);
        const WifiReading reading = read_wifi_environment(detailed);
        ASSERT_EQ(reading.table.rows.size(), 1u);
        EXPECT_EQ(reading.table.rows[0].cells,
                  (std::vector<std::wstring>{L"Stan", L"Brak karty Wi-Fi", L"", L"", L"", L"", L"",
                                             L""}));
        EXPECT_EQ(reading.card, (TextCard{L"Brak oceny kanału", L"Brak karty Wi-Fi",
                                          L"Windows nie wykrył obsługiwanej karty Wi-Fi.", 0}));
        EXPECT_FALSE(reading.snapshot);
    }
}

TEST(WifiReadingRows, CellsCutOrPaddedAndTheVerdictLast) {
    const struct {
        std::vector<std::wstring> cells;
        Verdict verdict;
        std::vector<std::wstring> stored;
        std::vector<Verdict> status;
    } cases[] = {
        {{L"Karta"}, 0, {L"Karta", L"", L"", L"", L"", L"", L"", L""}, {}},
        {{L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9", L"10"},
         3,
         {L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8"},
         {0, 0, 0, 0, 0, 0, 0, 3}},
        {{}, 1, {L"", L"", L"", L"", L"", L"", L"", L""}, {0, 0, 0, 0, 0, 0, 0, 1}},
    };
    WifiReading reading;
    for (const auto& c : cases) add_wifi_row(reading, c.cells, L"opis", c.verdict);
    ASSERT_EQ(reading.table.rows.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(reading.table.rows[i].cells, cases[i].stored);
        EXPECT_EQ(reading.table.rows[i].status, cases[i].status);
        EXPECT_EQ(reading.table.rows[i].detail, L"opis");
    }
}

TEST(WifiReadingRows, DefaultReadingShowsTheInvitation) {
    const WifiReading reading;
    EXPECT_EQ(reading.card,
              (TextCard{L"Sprawdź swój kanał Wi-Fi",
                        L"Uruchom szczegółowy skan, aby ocenić obecny kanał.",
                        L"Aplikacja porównuje sieci widoczne obok aktualnego połączenia. Po "
                        L"świeżym skanie pokaże, czy warto sprawdzić inny kanał.",
                        0}));
    EXPECT_TRUE(reading.table.rows.empty());
}

TEST(WifiSummaryLine, CountsProposalAndCache) {
    const auto item = [](std::int32_t band, std::int32_t rssi, bool own, bool overlaps) {
        return WifiChartItem{L"", plot_point{band, 6, 2437, 2437, 20, 0, rssi, own}, overlaps};
    };
    WifiChartData chart;
    chart.items = {item(1, -48, true, false), item(1, -60, false, true),
                   item(1, -85, false, true), item(1, -86, false, true),
                   item(1, -95, true, false), item(2, -50, false, false)};
    chart.band = 1;
    chart.proposed_channel = 11;
    chart.has_proposal = true;
    WifiChartData cached = chart;
    cached.from_cache = true;
    cached.has_proposal = false;
    const struct {
        const WifiChartData* chart;
        std::int32_t band;
        const wchar_t* line;
    } cases[] = {
        {&chart, 1, L"2,4 GHz · 4 punktów · 2 nakłada się · proponowany kanał 11"},
        {&chart, 2, L"5 GHz · 1 punktów · 0 nakłada się"},
        {&chart, 3, L"6 GHz · 0 punktów · 0 nakłada się"},
        {&chart, 7, L"6 GHz · 0 punktów · 0 nakłada się"},
        {&cached, 1, L"2,4 GHz · 4 punktów · 2 nakłada się · odczyt z pamięci"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.band);
        EXPECT_EQ(wifi_summary_line(*c.chart, c.band), c.line);
    }
}

}  // namespace
}  // namespace tarvisko
