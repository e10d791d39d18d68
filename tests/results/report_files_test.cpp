#include "results/report_files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/common/handle_guard.h"
#include "engine/common/ids.h"
#include "engine/common/system.h"
#include "engine/common/text.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string bytes_of(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "(missing)";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
fs::path temporary_of(const fs::path& path, DWORD pid = GetCurrentProcessId()) {
    fs::path temporary = path;
    temporary += "." + std::to_string(pid) + ".tmp";
    return temporary;
}
// Every name in the folder, sorted.
std::set<std::string> names_in(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(AtomicWrite, WritesTheExactBytesAndReplacesTheFile) {
    test::TempDir temp;
    const fs::path path = temp.path() / L"raport-żółw.json";
    const std::string first("{\"a\":\"zażółć\"}\0tail", 20);
    write_file_atomically(path, first);
    EXPECT_EQ(bytes_of(path), first);
    write_file_atomically(path, "{}");
    EXPECT_EQ(bytes_of(path), "{}");
    write_file_atomically(path, "");
    EXPECT_EQ(bytes_of(path), "");
    EXPECT_EQ(names_in(temp.path()), std::set<std::string>{path.filename().string()});
}

TEST(AtomicWrite, AFailedStreamOrMoveOrFlushLeavesTheTargetAsItWas) {
    test::TempDir temp;
    const fs::path path = temp.path() / "last-report.json";
    test::write_file(path, "old");

    // A folder where the temporary file must go: the stream fails as the stream library says.
    fs::create_directory(temporary_of(path));
    EXPECT_THROW(write_file_atomically(path, "new"), std::ios_base::failure);
    EXPECT_EQ(bytes_of(path), "old");
    fs::remove(temporary_of(path));

    // A folder at the target: the move fails, and nothing is left behind.
    const fs::path folder = temp.path() / "reports.json";
    fs::create_directory(folder);
    test::write_file(folder / "inside", "kept");
    EXPECT_EQ(test::error_text([&] { write_file_atomically(folder, "new"); }),
              "local_report_write_failed");
    EXPECT_FALSE(fs::exists(temporary_of(folder)));
    EXPECT_EQ(bytes_of(folder / "inside"), "kept");

    // The disk refuses the flush: the file must not be moved into place.
    AtomicWriteCalls& calls = atomic_write_calls();
    const AtomicWriteCalls real = calls;
    calls.flush = [](HANDLE) -> BOOL {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    };
    const std::string error = test::error_text([&] { write_file_atomically(path, "new"); });
    calls = real;
    EXPECT_EQ(error, "local_report_write_failed");
    EXPECT_EQ(bytes_of(path), "old");
    EXPECT_EQ(names_in(temp.path()), (std::set<std::string>{"last-report.json", "reports.json"}));
}

TEST(ReportId, LengthAndCharacterSetOnly) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"0f0e0d0c-0b0a-4908-8706-050403020100", true},
        {"0F0E0D0C-0B0A-4908-8706-05040302ABCD", true},
        {"------------------------------------", true},
        {"0f0e0d0c0b0a49088706050403020100----", true},
        {"0f0e0d0c-0b0a-4908-8706-05040302010", false},
        {"0f0e0d0c-0b0a-4908-8706-0504030201000", false},
        {"0f0e0d0c-0b0a-4908-8706 050403020100", false},
        {"0f0e0d0c-0b0a-4908-8706-05040302010g", false},
        {"..\\..\\..\\..\\..\\..\\..\\..\\Windows\\abcd", false},
        {"", false},
    };
    test::TempDir temp;
    for (const auto& [id, valid] : cases) {
        SCOPED_TRACE(id);
        EXPECT_EQ(is_report_id(id), valid);
        if (valid) {
            EXPECT_EQ(report_archive_path(temp.path(), id), temp.path() / (id + ".json"));
        } else {
            EXPECT_EQ(test::error_text([&] { report_archive_path(temp.path(), id); }),
                      "invalid_local_report_id");
        }
    }
}

const std::string first_id = "0f0e0d0c-0b0a-4908-8706-050403020100";
const std::string second_id = "A0B1C2D3-E4F5-0617-2839-4A5B6C7D8E9F";

json report_of(const std::string& id, const std::string& note = "pierwszy") {
    return {{"throughput", {{"session_id", id}, {"note", note}}}, {"synchronized", false}};
}

