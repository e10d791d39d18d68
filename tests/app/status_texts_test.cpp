// The status texts as a pure function of the window state.
#include "app/status_texts.h"

#include <gtest/gtest.h>

#include "engine/common/text.h"

namespace tarvisko {
namespace {

MainWindowState state_with_origin() {
    MainWindowState state = ui_state_init();
    state.server_origin = L"https://serwer.example";
    return state;
}

TEST(StatusTexts, Subtitle) {
    struct Case {
        bool table_shown;
        int page;
        std::wstring message;
        bool has_report;
        bool partial;
        std::wstring expected;
    };
    const Case cases[] = {
        {false, 0, L"", false, false, L"Gotowy do pomiaru"},
        {false, 0, L"", true, false, L"Pomiar zakończony"},
        {false, 0, L"", true, true, L"Pomiar częściowy"},
        {false, 0, L"Odczytywanie ostatniego raportu…", true, false,
         L"Odczytywanie ostatniego raportu…"},
        {false, 10, L"Wiadomość", true, false, L"Szczegóły diagnostyczne"},
        {true, 7, L"Wiadomość", true, true, L"Trasa do celu"},
        {true, 3, L"", false, false, L"Trasa do celu"},
    };
    for (const Case& c : cases) {
        MainWindowState state = state_with_origin();
        state.table_view_shown = c.table_shown;
        state.current_page = c.page;
        state.status_message = c.message;
        state.summary.has_report = c.has_report;
        state.summary.partial = c.partial;
        state.shown_table.title = L"Trasa do celu";
        EXPECT_EQ(compose_status_texts(state).subtitle, c.expected) << to_utf8(c.expected);
    }
}

TEST(StatusTexts, SideLabel) {
    MainWindowState state = state_with_origin();
    state.summary.test_time_text = L"Brak testu";
    EXPECT_EQ(compose_status_texts(state).side_label, L"Brak testu");
    state.summary.has_report = true;
    state.summary.test_time_text = L"12.03.2026 18:40";
    EXPECT_EQ(compose_status_texts(state).side_label, L"Ostatni test   12.03.2026 18:40");
}

TEST(StatusTexts, StatusLine) {
    struct Case {
        std::wstring report_text;
        bool busy;
        bool synchronized;
        std::wstring message;
        std::wstring expected_start;  // everything before the origin
    };
    const Case cases[] = {
        {L"", false, false, L"",
         L"Brak potwierdzenia serwera   ·   Zapisano lokalnie   ·   Gotowy"},
        {L"", false, true, L"", L"Serwer potwierdził zapis   ·   Zapisano lokalnie   ·   Gotowy"},
        {L"", true, true, L"Uruchamianie testu",
         L"Pomiar w toku   ·   Zapisano lokalnie   ·   Pomiar w toku"},
        {L"", false, false, L"Skopiowano zaznaczony wiersz",
         L"Brak potwierdzenia serwera   ·   Zapisano lokalnie   ·   Skopiowano zaznaczony wiersz"},
        {L"Serwer potwierdził zapis tej sesji", true, false, L"",
         L"Serwer potwierdził zapis tej sesji   ·   Pomiar w toku"},
        {L"Brak pomiaru w tym widoku", false, false, L"Gotowe",
         L"Brak pomiaru w tym widoku   ·   Gotowe"},
    };
    for (const Case& c : cases) {
        MainWindowState state = state_with_origin();
        state.report_status_text = c.report_text;
        state.busy = c.busy;
        state.summary.synchronized = c.synchronized;
        state.summary.sync_text = L"Zapisano lokalnie";
        state.status_message = c.message;
        EXPECT_EQ(compose_status_texts(state).status_line,
                  c.expected_start + L"   |   https://serwer.example   ·   1.1.18")
            << to_utf8(c.expected_start);
    }
}

TEST(StatusTexts, TilesRowsAndConclusion) {
    MainWindowState state = state_with_origin();
    SummaryModel& summary = state.summary;
    summary.tiles[0] = {L"Pobieranie", L"250,4", L"Średnia z pomiaru.", 1};
    summary.tiles[1] = {L"Wysyłanie", L"—", L"Brak pomiaru.", 0};
    summary.tiles[2] = {L"Ping", L"12", L"Ping w spoczynku.", 1};
    summary.tiles[3] = {L"Jitter ICMP", L"—", L"", 0};
    summary.tiles[4] = {L"Utrata odpowiedzi", L"0", L"Bez strat.", 1};
    summary.sections[7] = {L"Stabilność połączenia", L"Stabilne", L"Bez przerw.", 1};
    summary.headline = L"Połączenie działa dobrze";
    summary.explanation = L"Wyjaśnienie.";
    StatusTexts texts = compose_status_texts(state);
    EXPECT_EQ(texts.tile_texts[0], L"Pobieranie   250,4 Mb/s");
    EXPECT_EQ(texts.tile_texts[1], L"Wysyłanie   —");
    EXPECT_EQ(texts.tile_texts[2], L"Ping   12 ms");
    EXPECT_EQ(texts.tile_texts[3], L"Jitter ICMP   —");
    EXPECT_EQ(texts.tile_texts[4], L"Utrata odpowiedzi   0 %");
    EXPECT_EQ(texts.tile_tooltips[0], L"Średnia z pomiaru.");  // no live series
    EXPECT_EQ(texts.tile_tooltips[4], L"Bez strat.");
    EXPECT_EQ(texts.row_texts[7], L"Stabilność połączenia   Stabilne");
    EXPECT_EQ(texts.row_tooltips[7], L"Bez przerw.");
    EXPECT_EQ(texts.row_texts[0], L"   ");
    EXPECT_EQ(texts.conclusion_text, L"Połączenie działa dobrze");
    EXPECT_EQ(texts.conclusion_tooltip, L"Wyjaśnienie.");

    summary.advice = L"Nic nie trzeba zmieniać.";
    EXPECT_EQ(compose_status_texts(state).conclusion_text,
              L"Połączenie działa dobrze Nic nie trzeba zmieniać.");
}

TEST(StatusTexts, LiveSeriesInTheTooltips) {
    MainWindowState state = state_with_origin();
    state.summary.tiles[0].body = L"Pobieranie trwa.";
    state.summary.tiles[1].body = L"Wysyłanie trwa.";
    // The first interval holds the connection set-up and its rate is left out, even when it is
    // the largest.
    state.summary.download_series = {{0.5, 400.0}, {1.0, 80.04}, {1.5, 312.26},
                                     {2.0, 290.0}, {2.5, 305.0}, {3.0, 298.0}};
    // Four intervals after the set-up are too few for any figure.
    state.summary.upload_series = {{0.5, 0.0},  {1.0, 2.0},  {1.5, 90.0},
                                   {2.0, 95.0}, {2.5, 91.0}, {3.0, 93.0}};
    const StatusTexts texts = compose_status_texts(state);
    EXPECT_EQ(texts.tile_tooltips[0],
              L"Pobieranie trwa. Ostatnia próbka: 298 Mb/s. Maksimum próbek: 312,3 Mb/s.");
    EXPECT_EQ(texts.tile_tooltips[1], L"Wysyłanie trwa.");
}

}  // namespace
}  // namespace tarvisko
