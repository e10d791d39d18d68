#include "results/technical_report.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/common/text.h"
#include "results/format.h"
#include "results/inventory_text.h"
#include "results/latency_stats.h"
#include "results/report_readers.h"

namespace tarvisko {

namespace {

using nlohmann::json;

struct PhaseName {
    std::string_view key;
    std::wstring_view text;
};
// The four phases of a throughput session as the window names them.
constexpr std::array<PhaseName, 4> phases{{
    {"baseline", L"Pomiar w spoczynku"},
    {"download", L"Pobieranie danych"},
    {"upload", L"Wysyłanie danych"},
    {"recovery", L"Powtórny pomiar w spoczynku"},
}};

std::wstring fixed(double value) { return to_wide(fixed_two_decimals(value)); }

std::wstring text_of(const json& value) { return to_wide(value.get_ref<const std::string&>()); }

// The measured rate, or why there is none. Unlike the dashboard this does not hold the bytes
// against the node's profile: a technician wants the figure the transfer reached.
std::wstring transfer_line(const json& transfer) {
    const std::optional<double> duration =
        stored_amount(json_member_or_null(transfer, "duration_ms"));
    const json& client_bytes = json_member_or_null(transfer, "client_bytes");
    const std::optional<double> bytes = stored_amount(client_bytes);
    if (json_member_is(transfer, "status", "ok") && duration && *duration > 0.0 && bytes &&
        client_bytes == json_member_or_null(transfer, "node_bytes")) {
        return fixed(*bytes * 0.008 / *duration) + L" Mb/s";
    }
    std::wstring text = L"brak pełnego wyniku";
    const json& reason = json_member_or_null(transfer, "reason");
    if (reason.is_string()) text += L" (" + text_of(reason) + L")";
    return text;
}

void append_profile(std::wstring& text, const json& profile) {
    if (!profile.is_object()) return;
    const std::optional<double> cap = stored_amount(profile.at("rate_bps"));
    text += L"Limit węzła   " + (cap ? fixed(*cap / 1000000.0) + L" Mb/s" : std::wstring(L"—"));
    if (profile.contains("streams")) {
        text += L"   ·   strumienie: " + std::to_wstring(profile.at("streams").get<std::int64_t>());
        const auto window =
            json_member_or_null(profile, "window_ms").get<std::int64_t>();
        text += L"   ·   okno: " + fixed(static_cast<double>(window) / 1000.0) + L" s";
    }
    text += L"\r\n";
}

void append_phase_quality(std::wstring& text, const json& phase_lists) {
    for (const std::size_t entry : {std::size_t{0}, std::size_t{3}}) {
        const json& listed = json_member_or_null(phase_lists, phases[entry].key);
        // A single sample that is not in a list counts as a list of one.
        const json single = listed.is_array() || listed.is_null() ? json() : json::array({listed});
        const json& samples = single.is_array() ? single : listed;
        const std::optional<double> median = median_latency_ms(samples);
        text += phases[entry].text;
        text += L"   ";
        text += median ? fixed(*median) + L" ms" : std::wstring(L"za mało poprawnych próbek");
        text += L"   ·   odpowiedzi " + std::to_wstring(count_answered_samples(samples)) + L" / " +
                std::to_wstring(samples.size()) + L"\r\n";
    }
}

void append_route_row(std::wstring& text, const json& sample) {
    const json& responder = json_member_or_null(sample, "responder");
    const json& rtt = json_member_or_null(sample, "rtt_ms");
    text += std::to_wstring(json_member_or_null(sample, "attempt").get<std::int64_t>());
    text += L" / ";
    text += std::to_wstring(json_member_or_null(sample, "ttl").get<std::int64_t>());
    text += L"     ";
    text += responder.is_string() ? text_of(responder) : std::wstring(L"—");
    text += L"     ";
    const std::optional<double> time = stored_round_trip_ms(rtt);
    text += time ? fixed(*time) + L" ms" : std::wstring(L"—");
    text += L"     ";
    text += text_of(json_member_or_null(sample, "status"));
    text += L"\r\n";
}

void append_route(std::wstring& text, const json& report) {
    text += L"\r\n\r\nTrasa MTR";
    const json& samples = json_member_or_null(report, "mtr_samples");
    if (!report.contains("mtr_samples") || samples.empty()) {
        text += L"   ·   brak zapisanych próbek w raporcie lokalnym";
        return;
    }
    for (const PhaseName& phase : phases) {
        text += L"\r\n\r\n";
        text += phase.text;
        text += L"\r\nPróba / skok     Router     RTT     Status\r\n";
        for (const json& sample : samples) {
            if (json_member_is(sample, "phase", phase.key)) append_route_row(text, sample);
        }
    }
}

}  // namespace

std::wstring throughput_report_text(const json& report) {
    const json& session = report.at("throughput");
    const json& error = session.at("error");
    std::wstring text = error.is_null() ? L"Raport z pomiaru" : L"Raport częściowy";
    text += L"\r\n\r\n";

    const json& transfers = json_member_or_null(session, "transfers");
    text += L"Pobieranie   " + transfer_line(json_member_or_null(transfers, "download")) + L"\r\n";
    text += L"Wysyłanie   " + transfer_line(json_member_or_null(transfers, "upload")) + L"\r\n";
    append_profile(text, json_member_or_null(session, "profile"));

    text += L"\r\n";
    text += to_wide(render_inventory_text(json_member_or_null(report, "inventory"), session));

    text += L"\r\nJakość połączenia · opóźnienie HTTPS i poprawne odpowiedzi\r\n";
    append_phase_quality(text, json_member_or_null(session, "phases"));

    text += L"\r\nSesja   " + text_of(session.at("session_id"));
    text += L"\r\nPoczątek UTC   " + text_of(session.at("started_at"));
    text += L"\r\nSystem   " + text_of(session.at("windows_version"));
    const json& version = json_member_or_null(report, "version");
    text += L"   ·   QUORVEL ";
    text += version.is_string() ? text_of(version) : std::wstring(L"0.5.0");

    const json& observed = json_member_or_null(report, "observed_ip");
    text += L"\r\nIP przy rezerwacji   ";
    text += observed.is_string() ? text_of(observed)
                                 : std::wstring(L"brak rezerwacji lub starszy raport");

    const json& device = json_member_or_null(report, "device");
    const json& device_id = json_member_or_null(device, "id");
    const json& device_reason = json_member_or_null(device, "reason");
    text += L"\r\nIdentyfikator komputera   ";
    text += device_id.is_string() ? text_of(device_id) : std::wstring(L"niedostępny");
    if (device_reason.is_string()) text += L" (" + text_of(device_reason) + L")";

    if (!error.is_null()) text += L"\r\nPrzyczyna   " + text_of(error);
    text += report.at("synchronized") == true
                ? L"\r\nRaport dostępny w panelu klienta."
                : L"\r\nRaport zapisany lokalnie. Wysyłka oczekuje na synchronizację.";
    append_route(text, report);
    return text;
}

}  // namespace tarvisko
