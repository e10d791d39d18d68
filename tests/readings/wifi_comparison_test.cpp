#include "readings/wifi_comparison.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/common/text.h"
#include "readings/wifi_baseline.h"
#include "readings/wifi_chart.h"
#include "wifi_comparison_support.h"

namespace tarvisko {
namespace {

using test::after_scan;
using test::before_scan;

const std::wstring footer =
    L"\r\n\r\nNiższy wskaźnik oznacza mniej nakładania widocznych sieci. Przy istotnej zmianie "
    L"poziomu sygnału lub silnych sąsiadów wynik może być niejednoznaczny. Jeżeli porównujesz "
    L"ustawienia routera, wykonaj oba skany z tego samego miejsca.";

const std::wstring before_lines =
    L"Kanał 6 · 2,4 GHz · 20 MHz\r\nNakładające się punkty 3 · silne 1 · wskaźnik nakładania "
    L"3\r\nSygnał własnej sieci -60 dBm\r\n2024-05-01T10:00:00.000Z";
const std::wstring after_lines =
    L"Kanał 1 · 2,4 GHz · 20 MHz\r\nNakładające się punkty 1 · silne 1 · wskaźnik nakładania "
    L"1,5\r\nSygnał własnej sieci -62 dBm\r\n2024-05-01T10:12:30.500Z";
const std::wstring change_lines =
    L"Nakładające się punkty Wi-Fi   3 → 1   (zmiana -2)\r\n"
    L"Sygnał własnej sieci   -60 dBm → -62 dBm   (zmiana -2 dB)\r\n"
    L"Zmiana wskaźnika nakładania   3 → 1,5   (-1,5 pkt)";

// The "after" scan with its figures changed.
WifiSnapshot after_with(double score, std::int32_t strong, std::optional<std::int32_t> rssi) {
    WifiSnapshot s = after_scan();
    s.overlap.score = score;
    s.overlap.strong = strong;
    s.rssi_dbm = rssi;
    return s;
}

TEST(WifiComparison, Verdicts) {
    using Change = std::function<void(WifiSnapshot&, WifiSnapshot&)>;
    // Before: score 3, one strong network, -60 dBm; so u = 1.
    const struct {
        const char* name;
        Change change;
        scan_comparison verdict;
    } cases[] = {
        {"better", [](auto&, auto& a) { a = after_with(1.5, 1, -62); }, {2, 0}},
        {"d exactly -u", [](auto&, auto& a) { a = after_with(2.0, 1, -60); }, {2, 0}},
        {"u a quarter of a high score, d = -u",
         [](auto& b, auto& a) {
             b.overlap.score = 8.0;
             a = after_with(6.0, 1, -60);
         },
         {2, 0}},
        {"u a quarter of a high score, d above -u",
         [](auto& b, auto& a) {
             b.overlap.score = 8.0;
             a = after_with(6.5, 1, -60);
         },
         {5, 0}},
        {"better but one more strong network",
         [](auto&, auto& a) { a = after_with(1.5, 2, -60); },
         {4, 5}},
        {"better but 8 dB weaker", [](auto&, auto& a) { a = after_with(1.5, 1, -68); }, {4, 5}},
        {"better and 7 dB weaker", [](auto&, auto& a) { a = after_with(1.5, 1, -67); }, {2, 0}},
        {"better, no signal after",
         [](auto&, auto& a) { a = after_with(1.5, 1, std::nullopt); },
         {2, 0}},
        {"better, no signal before",
         [](auto& b, auto& a) {
             b.rssi_dbm.reset();
             a = after_with(1.5, 1, -90);
         },
         {2, 0}},
        {"worse", [](auto&, auto& a) { a = after_with(4.0, 1, -60); }, {3, 0}},
        {"worse and 7 dB stronger", [](auto&, auto& a) { a = after_with(4.5, 2, -53); }, {3, 0}},
        {"worse but 8 dB stronger", [](auto&, auto& a) { a = after_with(4.5, 1, -52); }, {4, 5}},
        {"worse but one strong network fewer",
         [](auto&, auto& a) { a = after_with(4.5, 0, -60); },
         {4, 5}},
        {"no clear difference", [](auto&, auto& a) { a = after_with(2.5, 1, -60); }, {5, 0}},
        {"close scores, 7 dB weaker", [](auto&, auto& a) { a = after_with(3.5, 1, -67); }, {5, 0}},
        {"close scores, 8 dB weaker", [](auto&, auto& a) { a = after_with(3.5, 1, -68); }, {4, 5}},
        {"close scores, a strong network more",
         [](auto&, auto& a) { a = after_with(3.0, 2, -60); },
         {4, 5}},
        {"same channel and width, another primary",
         [](auto& b, auto& a) {
             a.channel = b.channel;
             a.channel.primary_mhz = 2442;
         },
         {1, 0}},
        {"only the width changed",
         [](auto&, auto& a) { a.channel = {1, 6, 2437, 2447, 40, 0}; },
         {2, 0}},
        {"only the second segment changed",
         [](auto& b, auto& a) {
             b.channel = {2, 36, 5180, 5210, 80, 5775};
             a.channel = {2, 36, 5180, 5210, 80, 5530};
         },
         {2, 0}},
        {"another access point", [](auto&, auto& a) { a.connection_id[0] = 'f'; }, {0, 2}},
        {"no connection id", [](auto&, auto& a) { a.connection_id.clear(); }, {0, 1}},
        {"no width before", [](auto& b, auto&) { b.channel.width_mhz = 0; }, {0, 1}},
        {"no band", [](auto&, auto& a) { a.channel.band = 0; }, {0, 1}},
        {"no channel", [](auto&, auto& a) { a.channel.channel = 0; }, {0, 1}},
        {"a missing reading comes before another access point",
         [](auto& b, auto& a) {
             b.connection_id.clear();
             a.channel.band = 2;
         },
         {0, 1}},
        {"another band", [](auto&, auto& a) { a.channel = {2, 36, 5180, 5180, 20, 0}; }, {0, 3}},
        {"the same time", [](auto& b, auto& a) { a.observed_at = b.observed_at; }, {0, 4}},
        {"after before before",
         [](auto& b, auto& a) { std::swap(a.observed_at, b.observed_at); },
         {0, 4}},
        {"a time that is a prefix of the other is earlier",
         [](auto& b, auto& a) { b.observed_at = a.observed_at.substr(0, 19); },
         {2, 0}},
        {"the longer time is later, not earlier",
         [](auto& b, auto& a) { a.observed_at = b.observed_at.substr(0, 19); },
         {0, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WifiSnapshot before = before_scan();
        WifiSnapshot after = after_scan();
        c.change(before, after);
        const scan_comparison verdict = compare_verdict(before, after);
        EXPECT_EQ(verdict.code, c.verdict.code);
        EXPECT_EQ(verdict.reason, c.verdict.reason);
    }
}

TEST(WifiComparison, CardTitles) {
    const auto with = [](const std::function<void(WifiSnapshot&)>& change) {
        WifiSnapshot s = after_scan();
        change(s);
        return s;
    };
    const struct {
        WifiSnapshot after;
        const wchar_t *title, *subtitle;
        Verdict status;
    } cases[] = {
        {with([](auto& s) { s.connection_id = std::string(64, 'b'); }),
         L"Nie można porównać skanów", L"Inny punkt dostępowy lub inna karta Wi-Fi.", 0},
        {with([](auto& s) { s.channel = {2, 36, 5180, 5180, 20, 0}; }),
         L"Nie można porównać skanów", L"Skany dotyczą różnych pasm Wi-Fi.", 0},
        {with([](auto& s) { s.channel.width_mhz = 0; }), L"Nie można porównać skanów",
         L"Brakuje odczytu ustawień Wi-Fi.", 0},
        {with([](auto& s) { s.observed_at = "2024-05-01T09:00:00.000Z"; }),
         L"Nie można porównać skanów", L"Sprawdź kolejność i czas skanów.", 0},
        {with([](auto& s) { s.channel = before_scan().channel; }), L"Ustawienia się nie zmieniły",
         L"Po zmianie kanału lub szerokości powtórz skan „Po”.", 0},
        {after_scan(), L"Jest poprawa", L"Warto zostawić nowe ustawienia.", 1},
        {after_with(4.5, 1, -60), L"Jest gorzej", L"Warto przywrócić poprzednie ustawienia.", 2},
        {after_with(1.5, 3, -60), L"Wynik jest niejednoznaczny",
         L"Sygnał lub liczba silnych sieci dają inny obraz. Powtórz skan.", 2},
        {after_with(2.5, 1, -60), L"Brak wyraźnej różnicy",
         L"Skan nie wskazuje przewagi żadnego z ustawień.", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.title));
        const TextCard card = compare_wifi_scans(before_scan(), c.after);
        EXPECT_EQ(card.title, c.title);
        EXPECT_EQ(card.subtitle, c.subtitle);
        EXPECT_EQ(card.status, c.status);
        EXPECT_EQ(card.body.find(std::wstring(c.title) + L"\r\n" + c.subtitle + L"\r\n\r\n"), 0u);
        EXPECT_TRUE(card.body.ends_with(footer));
    }
}

TEST(WifiComparison, CardBodies) {
    EXPECT_EQ(compare_wifi_scans(before_scan(), after_scan()).body,
              L"Jest poprawa\r\nWarto zostawić nowe ustawienia.\r\n\r\nPrzed zmianą\r\n" +
                  before_lines + L"\r\n\r\nPo zmianie\r\n" + after_lines + L"\r\n\r\n" +
                  change_lines + footer);

    // Not comparable: no change lines.
    WifiSnapshot elsewhere = after_scan();
    elsewhere.connection_id = std::string(64, 'b');
    EXPECT_EQ(compare_wifi_scans(before_scan(), elsewhere).body,
              L"Nie można porównać skanów\r\nInny punkt dostępowy lub inna karta Wi-Fi.\r\n\r\n"
              L"Przed zmianą\r\n" +
                  before_lines + L"\r\n\r\nPo zmianie\r\n" + after_lines + footer);

    // A "before" scan from a version that kept no plot.
    WifiSnapshot old = before_scan();
    old.plot.reset();
    EXPECT_EQ(compare_wifi_scans(old, after_scan()).body,
              L"Jest poprawa\r\nWarto zostawić nowe ustawienia.\r\n\r\nPrzed zmianą\r\n" +
                  before_lines + L"\r\n\r\nPo zmianie\r\n" + after_lines + L"\r\n\r\n" +
                  change_lines +
                  L"\r\nZapis „Przed” pochodzi ze starszej wersji i zawiera tylko wyniki "
                  L"liczbowe. Zapisz nowy skan „Przed”, aby porównać wykresy." +
                  footer);
}

TEST(WifiComparison, Texts) {
    EXPECT_EQ(signed_change_text(0), L"0");
    EXPECT_EQ(signed_change_text(3), L"+3");
    EXPECT_EQ(signed_change_text(-2), L"-2");
    EXPECT_EQ(signal_text(-60), L"-60 dBm");
    EXPECT_EQ(signal_text(0), L"0 dBm");
    EXPECT_EQ(signal_text(std::nullopt), L"brak odczytu");
    EXPECT_EQ(format_wifi_network_line({1, 6, 2437, 2437, 20, 0}), L"  ·  kanał 6  ·  20 MHz");
    EXPECT_EQ(format_wifi_network_line({2, 36, 5180, 5210, 80, 5775}), L"  ·  kanał 36  ·  80 MHz");

    EXPECT_EQ(snapshot_text(before_scan()), before_lines);
    WifiSnapshot unknown;
    unknown.observed_at = "2024-05-01T10:00:00.000Z";
    unknown.overlap.score = 12.34;
    EXPECT_EQ(snapshot_text(unknown),
              L"Kanał — · — · Nieznana\r\nNakładające się punkty 0 · silne 0 · wskaźnik "
              L"nakładania 12,3\r\nSygnał własnej sieci brak odczytu\r\n2024-05-01T10:00:00.000Z");
    WifiSnapshot split = before_scan();
    split.channel = {2, 36, 5180, 5210, 80, 5775};
    EXPECT_TRUE(snapshot_text(split).starts_with(L"Kanał 36 · 5 GHz · 80+80 MHz\r\n"));

    EXPECT_EQ(describe_scan_changes(before_scan(), after_scan()), change_lines);
    WifiSnapshot worse = after_with(5.0, 2, std::nullopt);
    worse.overlap.overlapping = 6;
    EXPECT_EQ(describe_scan_changes(before_scan(), worse),
              L"Nakładające się punkty Wi-Fi   3 → 6   (zmiana +3)\r\n"
              L"Sygnał własnej sieci   -60 dBm → brak odczytu   (brak różnicy do obliczenia)\r\n"
              L"Zmiana wskaźnika nakładania   3 → 5   (+2 pkt)");
    EXPECT_TRUE(describe_scan_changes(before_scan(), after_with(3.0, 1, -60))
                    .ends_with(L"   3 → 3   (0 pkt)"));
}

TEST(WifiComparison, SavedBaselineCard) {
    const std::wstring common =
        L"Kanał 6 · 2,4 GHz · 20 MHz\r\n2024-05-01T10:00:00.000Z\r\n\r\n3 widocznych punktów "
        L"nakłada się na kanał, w tym 1 silnych (od \u221267 dBm). Dla 0 punktów bez odczytu "
        L"szerokości przyjęto 20 MHz.\r\n\r\nPo zmianie połącz się z tym samym punktem Wi-Fi. "
        L"Wykonaj pomiar z tego samego miejsca.";
    EXPECT_EQ(describe_saved_baseline(before_scan()),
              (TextCard{L"Zapisano skan przed zmianą",
                        L"Kanał 6 · 2,4 GHz · Po zmianie uruchom skan „Po”.", common, 0}));
    WifiSnapshot old = before_scan();
    old.plot.reset();
    EXPECT_EQ(describe_saved_baseline(old).body,
              common + L"\r\nAby zobaczyć oba wykresy, zapisz nowy skan „Przed”.");
}

WifiReading reading_with(std::optional<WifiSnapshot> snapshot) {
    WifiReading reading;
    reading.card = {L"Brak oceny kanału", L"Windows nie podał dokładnego kanału bieżącej sieci.",
                    L"Windows nie podał dokładnego kanału bieżącej sieci.", 0};
    reading.snapshot = std::move(snapshot);
    return reading;
}

TEST(WifiComparison, ApplyingReadings) {
    const TextCard no_data{
        L"Brak danych do porównania", L"Połącz się z Wi-Fi i powtórz świeży skan.",
        L"Windows nie podał dokładnego kanału bieżącej sieci.\r\n\r\nDo porównania potrzeba "
        L"świeżego skanu z odczytaną szerokością i kanałem bieżącej sieci.",
        0};
    test::WifiProfile profile;
    test::WifiComparisonStore& store = profile.store;

    // "Po" without a stored baseline changes nothing, whatever the reading.
    apply_wifi_baseline(profile.state, 3, reading_with(after_scan()));
    EXPECT_FALSE(store.wifi_after_snapshot);
    EXPECT_EQ(store.wifi_compare_card, wifi_compare_initial_card());
    // ...except that a reading without a snapshot is reported first.
    apply_wifi_baseline(profile.state, 3, reading_with(std::nullopt));
    EXPECT_EQ(store.wifi_compare_card, no_data);

    // "Przed": saved, stored, described.
    apply_wifi_baseline(profile.state, 2, reading_with(before_scan()));
    ASSERT_TRUE(store.wifi_baseline_snapshot);
    test::expect_same_snapshot(*store.wifi_baseline_snapshot, before_scan());
    EXPECT_EQ(store.wifi_compare_card, describe_saved_baseline(before_scan()));
    EXPECT_EQ(test::read_bytes(profile.file), write_wifi_baseline(before_scan()));
    EXPECT_FALSE(wifi_baseline_chart(profile.state));

    // Modes other than 2 and 3 do nothing at all.
    for (const std::int32_t mode : {0, 1, 4, -1}) {
        apply_wifi_baseline(profile.state, mode, reading_with(std::nullopt));
        EXPECT_EQ(store.wifi_compare_card, describe_saved_baseline(before_scan()));
    }

    // "Po": compared.
    apply_wifi_baseline(profile.state, 3, reading_with(after_scan()));
    ASSERT_TRUE(store.wifi_after_snapshot);
    EXPECT_EQ(store.wifi_compare_card, compare_wifi_scans(before_scan(), after_scan()));
    EXPECT_TRUE(wifi_baseline_chart(profile.state));

    // A "Po" reading without a snapshot clears the fresh one and keeps the baseline.
    apply_wifi_baseline(profile.state, 3, reading_with(std::nullopt));
    EXPECT_FALSE(store.wifi_after_snapshot);
    EXPECT_TRUE(store.wifi_baseline_snapshot);
    EXPECT_EQ(store.wifi_compare_card, no_data);

    // A failed "Przed" save keeps the stored baseline and the file; the card says only that.
    apply_wifi_baseline(profile.state, 3, reading_with(after_scan()));
    const test::ScopedEnv unset(L"LOCALAPPDATA", nullptr);
    WifiSnapshot other = after_scan();
    other.observed_at = "2024-05-02T08:00:00.000Z";
    apply_wifi_baseline(profile.state, 2, reading_with(other));
    EXPECT_EQ(
        store.wifi_compare_card,
        (TextCard{L"Nie zapisano skanu przed zmianą",
                  L"Sprawdź dostęp do profilu Windows i spróbuj ponownie.",
                  L"Aplikacja nie zapisała pliku w profilu bieżącego użytkownika Windows.", 0}));
    test::expect_same_snapshot(*store.wifi_baseline_snapshot, before_scan());
    EXPECT_FALSE(store.wifi_after_snapshot);
    EXPECT_EQ(test::read_bytes(profile.file), write_wifi_baseline(before_scan()));
}

TEST(WifiComparison, SaveBlockedByAnOpenFile) {
    test::WifiProfile profile;
    apply_wifi_baseline(profile.state, 2, reading_with(before_scan()));
    const std::string saved = test::read_bytes(profile.file);
    // Another program reads the file without letting it be deleted or replaced.
    const HandleGuard<HANDLE> reader =
        test::open_file(profile.file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(reader);
    WifiSnapshot again = before_scan();
    again.observed_at = "2024-05-01T11:00:00.000Z";
    apply_wifi_baseline(profile.state, 2, reading_with(again));
    EXPECT_EQ(profile.store.wifi_compare_card.title, L"Nie zapisano skanu przed zmianą");
    EXPECT_EQ(profile.store.wifi_baseline_snapshot->observed_at, before_scan().observed_at);
    EXPECT_EQ(test::read_bytes(profile.file), saved);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(profile.file.parent_path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(WifiComparison, BeforeAfterChart) {
    test::WifiProfile profile;
    test::WifiComparisonStore& store = profile.store;
    EXPECT_FALSE(wifi_baseline_chart(profile.state));
    store.wifi_baseline_snapshot = before_scan();
    EXPECT_FALSE(wifi_baseline_chart(profile.state));
    store.wifi_after_snapshot = after_scan();

    const std::optional<ChartData> chart = wifi_baseline_chart(profile.state);
    ASSERT_TRUE(chart);
    EXPECT_EQ(chart->band, 1);
    EXPECT_EQ(chart->span_low_mhz, 2400);
    EXPECT_EQ(chart->span_high_mhz, 2500);
    EXPECT_EQ(chart->before_caption, L"Przed  ·  kanał 6  ·  20 MHz");
    EXPECT_EQ(chart->after_caption, L"Po  ·  kanał 1  ·  20 MHz");
    EXPECT_EQ(chart->changes, change_lines);
    ASSERT_EQ(chart->before.items.size(), 5u);
    EXPECT_EQ(chart->before.band, 1);
    // Overlaps are judged against each scan's own channel: channel 4 overlaps both 6 and 1.
    EXPECT_TRUE(chart->before.items[0].overlaps);
    EXPECT_TRUE(chart->after.items[0].overlaps);
    EXPECT_TRUE(chart->before.items[1].overlaps);   // 2447 MHz against channel 6
    EXPECT_FALSE(chart->after.items[1].overlaps);   // ...and against channel 1
    EXPECT_FALSE(chart->before.items[3].overlaps);  // 2472 MHz is far from channel 6
    EXPECT_TRUE(chart->after.items[4].point.own);
    EXPECT_EQ(chart->after.items[4].point.channel, 1);

    // A 5 GHz pair: the common span of both plots.
    WifiSnapshot before5 = before_scan();
    before5.channel = {2, 36, 5180, 5180, 20, 0};
    before5.plot = std::vector<plot_point>{test::heard(5180, -50, true), test::heard(5200, -60)};
    WifiSnapshot after5 = before5;
    after5.observed_at = after_scan().observed_at;
    after5.channel = {2, 149, 5745, 5745, 20, 0};
    after5.plot = std::vector<plot_point>{test::heard(5745, -55, true)};
    store.wifi_baseline_snapshot = before5;
    store.wifi_after_snapshot = after5;
    const std::optional<ChartData> five = wifi_baseline_chart(profile.state);
    ASSERT_TRUE(five);
    EXPECT_EQ((FrequencySpan{five->span_low_mhz, five->span_high_mhz}),
              chart_frequency_span(five->before.items, five->after.items, 2));
    EXPECT_EQ(five->span_low_mhz, 5160);
    EXPECT_EQ(five->span_high_mhz, 5770);

    // Nothing without a plot on either side, or when the scans do not compare.
    const auto without = [&](const std::function<void()>& change) {
        store.wifi_baseline_snapshot = before_scan();
        store.wifi_after_snapshot = after_scan();
        change();
        return wifi_baseline_chart(profile.state);
    };
    EXPECT_FALSE(without([&] { store.wifi_baseline_snapshot->plot.reset(); }));
    EXPECT_FALSE(without([&] { store.wifi_after_snapshot->plot.reset(); }));
    EXPECT_FALSE(without([&] { store.wifi_after_snapshot->connection_id = std::string(64, 'c'); }));
    EXPECT_FALSE(without([&] { store.wifi_after_snapshot.reset(); }));
    // Settings unchanged still compare: the chart shows them.
    EXPECT_TRUE(without([&] { store.wifi_after_snapshot->channel = before_scan().channel; }));
}

TEST(WifiComparison, SurvivesARestart) {
    test::WifiProfile first;
    apply_wifi_baseline(first.state, 2, reading_with(before_scan()));

    // The next run reads the file the first time the page is shown, and compares with it.
    test::WifiComparisonStore next;
    const WifiComparisonState state = next.state();
    EXPECT_EQ(next.wifi_compare_card, wifi_compare_initial_card());
    load_wifi_baseline_once(state);
    ASSERT_TRUE(next.wifi_baseline_snapshot);
    EXPECT_EQ(next.wifi_compare_card.title + L". " + next.wifi_compare_card.subtitle,
              L"Zapisano skan przed zmianą. Kanał 6 · 2,4 GHz · Po zmianie uruchom skan „Po”.");
    apply_wifi_baseline(state, 3, reading_with(after_scan()));
    EXPECT_EQ(next.wifi_compare_card.title + L". " + next.wifi_compare_card.subtitle,
              L"Jest poprawa. Warto zostawić nowe ustawienia.");
    EXPECT_TRUE(wifi_baseline_chart(state));
}

}  // namespace
}  // namespace tarvisko
