#include "results/table_rows.h"

#include <utility>

namespace tarvisko {

namespace {

Verdict threshold_verdict(std::optional<double> value, std::uint64_t count, std::uint64_t minimum,
                          double good_max, double warn_max) {
    if (!value || count < minimum) return 0;
    if (*value <= good_max) return 1;
    if (*value <= warn_max) return 2;
    return 3;
}

}  // namespace

std::wstring verdict_text(Verdict verdict) {
    switch (verdict) {
        case 1:
            return L"Dobrze";
        case 2:
            return L"Uwaga";
        case 3:
            return L"Źle";
        default:
            return L"Za mało danych";
    }
}

std::uint32_t verdict_color(Verdict verdict) {
    switch (verdict) {
        case 1:
            return 0x107C10;  // #107C10
        case 2:
            return 0x005D9D;  // #9D5D00
        case 3:
            return 0x1C2BC4;  // #C42B1C
        default:
            return 0x616161;
    }
}

std::wstring game_rating_text(Verdict verdict, std::wstring_view help) {
    std::wstring text = L" Ocena orientacyjna dla gier · " + verdict_text(verdict) + L". ";
    text += help;
    return text;
}

Verdict ping_verdict(std::optional<double> value, std::uint64_t count) {
    return threshold_verdict(value, count, 5, 50.0, 100.0);
}

Verdict jitter_verdict(std::optional<double> value, std::uint64_t count) {
    return threshold_verdict(value, count, 4, 5.0, 15.0);
}

Verdict loss_verdict(std::optional<double> value, std::uint64_t count) {
    return threshold_verdict(value, count, 5, 0.0, 5.0);
}

void add_table_row(TableModel& model, std::wstring label, std::wstring value, std::wstring detail) {
    TableRow row;
    row.cells.reserve(3);
    row.cells.push_back(std::move(label));
    row.cells.push_back(std::move(value));
    row.detail = std::move(detail);
    model.rows.push_back(std::move(row));
}

void add_verdict_row(TableModel& model, std::wstring label, std::wstring value, std::wstring detail,
                     Verdict verdict) {
    add_table_row(model, std::move(label), std::move(value), std::move(detail));
    TableRow& row = model.rows.back();
    row.cells.push_back(verdict_text(verdict));
    row.status = {0, verdict, verdict};
}

void add_row_with_unit(TableModel& model, const TextCard& reading, std::wstring_view unit) {
    std::wstring value = reading.subtitle;
    if (value != L"—") value += unit;
    add_table_row(model, reading.title, std::move(value), reading.body);
}

}  // namespace tarvisko