TEST(ArchiveReport, WritesOnceUnderTheSessionId) {
    test::TempDir temp;
    archive_report(temp.path(), report_of(first_id), "first");
    EXPECT_EQ(bytes_of(temp.path() / (first_id + ".json")), "first");
    archive_report(temp.path(), report_of(first_id), "again");
    EXPECT_EQ(bytes_of(temp.path() / (first_id + ".json")), "first");
    // A folder under the name counts as present too.
    fs::create_directory(temp.path() / (second_id + ".json"));
    archive_report(temp.path(), report_of(second_id), "second");
    EXPECT_TRUE(fs::is_directory(temp.path() / (second_id + ".json")));

    EXPECT_NE(test::error_text([&] {
                  archive_report(temp.path(), {{"throughput", json::object()}}, "x");
              }).find("key 'session_id' not found"),
              std::string::npos);
    EXPECT_NE(test::error_text([&] {
                  archive_report(temp.path(), {{"throughput", {{"session_id", 7}}}}, "x");
              }).find("type must be string"),
              std::string::npos);
    EXPECT_EQ(test::error_text([&] { archive_report(temp.path(), report_of("x"), "x"); }),
              "invalid_local_report_id");
}

TEST(StoreReport, FirstAndSecondRun) {
    test::TempDir temp;
    const fs::path data = temp.path() / "data" / "0123";
    store_report(data, report_of(first_id, "zażółć"));
    // Compact, keys in order, non-ASCII as raw UTF-8, no byte-order mark, no line end.
    const std::string first_text =
        "{\"synchronized\":false,\"throughput\":{\"note\":\"zażółć\","
        "\"session_id\":\"" +
        first_id + "\"}}";
    EXPECT_EQ(bytes_of(data / "last-report.json"), first_text);
    EXPECT_EQ(bytes_of(data / "reports" / (first_id + ".json")), first_text);

    // The earlier archive is not rewritten, even when the file changed meanwhile: the archive
    // keeps what was stored first.
    test::write_file(data / "last-report.json",
                     "{\"throughput\": {\"session_id\": \"" + first_id + "\"}}");
    store_report(data, report_of(second_id));
    EXPECT_EQ(bytes_of(data / "reports" / (first_id + ".json")), first_text);
    EXPECT_EQ(bytes_of(data / "reports" / (second_id + ".json")), report_of(second_id).dump());
    EXPECT_EQ(bytes_of(data / "last-report.json"), report_of(second_id).dump());
    EXPECT_EQ(names_in(data / "reports"),
              (std::set<std::string>{first_id + ".json", second_id + ".json"}));

    // An earlier report with an id but no archive yet is archived with its exact bytes.
    const std::string third_id = "11111111-2222-3333-4444-555555555555";
    const std::string spaced = "{ \"throughput\" : { \"session_id\" : \"" + third_id + "\" } }\n";
    test::write_file(data / "last-report.json", spaced);
    store_report(data, report_of(first_id));
    EXPECT_EQ(bytes_of(data / "reports" / (third_id + ".json")), spaced);
}

TEST(StoreReport, AnEarlierReportThatCannotBeArchivedIsSetAsideAndTheNewOneStored) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* sha256;  // over the UTF-16LE form, invalid UTF-8 as U+FFFD
    };
    const std::vector<Case> cases = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"truncated", "{\"throughput\":{\"session_id\":\"0f0e0d0c-0b0a-4908-8706-05040302",
         "93cf0672b0fe6338c184f2bbe1b06c78a02661d3052d57e87d6f7e37e43d4c51"},
        {"an array", "[{\"throughput\":{\"session_id\":\"0f0e0d0c-0b0a-4908-8706-050403020100\"}}]",
         "4e33a18c07d6676b8973391dbdd518f97710871048d99a99ae09f7c11fde258d"},
        {"no id", "{\"throughput\":{\"error\":null},\"synchronized\":true}",
         "186f8b1040e6bc486032a60edb0b1cebfd58dc633d5ba3a0cc43cfb3a02292ac"},
        {"invalid UTF-8",
         "{\"throughput\":{\"session_id\":\"0f0e0d0c-0b0a-4908-8706-050403020100\","
         "\"node_id\":\"\xff\"}}",
         "b6d03b644e2540c1b197dc2d0875bcb07e2577ecf84efe79ee9a1a2dae2c78f2"},
        {"nested 100,000 deep", std::string(100000, '['),
         "8f16f5710d55d1ce1a9ba58813d0f1607cd16431b779e961f608cce58e628a79"},
        // Ids that are present but could name no archive file: these used to end the store
        // before the new report was written, at every later test again.
        {"a short id", "{\"throughput\":{\"session_id\":\"0f0e0d0c\"}}",
         "abbb093f243818d7277da3029beca077bdb215b9534e327300250cad520fceee"},
        {"an id leading out of the folder",
         R"({"throughput":{"session_id":"..\\..\\..\\..\\..\\..\\..\\..\\Windows\\abcd"}})",
         "052cbbfabb147f209c18a6b7f71e8915ef041bf91db7665a6af5bc870bfdf525"},
        {"a numeric id", "{\"throughput\":{\"session_id\":12345}}",
         "428e29c439d3d8b000ae649fef0758b47b6a8fad6e877dc4865e951d22bb5dba"},
    };
    const json fresh = report_of(second_id, "zażółć");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir temp;
        test::write_file(temp.path() / "last-report.json", c.bytes);
        store_report(temp.path(), fresh);
        const std::string aside = std::string("unreadable-") + c.sha256 + ".json";
        EXPECT_EQ(names_in(temp.path() / "reports"),
                  (std::set<std::string>{aside, second_id + ".json"}));
        EXPECT_EQ(bytes_of(temp.path() / "reports" / aside), c.bytes);
        EXPECT_EQ(bytes_of(temp.path() / "last-report.json"), fresh.dump());
        // The same content again replaces its copy under the same name.
        test::write_file(temp.path() / "last-report.json", c.bytes);
        store_report(temp.path(), fresh);
        EXPECT_EQ(names_in(temp.path() / "reports").size(), 2u);
    }
}

