#include "app/report_list.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "app/app_state.h"
#include "app/jobs.h"
#include "app/messages.h"
#include "app/results_list.h"
#include "app/status_texts.h"
#include "engine/common/handle_guard.h"
#include "engine/common/text.h"
#include "results/dashboard.h"
#include "results/format.h"
#include "results/report_files.h"

namespace tarvisko {

namespace {

bool is_cancelled(const nlohmann::json& document, const nlohmann::json& session) {
    if (document.contains("state")) return document["state"] == "cancelled";
    const nlohmann::json& pings = json_member_or_null(session, "host_pings");
    return json_member_or_null(session, "error") == "cancelled" ||
           json_member_or_null(json_member_or_null(pings, "gateway"), "reason") == "cancelled" ||
           json_member_or_null(json_member_or_null(pings, "node"), "reason") == "cancelled";
}

bool is_completed(const nlohmann::json& document) {
    if (document.contains("state")) return document["state"] == "completed";
    return document.contains("throughput") && !build_results_view(document).partial;
}

std::wstring target_cell(const nlohmann::json& document, const nlohmann::json& session) {
    const nlohmann::json& target_name =
        json_member_or_null(json_member_or_null(document, "measurement"), "target_name");
    if (target_name.is_string()) return to_wide(target_name.get<std::string>());
    const nlohmann::json& peer = json_member_or_null(session, "peer");
    if (peer.is_string()) return to_wide(peer.get<std::string>());
    return L"—";
}

std::vector<TableColumn> report_list_columns(int page) {
    if (page == 9) {
        return {{L"Czas rozpoczęcia UTC", 194},
                {L"Test", 142},
                {L"Sesja", 220},
                {L"Stan", 132},
                {L"Cel", 175}};
    }
    return {{L"Czas rozpoczęcia UTC", 194},
            {L"Raport", 142},
            {L"Sesja", 220},
            {L"Pobieranie", 98},
            {L"Wysyłanie", 98},
            {L"Ping / próbki", 105}};
}

void close_find(HANDLE find) { FindClose(find); }

// What a file of the folder gives both lists; none when it cannot be opened now (it is tried
// again at the next reading). A document that is not a report is kept as an entry without rows,
// so it is not parsed again while it stays as it is.
std::optional<ReportListEntry> read_entry(const std::filesystem::path& path,
                                          ReportFileStamp stamp) {
    ReportListEntry entry;
    entry.stamp = stamp;
    try {
        const std::optional<std::string> text = read_report_file_within_cap(path);
        if (!text) return std::nullopt;
        const nlohmann::json document = parse_report_text(*text);
        entry.history_row = report_list_row(9, document);
        entry.report_row = report_list_row(10, document);
    } catch (const std::exception&) {
        // Above the size cap (never read), not JSON, nested too deep, or a read that failed: left
        // out without a message, as the lists leave out every file they cannot show.
    }
    return entry;
}

void report_list_job(std::stop_token stop, HWND window, std::filesystem::path folder,
                     std::map<std::wstring, ReportFileStamp> known) {
    std::unique_ptr<ReportListReading> reading;
    try {
        if (std::optional<ReportListReading> done = read_report_list(folder, known, stop)) {
            reading = std::make_unique<ReportListReading>(std::move(*done));
        }
    } catch (const std::exception& error) {
        reading = std::make_unique<ReportListReading>();
        reading->folder = folder;
        reading->failure = to_wide(error.what());
    }
    // Posted also when stopped (without a record), so that the window never waits for it.
    if (PostMessageW(window, report_list_ready, 0, reinterpret_cast<LPARAM>(reading.get())) != 0) {
        reading.release();  // the window deletes it
    }
}

}  // namespace

std::optional<TableRow> report_list_row(int page, const nlohmann::json& document) {
    if (!document.is_object()) return std::nullopt;
    try {
        const nlohmann::json& session =
            document.contains("throughput") ? document["throughput"] : document;
        const std::string session_id = session.value("session_id", std::string());
        if (session_id.empty()) return std::nullopt;

        std::string label = "Pełny test";
        const nlohmann::json& measurement = json_member_or_null(document, "measurement");
        if (measurement.is_object()) {
            label = measurement.contains("profile_name")
                        ? measurement["profile_name"].get<std::string>()
                        : measurement.value("purpose", std::string());
        }

        TableRow row;
        row.cells = {to_wide(session.value("started_at", std::string())), to_wide(label),
                     to_wide(session_id)};
        if (page == 9) {
            row.cells.push_back(is_cancelled(document, session) ? L"Przerwano"
                                : is_completed(document)        ? L"Zakończono"
                                                                : L"Częściowy");
            row.cells.push_back(target_cell(document, session));
        } else if (document.contains("throughput")) {
            const SummaryModel model = build_results_view(document);
            row.cells.push_back(value_with_suffix(model.tiles, 0, L" Mb/s"));
            row.cells.push_back(value_with_suffix(model.tiles, 1, L" Mb/s"));
            row.cells.push_back(value_with_suffix(model.tiles, 2, L" ms"));
        } else {
            const nlohmann::json& samples = json_member_or_null(document, "mtr_samples");
            const std::size_t count = samples.is_array() ? samples.size() : 0;
            row.cells.push_back(L"—");
            row.cells.push_back(L"—");
            row.cells.push_back(std::to_wstring(count) + L" próbek");
        }
        row.detail = json_member_or_null(document, "synchronized") == true
                         ? L"Serwer potwierdził synchronizację raportu."
                         : L"Zapis lokalny w profilu komputera.";
        return row;
    } catch (const nlohmann::json::exception&) {
        // A member of an unexpected type: this file is left out, the others are listed.
        return std::nullopt;
    }
}

std::optional<ReportListReading> read_report_list(
    const std::filesystem::path& folder, const std::map<std::wstring, ReportFileStamp>& known,
    std::stop_token stop) {
    ReportListReading reading;
    reading.folder = folder;
    // One call per file gives its name, size and last-write time: the listing of a folder that
    // has not changed costs no file opened. NTFS brings a directory entry's size and times up to
    // date when the file's last handle closes; the program's reports arrive whole by a move
    // (write_file_atomically), so the entry it lists is the file's own.
    WIN32_FIND_DATAW found{};
    HandleGuard<HANDLE> find(
        FindFirstFileExW((folder / L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                         nullptr, FIND_FIRST_EX_LARGE_FETCH),
        close_find, INVALID_HANDLE_VALUE);
    if (!find) return reading;
    do {
        if (stop.stop_requested()) return std::nullopt;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        const std::wstring name = found.cFileName;
        // Exactly ".json": the pattern of the listing would also match short 8.3 names.
        if (std::filesystem::path(name).extension() != L".json") continue;
        const ReportFileStamp stamp{
            (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
            (static_cast<std::uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                found.ftLastWriteTime.dwLowDateTime};
        // A link's own stamp says nothing of the file it names: such an entry is always read.
        const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        const auto held = known.find(name);
        if (!link && held != known.end() && held->second == stamp) {
            reading.unchanged.push_back(name);
            continue;
        }
        if (std::optional<ReportListEntry> entry = read_entry(folder / name, stamp)) {
            reading.read.emplace(name, std::move(*entry));
        }
    } while (FindNextFileW(find.get(), &found));
    return reading;
}

bool merge_report_list(ReportListCache& cache, ReportListReading reading) {
    const bool same_folder = cache.folder == reading.folder;
    const std::size_t held = cache.entries.size();
    std::map<std::wstring, ReportListEntry> entries;
    if (same_folder) {
        for (const std::wstring& name : reading.unchanged) {
            auto node = cache.entries.extract(name);
            if (!node.empty()) entries.insert(std::move(node));
        }
    }
    const bool changed = !same_folder || !reading.read.empty() || entries.size() != held;
    for (auto& [name, entry] : reading.read) entries.insert_or_assign(name, std::move(entry));
    cache.folder = std::move(reading.folder);
    cache.entries = std::move(entries);
    return changed;
}

TableModel report_list_table(int page, const ReportListCache& cache,
                             const std::filesystem::path& folder) {
    TableModel table;
    table.title = page == 9 ? L"Dziennik wykonanych i przerwanych prób. Enter otwiera zapis."
                            : L"Zestawienie wyników zapisanych raportów. Enter otwiera raport.";
    table.columns = report_list_columns(page);
    table.kind = 1;
    if (folder.empty() || cache.folder != folder) return table;
    for (const auto& [name, entry] : cache.entries) {
        const std::optional<TableRow>& row = page == 9 ? entry.history_row : entry.report_row;
        if (row) table.rows.push_back(*row);
    }
    // Newest first; rows of one start time stay in the order of their file names.
    std::stable_sort(table.rows.begin(), table.rows.end(),
                     [](const TableRow& a, const TableRow& b) { return a.cells[0] > b.cells[0]; });
    return table;
}

void start_report_list_reading(HWND window, const std::filesystem::path& folder) {
    MainWindowState& state = main_window_state;
    ReportListCache& cache = state.report_list;
    set_view_message(state, L"Odczytywanie zapisanych raportów…");
    if (cache.reading) {
        cache.read_again = folder;
        return;
    }
    // The job gets the stamps of what the window holds, never the cache itself.
    std::map<std::wstring, ReportFileStamp> known;
    if (cache.folder == folder) {
        for (const auto& [name, entry] : cache.entries) known.emplace(name, entry.stamp);
    }
    cache.reading = true;
    start_window_job(
        report_list_slot,
        [window, folder, known = std::move(known)](std::stop_token stop) {
            report_list_job(stop, window, folder, known);
        },
        [&cache] { cache.reading = false; });
}

void take_report_list_reading(HWND window, std::unique_ptr<ReportListReading> reading) {
    if (report_list_slot.joinable()) report_list_slot.join();
    MainWindowState& state = main_window_state;
    ReportListCache& cache = state.report_list;
    cache.reading = false;
    std::filesystem::path again = std::exchange(cache.read_again, {});
    if (close_requested) return;
    std::wstring failure;
    bool changed = true;
    if (reading) {
        if (reading->failure.empty()) {
            changed = merge_report_list(cache, std::move(*reading));
        } else {
            failure = std::move(reading->failure);
        }
    }
    const int page = state.current_page;
    if ((page != 9 && page != 10) || !state.table_view_shown) return;
    // A switch while this reading ran may want another folder (another client token): its
    // rows, if any, show now, and the reading of that folder follows.
    const std::filesystem::path& shown = again.empty() ? cache.folder : again;
    TableModel table = report_list_table(page, cache, shown);
    if (changed || !again.empty() || !failure.empty()) {
        apply_table_model(state, std::move(table));
    } else {
        // The rows on show are the folder's as it is: only the title changes back, and a sort
        // the user chose meanwhile stays.
        set_view_message(state, table.title);
    }
    if (!failure.empty()) set_view_message(state, failure);
    if (!again.empty()) start_report_list_reading(window, again);
}

}  // namespace tarvisko
