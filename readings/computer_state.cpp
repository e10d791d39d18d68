#include "readings/computer_state.h"

#include <cwchar>
#include <iterator>
#include <thread>
#include <utility>

#include "engine/common/handle_guard.h"
#include "engine/common/ids.h"
#include "engine/common/text.h"
#include "results/format.h"

namespace tarvisko {

namespace {

constexpr ULONG kSoftwareLoopback = 24;

std::uint64_t filetime_units(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::optional<std::uint32_t> memory_load() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return std::nullopt;
    return static_cast<std::uint32_t>(status.dwMemoryLoad);
}

double megabits_per_second(std::uint64_t bytes, double seconds) {
    return static_cast<double>(bytes) * 8.0 / (seconds * 1'000'000.0);
}

TableRow two_cell_row(std::wstring label, std::wstring value, std::wstring detail) {
    TableRow row;
    row.cells = {std::move(label), std::move(value)};
    row.detail = std::move(detail);
    return row;
}

}  // namespace

std::wstring reading_caption_prefix() { return L"Odczyt " + to_wide(utc_timestamp_now()) + L" · "; }

std::wstring adapter_alias(const MIB_IF_ROW2& row) {
    return {row.Alias, wcsnlen(row.Alias, std::size(row.Alias))};
}

AdapterSnapshot active_adapters(const IpTableCalls& calls) {
    AdapterSnapshot adapters;
    MIB_IF_TABLE2* table = nullptr;
    const DWORD result = calls.get_if_table2(&table);
    HandleGuard<void*> guard(table, calls.free_mib_table);
    if (result != NO_ERROR || table == nullptr) return adapters;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IF_ROW2& row = table->Table[i];
        if (row.OperStatus != IfOperStatusUp || row.Type == kSoftwareLoopback) continue;
        adapters.emplace(row.InterfaceLuid.Value, row);
    }
    return adapters;
}

ProcessorSample read_processor_sample() {
    FILETIME idle{}, kernel{}, user{};
    ProcessorSample sample;
    sample.ok = GetSystemTimes(&idle, &kernel, &user) != FALSE;
    if (sample.ok) {
        sample.idle = filetime_units(idle);
        sample.kernel = filetime_units(kernel);
        sample.user = filetime_units(user);
    }
    return sample;
}

std::optional<double> cpu_load(const ProcessorSample& first, const ProcessorSample& second) {
    if (!first.ok || !second.ok) return std::nullopt;
    const std::uint64_t busy_first = first.kernel + first.user;
    const std::uint64_t busy_second = second.kernel + second.user;
    if (busy_second <= busy_first || second.idle < first.idle) return std::nullopt;
    const double idle = static_cast<double>(second.idle - first.idle);
    const double busy = static_cast<double>(busy_second - busy_first);
    const double load = (1.0 - idle / busy) * 100.0;
    if (load > 100.0) return 100.0;
    if (load < 0.0) return 0.0;
    return load;
}

std::vector<TableRow> adapter_rows(const AdapterSnapshot& first, const AdapterSnapshot& second,
                                   double seconds) {
    std::vector<TableRow> rows;
    for (const auto& [luid, after] : second) {
        const auto before = first.find(luid);
        if (before == first.end()) continue;
        if (after.InOctets < before->second.InOctets || after.OutOctets < before->second.OutOctets)
            continue;
        const double receive =
            megabits_per_second(after.InOctets - before->second.InOctets, seconds);
        const double send =
            megabits_per_second(after.OutOctets - before->second.OutOctets, seconds);
        rows.push_back(two_cell_row(
            L"Ruch · " + adapter_alias(after),
            format_decimal(receive) + L" / " + format_decimal(send) + L" Mb/s",
            L"Średni ruch pobierania i wysyłania tej karty podczas odczytu, w tym komunikacja "
            L"lokalna."));
    }
    return rows;
}

const ReadingClock& steady_reading_clock() {
    static const ReadingClock clock{
        [] { return std::chrono::steady_clock::now(); },
        [](std::chrono::milliseconds span) { std::this_thread::sleep_for(span); }};
    return clock;
}

void sleep_until(const ReadingClock& clock, std::chrono::steady_clock::time_point deadline) {
    for (auto now = clock.now(); now < deadline; now = clock.now()) {
        clock.sleep(std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
    }
}

TableModel computer_state_view(const TableModel& extra, const ReadingClock& clock,
                               const IpTableCalls& calls) {
    const auto started = clock.now();
    const ProcessorSample processor_first = read_processor_sample();
    const AdapterSnapshot adapters_first = active_adapters(calls);
    sleep_until(clock, started + kReadingWindow);
    const ProcessorSample processor_second = read_processor_sample();
    const AdapterSnapshot adapters_second = active_adapters(calls);
    const double seconds = std::chrono::duration<double>(clock.now() - started).count();

    TableModel model;
    model.title = reading_caption_prefix() +
                  L"Stan komputera. Ruch poszczególnych procesów można włączyć w Podsumowaniu.";
    model.columns = {{L"Parametr", 253}, {L"Wartość", 275}};
    model.kind = 0;

    const auto memory = memory_load();
    model.rows.push_back(two_cell_row(
        L"RAM teraz", memory ? std::to_wstring(*memory) + L" % zajęte" : L"Brak odczytu",
        L"Procent zajętej pamięci fizycznej zgłoszony przez Windows."));
    const auto load = cpu_load(processor_first, processor_second);
    model.rows.push_back(two_cell_row(L"CPU teraz",
                                      load ? format_decimal(*load) + L" %" : L"Brak odczytu",
                                      L"Łączne użycie procesora podczas odczytu."));
    for (TableRow& row : adapter_rows(adapters_first, adapters_second, seconds)) {
        model.rows.push_back(std::move(row));
    }
    model.rows.insert(model.rows.end(), extra.rows.begin(), extra.rows.end());
    return model;
}

}  // namespace tarvisko
