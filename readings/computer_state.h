#pragma once
// The "Komputer" page: memory and processor load and the traffic of every active adapter, read
// over a window of 600 ms on the page-reading job, followed by the rows of the current report.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/inventory/ip_tables.h"
#include "results/table_model.h"

namespace tarvisko {

// Interface LUID -> copy of its row, ascending by LUID.
using AdapterSnapshot = std::map<std::uint64_t, MIB_IF_ROW2>;

// One GetSystemTimes reading, in 100 ns units. The kernel time already contains the idle time.
struct ProcessorSample {
    std::uint64_t idle = 0;
    std::uint64_t kernel = 0;
    std::uint64_t user = 0;
    bool ok = false;  // the call succeeded
};

// The monotonic clock and the sleep of a reading window; tests run the window on their own time.
struct ReadingClock {
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::milliseconds)> sleep;
};

inline constexpr std::chrono::milliseconds kReadingWindow{600};

// "Odczyt " + the UTC time of the reading with milliseconds + " · ": the opening of every live
// reading table's title.
std::wstring reading_caption_prefix();

// The adapter's friendly name (`Alias`), up to its terminator.
std::wstring adapter_alias(const MIB_IF_ROW2& row);

// Every interface that is up and is not the software loopback; the first row of a LUID wins.
// Empty when GetIfTable2 fails.
AdapterSnapshot active_adapters(const IpTableCalls& calls = windows_ip_table_calls());

ProcessorSample read_processor_sample();

// Busy share of the processor between two samples in percent, clamped to 0..100; none when a
// sample failed or the counters did not advance.
std::optional<double> cpu_load(const ProcessorSample& first, const ProcessorSample& second);

// One row per adapter of `second`, in LUID order, that `first` also has and whose byte counters
// did not go backwards: receive and send rate in Mb/s over `seconds`.
std::vector<TableRow> adapter_rows(const AdapterSnapshot& first, const AdapterSnapshot& second,
                                   double seconds);

// The system's steady clock and Sleep.
const ReadingClock& steady_reading_clock();

// Sleeps until `deadline` on the clock; a sleep that ends early is repeated for the remainder,
// rounded up to whole milliseconds.
void sleep_until(const ReadingClock& clock, std::chrono::steady_clock::time_point deadline);

// The page's table; `extra`'s rows follow the live rows unchanged (only its rows are used).
// Blocks for at least 600 ms. A failed Windows call leaves its row at "Brak odczytu" or drops
// the adapter rows; only memory exhaustion throws.
TableModel computer_state_view(const TableModel& extra,
                               const ReadingClock& clock = steady_reading_clock(),
                               const IpTableCalls& calls = windows_ip_table_calls());

}  // namespace tarvisko
