// Version numbers, file versions, hashing and decoding, the staged-file helpers, the private
// folder, the sweep of staging folders and the replacement of the application file.
// clang-format off
#include <windows.h>
#include <aclapi.h>
// clang-format on
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/common/version.h"
#include "support/test_support.h"
#include "update/release.h"
#include "update/runner.h"
#include "update/staging.h"
#include "update/update_test_support.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;
using test::error_text;
using test::file_bytes;
using test::folder_names;
using test::TempDir;
using test::update_test_seams;

TEST(UpdateVersion, ParsesThreePartsWithoutLeadingZeros) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"1.1.18", true},   {"0.0.0", true},   {"10.20.99999", true}, {"1.2", false},
        {"1.2.3.4", false}, {"01.2.3", false}, {"1.01.0", false},     {"1..3", false},
        {"1.2.3 ", false},  {" 1.2.3", false}, {"1.2.100000", false}, {"1.2.-3", false},
        {"1.2.3.", false},  {"", false},       {"a.b.c", false},      {"1.2.00", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(error_text([&] { parse_version(c.text); }),
                  c.valid ? "(no error)" : "Niepoprawny numer wersji.")
            << c.text;
    }
    EXPECT_EQ(parse_version("10.20.99999"), (VersionNumber{10, 20, 99999}));

    struct Newer {
        const char* release;
        const char* current;
        bool newer;
    };
    const Newer comparisons[] = {
        {"1.1.18", "1.1.18", false}, {"1.2.0", "1.1.18", true},  {"1.1.9", "1.1.18", false},
        {"2.0.0", "1.99.99", true},  {"1.1.19", "1.1.18", true}, {"0.9.99", "1.0.0", false},
    };
    for (const Newer& c : comparisons) {
        EXPECT_EQ(is_newer_version({c.release, "", 1}, c.current), c.newer)
            << c.release << " against " << c.current;
    }
}

TEST(UpdateVersion, ReadsTheFixedFileVersionOfExecutables) {
    // The application fixture carries the program's own version resource: it must say what the
    // version constant says, or every update would be refused or repeated.
    EXPECT_EQ(read_file_version(test::beside_test(L"update_app_fixture.exe")),
              parse_version(program_version));
    EXPECT_EQ(read_file_version(test::beside_test(L"update_candidate_fixture.exe")),
              (VersionNumber{1, 2, 0}));
    // The fourth number (1.2.3.4) is ignored.
    EXPECT_EQ(read_file_version(test::beside_test(L"update_version_probe.dll")),
              (VersionNumber{1, 2, 3}));
    // A program without a version resource, and a missing file.
    EXPECT_EQ(error_text([] { read_file_version(own_module_path()); }),
              "Nie można odczytać wersji aplikacji na dysku.");
    EXPECT_EQ(error_text([] { read_file_version(test::beside_test(L"missing.exe")); }),
              "Nie można odczytać wersji aplikacji na dysku.");
}

