// The start-up load of the last reports: what the job hands over, and what the window takes from
// it after the join.
// clang-format off
#include <windows.h>
#include <wincred.h>
// clang-format on
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>

#include "app/app_state.h"
#include "app/config.h"
#include "app/jobs.h"
#include "engine/common/ids.h"
#include "engine/common/text.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A throw-away origin and a temporary LOCALAPPDATA; the credential, when stored, is deleted
// again at the end.
struct Surroundings {
    test::TempDir local_app_data;
    test::ScopedEnv local_env{L"LOCALAPPDATA", local_app_data.path().wstring()};
    std::wstring origin = to_wide("https://tarvisko-" + new_uuid_text() + ".invalid");
    test::ScopedEnv origin_env{L"QUORVEL_DESKTOP_ORIGIN", origin};
    HWND window = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);

    ~Surroundings() {
        CredDeleteW(credential_target(origin).c_str(), CRED_TYPE_GENERIC, 0);
        DestroyWindow(window);
    }
    void store_credential(std::wstring token) {
        const std::wstring target = credential_target(origin);
        CREDENTIALW credential{};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = const_cast<wchar_t*>(target.c_str());
        credential.CredentialBlobSize = static_cast<DWORD>(token.size() * sizeof(wchar_t));
        credential.CredentialBlob = reinterpret_cast<BYTE*>(token.data());
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        ASSERT_TRUE(CredWriteW(&credential, 0));
    }
    fs::path data_folder(const std::wstring& token) const {
        fs::path folder = data_directory(origin, token);
        fs::create_directories(folder);
        return folder;
    }
    // Runs the job on a thread of its own, as the main job slot does, takes its message and,
    // as the window does after the join, what it found. The job itself leaves the state alone.
    bool run_job() const {
        const std::wstring held = api_token;
        std::thread([this, held] { load_last_reports_job(window, held); }).join();
        MSG message{};
        const bool posted = PeekMessageW(&message, window, WM_APP + 1, WM_APP + 1, PM_REMOVE) &&
                            message.wParam == 0 && message.lParam == 0;
        EXPECT_EQ(api_token, held);
        EXPECT_EQ(current_report, "before");
        EXPECT_EQ(last_results[0], json::object({{"kept", 0}}));
        EXPECT_EQ(last_error_text, L"");
        take_last_reports(std::exchange(loaded_last_reports, LastReports{}));
        return posted;
    }
};

void reset_state() {
    api_token = L"old";
    current_report = "before";
    last_results = {json::object({{"kept", 0}}), json::object({{"kept", 1}}),
                    json::object({{"kept", 2}})};
    last_error_text.clear();
}

TEST(LastReportsJob, WithoutCredentialReadsNothingAndStillFinishes) {
    Surroundings around;
    ASSERT_NE(around.window, nullptr);
    reset_state();
    EXPECT_TRUE(around.run_job());
    EXPECT_EQ(api_token, L"");
    EXPECT_EQ(current_report, "before");
    EXPECT_EQ(last_results[0], json::object({{"kept", 0}}));
    EXPECT_EQ(last_error_text, L"");
}

TEST(LastReportsJob, TheWindowLearnsWhetherTheTokenChanged) {
    api_token = L"a";
    LastReports loaded;
    EXPECT_FALSE(take_last_reports(loaded));  // nothing read: the token stays
    EXPECT_EQ(api_token, L"a");
    loaded.api_token = L"a";
    EXPECT_FALSE(take_last_reports(loaded));
    loaded.api_token = L"";
    EXPECT_TRUE(take_last_reports(loaded));  // no credential stored any more
    EXPECT_EQ(api_token, L"");
}

TEST(LastReportsJob, FillsTheStateFromTheDataDirectory) {
    Surroundings around;
    around.store_credential(L"token-1");
    const fs::path folder = around.data_folder(L"token-1");
    test::write_file(folder / "last-report.json",
                     R"({"throughput":{"session_id":"s"},"synchronized":true})");
    test::write_file(folder / "last-gaming.json", R"({"session_id":"g"})");
    test::write_file(folder / "last-mtr.json", R"(["not an object"])");
    reset_state();
    EXPECT_TRUE(around.run_job());
    EXPECT_EQ(api_token, L"token-1");
    EXPECT_EQ(current_report["synchronized"], true);
    EXPECT_EQ(last_results[0], json::object({{"session_id", "g"}}));
    EXPECT_EQ(last_results[1], json::object({{"kept", 1}}));
    EXPECT_EQ(last_results[2], json::object({{"kept", 2}}));
    EXPECT_EQ(last_error_text, L"");

    // An unparseable last report: its message, and the later files stay unread.
    test::write_file(folder / "last-report.json", "{\"throughput\":");
    reset_state();
    EXPECT_TRUE(around.run_job());
    EXPECT_EQ(last_error_text.rfind(L"[json.exception.parse_error.101]", 0), 0u);
    EXPECT_EQ(current_report, "before");
    EXPECT_EQ(last_results[0], json::object({{"kept", 0}}));
}

}  // namespace
}  // namespace tarvisko
