#include "traffic/traffic_table.h"

#include <tlhelp32.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "engine/common/display_text.h"
#include "engine/common/handle_guard.h"
#include "results/format.h"

namespace tarvisko {

namespace {

constexpr const wchar_t* kNoRowsCell = L"Brak ruchu innych procesów";
constexpr const wchar_t* kNoRowsDetail =
    L"Windows nie zarejestrował ruchu TCP/UDP od innych procesów do publicznych adresów na karcie "
    L"pomiarowej.";
constexpr const wchar_t* kRowDetail =
    L"Ruch TCP/UDP do lub z publicznych adresów na karcie pomiarowej. Średnia końcowa obejmuje "
    L"całą fazę odczytu. Proces może konkurować o przepustowość, jeżeli ruch korzysta z tego "
    L"samego łącza.";
constexpr const wchar_t* kUnnamedProcess = L"Proces zakończony / nazwa niedostępna";

struct TrafficItem {
    std::uint32_t process_id = 0;
    std::uint64_t bytes_received = 0;  // since counting began
    std::uint64_t bytes_sent = 0;
    std::uint64_t interval_received = 0;
    std::uint64_t interval_sent = 0;

    std::uint64_t interval_total() const {
        const std::uint64_t room = std::numeric_limits<std::uint64_t>::max() - interval_received;
        return interval_sent > room ? std::numeric_limits<std::uint64_t>::max()
                                    : interval_received + interval_sent;
    }
};

std::vector<TableColumn> traffic_columns() {
    return {{L"Proces", 216},
            {L"PID", 71},
            {L"Pobiera", 128},
            {L"Wysyła", 128},
            {L"Ruch od startu", 165}};
}

// The baseline entry of `process_id`; the child publishes entries in ascending id order.
const TrafficSnapshotEntry* baseline_entry(const TrafficSnapshot* baseline,
                                           std::uint32_t process_id) {
    if (baseline == nullptr) return nullptr;
    const TrafficSnapshotEntry* begin = baseline->entries;
    const TrafficSnapshotEntry* end = begin + snapshot_entry_count(*baseline);
    const TrafficSnapshotEntry* found = std::lower_bound(
        begin, end, process_id,
        [](const TrafficSnapshotEntry& entry, std::uint32_t id) { return entry.process_id < id; });
    return found != end && found->process_id == process_id ? found : nullptr;
}

std::uint64_t difference_or_zero(std::uint64_t now, std::uint64_t before) {
    return now > before ? now - before : 0;
}

}  // namespace

ProcessNames snapshot_process_names() {
    ProcessNames names;
    HandleGuard<HANDLE> snapshot(
        CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), [](HANDLE h) { CloseHandle(h); },
        INVALID_HANDLE_VALUE);
    if (!snapshot) return names;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        names.emplace(entry.th32ProcessID, entry.szExeFile);
    }
    return names;
}

std::wstring format_rate_mbps(std::uint64_t bytes, std::int64_t milliseconds) {
    if (milliseconds == 0) return L"—";
    return format_decimal(static_cast<double>(bytes) * 0.008 / static_cast<double>(milliseconds)) +
           L" Mb/s";
}

TableModel build_traffic_table(TrafficView& view, bool live, const std::wstring& label) {
    std::lock_guard lock(view.lock);
    return build_traffic_table_locked(view, live, label, snapshot_process_names,
                                      GetCurrentProcessId());
}

