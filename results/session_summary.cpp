#include "results/session_summary.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "results/format.h"
#include "results/report_readers.h"

namespace tarvisko {

namespace {

using nlohmann::json;

// A member read strictly as a whole number: a missing member raises the library's out_of_range
// error, anything but a number (or a floating value beyond 64 bits) its type error.
std::int64_t required_integer(const json& object, const char* name) {
    const json& value = object.at(name);
    if (const auto integer = json_int64(value)) return *integer;
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (std::isfinite(number) && std::fabs(number) < 9.0e18) {
            return static_cast<std::int64_t>(number);
        }
    }
    throw json::type_error::create(
        302, "type must be a whole number, but is " + std::string(value.type_name()), &value);
}

// Decimal Mb/s or ms with one digit and a comma.
std::string decimal(double value) { return format_decimal_comma(value); }

void append_rate_line(std::string& text, const char* label, const std::optional<double>& rate) {
    text += label;
    text += rate ? decimal(*rate) + " Mb/s" : std::string("brak pełnego pomiaru");
    text += "\r\n";
}

// The items joined with ", ", or "brak w pomiarze" when there are none.
std::string joined_or_none(const std::vector<std::string>& items) {
    if (items.empty()) return "brak w pomiarze";
    std::string text = items.front();
    for (std::size_t i = 1; i < items.size(); ++i) text += ", " + items[i];
    return text;
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// One hop (TTL) of one phase of the node trace.
struct HopTally {
    std::int64_t timeouts = 0;
    std::int64_t answers = 0;      // other statuses with a text responder
    std::int64_t unreachable = 0;  // of those, "unreachable"
    std::set<std::string> responders;
    std::set<std::int64_t> timeout_attempts;
    // Attempts in which this hop timed out, expired the TTL, or was the node answering.
    std::set<std::int64_t> covered_attempts;
};

bool includes_all(const std::set<std::int64_t>& set, const std::set<std::int64_t>& subset) {
    return std::includes(set.begin(), set.end(), subset.begin(), subset.end());
}

const char* const node_answered =
    "Serwer odpowiadał. Router po drodze może rzadziej odpowiadać na ping, mimo że przekazuje "
    "dane dalej.";

// The diagnosis after a phase's gap list, from where the node itself answered.
void append_gap_diagnosis(std::string& text, const std::map<std::int64_t, HopTally>& hops,
                          const std::set<std::int64_t>& phase_attempts,
                          const std::set<std::int64_t>& target_ttls) {
    if (target_ttls.empty()) {
        text += "Ta seria nie potwierdziła odpowiedzi serwera.";
        return;
    }
    if (target_ttls.size() >= 2) {
        text += node_answered;
        return;
    }
    const std::int64_t node_ttl = *target_ttls.begin();
    const HopTally& node_hop = hops.at(node_ttl);
    if (node_hop.timeouts == 0) {
        text += node_answered;
        return;
    }
    // Look back for the hops that went silent in exactly the rounds the node did: every round
    // is accounted for at each of them, so the silence starts at the lowest of the run.
    if (phase_attempts.size() >= 5 && node_hop.covered_attempts == phase_attempts &&
        node_hop.timeout_attempts.size() >= 2 && node_ttl > 1) {
        std::int64_t lowest = node_ttl;
        for (std::int64_t ttl = node_ttl - 1; ttl >= 1; --ttl) {
            const auto hop = hops.find(ttl);
            if (hop == hops.end() || hop->second.covered_attempts != phase_attempts ||
                !includes_all(hop->second.timeout_attempts, node_hop.timeout_attempts)) {
                break;
            }
            lowest = ttl;
        }
        if (lowest < node_ttl) {
            text += "W tych samych rundach odpowiedzi brakowało od etapu " +
                    std::to_string(lowest) + " aż do serwera. ";
        }
    }
    text +=
        "Brakowało też odpowiedzi na etapie serwera. Dokładne miejsce utraty pozostaje "
        "nieustalone.";
}

struct TraceFlags {
    bool reported = false;  // something was written
    bool traced = false;    // some usable trace sample exists
};

void render_phase_loss(std::string& text, const json& samples, const json& peer,
                       std::string_view phase, std::string_view label, TraceFlags& flags) {
    std::map<std::int64_t, HopTally> hops;
    std::set<std::int64_t> phase_attempts;
    std::set<std::int64_t> target_ttls;
    if (samples.is_array()) {
        for (const json& sample : samples) {
            if (!json_text_equals(sample.at("phase"), phase)) continue;
            const bool icmp = json_text_equals(sample.at("protocol"), "icmp");
            if (!icmp || sample.at("target") != peer) continue;
            const std::int64_t attempt = required_integer(sample, "attempt");
            phase_attempts.insert(attempt);
            const json& status = sample.at("status");
            if (json_text_equals(status, "unavailable")) continue;
            flags.traced = true;
            const std::int64_t ttl = required_integer(sample, "ttl");
            HopTally& hop = hops[ttl];
            if (json_text_equals(status, "timeout")) {
                ++hop.timeouts;
                hop.timeout_attempts.insert(attempt);
                hop.covered_attempts.insert(attempt);
                continue;
            }
            const json& responder = sample.at("responder");
            if (!responder.is_string()) continue;
            const bool node_reply = json_text_equals(status, "echo_reply") && responder == peer;
            if (json_text_equals(status, "ttl_expired") || node_reply) {
                hop.covered_attempts.insert(attempt);
            }
            if (json_text_equals(status, "unreachable")) ++hop.unreachable;
            ++hop.answers;
            hop.responders.insert(responder.get<std::string>());
            if (node_reply) target_ttls.insert(ttl);
        }
    }

    std::string gaps;
    for (const auto& [ttl, hop] : hops) {
        if (hop.unreachable > 0) {
            flags.reported = true;
            text.append(label);
            text +=
                " — na etapie " + std::to_string(ttl) + " zgłoszono, że cel jest nieosiągalny. ";
            for (const std::string& responder : hop.responders) text += responder + " ";
            text += "\r\n";
        }
        if (hop.timeouts > 0) {
            if (!gaps.empty()) gaps += " oraz ";
            gaps += "etap " + std::to_string(ttl);
            for (const std::string& responder : hop.responders) gaps += " (" + responder + ")";
            gaps += " — " + std::to_string(hop.timeouts) + " z " +
                    std::to_string(hop.answers + hop.timeouts) + " prób";
        }
    }
    if (gaps.empty()) return;
    flags.reported = true;
    text.append(label);
    text += " — brak odpowiedzi: " + gaps + ". ";
    append_gap_diagnosis(text, hops, phase_attempts, target_ttls);
    text += "\r\n";
}

// How a failure text of the engine reads for a user: the server could not be reached (a WinHTTP
// error), or it answered with an HTTP status other than the expected one.
enum class ServerFailure { none, unreachable, refused };

ServerFailure server_failure(const json& reason, std::string& status) {
    if (!reason.is_string()) return ServerFailure::none;
    const std::string_view text = reason.get_ref<const std::string&>();
    if (text.starts_with("winhttp_")) return ServerFailure::unreachable;
    constexpr std::string_view http = "node_http_";
    if (!text.starts_with(http)) return ServerFailure::none;
    const std::string_view digits = text.substr(http.size());
    const bool numeric =
        !digits.empty() && digits.size() <= 3 &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    status = numeric ? std::string(digits) : std::string();
    return ServerFailure::refused;
}

std::string http_status_note(const std::string& status) {
    return status.empty() ? std::string() : " (odpowiedź HTTP " + status + ")";
}

// One sentence on why no speed was measured when the server could not be reached or refused, at
// the reservation or during the transfers; empty for any other outcome. The node's address is in
// the document only once a reservation succeeded.
std::string server_failure_sentence(const json& throughput) {
    const json& peer = json_member_or_null(throughput, "peer");
    std::string status;
    if (!peer.is_string()) {
        switch (server_failure(json_member_or_null(throughput, "error"), status)) {
            case ServerFailure::unreachable:
                return "Nie udało się połączyć z serwerem pomiarowym, dlatego prędkości nie "
                       "zmierzono.";
            case ServerFailure::refused:
                return "Serwer pomiarowy odrzucił pomiar" + http_status_note(status) +
                       ", dlatego prędkości nie zmierzono.";
            case ServerFailure::none:
                return {};
        }
    }
    const std::string address = " " + peer.get<std::string>();
    const json& transfers = json_member_or_null(throughput, "transfers");
    ServerFailure kind = ServerFailure::none;
    std::string directions;
    for (const auto& [direction, name] :
         {std::pair{"download", "pobierania"}, std::pair{"upload", "wysyłania"}}) {
        const json& transfer = json_member_or_null(transfers, direction);
        if (json_member_is(transfer, "status", "ok")) continue;
        std::string this_status;
        const ServerFailure this_kind =
            server_failure(json_member_or_null(transfer, "reason"), this_status);
        if (this_kind == ServerFailure::none ||
            (kind != ServerFailure::none && this_kind != kind)) {
            continue;
        }
        if (kind == ServerFailure::none) status = this_status;
        kind = this_kind;
        directions += directions.empty() ? name : std::string(" i ") + name;
    }
    if (kind == ServerFailure::unreachable) {
        return "Podczas " + directions + " połączenie z serwerem pomiarowym" + address +
               " nie powiodło się, więc brakuje pełnego pomiaru.";
    }
    if (kind == ServerFailure::refused) {
        return "Podczas " + directions + " serwer pomiarowy" + address + " odrzucił połączenie" +
               http_status_note(status) + ", więc brakuje pełnego pomiaru.";
    }
    switch (server_failure(json_member_or_null(throughput, "error"), status)) {
        case ServerFailure::unreachable:
            return "Połączenie z serwerem pomiarowym" + address +
                   " nie powiodło się przed końcem testu.";
        case ServerFailure::refused:
            return "Serwer pomiarowy" + address + " odrzucił żądanie przed końcem testu" +
                   http_status_note(status) + ".";
        case ServerFailure::none:
            break;
    }
    return {};
}

}  // namespace

void render_ping_series(std::string& text, const json& series, const std::string& label) {
    text += label;
    const json& target = json_member_or_null(series, "target");
    if (target.is_string()) text += " (" + target.get<std::string>() + ")";
    const json& samples = json_member_or_null(series, "samples");
    if (!samples.is_array() || samples.empty()) {
        const json& reason = json_member_or_null(series, "reason");
        text += " — ";
        if (json_text_equals(reason, "cancelled")) {
            text += "test zatrzymano.";
        } else if (json_text_equals(reason, "no_separate_gateway")) {
            text += "Windows nie wskazał osobnego routera na tej trasie.";
        } else if (json_text_equals(reason, "route_changed")) {
            text += "połączenie zmieniło się podczas testu.";
        } else {
            text += "brak pomiaru dla tego celu.";
        }
        text += "\r\n";
        return;
    }

    std::uint64_t replies = 0;
    std::uint64_t local_errors = 0;
    std::uint64_t timeouts = 0;
    double total_ms = 0.0;
    for (const json& sample : samples) {
        const json& status = sample.at("status");
        if (json_text_equals(status, "echo_reply")) {
            const json& responder = sample.at("responder");
            const std::optional<double> rtt = stored_round_trip_ms(sample.at("rtt_ms"));
            if (responder == series.at("target") && rtt) {
                ++replies;
                total_ms += *rtt;
                continue;
            }
        }
        if (json_text_equals(status, "unavailable")) ++local_errors;
        if (json_text_equals(status, "timeout")) ++timeouts;
    }
    const std::uint64_t count = samples.size();
    text += " — ";
    if (replies > 0)
        text +=
            "średnio " + format_icmp_ms_comma(total_ms / static_cast<double>(replies)) + " ms, ";
    if (count > local_errors) {
        text += "odpowiedzi " + std::to_string(replies) + " z " +
                std::to_string(count - local_errors) + ".";
    } else {
        text += "brak wysłanych prób.";
    }
    // 400 ms is the engine's fixed time-out of a ping series.
    if (timeouts > 0) text += " Bez odpowiedzi w ciągu 400 ms: " + std::to_string(timeouts) + ".";
    if (local_errors > 0) {
        text +=
            " Liczba prób, których Windows nie mógł wykonać: " + std::to_string(local_errors) + ".";
    }
    if (count < 5) text += " Seria niepełna.";
    text += "\r\n";
}

void render_route_loss(std::string& text, const json& samples, const json& peer) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 4> phases{{
        {"baseline", "Przed testem"},
        {"download", "Podczas pobierania"},
        {"upload", "Podczas wysyłania"},
        {"recovery", "Po teście"},
    }};
    TraceFlags flags;
    for (const auto& [phase, label] : phases) {
        render_phase_loss(text, samples, peer, phase, label, flags);
    }
    if (flags.reported) return;
    text += flags.traced
                ? "W wykonanych próbach śledzenia trasy nie upłynął czas oczekiwania na odpowiedź."
                : "Brakuje pomiaru trasy, który pozwala wskazać miejsce problemu.";
    text += "\r\n";
}

