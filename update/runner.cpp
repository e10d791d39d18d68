#include "update/runner.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "update/failure_text.h"
#include "update/staging.h"
#include "update/update_common.h"
#include "update/update_system.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;
using namespace update_detail;
// FileRenameInfoEx; MinGW's headers hide it behind a version test that _WIN32_WINNT never passes.
constexpr auto file_rename_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// Windows paths compare without regard to case.
bool same_path(const fs::path& a, const fs::path& b) {
    const std::wstring left = a.lexically_normal().wstring();
    const std::wstring right = b.lexically_normal().wstring();
    return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

std::string file_hash(const fs::path& path) {
    return sha256_hex_of_bytes(read_file_limited(path, update_size_limit));
}

// What the runner has reached, for the decisions after it ends: once it has said it is ready, the
// staged release is its own to remove; once the application has handed over, the user is told of
// a failure.
struct RunnerProgress {
    fs::path folder;
    bool ready = false;
    bool applying = false;
};

int finish_update(std::uint32_t pid, RunnerProgress& progress) {
    const fs::path runner = own_module_path();
    const fs::path folder = runner.parent_path();
    if (!same_path(runner.filename(), L"runner.exe") ||
        !same_path(folder.parent_path(), update_staging_root()) ||
        !is_staging_folder_name(folder.filename().wstring())) {
        fail("Nieprawidłowy katalog aktualizacji.");
    }
    progress.folder = folder;

    const std::wstring event_name = update_event_name(folder);
    const Handle application =
        owned_handle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    const Handle ready = owned_handle(OpenEventW(EVENT_MODIFY_STATE, FALSE, event_name.c_str()));
    const Handle apply =
        owned_handle(OpenEventW(SYNCHRONIZE, FALSE, (event_name + L"-apply").c_str()));
    std::vector<wchar_t> image(32768);
    DWORD image_length = static_cast<DWORD>(image.size());
    if (!application || !ready || !apply ||
        !QueryFullProcessImageNameW(application.get(), 0, image.data(), &image_length)) {
        fail("Program źródłowy jest niedostępny.");
    }
    const fs::path app(std::wstring(image.data(), image_length));

    const std::string own_hash = file_hash(runner);
    if (file_hash(app) != own_hash) fail("Plik na dysku został zmieniony.");
    const ReleaseInfo release =
        verify_release_description(read_file_limited(folder / L"release.json", 8192));
    const std::string candidate = read_file_limited(folder / L"candidate.bin", update_size_limit);
    if (candidate.size() != release.size || sha256_hex_of_bytes(candidate) != release.sha256 ||
        !(parse_version(release.version) > read_file_version(app))) {
        fail("Niepoprawny plik lub wersja aktualizacji.");
    }

    if (!SetEvent(ready.get())) fail("Nie można potwierdzić gotowości aktualizacji.");
    progress.ready = true;
    const HANDLE waited[] = {apply.get(), application.get()};
    if (WaitForMultipleObjects(2, waited, FALSE, 15000) != WAIT_OBJECT_0) return 1;

    progress.applying = true;
    // The application closes its window in the orderly way after handing over; however long
    // that takes, its file cannot be replaced before its process is gone.
    if (WaitForSingleObject(application.get(), INFINITE) != WAIT_OBJECT_0) {
        fail("Nie można potwierdzić zamknięcia programu.");
    }
    if (file_hash(app) != own_hash) fail("Plik aplikacji został zmieniony podczas oczekiwania.");
    replace_application_file(release, candidate, app);
    remove_update_staging(folder);

    const std::wstring app_folder = app.parent_path().wstring();
    const HINSTANCE started = update_system().shell_execute(nullptr, L"open", app.c_str(), nullptr,
                                                            app_folder.c_str(), SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(started) > 32) return 0;
    update_system().message_box(
        nullptr, L"Nowa wersja jest już zapisana. Otwórz aplikację z dotychczasowego skrótu.",
        L"Windows nie uruchomił aktualizacji", MB_OK | MB_ICONWARNING);
    return 1;
}

// The candidate under a temporary name beside the application, marked as coming from the
// internet, then renamed over the application in one step.
void place_candidate(const fs::path& temp, std::string_view candidate, const fs::path& app) {
    const Handle file =
        owned_file(CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) fail("Nie można zapisać aktualizacji w folderze aplikacji.");

    DWORD written = 0;
    if (!WriteFile(file.get(), candidate.data(), static_cast<DWORD>(candidate.size()), &written,
                   nullptr) ||
        written != candidate.size() || !FlushFileBuffers(file.get())) {
        fail("Błąd zapisu pobranego pliku.");
    }

    {
        const Handle zone = owned_file(update_system().create_zone_stream(
            (temp.wstring() + L":Zone.Identifier").c_str(), GENERIC_WRITE,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!zone) fail("Folder nie obsługuje bezpiecznej aktualizacji Windows.");
        static constexpr char mark[] = "[ZoneTransfer]\r\nZoneId=3\r\n";
        constexpr DWORD mark_size = sizeof mark - 1;
        if (!WriteFile(zone.get(), mark, mark_size, &written, nullptr) || written != mark_size) {
            fail("Nie można zapisać strefy zabezpieczeń pobranego pliku.");
        }
    }

    // Replace-if-exists with POSIX semantics: readers see the old file or the new one, never a
    // mixture, and a reader holding the old one open does not stop the rename.
    const std::wstring target = app.wstring();
    const std::size_t bytes =
        offsetof(FILE_RENAME_INFO, FileName) + (target.size() + 1) * sizeof(wchar_t);
    std::vector<std::uint64_t> buffer((bytes + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    if (!update_system().set_file_information(file.get(), file_rename_info_ex, rename,
                                              static_cast<DWORD>(bytes))) {
        fail("Windows nie zezwolił na wymianę pliku. Sprawdź uprawnienia do folderu aplikacji.");
    }
}

}  // namespace

int run_finish_update(std::uint32_t application_pid) {
    RunnerProgress progress;
    int code = 1;
    try {
        code = finish_update(application_pid, progress);
    } catch (const std::exception& error) {
        if (progress.applying) {
            // The file system's and the JSON library's own texts are no message for the user.
            update_system().message_box(nullptr, update_failure_line(error).c_str(),
                                        L"Aktualizacja nie została zastosowana",
                                        MB_OK | MB_ICONERROR);
        }
    } catch (...) {
    }
    // Whatever ended the runner after it said it was ready, nobody else will use the staged
    // release: remove it now rather than leave up to 32 MiB behind. "runner.exe" stays while it
    // runs and goes with the next sweep.
    if (code != 0 && progress.ready) remove_update_staging(progress.folder);
    return code;
}

void replace_application_file(const ReleaseInfo& release, std::string_view candidate,
                              const fs::path& app) {
    if (candidate.size() != release.size || sha256_hex_of_bytes(candidate) != release.sha256) {
        fail("Pobrany plik ma inną sumę lub rozmiar.");
    }
    const std::wstring guid_text = new_guid_text();
    const fs::path temp = app.parent_path() / (L".quorvel-" + guid_text + L".tmp");

    const Handle mutex =
        owned_handle(CreateMutexW(nullptr, FALSE, L"Local\\QUORVEL-Portable-Update"));
    if (!mutex) fail("Nie można zabezpieczyć operacji aktualizacji.");
    const DWORD taken = WaitForSingleObject(mutex.get(), 0);
    if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) {
        fail("Inna kopia programu aktualizuje plik.");
    }
    // Declared after `mutex`, so it is released before its handle is closed.
    const Handle owned(mutex.get(), [](HANDLE h) { ReleaseMutex(h); });

    if (!(parse_version(release.version) > read_file_version(app))) {
        fail("Na dysku znajduje się już ta sama lub nowsza wersja.");
    }
    try {
        place_candidate(temp, candidate, app);
    } catch (...) {
        // place_candidate has closed its handle; the rename, the last step, did not happen.
        DeleteFileW(temp.c_str());
        throw;
    }
}

}  // namespace tarvisko
