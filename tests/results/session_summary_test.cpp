#include "results/session_summary.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "results/fixtures.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;
using test::probe;

const std::string peer = "198.51.100.7";

TEST(SessionSummary, CapturedFullTestReadsAsWritten) {
    const std::string expected =
        "Twój wynik\r\n"
        "\r\n"
        "Prędkość pobierania: 19,1 Mb/s\r\n"
        "Prędkość wysyłania: 19,1 Mb/s\r\n"
        "Pobieranie określa, jak szybko plik trafia na komputer. Wysyłanie — jak szybko możesz "
        "przesłać go innej osobie.\r\n"
        "\r\n"
        "Co mogło ograniczyć prędkość?\r\n"
        "Serwer mierzył do 100 Mb/s. Szybkość pakietu możesz porównać z wartością w umowie.\r\n"
        "Komputer użył karty Ethernet.\r\n"
        "Jeden pomiar do jednego serwera nie rozstrzyga, czy ograniczeniem było łącze domowe, "
        "trasa w internecie czy sam serwer.\r\n"
        "Typowy czas odpowiedzi strony testowej przed obciążeniem wynosił 2,8 ms.\r\n"
        "\r\n"
        "Ping — jak długo czekasz na odpowiedź?\r\n"
        "Router na drodze do internetu — brak pomiaru dla tego celu.\r\n"
        "Serwer pomiarowy sim-node-1 (10.200.1.2) — średnio <1 ms, odpowiedzi 5 z 5.\r\n"
        "Im krótszy czas w milisekundach (ms), tym szybciej dociera odpowiedź.\r\n"
        "\r\n"
        "Gdzie zabrakło odpowiedzi po drodze?\r\n"
        "W wykonanych próbach śledzenia trasy nie upłynął czas oczekiwania na odpowiedź.\r\n"
        "\r\n"
        "Twoje adresy\r\n"
        "Adres widoczny dla serwera: 203.0.113.9\r\n"
        "IPv4 na komputerze: 10.200.0.1\r\n"
        "IPv6 na komputerze: fd00:200::1, fe80::a4fb:e8ff:fe54:19b7\r\n"
        "Raport dostępny w panelu klienta.";
    EXPECT_EQ(render_session_summary(test::load_result_fixture("diagnostics-report")), expected);
}

json ping_sample(const std::string& status, const json& responder = nullptr,
                 const json& rtt = nullptr) {
    return {{"status", status}, {"responder", responder}, {"rtt_ms", rtt}};
}
json ping_series(const json& target, json samples, const json& reason = nullptr) {
    return {{"target", target},
            {"planned", 5},
            {"timeout_ms", 400},
            {"reason", reason},
            {"samples", std::move(samples)}};
}
json replies(const std::string& target, std::vector<double> times) {
    json samples = json::array();
    for (const double t : times) samples.push_back(ping_sample("echo_reply", target, t));
    return samples;
}
json baseline(int valid, int failed) {
    json samples = json::array();
    for (int i = 0; i < valid; ++i) samples.push_back({{"ms", 20 + i}, {"error", nullptr}});
    for (int i = 0; i < failed; ++i) samples.push_back({{"ms", nullptr}, {"error", "timeout"}});
    return samples;
}
json interface_entry(const std::string& id, int type, std::vector<std::string> ips,
                     const json& link) {
    json unicast = json::array();
    for (const std::string& ip : ips) unicast.push_back({{"ip", ip}, {"prefix_length", 24}});
    return {{"id", id},
            {"type", type},
            {"link", link},
            {"unicast", {{"status", "ok"}, {"value", unicast}}}};
}
json ok(const json& value) { return {{"status", "ok"}, {"value", value}}; }