TEST(UpdateHashing, HashesBytesUnchangedAndDecodesBase64) {
    EXPECT_EQ(sha256_hex_of_bytes(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex_of_bytes("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Raw bytes, NUL and CR LF included: nothing is widened or translated.
    EXPECT_EQ(sha256_hex_of_bytes(std::string("\x00\xff\r\n", 4)),
              "e9489f37fb3051e9efa1dc916004d7274e7b63975e3209708947267f2393a9be");
    EXPECT_EQ(sha256_bytes("abc")[0], 0xba);

    EXPECT_EQ(decode_base64("AP8NCg=="), std::string("\x00\xff\r\n", 4));
    EXPECT_EQ(decode_base64(std::string(8184, 'A') + "AAA="), std::string(6140, '\0'));
    const std::string too_long = std::string(8192, 'A');  // valid base64, over the limit
    for (const std::string& bad : {std::string(), too_long, std::string("@@@@")}) {
        EXPECT_EQ(error_text([&] { decode_base64(bad); }), "Niepoprawne kodowanie podpisu.")
            << bad.size();
    }
}

TEST(UpdateFiles, ReadsWithinLimitsAndWritesWhole) {
    TempDir temp;
    const fs::path file = temp.path() / L"candidate.bin";
    const std::string bytes("MZ\x00\r\n\xff", 6);
    write_staged_file(file, bytes);
    EXPECT_EQ(read_file_limited(file, 6), bytes);
    EXPECT_EQ(error_text([&] { read_file_limited(file, 5); }),
              "Niepoprawny rozmiar pliku aktualizacji.");
    write_staged_file(file, "");
    EXPECT_EQ(error_text([&] { read_file_limited(file, 6); }),
              "Niepoprawny rozmiar pliku aktualizacji.");
    EXPECT_NE(error_text([&] { read_file_limited(temp.path() / L"missing", 6); }).find("file_size"),
              std::string::npos);
    EXPECT_EQ(error_text([&] { write_staged_file(temp.path() / L"no" / L"file", bytes); }),
              "Błąd zapisu przygotowywanej aktualizacji.");
    EXPECT_NE(own_module_path().filename(), L"");
}

class UpdateStagingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        update_test_seams() = {};
        update_test_seams().local_app_data = temp.path() / L"local";
        update_test_seams().trace = temp.path();
        test::use_update_test_seams();
    }
    void TearDown() override { update_test_seams() = {}; }

    TempDir temp;
};

TEST_F(UpdateStagingTest, RootEventNamesAndPrivateFolder) {
    const fs::path root = update_staging_root();
    EXPECT_EQ(root, temp.path() / L"local" / L"QUORVEL-Portable-Updates");
    EXPECT_EQ(update_event_name(root / L"{9C6C1E44-0D2B-4C4B-9B55-3C1D1C6A7E01}"),
              L"Local\\QUORVEL-Update-{9C6C1E44-0D2B-4C4B-9B55-3C1D1C6A7E01}");
    update_test_seams().local_app_data.clear();
    EXPECT_EQ(error_text([] { update_staging_root(); }), "Brak katalogu profilu Windows.");

    const fs::path folder = temp.path() / L"private";
    update_test_seams().elevated = true;
    EXPECT_EQ(error_text([&] { create_private_folder(folder); }),
              "Otwórz aplikację jako zwykły użytkownik, aby ją zaktualizować.");
    EXPECT_FALSE(fs::exists(folder));

    update_test_seams().elevated = false;
    create_private_folder(folder);
    EXPECT_TRUE(fs::is_directory(folder));
    // Full control for the system account and the user, nobody else. (Wine keeps the entries but
    // not the flag that protects them from the parent's, so that is not checked here.)
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &acl, nullptr, &descriptor),
              ERROR_SUCCESS);
    ASSERT_NE(acl, nullptr);
    ASSERT_EQ(acl->AceCount, 2);
    void* system_ace = nullptr;
    ASSERT_TRUE(GetAce(acl, 0, &system_ace));
    EXPECT_TRUE(
        IsWellKnownSid(&static_cast<ACCESS_ALLOWED_ACE*>(system_ace)->SidStart, WinLocalSystemSid));
    LocalFree(descriptor);

    EXPECT_EQ(error_text([&] { create_private_folder(folder); }),
              "Nie można utworzyć prywatnego katalogu instalatora.");
}