void render_connection_type(std::string& text, const json& inventory,
                            const json* measurement_interface) {
    if (measurement_interface == nullptr) return;
    const json& adapter = *measurement_interface;
    const std::int64_t type = required_integer(adapter, "type");
    if (type != 71) {
        text += type == 6     ? "Komputer użył karty Ethernet."
                : type == 131 ? "Komputer użył tunelu sieciowego."
                              : "Komputer wyszedł do internetu przez kartę wskazaną w szczegółach.";
        text += "\r\n";
        return;
    }
    text += "Komputer użył sieci Wi-Fi.";
    const std::string adapter_id = json_string_or_empty(json_member_or_null(adapter, "id"));
    const json& wifi = json_value_of(inventory, "wifi");
    if (wifi.is_array()) {
        for (const json& entry : wifi) {
            const std::string id = json_string_or_empty(json_member_or_null(entry, "id"));
            const json& signal =
                json_member_or_null(json_value_of(entry, "connection"), "signal_pct");
            if (id.empty() || !equals_ignoring_ascii_case(id, adapter_id) ||
                !stored_amount(signal)) {
                continue;
            }
            text += " Windows ocenił siłę sygnału na " + signal.dump() + "%.";
        }
    }
    text += " Aby sprawdzić wpływ Wi-Fi, powtórz test na tym samym komputerze po kablu.\r\n";
}

