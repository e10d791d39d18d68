#include "readings/wifi_comparison.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/common/text.h"
#include "readings/wifi_baseline.h"
#include "readings/wifi_chart.h"
#include "readings/wifi_texts.h"
#include "results/format.h"

namespace tarvisko {
namespace {

// "Kanał 6 · 2,4 GHz", the head of the snapshot's descriptions.
std::wstring channel_head(const wifi_channel& channel) {
    return L"Kanał " + channel_number_text(channel) + L" · " + band_text(channel.band);
}

std::wstring channel_line(const wifi_channel& channel) {
    return channel_head(channel) + L" · " + width_text(channel);
}

bool has_plot(const WifiSnapshot& snapshot) { return snapshot.plot.has_value(); }

}  // namespace

scan_comparison compare_verdict(const WifiSnapshot& before, const WifiSnapshot& after) {
    const auto incomplete = [](const WifiSnapshot& s) {
        return s.connection_id.empty() || s.channel.width_mhz == 0 || s.channel.band == 0 ||
               s.channel.channel == 0;
    };
    if (incomplete(before) || incomplete(after)) return {0, 1};
    if (before.connection_id != after.connection_id) return {0, 2};
    if (before.channel.band != after.channel.band) return {0, 3};
    // Byte order of the UTC texts; a text that is a prefix of the other is the earlier.
    if (!(before.observed_at < after.observed_at)) return {0, 4};
    const wifi_channel& b = before.channel;
    const wifi_channel& a = after.channel;
    if (b.channel == a.channel && b.width_mhz == a.width_mhz && b.center_mhz == a.center_mhz &&
        b.second_center_mhz == a.second_center_mhz) {
        return {1, 0};
    }
    const double d = after.overlap.score - before.overlap.score;
    const double u = std::max(0.25 * before.overlap.score, 1.0);
    const std::int32_t s = after.overlap.strong - before.overlap.strong;
    const std::int32_t r =
        before.rssi_dbm && after.rssi_dbm ? *after.rssi_dbm - *before.rssi_dbm : 0;
    if (d <= -u) return s <= 0 && r > -8 ? scan_comparison{2, 0} : scan_comparison{4, 5};
    if (d >= u) return s >= 0 && r < 8 ? scan_comparison{3, 0} : scan_comparison{4, 5};
    return s == 0 && std::abs(r) < 8 ? scan_comparison{5, 0} : scan_comparison{4, 5};
}

std::wstring signed_change_text(std::int32_t n) {
    return n > 0 ? L"+" + std::to_wstring(n) : std::to_wstring(n);
}

std::wstring signal_text(std::optional<std::int32_t> dbm) {
    return dbm ? std::to_wstring(*dbm) + L" dBm" : L"brak odczytu";
}

std::wstring format_wifi_network_line(const wifi_channel& channel) {
    return L"  ·  kanał " + std::to_wstring(channel.channel) + L"  ·  " +
           std::to_wstring(channel.width_mhz) + L" MHz";
}

std::wstring snapshot_text(const WifiSnapshot& s) {
    return channel_line(s.channel) + L"\r\nNakładające się punkty " +
           std::to_wstring(s.overlap.overlapping) + L" · silne " +
           std::to_wstring(s.overlap.strong) + L" · wskaźnik nakładania " +
           format_decimal(s.overlap.score) + L"\r\nSygnał własnej sieci " +
           signal_text(s.rssi_dbm) + L"\r\n" + to_wide(s.observed_at);
}

std::wstring describe_scan_changes(const WifiSnapshot& before, const WifiSnapshot& after) {
    std::wstring text =
        L"Nakładające się punkty Wi-Fi   " + std::to_wstring(before.overlap.overlapping) + L" → " +
        std::to_wstring(after.overlap.overlapping) + L"   (zmiana " +
        signed_change_text(after.overlap.overlapping - before.overlap.overlapping) + L")";
    text += L"\r\nSygnał własnej sieci   " + signal_text(before.rssi_dbm) + L" → " +
            signal_text(after.rssi_dbm);
    if (before.rssi_dbm && after.rssi_dbm) {
        text += L"   (zmiana " + signed_change_text(*after.rssi_dbm - *before.rssi_dbm) + L" dB)";
    } else {
        text += L"   (brak różnicy do obliczenia)";
    }
    const double d = after.overlap.score - before.overlap.score;
    text += L"\r\nZmiana wskaźnika nakładania   " + format_decimal(before.overlap.score) + L" → " +
            format_decimal(after.overlap.score) + L"   (" + (d > 0 ? L"+" : L"") +
            format_decimal(d) + L" pkt)";
    return text;
}

TextCard compare_wifi_scans(const WifiSnapshot& before, const WifiSnapshot& after) {
    const scan_comparison v = compare_verdict(before, after);
    TextCard card;
    switch (v.code) {
        case 0: {
            card.title = L"Nie można porównać skanów";
            switch (v.reason) {
                case 2:
                    card.subtitle = L"Inny punkt dostępowy lub inna karta Wi-Fi.";
                    break;
                case 3:
                    card.subtitle = L"Skany dotyczą różnych pasm Wi-Fi.";
                    break;
                case 4:
                    card.subtitle = L"Sprawdź kolejność i czas skanów.";
                    break;
                default:
                    card.subtitle = L"Brakuje odczytu ustawień Wi-Fi.";
                    break;
            }
            break;
        }
        case 1:
            card = {L"Ustawienia się nie zmieniły",
                    L"Po zmianie kanału lub szerokości powtórz skan „Po”.", L"", 0};
            break;
        case 2:
            card = {L"Jest poprawa", L"Warto zostawić nowe ustawienia.", L"", 1};
            break;
        case 3:
            card = {L"Jest gorzej", L"Warto przywrócić poprzednie ustawienia.", L"", 2};
            break;
        case 4:
            card = {L"Wynik jest niejednoznaczny",
                    L"Sygnał lub liczba silnych sieci dają inny obraz. Powtórz skan.", L"", 2};
            break;
        default:
            card = {L"Brak wyraźnej różnicy", L"Skan nie wskazuje przewagi żadnego z ustawień.",
                    L"", 0};
            break;
    }
    card.body = card.title + L"\r\n" + card.subtitle + L"\r\n\r\nPrzed zmianą\r\n" +
                snapshot_text(before) + L"\r\n\r\nPo zmianie\r\n" + snapshot_text(after);
    if (v.code != 0) {
        card.body += L"\r\n\r\n" + describe_scan_changes(before, after);
        if (!has_plot(before) || !has_plot(after)) {
            card.body +=
                L"\r\nZapis „Przed” pochodzi ze starszej wersji i zawiera tylko wyniki liczbowe. "
                L"Zapisz nowy skan „Przed”, aby porównać wykresy.";
        }
    }
    card.body +=
        L"\r\n\r\nNiższy wskaźnik oznacza mniej nakładania widocznych sieci. Przy istotnej "
        L"zmianie poziomu sygnału lub silnych sąsiadów wynik może być niejednoznaczny. Jeżeli "
        L"porównujesz ustawienia routera, wykonaj oba skany z tego samego miejsca.";
    return card;
}

TextCard describe_saved_baseline(const WifiSnapshot& s) {
    TextCard card;
    card.title = L"Zapisano skan przed zmianą";
    card.subtitle = channel_head(s.channel) + L" · Po zmianie uruchom skan „Po”.";
    card.body = channel_line(s.channel) + L"\r\n" + to_wide(s.observed_at) + L"\r\n\r\n" +
                overlap_sentence(s.overlap) +
                L"\r\n\r\nPo zmianie połącz się z tym samym punktem Wi-Fi. Wykonaj pomiar z tego "
                L"samego miejsca.";
    if (!has_plot(s)) card.body += L"\r\nAby zobaczyć oba wykresy, zapisz nowy skan „Przed”.";
    card.status = 0;
    return card;
}

void apply_wifi_baseline(const WifiComparisonState& state, std::int32_t mode,
                         const WifiReading& reading) {
    if (mode != 2 && mode != 3) return;
    state.after.reset();
    try {
        if (!reading.snapshot) {
            state.card = {L"Brak danych do porównania",
                          L"Połącz się z Wi-Fi i powtórz świeży skan.",
                          reading.card.body +
                              L"\r\n\r\nDo porównania potrzeba świeżego skanu z odczytaną "
                              L"szerokością i kanałem bieżącej sieci.",
                          0};
            return;
        }
        if (mode == 2) {
            try {
                save_wifi_baseline(*reading.snapshot);
            } catch (const std::exception&) {
                // The window shows only that the scan was not saved, never the failure's text.
                state.card = {L"Nie zapisano skanu przed zmianą",
                              L"Sprawdź dostęp do profilu Windows i spróbuj ponownie.",
                              L"Aplikacja nie zapisała pliku w profilu bieżącego użytkownika "
                              L"Windows.",
                              0};
                return;
            }
            state.baseline = reading.snapshot;
            state.card = describe_saved_baseline(*state.baseline);
            return;
        }
        if (!state.baseline) return;
        state.after = reading.snapshot;
        state.card = compare_wifi_scans(*state.baseline, *state.after);
    } catch (const std::exception&) {
        // Only memory can fail here; the window keeps what it showed.
    }
}

std::optional<ChartData> wifi_baseline_chart(const WifiComparisonState& state) {
    if (!state.baseline || !state.after || !has_plot(*state.baseline) || !has_plot(*state.after) ||
        compare_verdict(*state.baseline, *state.after).code == 0) {
        return std::nullopt;
    }
    const WifiSnapshot& before = *state.baseline;
    const WifiSnapshot& after = *state.after;
    ChartData chart;
    chart.before = snapshot_plot_points(before);
    chart.after = snapshot_plot_points(after);
    chart.band = before.channel.band;
    const FrequencySpan span =
        chart_frequency_span(chart.before.items, chart.after.items, chart.band);
    chart.span_low_mhz = span.low_mhz;
    chart.span_high_mhz = span.high_mhz;
    chart.before_caption = L"Przed" + format_wifi_network_line(before.channel);
    chart.after_caption = L"Po" + format_wifi_network_line(after.channel);
    chart.changes = describe_scan_changes(before, after);
    return chart;
}

}  // namespace tarvisko
