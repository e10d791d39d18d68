#include "update/staging.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <sddl.h>
// clang-format on

#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "engine/http/portal.h"
#include "update/update_common.h"
#include "update/update_system.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;
using namespace update_detail;

// Opened for reading with only reading shared: nobody can write, rename or delete the file while
// the handle is open.
Handle hold_file(const fs::path& path) {
    Handle file = owned_file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) fail("Windows nie zezwolił na zabezpieczenie pliku instalatora.");
    return file;
}

// A new event of the staging folder; one that exists already belongs to somebody else.
Handle create_update_event(const std::wstring& name, const char* sentence) {
    Handle event = owned_handle(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    if (!event || GetLastError() == ERROR_ALREADY_EXISTS) fail(sentence);
    return event;
}

// Folders last written more than a day ago are left over: a runner reads everything it needs
// before it signals readiness, so removing its files later cannot harm a replacement.
bool written_over_a_day_ago(const fs::path& folder) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(folder.c_str(), GetFileExInfoStandard, &data)) return false;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    constexpr std::uint64_t day = 24ull * 3600 * 10000000;
    return ticks(now) > ticks(data.ftLastWriteTime) &&
           ticks(now) - ticks(data.ftLastWriteTime) > day;
}

// Steps of install_update that run inside the staging folder. Every handle opened here is closed
// when this function ends, normally or not, so that a failure can remove the folder afterwards.
void hand_over(const fs::path& folder, const std::string& description,
               const std::string& candidate) {
    write_staged_file(folder / L"release.json", description);
    write_staged_file(folder / L"candidate.bin", candidate);

    const fs::path app = own_module_path();
    const Handle app_held = hold_file(app);
    const fs::path runner = folder / L"runner.exe";
    if (!CopyFileW(app.c_str(), runner.c_str(), TRUE)) {
        fail("Nie można przygotować programu instalującego.");
    }
    const Handle runner_held = hold_file(runner);
    if (sha256_hex_of_bytes(read_file_limited(runner, update_size_limit)) !=
        sha256_hex_of_bytes(read_file_limited(app, update_size_limit))) {
        fail("Kopia instalatora nie odpowiada uruchomionej aplikacji.");
    }

    const std::wstring event_name = update_event_name(folder);
    const Handle apply = create_update_event(event_name + L"-apply",
                                             "Nie można zabezpieczyć zatwierdzenia instalacji.");
    const Handle ready =
        create_update_event(event_name, "Nie można potwierdzić stanu instalatora.");

    std::wstring command_line =
        L"\"" + runner.wstring() + L"\" --finish-update " + std::to_wstring(GetCurrentProcessId());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!update_system().create_process(runner.c_str(), command_line.data(), nullptr, nullptr,
                                        FALSE, 0, nullptr, folder.c_str(), &startup, &started)) {
        fail("Windows nie uruchomił instalatora.");
    }
    CloseHandle(started.hThread);
    const Handle process = owned_handle(started.hProcess);

    // A runner that gives up ends its process, so the wait ends at once rather than after 15 s.
    const HANDLE waited[] = {ready.get(), process.get()};
    if (update_system().wait_for_objects(2, waited, FALSE, 15000) != WAIT_OBJECT_0) {
        fail("Instalator nie potwierdził gotowości.");
    }
    if (!SetEvent(apply.get())) fail("Nie można zatwierdzić instalacji.");
}

}  // namespace

void install_update(const ReleaseInfo& shown, const std::wstring& origin) {
    const std::string description = download_update_file(origin, false);
    const ReleaseInfo fresh = verify_release_description(description);
    if (fresh.version != shown.version || fresh.sha256 != shown.sha256) {
        fail("Wydanie zmieniło się. Sprawdź aktualizacje ponownie.");
    }
    const std::string candidate = download_update_file(origin, true);
    if (candidate.size() != fresh.size || sha256_hex_of_bytes(candidate) != fresh.sha256) {
        fail("Błąd integralności pobranego pliku.");
    }

    const std::wstring guid_text = new_guid_text();
    const fs::path root = update_staging_root();
    const fs::path folder = root / guid_text;

    std::error_code error;
    fs::create_directories(root, error);
    if (error) throw fs::filesystem_error("create_directories", root, error);
    const DWORD attributes = GetFileAttributesW(root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        fail("Nie można utworzyć katalogu aktualizacji.");
    }
    create_private_folder(folder);
    try {
        hand_over(folder, description, candidate);
    } catch (...) {
        // A runner already started is not stopped: it finds the folder gone and ends by itself.
        remove_update_staging(folder);
        throw;
    }
}