// A route of five attempts: hops 1 and 2 answer "ttl_expired" throughout, the node answers at 3.
json clean_trace() {
    json samples = json::array();
    for (int attempt = 1; attempt <= 5; ++attempt) {
        samples.push_back(probe(peer, 1, attempt, "ttl_expired", "10.0.0.1", 1.0));
        samples.push_back(probe(peer, 2, attempt, "ttl_expired", "10.0.0.2", 2.0));
        samples.push_back(probe(peer, 3, attempt, "echo_reply", peer, 3.0));
    }
    // Probes of another protocol or towards another target never count.
    samples.push_back(probe(peer, 2, 1, "timeout", nullptr, nullptr, "baseline", "tcp"));
    samples.push_back(probe("192.0.2.1", 2, 1, "timeout", nullptr, nullptr));
    return samples;
}

json hand_made_report() {
    const json throughput = {
        {"session_id", "0f0e0d0c-0b0a-4908-8706-050403020100"},
        {"error", nullptr},
        {"node_id", "n1"},
        {"peer", peer},
        {"profile", {{"mode", "windowed"}, {"bytes", 100000000}, {"rate_bps", 100000000}}},
        {"transfers",
         {{"download",
           {{"status", "ok"},
            {"client_bytes", 95000000},
            {"node_bytes", 95000000},
            {"duration_ms", 8000}}},
          {"upload",
           {{"status", "ok"},
            {"client_bytes", 50000000},
            {"node_bytes", 50000000},
            {"duration_ms", 8000}}}}},
        {"phases", {{"baseline", baseline(10, 0)}}},
        {"host_pings",
         {{"gateway", ping_series("192.168.1.1", replies("192.168.1.1", {1, 2, 1, 2, 1}))},
          {"node", ping_series(peer, replies(peer, {12, 14, 12, 14, 13}))}}},
        {"reservation_local_ip", ok("192.168.1.10")}};
    const json link = ok({{"rx_bps", 1000000000}, {"tx_bps", 1000000000}});
    const json inventory = {
        {"interfaces",
         ok(json::array({interface_entry("{LO}", 24, {"127.0.0.1"}, nullptr),
                         interface_entry("{ETH}", 6, {"192.168.1.10", "fe80::1"}, link)}))},
        {"wifi", ok(json::array())},
        {"unique_neighbor_macs", ok(3)}};
    return {{"throughput", throughput},
            {"inventory", inventory},
            {"mtr_samples", clean_trace()},
            {"observed_ip", "203.0.113.9"},
            {"synchronized", false}};
}

// The look-back example: five attempts; the node answers at TTL 6 in attempts 1, 3 and 5 and is
// silent in 2 and 4; hops 5 and 4 are silent in 2 and 4, hop 3 only in 2.
json look_back_trace(int attempts, bool node_at_seven, bool hop5_silent_in_4 = true) {
    json samples = json::array();
    const auto hop = [](int ttl) { return "10.0.0." + std::to_string(ttl); };
    for (int a = 1; a <= attempts; ++a) {
        for (int ttl = 1; ttl <= 2; ++ttl) {
            samples.push_back(probe(peer, ttl, a, "ttl_expired", hop(ttl), 1.0));
        }
        const auto silent_at = [&](int ttl) {
            if (ttl == 3) return a == 2;
            if (ttl == 5 && !hop5_silent_in_4) return a == 2;
            return a == 2 || a == 4;
        };
        for (int ttl = 3; ttl <= 5; ++ttl) {
            samples.push_back(silent_at(ttl) ? probe(peer, ttl, a, "timeout", nullptr, nullptr)
                                             : probe(peer, ttl, a, "ttl_expired", hop(ttl), 5.0));
        }
        samples.push_back(a == 2 || a == 4 ? probe(peer, 6, a, "timeout", nullptr, nullptr)
                                           : probe(peer, 6, a, "echo_reply", peer, 9.0));
        if (node_at_seven) samples.push_back(probe(peer, 7, a, "echo_reply", peer, 9.0));
    }
    return samples;
}