TableModel build_traffic_table_locked(TrafficView& view, bool live, const std::wstring& label,
                                      ProcessNameReader read_names, std::uint32_t own_process_id) {
    TableModel model;
    model.title = view.status_text;
    model.columns = traffic_columns();
    model.kind = 0;
    if (!view.section_view) return model;

    TrafficSharedSection& section = *view.section_view.get();
    const std::int32_t status = load_traffic_status(section);
    auto snapshot = std::make_unique<TrafficSnapshot>();
    read_section_snapshot(section, *snapshot);  // a torn read leaves zeros: no data this time
    if (status < 0) {
        model.title = L"Brak danych ETW · kod Windows " + std::to_wstring(-std::int64_t{status});
        return model;
    }
    const std::int64_t elapsed = snapshot->elapsed_ms;
    // Nothing counted yet; a negative time can only come from a damaged section.
    if (elapsed <= 0) return model;

    std::wstring title = live ? label + L" · Ruch do Internetu według procesu"
                              : std::wstring(L"Średni ruch do Internetu · ostatni test");
    if (snapshot->lost != 0 || snapshot->rejected != 0 || snapshot->overflow != 0) {
        title += L" · Dane częściowe";
    }

    std::int64_t interval = elapsed;
    const TrafficSnapshot* baseline = nullptr;
    const bool newer = live && view.saved_snapshot.elapsed_ms < elapsed;
    if (newer) {
        interval = elapsed - view.saved_snapshot.elapsed_ms;
        baseline = &view.saved_snapshot;
    } else if (live && !view.cached_live_table.rows.empty()) {
        model.title = title;
        model.rows = view.cached_live_table.rows;
        return model;
    }

    // Any program can name its executable as it likes, with direction marks or a name that
    // fills the column; the name is made safe once, when it is first seen.
    for (const auto& [process_id, name] : read_names()) {
        if (!view.process_names.contains(process_id)) {
            view.process_names.emplace(process_id, sanitize_display_text(name));
        }
    }

    std::vector<TrafficItem> items;
    std::uint64_t total_received = 0;
    std::uint64_t total_sent = 0;
    const std::uint32_t count = snapshot_entry_count(*snapshot);
    for (std::uint32_t i = 0; i < count; ++i) {
        const TrafficSnapshotEntry& entry = snapshot->entries[i];
        if (entry.process_id == 0 || entry.process_id == own_process_id) continue;
        TrafficItem item{entry.process_id, entry.bytes_received, entry.bytes_sent,
                         entry.bytes_received, entry.bytes_sent};
        if (const TrafficSnapshotEntry* before = baseline_entry(baseline, entry.process_id)) {
            item.interval_received =
                difference_or_zero(entry.bytes_received, before->bytes_received);
            item.interval_sent = difference_or_zero(entry.bytes_sent, before->bytes_sent);
        }
        if (live && item.interval_received == 0 && item.interval_sent == 0) continue;
        total_received += item.interval_received;
        total_sent += item.interval_sent;
        items.push_back(item);
    }
    if (newer) view.saved_snapshot = *snapshot;

    model.title = title + L" · Inne procesy ↓ " + format_rate_mbps(total_received, interval) +
                  L" / ↑ " + format_rate_mbps(total_sent, interval);
    std::stable_sort(items.begin(), items.end(), [](const TrafficItem& a, const TrafficItem& b) {
        return a.interval_total() > b.interval_total();
    });

    if (items.empty()) {
        TableRow row;
        row.cells = {kNoRowsCell};
        row.detail = kNoRowsDetail;
        model.rows.push_back(std::move(row));
    }
    for (const TrafficItem& item : items) {
        const auto name = view.process_names.find(item.process_id);
        const bool named = name != view.process_names.end() && !name->second.empty();
        TableRow row;
        row.cells = {named ? name->second : std::wstring(kUnnamedProcess),
                     std::to_wstring(item.process_id),
                     format_rate_mbps(item.interval_received, interval),
                     format_rate_mbps(item.interval_sent, interval),
                     format_decimal((static_cast<double>(item.bytes_received) +
                                     static_cast<double>(item.bytes_sent)) /
                                    1000000.0) +
                         L" MB"};
        row.detail = kRowDetail;
        model.rows.push_back(std::move(row));
    }
    if (live) view.cached_live_table = model;
    return model;
}

}  // namespace tarvisko
