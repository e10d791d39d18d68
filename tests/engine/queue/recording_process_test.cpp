// Crash safety across processes: the test executable starts copies of itself as recorders and
// key users, kills them with TerminateProcess and checks what the queue keeps.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/common/hash.h"
#include "engine/common/ids.h"
#include "engine/common/text.h"
#include "engine/identity/identity.h"
#include "engine/queue/queue.h"
#include "engine/queue/recording.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;

std::string sample_text(int i) {
    return R"({"at":"2026-12-10T10:00:00.000Z","seq":)" + std::to_string(i) + "}";
}

// Child: records `count` samples for the session, signals, then waits to be killed.
int run_recorder(const std::string& session_id, int count, const std::wstring& ready_event) {
    UploadQueue queue = open_queue();
    start_recording(queue, session_id, "");
    for (int i = 0; i < count; ++i) append_sample(queue, session_id, sample_text(i));
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, ready_event.c_str());
    if (ready == nullptr || !SetEvent(ready)) return 3;
    Sleep(INFINITE);
    return 0;
}

// Child: waits for the start signal, then loads (or creates) the privacy key and writes it as hex.
int run_key_user(const std::wstring& start_event, const fs::path& out) {
    HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, start_event.c_str());
    if (start == nullptr || WaitForSingleObject(start, 30000) != WAIT_OBJECT_0) return 3;
    std::string stage = "open";
    try {
        UploadQueue queue = open_queue();
        stage = "key";
        const PrivacyKey key = load_privacy_key(queue);
        std::ofstream(out) << hex_lower(key);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "stage %s: %s\n", stage.c_str(), error.what());
        throw;
    }
    return 0;
}

class Child {
  public:
    explicit Child(const std::wstring& arguments) {
        wchar_t self[MAX_PATH]{};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info_)) {
            throw std::runtime_error("CreateProcessW failed");
        }
        CloseHandle(info_.hThread);
    }
    ~Child() {
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) kill();
        CloseHandle(info_.hProcess);
    }
    void kill() {
        TerminateProcess(info_.hProcess, 9);
        WaitForSingleObject(info_.hProcess, 30000);
    }
    DWORD wait() {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(info_.hProcess, 60000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(info_.hProcess, &code);
        }
        return code;
    }
    HANDLE process() const { return info_.hProcess; }

  private:
    PROCESS_INFORMATION info_{};
};

std::wstring unique_name(const char* what) {
    return to_wide(std::string("tarvisko-") + what + "-" + new_uuid_text());
}

std::string one(UploadQueue& queue, const std::string& sql, const std::string& id) {
    StatementGuard statement = prepare_statement(queue.db, sql, {id});
    return step_row(statement.get()) ? column_text(statement.get(), 0) : "(no row)";
}

TEST(RecorderProcess, LiveRecordingIsSkippedKilledOneIsRecovered) {
    test::TempDir temp;
    test::ScopedEnv env(L"QUORVEL_QUEUE_DIR", temp.path().wstring());
    const std::string id = new_uuid_text();
    const fs::path lock = temp.path() / (id + ".lock");
    const int count = 150;
    const std::wstring ready_name = unique_name("ready");
    HandleGuard<HANDLE> ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()),
                              [](HANDLE h) { CloseHandle(h); });
    ASSERT_TRUE(ready.valid());

    Child recorder(L"--recorder " + to_wide(id) + L" " + std::to_wstring(count) + L" " +
                   ready_name);
    const HANDLE waits[2] = {ready.get(), recorder.process()};
    ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, 60000), WAIT_OBJECT_0)
        << "recorder did not get ready";
    ASSERT_TRUE(fs::exists(lock));

    UploadQueue pump = open_queue();
    // Alive: another run cannot take the session, and the recovery leaves it alone.
    EXPECT_THROW(
        {
            try {
                start_recording(pump, id, "");
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "recording already exists");
                throw;
            }
        },
        std::runtime_error);
    recover_abandoned_recordings(pump);
    EXPECT_EQ(one(pump, "SELECT quote(ending) FROM session WHERE id=?", id), "NULL");
    EXPECT_EQ(query_strings(pump.db, "SELECT count(*) FROM session"),
              std::vector<std::string>{"1"});

    recorder.kill();
    EXPECT_FALSE(fs::exists(lock));
    recover_abandoned_recordings(pump);

    EXPECT_NE(one(pump, "SELECT ending FROM session WHERE id=?", id).find(R"("state":"partial")"),
              std::string::npos);
    EXPECT_EQ(one(pump, "SELECT chunks FROM session WHERE id=?", id), "3");
    std::string all;
    StatementGuard chunks =
        prepare_statement(pump.db, "SELECT body FROM chunk WHERE id=? ORDER BY n", {id});
    while (step_row(chunks.get())) {
        std::string body = column_text(chunks.get(), 0);
        const std::string head = R"({"schema_version":1,"samples":[)";
        ASSERT_EQ(body.substr(0, head.size()), head);
        if (!all.empty()) all += ",";
        all += body.substr(head.size(), body.size() - head.size() - 2);
    }
    std::string expected;
    for (int i = 0; i < count; ++i) expected += (i ? "," : "") + sample_text(i);
    EXPECT_EQ(all, expected);
    EXPECT_FALSE(fs::exists(lock));
}

TEST(PrivacyKeyProcesses, RacingFirstUsesEndWithOneKey) {
    test::TempDir temp;
    const fs::path dir = temp.path() / "fresh";
    test::ScopedEnv env(L"QUORVEL_QUEUE_DIR", dir.wstring());
    const std::wstring start_name = unique_name("start");
    HandleGuard<HANDLE> start(CreateEventW(nullptr, TRUE, FALSE, start_name.c_str()),
                              [](HANDLE h) { CloseHandle(h); });
    ASSERT_TRUE(start.valid());
    std::vector<fs::path> outputs;
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 3; ++i) {
        outputs.push_back(temp.path() / ("key" + std::to_string(i) + ".txt"));
        children.push_back(std::make_unique<Child>(L"--key-user " + start_name + L" \"" +
                                                   outputs.back().wstring() + L"\""));
    }
    Sleep(200);
    SetEvent(start.get());
    for (auto& child : children) EXPECT_EQ(child->wait(), 0u);

    UploadQueue queue = open_queue();
    const std::string key = hex_lower(load_privacy_key(queue));
    for (const fs::path& out : outputs) {
        std::string text;
        std::ifstream(out) >> text;
        EXPECT_EQ(text, key);
    }
    EXPECT_EQ(query_strings(queue.db, "SELECT count(*) FROM privacy_key"),
              std::vector<std::string>{"1"});
}

}  // namespace
}  // namespace tarvisko

int main(int argc, char** argv) {
    // Child modes: started by the tests above as a second process.
    if (argc == 5 && std::string(argv[1]) == "--recorder") {
        try {
            return tarvisko::run_recorder(argv[2], std::stoi(argv[3]), tarvisko::to_wide(argv[4]));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "recorder: %s\n", error.what());
            return 2;
        }
    }
    if (argc == 4 && std::string(argv[1]) == "--key-user") {
        try {
            return tarvisko::run_key_user(tarvisko::to_wide(argv[2]),
                                          std::filesystem::u8path(argv[3]));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "key user: %s\n", error.what());
            return 2;
        }
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