TEST(StoreReport, FailuresEndTheStoreAndKeepWhatWasThere) {
    test::TempDir temp;
    test::write_file(temp.path() / "reports", "a file where the folder belongs");
    test::write_file(temp.path() / "last-report.json", "old");
    EXPECT_NE(test::error_text([&] {
                  store_report(temp.path(), report_of(first_id));
              }).find("filesystem error: create_directories: "),
              std::string::npos);
    EXPECT_EQ(bytes_of(temp.path() / "last-report.json"), "old");

    test::TempDir other;
    test::write_file(other.path() / "last-report.json", report_of(first_id).dump());
    EXPECT_EQ(test::error_text([&] { store_report(other.path(), report_of("not-an-id")); }),
              "invalid_local_report_id");
    EXPECT_EQ(bytes_of(other.path() / "last-report.json"), report_of(first_id).dump());
    // Invalid UTF-8 in the new report is refused by the serialiser, not written.
    json broken = report_of(second_id);
    broken["throughput"]["note"] = std::string("\xff");
    EXPECT_NE(test::error_text([&] { store_report(other.path(), broken); }).find("type_error.316"),
              std::string::npos);
    EXPECT_EQ(bytes_of(other.path() / "last-report.json"), report_of(first_id).dump());
}

// Two documents of different sizes, large enough that a write takes a while.
std::string crash_document(char fill, std::size_t size) {
    return json{{"throughput", {{"session_id", first_id}, {"pad", std::string(size, fill)}}},
                {"synchronized", false}}
        .dump();
}
const std::string document_a = crash_document('a', 3u << 20);
const std::string document_b = crash_document('b', 2u << 20);

TEST(AbandonedTemporaryFiles, OnlyTheWritersPatternOfAProcessThatIsGone) {
    test::TempDir temp;
    // No process can have this id: Windows ids are small multiples of 4.
    const std::string gone = "4294967292";
    const std::string mine = std::to_string(GetCurrentProcessId());
    const std::vector<std::string> removed = {
        "last-report.json." + gone + ".tmp",
        "games-" + std::string(64, 'a') + ".json." + gone + ".tmp",
        "unreadable-x.json." + gone + ".tmp",
    };
    const std::vector<std::string> kept = {
        "last-report.json." + mine + ".tmp",  // a running writer
        "last-report.json",
        "notes.txt." + gone + ".tmp",
        ".json." + gone + ".tmp",
        "last-report.json.0" + gone + ".tmp",
        "last-report.json.0.tmp",
        "last-report.json.99999999999.tmp",
        "last-report.json.4294967296.tmp",
        "last-report.json.12a.tmp",
        "last-report.json." + gone + ".tmp.bak",
        "last-report.json..tmp",
    };
    for (const auto& name : removed) test::write_file(temp.path() / name, "x");
    for (const auto& name : kept) test::write_file(temp.path() / name, "x");
    // A folder of that name, and a file of the pattern one level down, are not its business.
    fs::create_directories(temp.path() / ("folder.json." + gone + ".tmp"));
    fs::create_directories(temp.path() / "reports");
    test::write_file(temp.path() / "reports" / removed[0], "x");

    remove_abandoned_temporary_files(temp.path());
    std::set<std::string> expected(kept.begin(), kept.end());
    expected.insert("folder.json." + gone + ".tmp");
    expected.insert("reports");
    EXPECT_EQ(names_in(temp.path()), expected);
    EXPECT_TRUE(fs::exists(temp.path() / "reports" / removed[0]));

    EXPECT_TRUE(process_may_run(GetCurrentProcessId()));
    EXPECT_FALSE(process_may_run(4294967292u));
    remove_abandoned_temporary_files(temp.path() / "missing");  // no folder: nothing happens
}