TEST_F(UpdateStagingTest, SweepRemovesOnlyAbandonedStagingFolders) {
    // The link farm (tests/update/with-links) holds a staging root with a GUID-named link to a
    // folder outside it; the other entries are made here beside that link.
    const char* farm = std::getenv("TARVISKO_LINK_FARM");
    ASSERT_NE(farm, nullptr) << "run under tests/update/with-links";
    const fs::path outside = test::wine_path(std::string(farm) + "/outside");
    update_test_seams().local_app_data = test::wine_path(std::string(farm) + "/sweep-appdata");
    const fs::path root = update_staging_root();

    struct Entry {
        const wchar_t* name;
        std::vector<const wchar_t*> files;
        int age_in_days;
        bool swept;
    };
    const Entry entries[] = {
        // A runner that finished or gave up left its copy only.
        {L"{11111111-2222-3333-4444-555555555501}", {L"runner.exe"}, 0, true},
        // A runner may still be reading a fresh release.
        {L"{11111111-2222-3333-4444-555555555502}",
         {L"runner.exe", L"release.json", L"candidate.bin"},
         0,
         false},
        {L"{11111111-2222-3333-4444-555555555503}", {L"release.json", L"candidate.bin"}, 0, false},
        // Killed runners and applications leave folders nobody comes back for.
        {L"{11111111-2222-3333-4444-555555555504}",
         {L"runner.exe", L"release.json", L"candidate.bin"},
         2,
         true},
        {L"{11111111-2222-3333-4444-555555555505}", {L"release.json", L"candidate.bin"}, 2, true},
        // Not staging folders, however old or however filled.
        {L"not-a-staging-folder", {L"runner.exe"}, 2, false},
        {L"11111111-2222-3333-4444-555555555506", {L"runner.exe"}, 2, false},
        {L"{11111111-2222-3333-4444-55555555550Z}", {L"runner.exe"}, 2, false},
    };
    for (const Entry& entry : entries) {
        fs::create_directories(root / entry.name);
        for (const wchar_t* file : entry.files) write_staged_file(root / entry.name / file, "x");
        if (entry.age_in_days > 0) test::age_by_days(root / entry.name, entry.age_in_days);
    }
    const std::wstring plain_file = L"{11111111-2222-3333-4444-555555555507}";
    write_staged_file(root / plain_file, "x");
    test::age_by_days(root / plain_file, 2);

    sweep_update_staging();
    for (const Entry& entry : entries) {
        EXPECT_EQ(fs::exists(root / entry.name), !entry.swept) << fs::path(entry.name);
    }
    EXPECT_TRUE(fs::exists(root / plain_file));
    // The link is left alone and nothing behind it is touched.
    EXPECT_TRUE(fs::exists(root / L"{5A0C1E44-0D2B-4C4B-9B55-3C1D1C6A7E01}"));
    EXPECT_EQ(folder_names(outside), std::vector<std::wstring>{L"runner.exe"});

    // A staging root that is itself a link is not looked into; a missing one is no failure.
    update_test_seams().local_app_data = test::wine_path(std::string(farm) + "/linked-appdata");
    sweep_update_staging();
    EXPECT_EQ(folder_names(outside), std::vector<std::wstring>{L"runner.exe"});
    update_test_seams().local_app_data = temp.path() / L"nothing-here";
    sweep_update_staging();
    update_test_seams().local_app_data.clear();
    sweep_update_staging();
}