fs::path update_staging_root() {
    PWSTR local = nullptr;
    const HRESULT result =
        update_system().known_folder_path(FOLDERID_LocalAppData, 0, nullptr, &local);
    if (FAILED(result) || local == nullptr || *local == L'\0') {
        CoTaskMemFree(local);
        fail("Brak katalogu profilu Windows.");
    }
    fs::path root = fs::path(local) / L"QUORVEL-Portable-Updates";
    CoTaskMemFree(local);
    return root;
}

std::wstring update_event_name(const fs::path& folder) {
    return L"Local\\QUORVEL-Update-" + folder.filename().wstring();
}

bool is_staging_folder_name(std::wstring_view name) {
    // The brace keeps CLSIDFromString from looking the name up as a program identifier.
    if (name.size() != 38 || name.front() != L'{') return false;
    const std::wstring text(name);
    CLSID parsed{};
    return SUCCEEDED(CLSIDFromString(text.c_str(), &parsed));
}

void create_private_folder(const fs::path& path) {
    HANDLE raw_token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw_token)) {
        fail("Brak informacji o koncie Windows.");
    }
    const Handle token = owned_handle(raw_token);

    TOKEN_ELEVATION elevation{};
    DWORD length = 0;
    if (!update_system().token_information(token.get(), TokenElevation, &elevation,
                                           sizeof elevation, &length) ||
        elevation.TokenIsElevated != 0) {
        fail("Otwórz aplikację jako zwykły użytkownik, aby ją zaktualizować.");
    }

    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &length);
    std::vector<std::uint8_t> user(length == 0 ? 1 : length);
    PWSTR sid_text = nullptr;
    if (length == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), length, &length) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid_text)) {
        fail("Brak identyfikatora konta.");
    }
    const std::wstring descriptor_text =
        L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + std::wstring(sid_text) + L")";
    LocalFree(sid_text);

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            descriptor_text.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        fail("Nie można zabezpieczyć katalogu.");
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const BOOL created = CreateDirectoryW(path.c_str(), &attributes);
    LocalFree(descriptor);
    if (!created) fail("Nie można utworzyć prywatnego katalogu instalatora.");
}

void remove_update_staging(const fs::path& folder) noexcept {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return;
    }
    for (const wchar_t* name : {L"release.json", L"candidate.bin", L"runner.exe"}) {
        DeleteFileW((folder / name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

void sweep_update_staging() noexcept {
    try {
        const fs::path root = update_staging_root();
        // A missing root reads as INVALID_FILE_ATTRIBUTES, which has the reparse bit set too.
        if (GetFileAttributesW(root.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) return;
        std::vector<fs::path> abandoned;
        for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
            const fs::path folder = entry.path();
            if (!is_staging_folder_name(folder.filename().wstring())) continue;
            // A runner that is done or gave up leaves "runner.exe" alone; anything else is kept
            // for a day, since a runner may still be reading it.
            if ((fs::exists(folder / L"runner.exe") && !fs::exists(folder / L"release.json")) ||
                written_over_a_day_ago(folder)) {
                abandoned.push_back(folder);
            }
        }
        for (const fs::path& folder : abandoned) remove_update_staging(folder);
    } catch (...) {
        // The sweep is housekeeping: whatever stops it waits for the next start.
    }
}

std::string read_file_limited(const fs::path& path, std::uintmax_t limit) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) throw fs::filesystem_error("file_size", path, error);
    if (size == 0 || size > limit) fail("Niepoprawny rozmiar pliku aktualizacji.");
    std::ifstream file(path, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    // The file must end where its size said: a byte more means it grew while being read.
    if (!file || file.gcount() != static_cast<std::streamsize>(bytes.size()) ||
        file.peek() != std::ifstream::traits_type::eof()) {
        fail("Błąd odczytu pliku aktualizacji.");
    }
    return bytes;
}

void write_staged_file(const fs::path& path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) fail("Błąd zapisu przygotowywanej aktualizacji.");
}

fs::path own_module_path() {
    std::vector<wchar_t> buffer(32768);
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) fail("Nie można ustalić ścieżki aplikacji.");
    return fs::path(std::wstring(buffer.data(), length));
}

}  // namespace tarvisko