// Child: writes A, says so, then writes B and A alternately over one path until it is killed.
int run_atomic_writer() {
    const fs::path path = read_environment_variable(L"TARVISKO_ATOMIC_WRITER_PATH");
    const std::wstring ready_name = read_environment_variable(L"TARVISKO_ATOMIC_WRITER_READY");
    write_file_atomically(path, document_a);
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, ready_name.c_str());
    if (ready == nullptr || !SetEvent(ready)) return 3;
    for (;;) {
        write_file_atomically(path, document_b);
        write_file_atomically(path, document_a);
    }
}

TEST(ReportFileCap, ReadsUpToTheCapAndNeverPastIt) {
    test::TempDir dir;
    const fs::path at_cap = dir.path() / "at-cap.json";
    test::make_sized_file(at_cap, report_file_size_cap, "{");
    const std::optional<std::string> text = read_report_file_within_cap(at_cap);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), report_file_size_cap);
    EXPECT_EQ(text->front(), '{');

    for (const std::uint64_t size : {report_file_size_cap + 1, std::uint64_t{2} << 30}) {
        SCOPED_TRACE(size);
        const fs::path large = dir.path() / "large.json";
        test::make_sized_file(large, size, "{");
        EXPECT_EQ(test::error_text([&] { read_report_file_within_cap(large); }),
                  "local_report_too_large");
        EXPECT_THROW(read_report_file_within_cap(large), ReportFileTooLarge);
    }
    EXPECT_EQ(read_report_file_within_cap(dir.path() / "missing.json"), std::nullopt);
}

TEST(AtomicWrite, AWriterKilledAtRandomLeavesOneWholeDocument) {
    std::uint32_t seed = std::random_device{}();
    const std::wstring fixed = read_environment_variable(L"TARVISKO_CRASH_SEED");
    if (!fixed.empty()) seed = static_cast<std::uint32_t>(std::stoul(fixed));
    std::cout << "crash seed " << seed << " (set TARVISKO_CRASH_SEED to repeat)" << std::endl;
    RecordProperty("crash_seed", std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay_ms(0, 80);

    test::TempDir temp;
    const fs::path path = temp.path() / "last-report.json";
    const std::wstring ready_name = to_wide("tarvisko-writer-" + new_uuid_text());
    test::ScopedEnv path_env(L"TARVISKO_ATOMIC_WRITER_PATH", path.wstring());
    test::ScopedEnv ready_env(L"TARVISKO_ATOMIC_WRITER_READY", ready_name);
    HandleGuard<HANDLE> ready(CreateEventW(nullptr, FALSE, FALSE, ready_name.c_str()),
                              [](HANDLE h) { CloseHandle(h); });
    ASSERT_TRUE(ready.valid());
    wchar_t self[MAX_PATH]{};
    GetModuleFileNameW(nullptr, self, MAX_PATH);

    std::set<std::string> allowed = {path.filename().string()};
    int seen_a = 0;
    int seen_b = 0;
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::wstring command = L"\"" + std::wstring(self) + L"\" --atomic-writer";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &child));
        CloseHandle(child.hThread);
        HandleGuard<HANDLE> process(child.hProcess, [](HANDLE h) {
            TerminateProcess(h, 9);
            WaitForSingleObject(h, 30000);
            CloseHandle(h);
        });
        ASSERT_EQ(WaitForSingleObject(ready.get(), 60000), WAIT_OBJECT_0);
        Sleep(static_cast<DWORD>(delay_ms(random)));
        TerminateProcess(process.get(), 9);
        ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);

        const std::string found = bytes_of(path);
        ASSERT_TRUE(found == document_a || found == document_b)
            << "torn document of " << found.size() << " bytes, seed " << seed;
        (found == document_a ? seen_a : seen_b) += 1;
        // A temporary file of the killed writer may stay, under its exact name only.
        allowed.insert(temporary_of(path, child.dwProcessId).filename().string());
        for (const std::string& name : names_in(temp.path())) {
            EXPECT_TRUE(allowed.count(name)) << name;
        }
        // The next start finds the killed writer gone and its temporary file with it.
        remove_abandoned_temporary_files(temp.path());
        EXPECT_EQ(names_in(temp.path()), std::set<std::string>{path.filename().string()});
    }
    std::cout << "found A " << seen_a << " times, B " << seen_b << " times" << std::endl;
}

}  // namespace
}  // namespace tarvisko

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--atomic-writer") {
        return tarvisko::run_atomic_writer();
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