// Holds the replacement mutex on a thread of its own, as a second runner would.
class MutexHolder {
  public:
    explicit MutexHolder(bool release_at_end) {
        thread_ = std::thread([this, release_at_end] {
            const HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Local\\QUORVEL-Portable-Update");
            std::unique_lock<std::mutex> lock(guard_);
            held_ = true;
            changed_.notify_all();
            if (release_at_end) {
                changed_.wait(lock, [this] { return done_; });
                ReleaseMutex(mutex);
            }
            // Without a release the thread ends owning the mutex: it is abandoned.
            CloseHandle(mutex);
        });
        std::unique_lock<std::mutex> lock(guard_);
        changed_.wait(lock, [this] { return held_; });
    }
    void finish() {
        {
            std::lock_guard<std::mutex> lock(guard_);
            done_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    ~MutexHolder() { finish(); }

  private:
    std::mutex guard_;
    std::condition_variable changed_;
    bool held_ = false;
    bool done_ = false;
    std::thread thread_;
};

TEST_F(UpdateStagingTest, ReplacementLeavesTheOldFileWholeUnlessItSucceeds) {
    const std::string old_bytes = file_bytes(test::beside_test(L"update_app_fixture.exe"));
    const std::string candidate = file_bytes(test::beside_test(L"update_candidate_fixture.exe"));
    ASSERT_FALSE(old_bytes.empty());
    ASSERT_FALSE(candidate.empty());
    const ReleaseInfo release{"1.2.0", sha256_hex_of_bytes(candidate),
                              static_cast<std::uint32_t>(candidate.size())};

    enum class Holder { none, held, abandoned };
    struct Case {
        const char* name;
        ReleaseInfo release;
        Holder holder;
        bool refuse_zone_stream;
        bool refuse_rename;
        const char* expected;
    };
    ReleaseInfo wrong_size = release;
    wrong_size.size -= 1;
    ReleaseInfo wrong_hash = release;
    wrong_hash.sha256 = std::string(64, '0');
    ReleaseInfo same_version = release;
    same_version.version = program_version;
    ReleaseInfo older = release;
    older.version = "1.1.9";
    const Case cases[] = {
        {"wrong size", wrong_size, Holder::none, false, false,
         "Pobrany plik ma inną sumę lub rozmiar."},
        {"wrong hash", wrong_hash, Holder::none, false, false,
         "Pobrany plik ma inną sumę lub rozmiar."},
        {"same version", same_version, Holder::none, false, false,
         "Na dysku znajduje się już ta sama lub nowsza wersja."},
        {"older version", older, Holder::none, false, false,
         "Na dysku znajduje się już ta sama lub nowsza wersja."},
        {"mutex held", release, Holder::held, false, false,
         "Inna kopia programu aktualizuje plik."},
        {"no zone stream", release, Holder::none, true, false,
         "Folder nie obsługuje bezpiecznej aktualizacji Windows."},
        {"rename refused", release, Holder::none, false, true,
         "Windows nie zezwolił na wymianę pliku. Sprawdź uprawnienia do folderu aplikacji."},
        // A runner killed while replacing leaves the mutex abandoned: the next one proceeds.
        {"abandoned mutex", release, Holder::abandoned, false, false, "(no error)"},
        {"success", release, Holder::none, false, false, "(no error)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const fs::path app = folder.path() / L"Tarvisko.exe";
        write_staged_file(app, old_bytes);
        update_test_seams().refuse_zone_stream = c.refuse_zone_stream;
        update_test_seams().refuse_rename = c.refuse_rename;
        update_test_seams().trace = folder.path() / L"trace";
        fs::create_directories(update_test_seams().trace);
        update_test_seams().last_rename_flags = 0;

        std::optional<MutexHolder> holder;
        if (c.holder != Holder::none) holder.emplace(c.holder == Holder::held);
        if (c.holder == Holder::abandoned) holder->finish();
        EXPECT_EQ(error_text([&] { replace_application_file(c.release, candidate, app); }),
                  c.expected);
        holder.reset();

        const bool replaced = std::string(c.expected) == "(no error)";
        EXPECT_EQ(file_bytes(app), replaced ? candidate : old_bytes);
        EXPECT_EQ(folder_names(folder.path()),
                  (std::vector<std::wstring>{L"Tarvisko.exe", L"trace"}));
        if (replaced) {
            EXPECT_EQ(update_test_seams().last_rename_flags,
                      FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS);
            const std::vector<std::wstring> zones = folder_names(update_test_seams().trace);
            ASSERT_EQ(zones.size(), 1u);
            EXPECT_EQ(zones[0].substr(0, 14), L"zone-.quorvel-");
            EXPECT_EQ(file_bytes(update_test_seams().trace / zones[0]),
                      "[ZoneTransfer]\r\nZoneId=3\r\n");
        }
    }
}

}  // namespace
}  // namespace tarvisko
