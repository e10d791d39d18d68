#include "readings/wifi_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/text.h"

namespace tarvisko {
namespace {

std::string utf8(const std::wstring& text) { return to_utf8(text); }

TEST(WifiTexts, CellTexts) {
    EXPECT_EQ(band_text(1), L"2,4 GHz");
    EXPECT_EQ(band_text(2), L"5 GHz");
    EXPECT_EQ(band_text(3), L"6 GHz");
    for (const std::int32_t other : {0, 4, -1}) EXPECT_EQ(band_text(other), L"\u2014");

    const wifi_channel none{};
    const wifi_channel narrow{1, 6, 2437, 2437, 20, 0};
    const wifi_channel centred{2, 36, 5180, 5180, 80, 0};
    const wifi_channel wide{2, 36, 5180, 5250, 160, 0};
    const wifi_channel split{2, 36, 5180, 5210, 80, 5775};
    const wifi_channel odd_split{2, 36, 5180, 5250, 160, 5775};
    const wifi_channel unknown{2, 36, 5180, 5190, 0, 0};
    const struct {
        wifi_channel channel;
        const wchar_t *number, *mhz, *width, *note;
    } cases[] = {
        {none, L"\u2014", L"\u2014", L"Nieznana", L""},
        {narrow, L"6", L"2437", L"20 MHz", L""},
        {centred, L"36", L"5180", L"80 MHz", L""},
        {wide, L"36", L"5180", L"160 MHz", L" Środek pasma 5250 MHz."},
        {split, L"36", L"5180", L"80+80 MHz", L" Środek pasma 5210 MHz i 5775 MHz."},
        {odd_split, L"36", L"5180", L"80+80 MHz", L" Środek pasma 5250 MHz i 5775 MHz."},
        {unknown, L"36", L"5180", L"Nieznana", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(utf8(c.width));
        EXPECT_EQ(channel_number_text(c.channel), c.number);
        EXPECT_EQ(primary_mhz_text(c.channel), c.mhz);
        EXPECT_EQ(width_text(c.channel), c.width);
        EXPECT_EQ(center_note(c.channel), c.note);
    }
}

TEST(WifiTexts, OverlapSentence) {
    EXPECT_EQ(overlap_sentence({4, 2, 1, 6.5}),
              L"4 widocznych punktów nakłada się na kanał, w tym 2 silnych (od \u221267 dBm). "
              L"Dla 1 punktów bez odczytu szerokości przyjęto 20 MHz.");
    EXPECT_EQ(overlap_sentence({}),
              L"0 widocznych punktów nakłada się na kanał, w tym 0 silnych (od \u221267 dBm). "
              L"Dla 0 punktów bez odczytu szerokości przyjęto 20 MHz.");
}

TEST(WifiTexts, AssessmentCards) {
    const std::wstring none_overlap =
        L"0 widocznych punktów nakłada się na kanał, w tym 0 silnych (od \u221267 dBm). Dla 0 "
        L"punktów bez odczytu szerokości przyjęto 20 MHz.";
    const std::wstring crowded_overlap =
        L"5 widocznych punktów nakłada się na kanał, w tym 3 silnych (od \u221267 dBm). Dla 2 "
        L"punktów bez odczytu szerokości przyjęto 20 MHz.";

    channel_assessment keep;
    keep.verdict = 1;
    channel_assessment propose;
    propose.verdict = 2;
    propose.own = {3, 1, 0, 5.25};
    propose.proposal = 11;
    propose.current_at_20 = {3, 1, 0, 4.0};
    propose.proposed_at_20 = {1, 0, 0, 1.5};
    channel_assessment crowded;
    crowded.verdict = 3;
    crowded.own = {5, 3, 2, 14.25};
    channel_assessment unsure;
    unsure.verdict = 0;

    const struct {
        const char* name;
        wifi_channel own;
        channel_assessment assessment;
        TextCard card;
    } cases[] = {
        {"keep, 2.4 GHz at 40 MHz",
         {1, 6, 2437, 2447, 40, 0},
         keep,
         {L"Zostaw kanał 6",
          L"Obecny kanał 6 · 2,4 GHz · Skan nie wykazał istotnego nakładania sieci.",
          L"Zostaw kanał 6\r\nObecny kanał 6 · 2,4 GHz · Skan nie wykazał istotnego nakładania "
          L"sieci.\r\n\r\nObecna częstotliwość 2437 MHz. Szerokość 40 MHz. " +
              none_overlap + L"\r\n\r\nPorównane kanały przy 20 MHz · 1, 6 i 11.",
          1}},
        {"proposal, scores 4.0 and 1.5",
         {1, 6, 2437, 2437, 20, 0},
         propose,
         {L"Warto sprawdzić kanał 11", L"Obecny kanał 6 · 2,4 GHz · Mniej nakładania przy 20 MHz.",
          L"Warto sprawdzić kanał 11\r\nObecny kanał 6 · 2,4 GHz · Mniej nakładania przy 20 "
          L"MHz.\r\n\r\nObecna częstotliwość 2437 MHz. Szerokość 20 MHz. 3 widocznych punktów "
          L"nakłada się na kanał, w tym 1 silnych (od \u221267 dBm). Dla 0 punktów bez odczytu "
          L"szerokości przyjęto 20 MHz.\r\n\r\nPorównanie dla 20 MHz\r\nKanał 6 · 3 "
          L"nakładających. Wynik 4.\r\nKanał 11 · 1 nakładających. Wynik 1,5.\r\nNiższy wynik "
          L"oznacza mniej nakładających się sygnałów lub słabsze sygnały. Sprawdź, czy router "
          L"udostępnia proponowany kanał, a po zmianie powtórz skan.",
          2}},
        {"crowded 6 GHz shows a warning",
         {3, 37, 6135, 6105, 160, 0},
         crowded,
         {L"Kanał 37 jest zatłoczony",
          L"Obecny kanał 37 · 6 GHz · Brak wyraźnie lepszego kanału w porównaniu.",
          L"Kanał 37 jest zatłoczony\r\nObecny kanał 37 · 6 GHz · Brak wyraźnie lepszego kanału "
          L"w porównaniu.\r\n\r\nObecna częstotliwość 6135 MHz. Szerokość 160 MHz. " +
              crowded_overlap +
              L"\r\n\r\nW paśmie 6 GHz dostępność kanału zależy od routera i regionu. Aplikacja "
              L"ocenia aktualny kanał. Wybór innego kanału pozostawia routerowi.",
          2}},
        {"crowded 5 GHz at 80+80",
         {2, 36, 5180, 5210, 80, 5775},
         crowded,
         {L"Kanał 36 jest zatłoczony",
          L"Obecny kanał 36 · 5 GHz · Brak wyraźnie lepszego kanału w porównaniu.",
          L"Kanał 36 jest zatłoczony\r\nObecny kanał 36 · 5 GHz · Brak wyraźnie lepszego kanału "
          L"w porównaniu.\r\n\r\nObecna częstotliwość 5180 MHz. Szerokość 80+80 MHz. " +
              crowded_overlap + L"\r\n\r\nPorównane kanały przy 20 MHz · 36, 40, 44 i 48.",
          2}},
        {"no assessment without a width",
         {2, 44, 5220, 5220, 0, 0},
         unsure,
         {L"Brak pewnej oceny kanału",
          L"Obecny kanał 44 · 5 GHz · Brakuje informacji o szerokości kanału.",
          L"Brak pewnej oceny kanału\r\nObecny kanał 44 · 5 GHz · Brakuje informacji o "
          L"szerokości kanału.\r\n\r\nObecna częstotliwość 5220 MHz. Szerokość Nieznana. " +
              none_overlap +
              L" Dla obecnego kanału przyjęto 20 MHz, ponieważ karta nie podała szerokości."
              L"\r\n\r\nPorównane kanały przy 20 MHz · 36, 40, 44 i 48.",
          0}},
    };
    for (const auto& c : cases) {
        const TextCard card = channel_assessment_card(c.own, c.assessment);
        EXPECT_EQ(utf8(card.title), utf8(c.card.title)) << c.name;
        EXPECT_EQ(utf8(card.subtitle), utf8(c.card.subtitle)) << c.name;
        EXPECT_EQ(utf8(card.body), utf8(c.card.body)) << c.name;
        EXPECT_EQ(card.status, c.card.status) << c.name;
    }
}

TEST(WifiTexts, StrongTwinOn5Ghz) {
    const auto network = [](const wchar_t* ssid, std::int32_t band, std::int32_t rssi) {
        VisibleNetwork n;
        n.ssid_text = ssid;
        n.point.band = band;
        n.point.rssi_dbm = rssi;
        return n;
    };
    const struct {
        const char* name;
        std::vector<VisibleNetwork> networks;
        const wchar_t* own;
        bool twin;
    } cases[] = {
        {"strong twin", {network(L"Dom", 1, -40), network(L"Dom", 2, -60)}, L"Dom", true},
        {"at -67", {network(L"Dom", 2, -67)}, L"Dom", true},
        {"at -68", {network(L"Dom", 2, -68)}, L"Dom", false},
        {"2.4 GHz only", {network(L"Dom", 1, -30)}, L"Dom", false},
        {"6 GHz is not 5 GHz", {network(L"Dom", 3, -30)}, L"Dom", false},
        {"case differs", {network(L"dom", 2, -30)}, L"Dom", false},
        {"longer name", {network(L"Dom_5G", 2, -30)}, L"Dom", false},
        {"hidden networks",
         {network(L"Sieć ukryta", 1, -40), network(L"Sieć ukryta", 2, -50)},
         L"Sieć ukryta",
         false},
        {"none", {}, L"Dom", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(strong_twin_on_5ghz(c.networks, c.own), c.twin) << c.name;
    }
}

}  // namespace
}  // namespace tarvisko
