#pragma once
// The table of internet traffic by process, built from the counter's latest snapshot: one row per
// process with its receive and send rate and its traffic since counting began, busiest first.
// Live mode (once a second during a monitored test) shows the rates over the interval since the
// previous live table; final mode (the page after the test) the averages over the whole counting
// window. The state between calls (saved snapshot, cached live table, process names) lives in the
// TrafficView.
#include <cstdint>
#include <map>
#include <string>

#include "results/table_model.h"
#include "traffic/traffic_control.h"

namespace tarvisko {

// Process id to executable name.
using ProcessNames = std::map<std::uint32_t, std::wstring>;
using ProcessNameReader = ProcessNames (*)();

// Takes the view's lock; `label` opens the live title (the phase of the full test), final mode
// ignores it.
TableModel build_traffic_table(TrafficView& view, bool live, const std::wstring& label);
// The same for a caller that holds the view's lock, with the source of process names and the id
// of the application's own process (never shown) given.
TableModel build_traffic_table_locked(TrafficView& view, bool live, const std::wstring& label,
                                      ProcessNameReader read_names, std::uint32_t own_process_id);

// Every process of a Toolhelp snapshot; empty when Windows gives none.
ProcessNames snapshot_process_names();
// "—" for 0 ms, else megabits per second: "12,3 Mb/s".
std::wstring format_rate_mbps(std::uint64_t bytes, std::int64_t milliseconds);

}  // namespace tarvisko
