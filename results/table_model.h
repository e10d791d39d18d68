#pragma once
// The one model every result table hands to the window's results list, and the rating scale
// that colours its cells.
#include <cstdint>
#include <string>
#include <vector>

namespace tarvisko {

// 0 not enough data, 1 good, 2 warning, 3 bad; any other value reads as 0.
using Verdict = std::int32_t;

struct ChartPoint {
    double value = 0.0;
    bool valid = false;  // false: an attempt without a value, `value` is meaningless

    bool operator==(const ChartPoint&) const = default;
};

struct TableColumn {
    std::wstring name;
    std::int32_t width = 0;  // device-independent pixels at 96 DPI

    bool operator==(const TableColumn&) const = default;
};

struct TableRow {
    std::vector<std::wstring> cells;  // one per column, left to right
    std::wstring detail;              // shown under the list while the row is selected
    std::vector<ChartPoint> chart;    // in time order; empty for most rows
    std::wstring unit;                // unit of the chart values, empty without a chart
    std::vector<Verdict> status;      // by column; a column past the end counts as 0

    bool operator==(const TableRow&) const = default;
};

struct TableModel {
    std::wstring title;
    std::vector<TableColumn> columns;
    std::vector<TableRow> rows;
    // 0: the first three rows are summary rows the window repeats as headline texts;
    // 1: rows of one kind without headline texts.
    std::uint8_t kind = 0;

    bool operator==(const TableModel&) const = default;
};

}  // namespace tarvisko