struct Case {
    const char* name;
    std::function<void(json&)> change;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

// A run whose reservation failed with `error`: no node, no profile, no transfer started, both
// ping series waiting for a reservation.
void no_reservation(json& report, const std::string& error) {
    json& throughput = report["throughput"];
    throughput["error"] = error;
    throughput["peer"] = nullptr;
    throughput["node_id"] = nullptr;
    throughput["profile"] = nullptr;
    for (const char* direction : {"download", "upload"}) {
        throughput["transfers"][direction] = {{"status", "not_started"},
                                              {"reason", "not_started"},
                                              {"client_bytes", 0},
                                              {"node_bytes", 0},
                                              {"duration_ms", 0}};
    }
    const json waiting = {{"target", nullptr},
                          {"planned", 5},
                          {"timeout_ms", 400},
                          {"reason", "no_reservation"},
                          {"samples", json::array()}};
    throughput["host_pings"] = {{"gateway", waiting}, {"node", waiting}};
    report["mtr_samples"] = json::array();
}

TEST(SessionSummary, HandMadeReportsTakeEachBranch) {
    const std::string stopped = "Test zatrzymano. Wyniki ukończonych prób są zapisane poniżej.\r\n";
    const std::string limit_line = "Serwer mierzył do 100 Mb/s. ";
    const std::string lookback_result =
        "W tych samych rundach odpowiedzi brakowało od etapu 4 aż do serwera. Brakowało też "
        "odpowiedzi na etapie serwera. Dokładne miejsce utraty pozostaje nieustalone.\r\n";
    const std::string node_answered =
        "Serwer odpowiadał. Router po drodze może rzadziej odpowiadać na ping, mimo że "
        "przekazuje dane dalej.\r\n";
    const std::string undetermined =
        ". Brakowało też odpowiedzi na etapie serwera. Dokładne miejsce utraty pozostaje "
        "nieustalone.\r\n";
    const std::string no_addresses =
        "\r\nTwoje adresy\r\nAdres widoczny dla serwera: 203.0.113.9\r\nAdresy kart znajdziesz w "
        "szczegółach, jeśli Windows je zapisał.\r\nRaport";
    const std::string gaps5 =
        "Przed testem — brak odpowiedzi: etap 3 (10.0.0.3) — 1 z 5 prób oraz etap 4 (10.0.0.4) — "
        "2 z 5 prób oraz etap 5 (10.0.0.5) — 2 z 5 prób oraz etap 6 (198.51.100.7) — 2 z 5 "
        "prób. ";
    const std::vector<Case> cases = {
        {"the base document",
         [](json&) {},
         {"Twój wynik\r\n\r\nPrędkość pobierania: 95 Mb/s\r\nPrędkość wysyłania: 50 Mb/s\r\n"
          "Pobieranie określa",
          "Co mogło ograniczyć prędkość?\r\nSerwer mierzył do 100 Mb/s. Pobieranie zbliżyło się "
          "do tej granicy. Szybkość pakietu możesz porównać z wartością w umowie.\r\n"
          "Komputer użył karty Ethernet.\r\nWindows podał dla łącza karty 1000 Mb/s odbioru i "
          "1000 Mb/s wysyłania. Część tej prędkości zajmuje obsługa połączenia.\r\nJeden pomiar",
          "Typowy czas odpowiedzi strony testowej przed obciążeniem wynosił 24,5 ms.\r\n"
          "Urządzenia zauważone przez Windows na wszystkich kartach: 3. Mogą to być także "
          "routery i telefony.\r\n\r\nPing — jak długo czekasz na odpowiedź?\r\n",
          "Router na drodze do internetu (192.168.1.1) — średnio 1,4 ms, odpowiedzi 5 z 5.\r\n"
          "Serwer pomiarowy n1 (198.51.100.7) — średnio 13 ms, odpowiedzi 5 z 5.\r\nIm krótszy",
          "\r\nGdzie zabrakło odpowiedzi po drodze?\r\nW wykonanych próbach śledzenia trasy nie "
          "upłynął czas oczekiwania na odpowiedź.\r\n\r\nTwoje adresy\r\n",
          "IPv4 na komputerze: 192.168.1.10\r\nIPv6 na komputerze: fe80::1\r\nRaport zapisano "
          "na komputerze. Czeka na wysłanie."},
         {stopped, "Wysyłanie zbliżyło", "W co najmniej jednym kierunku", "częściowy"}},
        {"cancelled by the error",
         [](json& r) { r["throughput"]["error"] = "cancelled"; },
         {"Twój wynik częściowy\r\n\r\n",
          "Prędkość wysyłania: 50 Mb/s\r\n" + stopped + "Pobieranie określa"},
         {}},
        {"cancelled only by the node ping",
         [](json& r) {
             r["throughput"]["host_pings"]["node"] = ping_series(peer, json::array(), "cancelled");
         },
         {"Twój wynik częściowy\r\n\r\n", stopped,
          "Serwer pomiarowy n1 (198.51.100.7) — test zatrzymano.\r\n"},
         {}},
        {"another error is partial but not stopped",
         [](json& r) { r["throughput"]["error"] = "deadline_exceeded"; },
         {"Twój wynik częściowy\r\n\r\n"},
         {stopped}},
        {"node counted other bytes",
         [](json& r) { r["throughput"]["transfers"]["download"]["node_bytes"] = 94000000; },
         {"Prędkość pobierania: brak pełnego pomiaru\r\n"},
         {"Pobieranie zbliżyło"}},
        {"outside windowed mode the profile's bytes must be met",
         [](json& r) { r["throughput"]["profile"]["mode"] = "whole"; },
         {"Prędkość pobierania: brak pełnego pomiaru\r\nPrędkość wysyłania: brak pełnego "
          "pomiaru\r\n"},
         {}},
        {"exactly 0.9 of the limit",
         [](json& r) {
             r["throughput"]["transfers"]["upload"]["client_bytes"] = 90000000;
             r["throughput"]["transfers"]["upload"]["node_bytes"] = 90000000;
         },
         {"Prędkość wysyłania: 90 Mb/s\r\n",
          "Pobieranie zbliżyło się do tej granicy. Wysyłanie zbliżyło się do tej granicy. "},
         {}},
        {"just under 0.9 of the limit",
         [](json& r) {
             r["throughput"]["transfers"]["upload"]["client_bytes"] = 89999999;
             r["throughput"]["transfers"]["upload"]["node_bytes"] = 89999999;
         },
         {"Prędkość wysyłania: 90 Mb/s\r\n"},
         {"Wysyłanie zbliżyło"}},
        {"rate_bps 0",
         [](json& r) { r["throughput"]["profile"]["rate_bps"] = 0; },
         {"Co mogło ograniczyć prędkość?\r\nKomputer użył karty Ethernet.\r\n"},
         {limit_line}},
        {"rate_bps absent",
         [](json& r) { r["throughput"]["profile"].erase("rate_bps"); },
         {"Co mogło ograniczyć prędkość?\r\nKomputer"},
         {limit_line}},
        {"a cable slower than the limit",
         [](json& r) {
             r["inventory"]["interfaces"]["value"][1]["link"]["value"]["tx_bps"] = 10000000;
         },
         {"karty 1000 Mb/s odbioru i 10 Mb/s wysyłania. Część tej prędkości zajmuje obsługa "
          "połączenia.\r\nW co najmniej jednym kierunku karta uzgodniła po kablu mniejszą "
          "prędkość niż limit testu. Jeśli masz szybszy pakiet, sprawdź kabel i port routera.\r\n"
          "Jeden pomiar"},
         {}},
        {"the reservation address on two interfaces",
         [](json& r) {
             r["inventory"]["interfaces"]["value"][0]["unicast"]["value"].push_back(
                 {{"ip", "192.168.1.10"}});
         },
         {"umowie.\r\nJeden pomiar", no_addresses},
         {"Komputer użył", "Windows podał"}},
        {"no reservation",
         [](json& r) { r["throughput"].erase("reservation_local_ip"); },
         {no_addresses},
         {"Komputer użył"}},
        {"a tunnel",
         [](json& r) { r["inventory"]["interfaces"]["value"][1]["type"] = 131; },
         {"Komputer użył tunelu sieciowego.\r\n"},
         {}},
        {"another adapter type",
         [](json& r) { r["inventory"]["interfaces"]["value"][1]["type"] = 243; },
         {"Komputer wyszedł do internetu przez kartę wskazaną w szczegółach.\r\n"},
         {}},
        {"Wi-Fi with a signal of 72.5, matched ignoring case",
         [](json& r) {
             r["inventory"]["interfaces"]["value"][1]["type"] = 71;
             r["inventory"]["wifi"]["value"] =
                 json::array({{{"id", "{eth}"}, {"connection", ok({{"signal_pct", 72.5}})}},
                              {{"id", "{OTHER}"}, {"connection", ok({{"signal_pct", 40}})}},
                              {{"id", "{ETH}"}, {"connection", {{"status", "unavailable"}}}}});
         },
         {"Komputer użył sieci Wi-Fi. Windows ocenił siłę sygnału na 72.5%. Aby sprawdzić wpływ "
          "Wi-Fi, powtórz test na tym samym komputerze po kablu.\r\nWindows podał"},
         {"40%"}},
        {"7 valid of 10",
         [](json& r) { r["throughput"]["phases"]["baseline"] = baseline(7, 3); },
         {},
         {"Typowy czas"}},
        {"8 valid of 10",
         [](json& r) { r["throughput"]["phases"]["baseline"] = baseline(8, 2); },
         {"wynosił 23,5 ms.\r\n"},
         {}},
        {"neighbour count as a floating value",
         [](json& r) { r["inventory"]["unique_neighbor_macs"]["value"] = 4.5; },
         {"kartach: 4.5. Mogą"},
         {}},
        {"four replies and one time-out",
         [](json& r) {
             json samples = replies(peer, {10, 20, 10, 22});
             samples.push_back(ping_sample("timeout"));
             r["throughput"]["host_pings"]["node"] = ping_series(peer, samples);
         },
         {"Serwer pomiarowy n1 (198.51.100.7) — średnio 15,5 ms, odpowiedzi 4 z 5. Bez "
          "odpowiedzi w ciągu 400 ms: 1.\r\n"},
         {}},
        {"five unavailable",
         [](json& r) {
             r["throughput"]["host_pings"]["node"] = ping_series(
                 peer, json::array({ping_sample("unavailable"), ping_sample("unavailable"),
                                    ping_sample("unavailable"), ping_sample("unavailable"),
                                    ping_sample("unavailable")}));
         },
         {"(198.51.100.7) — brak wysłanych prób. Liczba prób, których Windows nie mógł wykonać: "
          "5.\r\n"},
         {"średnio 0"}},
        {"three samples, one from another host",
         [](json& r) {
             json samples = replies(peer, {10, 20});
             samples.push_back(ping_sample("echo_reply", "10.9.9.9", 1.0));
             r["throughput"]["host_pings"]["node"] = ping_series(peer, samples);
         },
         {"(198.51.100.7) — średnio 15 ms, odpowiedzi 2 z 3. Seria niepełna.\r\n"},
         {}},
        {"no separate gateway, no node id",
         [](json& r) {
             r["throughput"]["host_pings"]["gateway"] =
                 ping_series(nullptr, json::array(), "no_separate_gateway");
             r["throughput"]["node_id"] = 7;
         },
         {"Router na drodze do internetu — Windows nie wskazał osobnego routera na tej "
          "trasie.\r\nSerwer pomiarowy (198.51.100.7) — "},
         {"Serwer pomiarowy  "}},
        {"server unreachable at the reservation",
         [](json& r) { no_reservation(r, "winhttp_12029"); },
         {"Twój wynik częściowy\r\n\r\nPrędkość pobierania: brak pełnego pomiaru\r\nPrędkość "
          "wysyłania: brak pełnego pomiaru\r\nNie udało się połączyć z serwerem pomiarowym, "
          "dlatego prędkości nie zmierzono.\r\nPobieranie określa",
          "\r\nSerwer pomiarowy — brak pomiaru dla tego celu.\r\n"},
         {"Serwer pomiarowy  ", "winhttp"}},
        {"server refused the reservation",
         [](json& r) { no_reservation(r, "node_http_503"); },
         {"\r\nSerwer pomiarowy odrzucił pomiar (odpowiedź HTTP 503), dlatego prędkości nie "
          "zmierzono.\r\n"},
         {"node_http"}},
        {"a status that is no number is not shown",
         [](json& r) { no_reservation(r, "node_http_5x\r\n3"); },
         {"\r\nSerwer pomiarowy odrzucił pomiar, dlatego prędkości nie zmierzono.\r\n"},
         {"5x"}},
        {"other failures of the reservation name no server cause",
         [](json& r) { no_reservation(r, "node_session_mismatch"); },
         {"Prędkość wysyłania: brak pełnego pomiaru\r\nPobieranie określa"},
         {"serwerem pomiarowym", "odrzucił"}},
        {"both transfers lost the server",
         [](json& r) {
             r["throughput"]["error"] = "incomplete_transfer";
             for (const char* direction : {"download", "upload"}) {
                 r["throughput"]["transfers"][direction]["status"] = "unavailable";
                 r["throughput"]["transfers"][direction]["reason"] = "winhttp_12030";
             }
         },
         {"Prędkość wysyłania: brak pełnego pomiaru\r\nPodczas pobierania i wysyłania "
          "połączenie z serwerem pomiarowym 198.51.100.7 nie powiodło się, więc brakuje pełnego "
          "pomiaru.\r\n"},
         {}},
        {"the upload refused, the download cut short otherwise",
         [](json& r) {
             r["throughput"]["error"] = "incomplete_transfer";
             r["throughput"]["transfers"]["download"]["status"] = "partial";
             r["throughput"]["transfers"]["download"]["reason"] = "short_transfer";
             r["throughput"]["transfers"]["upload"]["status"] = "unavailable";
             r["throughput"]["transfers"]["upload"]["reason"] = "node_http_403";
         },
         {"\r\nPodczas wysyłania serwer pomiarowy 198.51.100.7 odrzucił połączenie (odpowiedź "
          "HTTP 403), więc brakuje pełnego pomiaru.\r\n"},
         {"pobierania i"}},
        {"a stopped test says so rather than blaming the server",
         [](json& r) {
             r["throughput"]["error"] = "cancelled";
             r["throughput"]["transfers"]["upload"]["status"] = "partial";
             r["throughput"]["transfers"]["upload"]["reason"] = "winhttp_12030";
         },
         {stopped},
         {"serwerem pomiarowym 198"}},
        {"route changed",
         [](json& r) {
             r["throughput"]["host_pings"]["gateway"] =
                 ping_series("192.168.1.1", json::array(), "route_changed");
         },
         {"Router na drodze do internetu (192.168.1.1) — połączenie zmieniło się podczas "
          "testu.\r\n"},
         {}},
        {"an older report without host pings",
         [](json& r) { r["throughput"].erase("host_pings"); },
         {"odpowiedź?\r\nTa wersja zapisu nie zawiera oddzielnych pingów do routera i "
          "serwera.\r\n\r\nGdzie"},
         {"Im krótszy"}},
        {"no trace",
         [](json& r) { r.erase("mtr_samples"); },
         {"po drodze?\r\nBrakuje pomiaru trasy, który pozwala wskazać miejsce problemu.\r\n"},
         {}},
        {"the look-back example",
         [](json& r) { r["mtr_samples"] = look_back_trace(5, false); },
         {"po drodze?\r\n" + gaps5 + lookback_result + "\r\nTwoje adresy"},
         {}},
        {"the look-back example, node also at TTL 7",
         [](json& r) { r["mtr_samples"] = look_back_trace(5, true); },
         {gaps5 + node_answered},
         {"W tych samych"}},
        {"the look-back example with four attempts",
         [](json& r) { r["mtr_samples"] = look_back_trace(4, false); },
         {"Przed testem — brak odpowiedzi: etap 3 (10.0.0.3) — 1 z 4 prób oraz etap 4 "
          "(10.0.0.4) — 2 z 4 prób oraz etap 5 (10.0.0.5) — 2 z 4 prób oraz etap 6 "
          "(198.51.100.7) — 2 z 4 prób" +
          undetermined},
         {"W tych samych"}},
        {"the look-back stops at once when the hop below the node differs",
         [](json& r) { r["mtr_samples"] = look_back_trace(5, false, false); },
         {"etap 6 (198.51.100.7) — 2 z 5 prób" + undetermined},
         {"W tych samych"}},
        {"gaps in several phases, an unreachable hop, the node never confirmed",
         [](json& r) {
             json samples = json::array();
             samples.push_back(probe(peer, 1, 1, "timeout", nullptr, nullptr, "download"));
             samples.push_back(probe(peer, 1, 2, "ttl_expired", "10.0.0.1", 1.0, "download"));
             samples.push_back(probe(peer, 2, 1, "unreachable", "10.0.0.9", 1.0, "upload"));
             samples.push_back(probe(peer, 2, 2, "unreachable", "10.0.0.8", 1.0, "upload"));
             samples.push_back(probe(peer, 2, 3, "unavailable", nullptr, nullptr, "recovery"));
             r["mtr_samples"] = samples;
         },
         {"po drodze?\r\nPodczas pobierania — brak odpowiedzi: etap 1 (10.0.0.1) — 1 z 2 prób. "
          "Ta seria nie potwierdziła odpowiedzi serwera.\r\nPodczas wysyłania — na etapie 2 "
          "zgłoszono, że cel jest nieosiągalny. 10.0.0.8 10.0.0.9 \r\n\r\nTwoje adresy"},
         {"W wykonanych"}},
        {"only unavailable probes trace nothing",
         [](json& r) {
             r["mtr_samples"] =
                 json::array({probe(peer, 1, 1, "unavailable", nullptr, nullptr, "baseline")});
         },
         {"Brakuje pomiaru trasy"},
         {}},
        {"an empty address counts as IPv4",
         [](json& r) {
             r["inventory"]["interfaces"]["value"][1]["unicast"]["value"].push_back({{"ip", ""}});
         },
         {"IPv4 na komputerze: 192.168.1.10, \r\nIPv6 na komputerze: fe80::1\r\n"},
         {}},
        {"no IPv6 and no observed address",
         [](json& r) {
             r["inventory"]["interfaces"]["value"][1]["unicast"]["value"].erase(1);
             r["observed_ip"] = nullptr;
         },
         {"Twoje adresy\r\nIPv4 na komputerze: 192.168.1.10\r\nIPv6 na komputerze: brak w "
          "pomiarze\r\n"},
         {"Adres widoczny"}},
        {"synchronized",
         [](json& r) { r["synchronized"] = true; },
         {"\r\nRaport dostępny w panelu klienta."},
         {"Czeka na wysłanie"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json report = hand_made_report();
        c.change(report);
        const std::string text = render_session_summary(report);
        for (const std::string& part : c.present) {
            EXPECT_NE(text.find(part), std::string::npos) << "missing: " << part << "\n" << text;
        }
        for (const std::string& part : c.absent) {
            EXPECT_EQ(text.find(part), std::string::npos) << "unexpected: " << part;
        }
        EXPECT_NE(text.back(), '\n');
    }
}

TEST(SessionSummary, MalformedReportsRaiseTheLibrarysError) {
    struct Failure {
        const char* name;
        std::function<void(json&)> change;
        std::string message;
    };
    const auto first_sample = [](json& r) -> json& { return r["mtr_samples"][0]; };
    const std::vector<Failure> failures = {
        {"no throughput", [](json& r) { r.erase("throughput"); }, "key 'throughput' not found"},
        {"no synchronized", [](json& r) { r.erase("synchronized"); },
         "key 'synchronized' not found"},
        {"no error", [](json& r) { r["throughput"].erase("error"); }, "key 'error' not found"},
        {"no gateway series", [](json& r) { r["throughput"]["host_pings"].erase("gateway"); },
         "key 'gateway' not found"},
        {"no node series", [](json& r) { r["throughput"]["host_pings"].erase("node"); },
         "key 'node' not found"},
        {"interface without type",
         [](json& r) { r["inventory"]["interfaces"]["value"][1].erase("type"); },
         "key 'type' not found"},
        {"ping sample without status",
         [](json& r) { r["throughput"]["host_pings"]["node"]["samples"][0].erase("status"); },
         "key 'status' not found"},
        {"echo reply without responder",
         [](json& r) { r["throughput"]["host_pings"]["node"]["samples"][0].erase("responder"); },
         "key 'responder' not found"},
        {"echo reply without time",
         [](json& r) { r["throughput"]["host_pings"]["node"]["samples"][0].erase("rtt_ms"); },
         "key 'rtt_ms' not found"},
        {"replies to a series without target",
         [](json& r) { r["throughput"]["host_pings"]["node"].erase("target"); },
         "key 'target' not found"},
        {"route sample without phase", [&](json& r) { first_sample(r).erase("phase"); },
         "key 'phase' not found"},
        {"route sample without protocol", [&](json& r) { first_sample(r).erase("protocol"); },
         "key 'protocol' not found"},
        {"route sample without target", [&](json& r) { first_sample(r).erase("target"); },
         "key 'target' not found"},
        {"route sample without attempt", [&](json& r) { first_sample(r).erase("attempt"); },
         "key 'attempt' not found"},
        {"route sample without status", [&](json& r) { first_sample(r).erase("status"); },
         "key 'status' not found"},
        {"route sample without ttl", [&](json& r) { first_sample(r).erase("ttl"); },
         "key 'ttl' not found"},
        {"route sample without responder", [&](json& r) { first_sample(r).erase("responder"); },
         "key 'responder' not found"},
        {"report not an object", [](json& r) { r = json::array({r}); }, "type_error.304"},
        {"route sample not an object", [](json& r) { r["mtr_samples"].push_back(5); },
         "type_error.304"},
        {"ttl as text", [&](json& r) { first_sample(r)["ttl"] = "1"; }, "type_error.302"},
        {"attempt as a boolean", [&](json& r) { first_sample(r)["attempt"] = true; },
         "type_error.302"},
        {"attempt beyond 64 bits", [&](json& r) { first_sample(r)["attempt"] = 1e300; },
         "type_error.302"},
        {"address not text",
         [](json& r) { r["inventory"]["interfaces"]["value"][1]["unicast"]["value"][1]["ip"] = 1; },
         "type must be string, but is number"},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        json report = hand_made_report();
        f.change(report);
        EXPECT_NE(test::error_text([&] { render_session_summary(report); }).find(f.message),
                  std::string::npos)
            << test::error_text([&] { render_session_summary(report); });
    }
    // What the route gap paragraph does not take needs nothing: a time-out has no responder, an
    // unavailable probe no TTL, and a probe of another phase nothing beyond its phase.
    json report = hand_made_report();
    report["mtr_samples"].push_back(probe(peer, 1, 6, "timeout", nullptr, nullptr));
    report["mtr_samples"].back().erase("responder");
    report["mtr_samples"].push_back(probe(peer, 1, 6, "unavailable", nullptr, nullptr));
    report["mtr_samples"].back().erase("ttl");
    report["mtr_samples"].push_back({{"phase", "warmup"}});
    EXPECT_NO_THROW(render_session_summary(report));
}

}  // namespace
}  // namespace tarvisko
