#include "results/technical_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/common/text.h"
#include "results/fixtures.h"
#include "results/inventory_text.h"

namespace tarvisko {
namespace {

using nlohmann::json;

json ok(const json& value) { return {{"status", "ok"}, {"value", value}}; }
json partial(const json& value) { return {{"status", "partial"}, {"reason", "cut"}, {"value", value}}; }
json unavailable(const std::string& reason) { return {{"status", "unavailable"}, {"reason", reason}}; }

json adapter(int index, int type, const json& unicast_value) {
    return {{"index", index},
            {"oper_status", 1},
            {"type", type},
            {"mtu", 1500},
            {"model", ok("Karta " + std::to_string(index))},
            {"driver", ok("1.2")},
            {"link", ok({{"rx_bps", 1000000000}, {"tx_bps", 866700000.0}})},
            {"traffic", ok({{"rx_bps", 15930000.0}, {"tx_bps", 0}})},
            {"counters",
             ok({{"rx_errors", 0}, {"tx_errors", 3}, {"rx_discards", 1}, {"tx_discards", 0}})},
            {"gateways", ok(json::array({"192.168.1.1"}))},
            {"dns", ok(json::array({"192.168.1.1", "fd00::1"}))},
            {"unicast", ok(unicast_value)}};
}

json address(const std::string& ip, int prefix) { return {{"ip", ip}, {"prefix_length", prefix}}; }

json neighbour(int index, const std::string& mac, const json& vendor) {
    json entry = {{"index", index}, {"mac_id", ok(mac)}};
    entry["vendor"] = vendor.is_string() ? ok(vendor) : unavailable("unknown_vendor");
    return entry;
}

const json reserved = {{"reservation_local_ip", ok("192.168.1.20")}};

// An inventory with one measurement adapter, a down interface, neighbours and a Wi-Fi card.
json home_inventory() {
    json down = adapter(9, 71, json::array());
    down["oper_status"] = 2;
    down.erase("type");  // only an up interface needs its type
    return {{"interfaces", ok(json::array({adapter(4, 6, json::array({address("192.168.1.20", 24),
                                                                       address("fe80::1", 64)})),
                                           down}))},
            {"neighbors",
             ok(json::array({neighbour(4, "aa", "AVM"), neighbour(4, "bb", "Apple"),
                             neighbour(4, "aa", "AVM"), neighbour(5, "cc", "Other"),
                             neighbour(4, "dd", nullptr)}))},
            {"unique_neighbor_macs", ok(7)},
            {"system",
             {{"cpu_model", ok("Ryzen")},
              {"logical_processors", 16},
              {"memory", ok({{"total_bytes", 17179869184}, {"available_bytes", 8000000000}})}}},
            {"wifi",
             ok(json::array({{{"connection", ok({{"phy", 10},
                                                  {"signal_pct", 80},
                                                  {"rx_kbps", 866700},
                                                  {"tx_kbps", 400000.5}})},
                              {"rssi_dbm", ok(-54)},
                              {"channel", ok(36)}}}))},
            {"duplicate_addresses", ok(json::array())},
            {"gateway_changes", ok(json::array({{{"at", "x"}}}))}};
}

TEST(InventoryText, HomeInventoryWholeSection) {
    const std::string expected =
        "Typ połączenia przy rezerwacji HTTPS   Ethernet · Karta 4"
        "\r\nSąsiedzi na karcie pomiarowej   3 · rozpoznani producenci: AVM, Apple"
        "\r\nSąsiedzi widoczni dla Windows   7"
        "\r\nLicznik obejmuje unikalne adresy MAC pamiętane przez ARP/IPv6 na interfejsach "
        "komputera. Może obejmować routery, telefony i urządzenia wirtualne.\r\n"
        "Procesor   Ryzen · procesory logiczne: 16\r\n"
        "RAM   16.00 GiB · dostępne: 7.45 GiB\r\n"
        "Aktywne interfejsy Windows\r\n"
        "  Ethernet · Karta 4 · sterownik 1.2 · MTU 1500\r\n"
        "  Prędkość łącza RX / TX: 1000.00 Mb/s / 866.70 Mb/s · ruch przed testem RX / TX: "
        "15.93 Mb/s / 0.00 Mb/s\r\n"
        "  Błędy RX / TX: 0 / 3 · odrzucenia RX / TX: 1 / 0\r\n"
        "  Bramy: 192.168.1.1 · DNS: 192.168.1.1, fd00::1\r\n"
        "  Adresy IP: 192.168.1.20/24 fe80::1/64\r\n"
        "Wi-Fi\r\n  802.11ax · sygnał 80% · RSSI -54 dBm · kanał 36 · RX / TX: 866.70 Mb/s / "
        "400.00 Mb/s"
        "\r\nAdresy uznane przez Windows za zduplikowane: 0 · zmiany MAC bramy: 1\r\n";
    EXPECT_EQ(render_inventory_text(home_inventory(), reserved), expected);
}

// The line after the reservation label, up to the neighbour count of the whole computer.
std::string reservation_part(const json& inventory, const json& throughput) {
    const std::string text = render_inventory_text(inventory, throughput);
    const std::string label = "Typ połączenia przy rezerwacji HTTPS   ";
    const std::size_t end = text.find("\r\nSąsiedzi widoczni");
    EXPECT_EQ(text.rfind(label, 0), 0u);
    return text.substr(label.size(), end - label.size());
}

TEST(InventoryText, ReservationAdapter) {
    json two = home_inventory();
    two["interfaces"]["value"][1] = adapter(5, 6, json::array({address("192.168.1.20", 24)}));
    json type53 = home_inventory();
    type53["interfaces"]["value"][0]["type"] = 53;
    json partial_neighbours = home_inventory();
    json twelve = json::array();
    for (int i = 0; i < 12; ++i) twelve.push_back(neighbour(4, "m" + std::to_string(i), nullptr));
    partial_neighbours["neighbors"] = partial(twelve);
    json no_neighbours = home_inventory();
    no_neighbours["neighbors"] = unavailable("GetIpNetTable2:1");
    const json no_reservation = {{"reservation_local_ip", unavailable("no_reservation")}};

    struct Case {
        const char* name;
        json inventory;
        json throughput;
        std::string expected;
    };
    const Case cases[] = {
        {"two adapters carry the address", two, reserved, "niejednoznaczne dopasowanie adresu"},
        {"no adapter carries it", home_inventory(),
         {{"reservation_local_ip", ok("10.9.9.9")}},
         "brak karty z adresem połączenia w odczycie Windows"},
        {"no reservation", home_inventory(), no_reservation, "niedostępne (no_reservation)"},
        {"no envelope at all", home_inventory(), json::object(), "brak w zapisie"},
        {"type 53", type53, reserved,
         "Typ interfejsu Windows 53 · Karta 4\r\nSąsiedzi na karcie pomiarowej   3 · rozpoznani "
         "producenci: AVM, Apple"},
        {"12 of a partial list", partial_neighbours, reserved,
         "Ethernet · Karta 4\r\nSąsiedzi na karcie pomiarowej   co najmniej 12"},
        {"neighbours unread", no_neighbours, reserved,
         "Ethernet · Karta 4\r\nSąsiedzi na karcie pomiarowej   niedostępne (GetIpNetTable2:1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(reservation_part(c.inventory, c.throughput), c.expected);
    }
}

TEST(InventoryText, PartialAndMissingReadings) {
    json inventory = home_inventory();
    inventory["interfaces"] = partial(json::array({inventory["interfaces"]["value"][1]}));
    inventory["system"]["cpu_model"] = unavailable("ProcessorNameString_missing");
    inventory["system"].erase("logical_processors");
    inventory["system"]["memory"] = unavailable("GlobalMemoryStatusEx:5");
    inventory["wifi"] = ok(json::array());
    inventory["duplicate_addresses"] = partial(json::array({"a", "b"}));
    inventory.erase("gateway_changes");
    inventory.erase("unique_neighbor_macs");
    const std::string text = render_inventory_text(inventory, {});
    EXPECT_NE(text.find("\r\nSąsiedzi widoczni dla Windows   brak w zapisie\r\n"), std::string::npos);
    EXPECT_NE(text.find("Procesor   niedostępne (ProcessorNameString_missing) · procesory "
                        "logiczne: brak w zapisie\r\nRAM   niedostępne (GlobalMemoryStatusEx:5) · "
                        "dostępne: niedostępne (GlobalMemoryStatusEx:5)\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Aktywne interfejsy Windows\r\n  brak aktywnych w zapisanej liście\r\n"
                        "  Lista kart częściowa.\r\nWi-Fi   brak kart Wi-Fi w odczycie Windows\r\n"
                        "Adresy uznane przez Windows za zduplikowane: 2 (wynik częściowy) · zmiany "
                        "MAC bramy: brak w zapisie\r\n"),
              std::string::npos)
        << text;

    inventory["interfaces"] = unavailable("GetAdaptersAddresses:8");
    inventory["wifi"] = unavailable("wlan_service_off");
    EXPECT_NE(render_inventory_text(inventory, {})
                  .find("Aktywne interfejsy Windows\r\n  niedostępne (GetAdaptersAddresses:8)\r\n"
                        "Wi-Fi   niedostępne (wlan_service_off)\r\n"),
              std::string::npos);
}

TEST(InventoryText, InterfaceLists) {
    json inventory = home_inventory();
    json& card = inventory["interfaces"]["value"][0];
    card["gateways"] = ok(json::array());
    card["dns"] = {{"status", "unavailable"}};
    card["unicast"] = partial(json::array({address("10.0.0.2", 8)}));
    card["link"] = ok({{"rx_bps", "auto"}});
    std::string text = render_inventory_text(inventory, {});
    EXPECT_NE(text.find("  Prędkość łącza RX / TX: auto / brak w zapisie · "), std::string::npos);
    EXPECT_NE(text.find("  Bramy: brak wpisów · DNS: brak w zapisie\r\n"
                        "  Adresy IP: 10.0.0.2/8 (lista częściowa)\r\n"),
              std::string::npos)
        << text;

    card["gateways"] = partial(json::array({"10.0.0.1"}));
    card["unicast"] = ok(json::array());
    text = render_inventory_text(inventory, {});
    EXPECT_NE(text.find("  Bramy: 10.0.0.1 (lista częściowa) · "), std::string::npos);
    EXPECT_NE(text.find("  Adresy IP: brak wpisów\r\n"), std::string::npos);
    card["unicast"] = unavailable("GetUnicastIpAddressTable:5");
    EXPECT_NE(render_inventory_text(inventory, {})
                  .find("  Adresy IP: niedostępne (GetUnicastIpAddressTable:5)\r\n"),
              std::string::npos);
}

// A stored report keeps the vendor file's names as they were read; the text shows them without
// the line breaks and direction marks a hostile file can put in.
TEST(InventoryText, HostileVendorNamesArriveSanitised) {
    json inventory = home_inventory();
    inventory["neighbors"] = ok(json::array({neighbour(4, "aa", "AVM\r\nRouter\xE2\x80\xAE"),
                                             neighbour(4, "bb", "\xE2\x80\x8B\x07"),
                                             neighbour(4, "cc", std::string(300, 'v'))}));
    const std::string text = render_inventory_text(inventory, reserved);
    EXPECT_NE(
        text.find("\r\nSąsiedzi na karcie pomiarowej   3 · rozpoznani producenci: AVM  Router , " +
                  std::string(119, 'v') + "\xE2\x80\xA6\r\n"),
        std::string::npos)
        << text;
}

TEST(InventoryText, EnvelopeRules) {
    EXPECT_EQ(envelope_number_text(1000000000, {}, 1e6, " Mb/s"), "1000.00 Mb/s");
    EXPECT_EQ(envelope_number_text(0, {}, 1, ""), "0");
    EXPECT_EQ(envelope_number_text(2.5, {}, 1, "%"), "2.50%");
    EXPECT_EQ(envelope_number_text("tekst", {}, 1000, " Mb/s"), "tekst");
    EXPECT_EQ(envelope_number_text(true, unavailable("r"), 1, ""), "niedostępne (r)");
    EXPECT_EQ(envelope_state_text({{"reason", 5}}), "brak w zapisie");
    EXPECT_EQ(envelope_list_text(ok(json::array({""}))), "brak wpisów");
    EXPECT_EQ(envelope_count_text(ok("3")), "brak w zapisie");
    EXPECT_EQ(interface_type_text(244), "Sieć komórkowa");
    EXPECT_EQ(interface_type_text(-1), "Typ interfejsu Windows -1");
    EXPECT_EQ(wifi_phy_text(ok({{"phy", 4}})), "802.11a");
    EXPECT_EQ(wifi_phy_text(ok({{"phy", 12}})), "PHY 12");
    EXPECT_EQ(wifi_phy_text(ok({{"phy", 7.0}})), "brak w zapisie");
    EXPECT_EQ(wifi_phy_text(unavailable("no_connection")), "niedostępne (no_connection)");
    EXPECT_EQ(render_inventory_text(nullptr, reserved),
              "Komputer i sieć lokalna · brak inwentaryzacji w tej sesji\r\n");
    EXPECT_EQ(render_inventory_text(json::array(), reserved),
              "Komputer i sieć lokalna · brak inwentaryzacji w tej sesji\r\n");
}

TEST(InventoryText, MalformedInventoryFails) {
    json no_status = home_inventory();
    no_status["interfaces"]["value"][0].erase("oper_status");
    EXPECT_THROW(render_inventory_text(no_status, reserved), json::out_of_range);
    json no_mtu = home_inventory();
    no_mtu["interfaces"]["value"][0].erase("mtu");
    EXPECT_THROW(render_inventory_text(no_mtu, {}), json::out_of_range);
    json bad_gateway = home_inventory();
    bad_gateway["interfaces"]["value"][0]["gateways"] = ok(json::array({1}));
    EXPECT_THROW(render_inventory_text(bad_gateway, {}), json::type_error);
    json not_object = home_inventory();
    not_object["interfaces"]["value"].push_back("eth0");
    EXPECT_THROW(render_inventory_text(not_object, {}), json::type_error);
    json no_index = home_inventory();
    no_index["interfaces"]["value"][0].erase("index");
    EXPECT_THROW(render_inventory_text(no_index, reserved), json::out_of_range);
}

// The full test captured under Wine, line by line as a technician reads it.
TEST(TechnicalReport, CapturedFullTest) {
    const json report = test::load_result_fixture("diagnostics-report");
    const std::string link = "niedostępne (link_down_or_speed_unknown)";
    const std::string adapter_tail =
        " · sterownik niedostępne (driver_version_unavailable)";
    const std::string speed_line = "  Prędkość łącza RX / TX: " + link + " / " + link +
                                   " · ruch przed testem RX / TX: 0.00 Mb/s / 0.00 Mb/s\r\n";
    const std::string header = "\r\nPróba / skok     Router     RTT     Status\r\n";
    // Router then node, attempt by attempt, in ms.
    const auto trace_rows = [](const std::vector<std::pair<int, int>>& times) {
        std::string rows;
        for (std::size_t attempt = 1; attempt <= times.size(); ++attempt) {
            const std::string n = std::to_string(attempt);
            const auto& [router, node] = times[attempt - 1];
            rows += n + " / 1     10.200.0.2     " + std::to_string(router) +
                    ".00 ms     ttl_expired\r\n";
            rows +=
                n + " / 2     10.200.1.2     " + std::to_string(node) + ".00 ms     echo_reply\r\n";
        }
        return rows;
    };
    const std::string rows = trace_rows({{7, 0}, {0, 4}, {0, 1}, {0, 0}, {0, 0}});
    const std::string recovery_rows = trace_rows({{20, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}});
    const std::string expected =
        "Raport z pomiaru\r\n\r\n"
        "Pobieranie   19.12 Mb/s\r\n"
        "Wysyłanie   19.06 Mb/s\r\n"
        "Limit węzła   100.00 Mb/s\r\n"
        "\r\n"
        "Typ połączenia przy rezerwacji HTTPS   Ethernet · east"
        "\r\nSąsiedzi na karcie pomiarowej   niedostępne (GetIpNetTable2:1)"
        "\r\nSąsiedzi widoczni dla Windows   niedostępne (GetIpNetTable2:1)"
        "\r\nLicznik obejmuje unikalne adresy MAC pamiętane przez ARP/IPv6 na interfejsach "
        "komputera. Może obejmować routery, telefony i urządzenia wirtualne.\r\n"
        "Procesor   Oxide Virtual Turin-like Processor · procesory logiczne: 8\r\n"
        "RAM   23.54 GiB · dostępne: 22.18 GiB\r\n"
        "Aktywne interfejsy Windows\r\n"
        "  Loopback · lo" +
        adapter_tail + " · MTU brak odczytu\r\n" + speed_line +
        "  Błędy RX / TX: 0 / 0 · odrzucenia RX / TX: 0 / 0\r\n"
        "  Bramy: brak wpisów · DNS: 127.0.0.1\r\n"
        "  Adresy IP: ::1/128 127.0.0.1/8\r\n"
        "  Ethernet · east" +
        adapter_tail + " · MTU 1500\r\n" + speed_line +
        "  Błędy RX / TX: 0 / 0 · odrzucenia RX / TX: 0 / 0\r\n"
        "  Bramy: 10.200.0.2 · DNS: 127.0.0.1\r\n"
        "  Adresy IP: fd00:200::1/64 fe80::a4fb:e8ff:fe54:19b7/64 10.200.0.1/24\r\n"
        "Wi-Fi   brak kart Wi-Fi w odczycie Windows"
        "\r\nAdresy uznane przez Windows za zduplikowane: 0 · zmiany MAC bramy: niedostępne "
        "(no_observed_gateway_mac)\r\n"
        "\r\nJakość połączenia · opóźnienie HTTPS i poprawne odpowiedzi\r\n"
        "Pomiar w spoczynku   2.75 ms   ·   odpowiedzi 12 / 12\r\n"
        "Powtórny pomiar w spoczynku   2.81 ms   ·   odpowiedzi 12 / 12\r\n"
        "\r\nSesja   D05718AF-00D1-40E3-8B40-4C9EB27889A7"
        "\r\nPoczątek UTC   2026-12-11T13:21:10.241Z"
        "\r\nSystem   10.0.18362   ·   QUORVEL 1.1.18"
        "\r\nIP przy rezerwacji   203.0.113.9"
        "\r\nIdentyfikator komputera   ce8c17ee-d025-8e79-b32d-af6cc37fb041"
        "\r\nRaport dostępny w panelu klienta."
        "\r\n\r\nTrasa MTR"
        "\r\n\r\nPomiar w spoczynku" +
        header + rows + "\r\n\r\nPobieranie danych" + header + "\r\n\r\nWysyłanie danych" + header +
        "\r\n\r\nPowtórny pomiar w spoczynku" + header + recovery_rows;
    EXPECT_EQ(throughput_report_text(report), to_wide(expected));
}

// A small full-test report with the members the text requires.
json small_report() {
    json baseline = json::array();
    for (int i = 0; i < 5; ++i) {
        baseline.push_back(i < 3 ? json{{"ms", 10 + i}, {"error", nullptr}}
                                 : json{{"ms", nullptr}, {"error", "timeout"}});
    }
    return {{"throughput",
             {{"error", nullptr},
              {"session_id", "S-1"},
              {"started_at", "2026-12-10T08:00:00Z"},
              {"windows_version", "10.0.19045"},
              {"profile",
               {{"mode", "windowed"},
                {"bytes", 500000000},
                {"rate_bps", 300000000},
                {"streams", 4},
                {"window_ms", 10500}}},
              {"transfers",
               {{"download",
                 {{"status", "ok"},
                  {"client_bytes", 125000000},
                  {"node_bytes", 125000000},
                  {"duration_ms", 10000},
                  {"reason", nullptr}}},
                {"upload",
                 {{"status", "not_started"},
                  {"client_bytes", 0},
                  {"node_bytes", 0},
                  {"duration_ms", 0},
                  {"reason", "download_failed"}}}}},
              {"phases", {{"baseline", baseline}, {"recovery", json::array()}}}}},
            {"device", {{"id", nullptr}, {"reason", "device_identity_unavailable"}}},
            {"synchronized", false},
            {"mtr_samples", json::array()}};
}

std::wstring text_of(const json& report) { return throughput_report_text(report); }

TEST(TechnicalReport, EdgeCases) {
    const std::wstring text = text_of(small_report());
    const std::wstring opening =
        L"Raport z pomiaru\r\n\r\n"
        L"Pobieranie   100.00 Mb/s\r\n"
        L"Wysyłanie   brak pełnego wyniku (download_failed)\r\n"
        L"Limit węzła   300.00 Mb/s   ·   strumienie: 4   ·   okno: 10.50 s\r\n"
        L"\r\nKomputer i sieć lokalna · brak inwentaryzacji w tej sesji\r\n"
        L"\r\nJakość połączenia · opóźnienie HTTPS i poprawne odpowiedzi\r\n"
        L"Pomiar w spoczynku   za mało poprawnych próbek   ·   odpowiedzi 3 / 5\r\n"
        L"Powtórny pomiar w spoczynku   za mało poprawnych próbek   ·   odpowiedzi 0 / 0\r\n"
        L"\r\nSesja   S-1\r\nPoczątek UTC   2026-12-10T08:00:00Z"
        L"\r\nSystem   10.0.19045   ·   QUORVEL 0.5.0"
        L"\r\nIP przy rezerwacji   brak rezerwacji lub starszy raport"
        L"\r\nIdentyfikator komputera   niedostępny (device_identity_unavailable)"
        L"\r\nRaport zapisany lokalnie. Wysyłka oczekuje na synchronizację."
        L"\r\n\r\nTrasa MTR   ·   brak zapisanych próbek w raporcie lokalnym";
    EXPECT_EQ(text, opening);

    json cancelled = small_report();
    cancelled["throughput"]["error"] = "cancelled";
    cancelled["throughput"]["profile"].erase("streams");
    cancelled["throughput"]["phases"]["recovery"] = json{{"ms", 3}, {"error", nullptr}};
    cancelled["synchronized"] = true;
    cancelled["version"] = "1.1.18";
    cancelled["observed_ip"] = "203.0.113.9";
    cancelled["device"] = {{"id", "d-1"}};
    cancelled.erase("mtr_samples");
    const std::wstring partial_text = text_of(cancelled);
    EXPECT_EQ(partial_text.rfind(L"Raport częściowy\r\n\r\n", 0), 0u);
    EXPECT_NE(partial_text.find(L"\r\nLimit węzła   300.00 Mb/s\r\n\r\n"), std::wstring::npos);
    EXPECT_NE(partial_text.find(L"Powtórny pomiar w spoczynku   za mało poprawnych próbek   ·   "
                                L"odpowiedzi 1 / 1\r\n"),
              std::wstring::npos);
    EXPECT_NE(partial_text.find(L"\r\nSystem   10.0.19045   ·   QUORVEL 1.1.18"
                                L"\r\nIP przy rezerwacji   203.0.113.9"
                                L"\r\nIdentyfikator komputera   d-1"
                                L"\r\nPrzyczyna   cancelled"
                                L"\r\nRaport dostępny w panelu klienta."
                                L"\r\n\r\nTrasa MTR   ·   brak zapisanych próbek"),
              std::wstring::npos)
        << partial_text;
}

TEST(TechnicalReport, TransfersAndRouteRows) {
    json report = small_report();
    json& upload = report["throughput"]["transfers"]["upload"];
    upload = {{"status", "ok"}, {"client_bytes", 10}, {"node_bytes", 11}, {"duration_ms", 5}};
    report["throughput"]["transfers"]["download"]["duration_ms"] = 0;
    report["mtr_samples"] = json::array(
        {test::probe("t", 1, 1, "timeout", nullptr, nullptr, "upload"),
         test::probe("t", 2, 1, "echo_reply", "t", 12.3456, "download"),
         test::probe("t", 1, 2, "timeout", nullptr, nullptr, "other")});
    const std::wstring text = text_of(report);
    EXPECT_NE(text.find(L"Pobieranie   brak pełnego wyniku\r\nWysyłanie   brak pełnego wyniku\r\n"),
              std::wstring::npos);
    const std::wstring header = L"\r\nPróba / skok     Router     RTT     Status\r\n";
    const std::wstring route = L"\r\n\r\nTrasa MTR\r\n\r\nPomiar w spoczynku" + header +
                               L"\r\n\r\nPobieranie danych" + header +
                               L"1 / 2     t     12.35 ms     echo_reply\r\n"
                               L"\r\n\r\nWysyłanie danych" + header +
                               L"1 / 1     —     —     timeout\r\n"
                               L"\r\n\r\nPowtórny pomiar w spoczynku" + header;
    ASSERT_GE(text.size(), route.size());
    EXPECT_EQ(text.substr(text.size() - route.size()), route);
}

TEST(TechnicalReport, MalformedReportsFail) {
    const auto without = [](const char* path) {
        json report = small_report();
        report.at(json::json_pointer(path).parent_pointer())
            .erase(json::json_pointer(path).back());
        return report;
    };
    for (const char* path : {"/throughput", "/synchronized", "/throughput/error",
                             "/throughput/session_id", "/throughput/started_at",
                             "/throughput/windows_version", "/throughput/profile/rate_bps"}) {
        SCOPED_TRACE(path);
        EXPECT_THROW(text_of(without(path)), json::out_of_range);
    }
    json window = without("/throughput/profile/window_ms");
    EXPECT_THROW(text_of(window), json::type_error);
    json session = small_report();
    session["throughput"]["session_id"] = 7;
    EXPECT_THROW(text_of(session), json::type_error);
    json status = small_report();
    status["mtr_samples"] = json::array({test::probe("t", 1, 1, "timeout", nullptr, nullptr)});
    status["mtr_samples"][0]["status"] = nullptr;
    EXPECT_THROW(text_of(status), json::type_error);
    json latency = small_report();
    latency["throughput"]["phases"]["baseline"][0].erase("error");
    EXPECT_THROW(text_of(latency), json::out_of_range);
}

}  // namespace
}  // namespace tarvisko