std::string render_session_summary(const json& report) {
    const json& throughput = report.at("throughput");
    const json& inventory = json_member_or_null(report, "inventory");
    const json* adapter = find_measurement_interface(inventory, throughput);
    const std::optional<double> download = transfer_rate_mbps(throughput, "download");
    const std::optional<double> upload = transfer_rate_mbps(throughput, "upload");
    const json& host_pings = json_member_or_null(throughput, "host_pings");
    const bool stopped =
        json_member_is(json_member_or_null(host_pings, "node"), "reason", "cancelled");
    const json& error = throughput.at("error");
    const json& profile = json_member_or_null(throughput, "profile");
    const json& rate_bps = json_member_or_null(profile, "rate_bps");

    std::string text;
    text += !error.is_null() || stopped ? "Twój wynik częściowy" : "Twój wynik";
    text += "\r\n\r\n";
    append_rate_line(text, "Prędkość pobierania: ", download);
    append_rate_line(text, "Prędkość wysyłania: ", upload);
    if (json_text_equals(error, "cancelled") || stopped) {
        text += "Test zatrzymano. Wyniki ukończonych prób są zapisane poniżej.\r\n";
    } else if (const std::string cause = server_failure_sentence(throughput); !cause.empty()) {
        text += cause + "\r\n";
    }
    text +=
        "Pobieranie określa, jak szybko plik trafia na komputer. Wysyłanie — jak szybko "
        "możesz przesłać go innej osobie.\r\n\r\n";

    text += "Co mogło ograniczyć prędkość?\r\n";
    const std::optional<double> cap_bps = stored_amount(rate_bps);
    if (cap_bps && *cap_bps > 0.0) {
        const double limit = *cap_bps / 1000000.0;
        text += "Serwer mierzył do " + decimal(limit) + " Mb/s. ";
        if (download && *download >= 0.9 * limit) {
            text += "Pobieranie zbliżyło się do tej granicy. ";
        }
        if (upload && *upload >= 0.9 * limit) text += "Wysyłanie zbliżyło się do tej granicy. ";
        text += "Szybkość pakietu możesz porównać z wartością w umowie.\r\n";
    }
    render_connection_type(text, inventory, adapter);
    if (adapter != nullptr) {
        const json& link = json_value_of(*adapter, "link");
        const std::optional<double> rx = stored_amount(json_member_or_null(link, "rx_bps"));
        const std::optional<double> tx = stored_amount(json_member_or_null(link, "tx_bps"));
        if (rx && tx) {
            text += "Windows podał dla łącza karty " + decimal(*rx / 1000000.0) +
                    " Mb/s odbioru i " + decimal(*tx / 1000000.0) +
                    " Mb/s wysyłania. Część tej prędkości zajmuje obsługa połączenia.\r\n";
            const double slower = std::min(*rx, *tx);
            if (json_member_or_null(*adapter, "type") == 6 && cap_bps && slower < *cap_bps) {
                text +=
                    "W co najmniej jednym kierunku karta uzgodniła po kablu mniejszą "
                    "prędkość niż limit testu. Jeśli masz szybszy pakiet, sprawdź kabel i "
                    "port routera.\r\n";
            }
        }
    }
    text +=
        "Jeden pomiar do jednego serwera nie rozstrzyga, czy ograniczeniem było łącze "
        "domowe, trasa w internecie czy sam serwer.\r\n";
    const json& phases = json_member_or_null(throughput, "phases");
    if (const auto median = median_phase_ms(json_member_or_null(phases, "baseline"))) {
        text += "Typowy czas odpowiedzi strony testowej przed obciążeniem wynosił " +
                decimal(*median) + " ms.\r\n";
    }
    const json& neighbours = json_value_of(inventory, "unique_neighbor_macs");
    if (neighbours.is_number()) {
        text += "Urządzenia zauważone przez Windows na wszystkich kartach: " + neighbours.dump() +
                ". Mogą to być także routery i telefony.\r\n";
    }

    text += "\r\nPing — jak długo czekasz na odpowiedź?\r\n";
    if (host_pings.is_object()) {
        render_ping_series(text, host_pings.at("gateway"), "Router na drodze do internetu");
        // No name before a reservation, and none from a node that sent something else.
        const std::string node_id =
            json_string_or_empty(json_member_or_null(throughput, "node_id"));
        render_ping_series(text, host_pings.at("node"),
                           node_id.empty() ? "Serwer pomiarowy" : "Serwer pomiarowy " + node_id);
        text += "Im krótszy czas w milisekundach (ms), tym szybciej dociera odpowiedź.\r\n";
    } else {
        text += "Ta wersja zapisu nie zawiera oddzielnych pingów do routera i serwera.\r\n";
    }

    text += "\r\nGdzie zabrakło odpowiedzi po drodze?\r\n";
    render_route_loss(text, json_member_or_null(report, "mtr_samples"),
                      json_member_or_null(throughput, "peer"));

    text += "\r\nTwoje adresy\r\n";
    const json& observed = json_member_or_null(report, "observed_ip");
    if (observed.is_string()) {
        text += "Adres widoczny dla serwera: " + observed.get<std::string>() + "\r\n";
    }
    if (adapter != nullptr) {
        // An empty address has no colon: it counts as IPv4 and leaves an empty item.
        std::vector<std::string> v4;
        std::vector<std::string> v6;
        const json& unicast = json_value_of(*adapter, "unicast");
        for (const json& entry : unicast) {
            std::string ip = entry.at("ip").get<std::string>();
            (ip.find(':') == std::string::npos ? v4 : v6).push_back(std::move(ip));
        }
        text += "IPv4 na komputerze: " + joined_or_none(v4) + "\r\n";
        text += "IPv6 na komputerze: " + joined_or_none(v6) + "\r\n";
    } else {
        text += "Adresy kart znajdziesz w szczegółach, jeśli Windows je zapisał.\r\n";
    }
    const json& synchronized = report.at("synchronized");
    text += synchronized.is_boolean() && synchronized.get<bool>()
                ? "Raport dostępny w panelu klienta."
                : "Raport zapisano na komputerze. Czeka na wysłanie.";
    return text;
}

}  // namespace tarvisko
