#pragma once
// Verdict texts, colours and threshold ratings, and the small row builders of result tables.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "results/summary_model.h"
#include "results/table_model.h"

namespace tarvisko {

inline constexpr std::wstring_view ping_rating_help =
    L"Zielony do 50 ms, żółty do 100 ms, czerwony powyżej 100 ms.";
inline constexpr std::wstring_view jitter_rating_help =
    L"Zielony do 5 ms, żółty do 15 ms, czerwony powyżej 15 ms.";
inline constexpr std::wstring_view loss_rating_help =
    L"Zielony przy 0%, żółty do 5%, czerwony powyżej 5%.";

// "Za mało danych", "Dobrze", "Uwaga", "Źle"; a value outside 1..3 reads as 0.
std::wstring verdict_text(Verdict verdict);
// The verdict's colour as a Windows COLORREF (0x00BBGGRR).
std::uint32_t verdict_color(Verdict verdict);
// " Ocena orientacyjna dla gier · " + verdict text + ". " + help.
std::wstring game_rating_text(Verdict verdict, std::wstring_view help);

// Threshold ratings: a value equal to a bound takes the better verdict; no value, or fewer
// observations than the rating's minimum, gives 0.
Verdict ping_verdict(std::optional<double> value, std::uint64_t count);    // ms, 5 replies
Verdict jitter_verdict(std::optional<double> value, std::uint64_t count);  // ms, 4 pairs
Verdict loss_verdict(std::optional<double> value, std::uint64_t count);    // %, 5 sent

// Each appends one row to the end of the model.
void add_table_row(TableModel& model, std::wstring label, std::wstring value, std::wstring detail);
// A third cell with the verdict's text; the value and the verdict text take its colour.
void add_verdict_row(TableModel& model, std::wstring label, std::wstring value, std::wstring detail,
                     Verdict verdict);
// The card's title, its subtitle followed by `unit` (none after "—", which means no value), its
// body.
void add_row_with_unit(TableModel& model, const TextCard& reading, std::wstring_view unit);

}  // namespace tarvisko
