#include "readings/wifi_texts.h"

#include <algorithm>

#include "readings/wifi_channels.h"
#include "results/format.h"

namespace tarvisko {
namespace {

constexpr const wchar_t* no_value = L"\u2014";

std::wstring number_or_dash(std::int32_t value) {
    return value != 0 ? std::to_wstring(value) : no_value;
}

}  // namespace

std::wstring band_text(std::int32_t band) {
    switch (band) {
        case 1:
            return L"2,4 GHz";
        case 2:
            return L"5 GHz";
        case 3:
            return L"6 GHz";
        default:
            return no_value;
    }
}

std::wstring channel_number_text(const wifi_channel& channel) {
    return number_or_dash(channel.channel);
}

std::wstring primary_mhz_text(const wifi_channel& channel) {
    return number_or_dash(channel.primary_mhz);
}

std::wstring width_text(const wifi_channel& channel) {
    if (channel.second_center_mhz != 0) return L"80+80 MHz";
    if (channel.width_mhz != 0) return std::to_wstring(channel.width_mhz) + L" MHz";
    return L"Nieznana";
}

std::wstring center_note(const wifi_channel& channel) {
    if (channel.width_mhz == 0 || channel.center_mhz == channel.primary_mhz) return {};
    std::wstring note = L" Środek pasma " + std::to_wstring(channel.center_mhz) + L" MHz";
    if (channel.second_center_mhz != 0) {
        note += L" i " + std::to_wstring(channel.second_center_mhz) + L" MHz";
    }
    return note + L".";
}

std::wstring overlap_sentence(const overlap_stats& stats) {
    return std::to_wstring(stats.overlapping) +
           L" widocznych punktów nakłada się na kanał, w tym " + std::to_wstring(stats.strong) +
           L" silnych (od \u221267 dBm). Dla " + std::to_wstring(stats.unknown_width) +
           L" punktów bez odczytu szerokości przyjęto 20 MHz.";
}

TextCard channel_assessment_card(const wifi_channel& own, const channel_assessment& assessment) {
    const std::wstring n = std::to_wstring(own.channel);
    const std::wstring p = std::to_wstring(assessment.proposal.value_or(0));
    const std::wstring head = L"Obecny kanał " + n + L" · " + band_text(own.band);

    TextCard card;
    switch (assessment.verdict) {
        case 1:
            card = {L"Zostaw kanał " + n, head + L" · Skan nie wykazał istotnego nakładania sieci.",
                    L"", 1};
            break;
        case 2:
            card = {L"Warto sprawdzić kanał " + p, head + L" · Mniej nakładania przy 20 MHz.", L"",
                    2};
            break;
        case 3:
            // Crowded is a warning, not a failure: the user can do little about neighbours.
            card = {L"Kanał " + n + L" jest zatłoczony",
                    head + L" · Brak wyraźnie lepszego kanału w porównaniu.", L"", 2};
            break;
        default:
            card = {L"Brak pewnej oceny kanału",
                    head + L" · Brakuje informacji o szerokości kanału.", L"", 0};
            break;
    }

    std::wstring& body = card.body;
    body = card.title + L"\r\n" + card.subtitle + L"\r\n\r\nObecna częstotliwość " +
           primary_mhz_text(own) + L" MHz. Szerokość " + width_text(own) + L". " +
           overlap_sentence(assessment.own);
    if (own.width_mhz == 0) {
        body += L" Dla obecnego kanału przyjęto 20 MHz, ponieważ karta nie podała szerokości.";
    }
    if (assessment.proposal) {
        body += L"\r\n\r\nPorównanie dla 20 MHz\r\nKanał " + n + L" · " +
                std::to_wstring(assessment.current_at_20.overlapping) + L" nakładających. Wynik " +
                format_decimal(assessment.current_at_20.score) + L".\r\nKanał " + p + L" · " +
                std::to_wstring(assessment.proposed_at_20.overlapping) + L" nakładających. Wynik " +
                format_decimal(assessment.proposed_at_20.score) +
                L".\r\nNiższy wynik oznacza mniej nakładających się sygnałów lub słabsze "
                L"sygnały. Sprawdź, czy router udostępnia proponowany kanał, a po zmianie "
                L"powtórz skan.";
    } else if (own.band == 3) {
        body +=
            L"\r\n\r\nW paśmie 6 GHz dostępność kanału zależy od routera i regionu. "
            L"Aplikacja ocenia aktualny kanał. Wybór innego kanału pozostawia routerowi.";
    } else {
        body += L"\r\n\r\nPorównane kanały przy 20 MHz · ";
        body += own.band == 1 ? L"1, 6 i 11." : L"36, 40, 44 i 48.";
    }
    return card;
}

bool strong_twin_on_5ghz(std::span<const VisibleNetwork> networks, std::wstring_view own_ssid) {
    if (own_ssid == L"Sieć ukryta") return false;
    return std::any_of(networks.begin(), networks.end(), [own_ssid](const VisibleNetwork& n) {
        return n.point.band == 2 && n.point.rssi_dbm >= wifi_strong_dbm && n.ssid_text == own_ssid;
    });
}

}  // namespace tarvisko
