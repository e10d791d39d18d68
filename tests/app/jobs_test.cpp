// The window's background jobs with fake engine and reading services: the environment they set,
// the report files they write, the messages they send and post, and how they fail.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincred.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <system_error>
#include <vector>

#include "app/app_state.h"
#include "app/config.h"
#include "app/jobs.h"
#include "app/messages.h"
#include "app/services.h"
#include "engine/common/system.h"
#include "engine/common/text.h"
#include "support/simulator_client.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// What the test window does when the repeating job sends its round message; counted, and the
// live tables emptied as the real window does.
std::atomic<int> rounds_done_received{0};
std::function<void()> on_round_done;

LRESULT CALLBACK test_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == repeat_round_done) {
        ++rounds_done_received;
        shown_samples = json::array();
        {
            std::lock_guard lock(live_samples_mutex);
            live_samples = json::array();
        }
        if (on_round_done) on_round_done();
        return 0;
    }
    if (message == view_reading_ready) {
        delete reinterpret_cast<ViewReading*>(lparam);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

HWND create_test_window() {
    static const ATOM registered = [] {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = test_window_proc;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"TarviskoJobsTest";
        return RegisterClassW(&window_class);
    }();
    (void)registered;
    return CreateWindowExW(0, L"TarviskoJobsTest", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

std::string read_text(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string id_of(int n) {
    std::string id = "00000000-0000-0000-0000-000000000000";
    const std::string digits = std::to_string(n);
    id.replace(id.size() - digits.size(), digits.size(), digits);
    return id;
}

std::wstring environment(const wchar_t* name) { return read_environment_variable(name); }

class JobsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CREDENTIALW credential{};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = const_cast<wchar_t*>(target.c_str());
        credential.CredentialBlobSize = static_cast<DWORD>(token.size() * sizeof(wchar_t));
        credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(token.data()));
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        ASSERT_TRUE(CredWriteW(&credential, 0)) << GetLastError();
        window = create_test_window();
        ASSERT_NE(window, nullptr);
        current_report = nullptr;
        last_error_text.clear();
        job_api_token.clear();
        session_cancel_flag = false;
        rounds_done_received = 0;
        on_round_done = nullptr;
        live_samples = json::array();
        shown_samples = json::array();
    }
    void TearDown() override {
        session_cancel_flag = true;
        stop_and_join(job_slot);
        stop_and_join(view_collection_slot);
        stop_and_join(update_slot);
        stop_and_join(responder_lookup_slot);
        session_cancel_flag = false;
        app_services() = saved_services;
        on_round_done = nullptr;
        if (window != nullptr) DestroyWindow(window);
        CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0);
    }

    // Pumps the test thread's messages until `message` is posted to the window; returns every
    // posted message seen on the way (the last one included). Sent messages are dispatched
    // while pumping.
    std::vector<UINT> pump_until(UINT message) {
        std::vector<UINT> seen;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < give_up) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.hwnd == window) seen.push_back(msg.message);
                DispatchMessageW(&msg);
                if (msg.hwnd == window && msg.message == message) return seen;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
        ADD_FAILURE() << "message " << message << " never came";
        return seen;
    }
    // Every message still waiting for the window.
    std::vector<UINT> drain() {
        std::vector<UINT> seen;
        MSG msg;
        while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
            seen.push_back(msg.message);
            DispatchMessageW(&msg);
        }
        return seen;
    }
    static int count(const std::vector<UINT>& messages, UINT message) {
        return static_cast<int>(std::count(messages.begin(), messages.end(), message));
    }
    // Waits for the job's WM_APP+1, joins it as the window does and checks no second one came.
    std::vector<UINT> finish_job() {
        std::vector<UINT> seen = pump_until(job_finished);
        stop_and_join(job_slot);
        const std::vector<UINT> rest = drain();
        seen.insert(seen.end(), rest.begin(), rest.end());
        EXPECT_EQ(count(seen, job_finished), 1);
        return seen;
    }
    fs::path data_folder() const { return data_directory(origin, token); }

    test::TempDir local;
    test::ScopedEnv local_env{L"LOCALAPPDATA", local.path().wstring()};
    const std::wstring origin =
        L"https://jobs-" + std::to_wstring(GetCurrentProcessId()) + L".localhost";
    test::ScopedEnv origin_env{L"QUORVEL_DESKTOP_ORIGIN", origin};
    // The variables the jobs set live on only for the test.
    test::ScopedEnv api_origin{L"QUORVEL_API_ORIGIN", L"untouched"};
    test::ScopedEnv node_origin{L"QUORVEL_NODE_ORIGIN", L"untouched"};
    test::ScopedEnv token_env{L"QUORVEL_TOKEN", L"untouched"};
    test::ScopedEnv queue_dir{L"QUORVEL_QUEUE_DIR", L"untouched"};
    test::ScopedEnv reservation{L"QUORVEL_PORTAL_RESERVATION", L"untouched"};
    const std::wstring target = credential_target(origin);
    const std::wstring token = L"tk_jobs_test_0123456789abcdef";
    AppServices saved_services = app_services();
    HWND window = nullptr;
};

// --- The full test -------------------------------------------------------------------------

TEST_F(JobsTest, FullTestSetsFiveVariablesStoresTheReportAndKeepsTheToken) {
    std::vector<std::wstring> seen_environment;
    app_services().run_desktop_test = [&](const std::atomic<bool>&, const PhaseCallback& phase,
                                          LiveTraffic&) {
        for (const wchar_t* name : {L"QUORVEL_API_ORIGIN", L"QUORVEL_NODE_ORIGIN",
                                    L"QUORVEL_TOKEN", L"QUORVEL_QUEUE_DIR",
                                    L"QUORVEL_PORTAL_RESERVATION"}) {
            seen_environment.push_back(environment(name));
        }
        phase("download");
        phase("no such phase");
        phase("ping");
        return json{{"throughput", {{"session_id", id_of(1)}}}, {"state", "completed"}};
    };
    const std::wstring shown_token = api_token;
    start_job(job_slot, [this](std::stop_token) { run_job_thread(window, nullptr); });
    const std::vector<UINT> messages = finish_job();

    EXPECT_EQ(seen_environment, (std::vector<std::wstring>{origin, origin, token,
                                                           data_folder().wstring(), L"1"}));
    // Known phases only, in order.
    std::vector<UINT> phases;
    for (UINT message : messages) {
        if (message == run_phase_changed) phases.push_back(message);
    }
    EXPECT_EQ(phases.size(), 2u);
    EXPECT_EQ(last_error_text, L"");
    EXPECT_EQ(current_report["throughput"]["session_id"], id_of(1));
    EXPECT_EQ(json::parse(read_text(data_folder() / "last-report.json")), current_report);
    // The job's token waits for the window; the shown one is not written by the job.
    EXPECT_EQ(job_api_token, token);
    EXPECT_EQ(api_token, shown_token);
}

TEST_F(JobsTest, PhaseCallbackPostsTheIndexOfKnownNamesOnly) {
    run_phase_callback(window, "recovery");
    run_phase_callback(window, "Download");
    run_phase_callback(window, "");
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, window, run_phase_changed, run_phase_changed, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageW(&msg, window, run_phase_changed, run_phase_changed, PM_REMOVE));
}

TEST_F(JobsTest, FailedStoreKeepsTheReportAndSetsTheErrorText) {
    // A file where the reports folder belongs.
    fs::create_directories(data_folder());
    std::ofstream(data_folder() / "reports") << "in the way";
    app_services().run_desktop_test = [](const std::atomic<bool>&, const PhaseCallback&,
                                         LiveTraffic&) {
        return json{{"throughput", {{"session_id", id_of(2)}}}};
    };
    start_job(job_slot, [this](std::stop_token) { run_job_thread(window, nullptr); });
    finish_job();
    EXPECT_EQ(current_report["throughput"]["session_id"], id_of(2));
    EXPECT_NE(last_error_text, L"");
}

TEST_F(JobsTest, CancelledBeforeTheRunStopsTheCounterAndPostsOnce) {
    bool ran = false;
    std::vector<std::string> counter_calls;
    app_services().run_desktop_test = [&](const std::atomic<bool>&, const PhaseCallback&,
                                          LiveTraffic&) {
        ran = true;
        return json::object();
    };
    // A refused counter does not stop the test; the cancel request does.
    app_services().start_traffic_counter = [&](TrafficView&, HWND owner) {
        counter_calls.push_back(owner == window ? "start" : "start elsewhere");
        session_cancel_flag = true;
        return false;
    };
    app_services().stop_traffic_counter = [&](TrafficView&) { counter_calls.push_back("stop"); };
    TrafficView* view = reinterpret_cast<TrafficView*>(&counter_calls);  // only passed on
    start_job(job_slot, [this, view](std::stop_token) { run_job_thread(window, view); });
    finish_job();
    EXPECT_FALSE(ran);
    EXPECT_EQ(last_error_text, L"cancelled");
    EXPECT_EQ(counter_calls, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(JobsTest, EngineFailureBecomesTheErrorText) {
    app_services().run_desktop_test = [](const std::atomic<bool>&, const PhaseCallback&,
                                         LiveTraffic&) -> json {
        throw std::runtime_error("node_http_503 · zażółć");
    };
    start_job(job_slot, [this](std::stop_token) { run_job_thread(window, nullptr); });
    finish_job();
    EXPECT_EQ(last_error_text, L"node_http_503 · zażółć");
    EXPECT_TRUE(current_report.is_null());
}

// --- Target runs -----------------------------------------------------------------------------

TargetRunRequest route_request(bool repeat) {
    TargetRunRequest request;
    request.purpose = repeat ? "monitor" : "mtr";
    request.target = "127.0.0.1";
    request.repeat = repeat;
    return request;
}

TEST_F(JobsTest, TargetRunSetsThreeVariablesAndWritesTwoEqualCompactFiles) {
    std::vector<std::wstring> seen_environment;
    app_services().run_target_probe = [&](const TargetRunRequest& request,
                                          const std::atomic<bool>&,
                                          const SampleCallback& callback) {
        for (const wchar_t* name : {L"QUORVEL_API_ORIGIN", L"QUORVEL_NODE_ORIGIN",
                                    L"QUORVEL_TOKEN", L"QUORVEL_QUEUE_DIR",
                                    L"QUORVEL_PORTAL_RESERVATION"}) {
            seen_environment.push_back(environment(name));
        }
        callback(json{{"ttl", 1}});
        callback(json{{"ttl", 2}});
        return json{{"session_id", id_of(7)},
                    {"state", "completed"},
                    {"measurement", {{"target_name", request.target}, {"note", "Łódź"}}}};
    };
    start_job(job_slot, [this](std::stop_token stop) {
        launch_route_job_thread(stop, window, route_request(false));
    });
    const std::vector<UINT> messages = finish_job();

    EXPECT_EQ(seen_environment,
              (std::vector<std::wstring>{origin, L"untouched", token, data_folder().wstring(),
                                         L"untouched"}));
    const std::string archived = read_text(data_folder() / "reports" / (id_of(7) + ".json"));
    EXPECT_EQ(archived, current_report.dump());
    EXPECT_EQ(read_text(data_folder() / "last-mtr.json"), archived);
    EXPECT_NE(archived.find("Łódź"), std::string::npos);  // UTF-8, not escaped
    EXPECT_EQ(count(messages, repeat_round_done), 0);
    EXPECT_EQ(rounds_done_received, 0);
    EXPECT_EQ(live_samples, (json::array({{{"ttl", 1}}, {{"ttl", 2}}})));
    EXPECT_EQ(job_api_token, token);
}

TEST_F(JobsTest, RepeatRunsCompletedRoundsAndAStopSavesTheLastOne) {
    int rounds = 0;
    app_services().run_target_probe = [&](const TargetRunRequest&, const std::atomic<bool>&,
                                          const SampleCallback& callback) {
        ++rounds;
        callback(json{{"round", rounds}});
        if (rounds == 3) session_cancel_flag = true;  // the user stops during round 3
        return json{{"session_id", id_of(rounds)}, {"state", "completed"}};
    };
    start_job(job_slot, [this](std::stop_token stop) {
        launch_route_job_thread(stop, window, route_request(true));
    });
    finish_job();
    EXPECT_EQ(rounds, 3);
    EXPECT_EQ(rounds_done_received, 2);  // none after the stopped round
    for (int n = 1; n <= 3; ++n) {
        EXPECT_TRUE(fs::exists(data_folder() / "reports" / (id_of(n) + ".json"))) << n;
    }
    EXPECT_EQ(json::parse(read_text(data_folder() / "last-monitor.json"))["session_id"], id_of(3));
    EXPECT_EQ(last_error_text, L"");
    // The window emptied the samples after round 2; round 3's sample is the only one left.
    EXPECT_EQ(live_samples, (json::array({{{"round", 3}}})));
}

TEST_F(JobsTest, RepeatEndsAfterARoundThatDidNotComplete) {
    int rounds = 0;
    app_services().run_target_probe = [&](const TargetRunRequest&, const std::atomic<bool>&,
                                          const SampleCallback&) {
        ++rounds;
        return json{{"session_id", id_of(rounds)}, {"state", rounds == 2 ? "partial" : "completed"}};
    };
    start_job(job_slot, [this](std::stop_token stop) {
        launch_route_job_thread(stop, window, route_request(true));
    });
    finish_job();
    EXPECT_EQ(rounds, 2);
    EXPECT_EQ(rounds_done_received, 1);
    EXPECT_TRUE(fs::exists(data_folder() / "reports" / (id_of(2) + ".json")));
    EXPECT_EQ(last_error_text, L"");
}

TEST_F(JobsTest, MalformedTargetReportsGiveTheLibraryMessages) {
    struct Case {
        json report;
        bool repeat;
        std::wstring expected;
    };
    const std::vector<Case> cases{
        {json{{"state", "completed"}}, false, L"key 'session_id' not found"},
        {json{{"session_id", 5}}, false, L"type must be string, but is number"},
        {json{{"session_id", id_of(3)}}, true, L"key 'state' not found"},
    };
    for (const Case& c : cases) {
        last_error_text.clear();
        app_services().run_target_probe = [&](const TargetRunRequest&, const std::atomic<bool>&,
                                              const SampleCallback&) { return c.report; };
        start_job(job_slot, [this, &c](std::stop_token stop) {
            launch_route_job_thread(stop, window, route_request(c.repeat));
        });
        finish_job();
        EXPECT_NE(last_error_text.find(c.expected), std::wstring::npos) << to_utf8(last_error_text);
    }
}

// The window thread may join the job slot (closing, or a new start) while the repeating job
// wants its round acknowledged: the job must give up instead of waiting for ever.
TEST_F(JobsTest, RepeatJobHeldInItsSendLetsTheWindowJoinIt) {
    HANDLE round_returned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    app_services().run_target_probe = [&](const TargetRunRequest&, const std::atomic<bool>&,
                                          const SampleCallback&) {
        SetEvent(round_returned);
        return json{{"session_id", id_of(9)}, {"state", "completed"}};
    };
    start_job(job_slot, [this](std::stop_token stop) {
        launch_route_job_thread(stop, window, route_request(true));
    });
    // The window thread does not pump: it joins, as WM_CLOSE's follow-up or a new start does.
    ASSERT_EQ(WaitForSingleObject(round_returned, 60000), WAIT_OBJECT_0);
    stop_and_join(job_slot);
    CloseHandle(round_returned);
    EXPECT_FALSE(job_slot.joinable());
    const std::vector<UINT> rest = drain();
    EXPECT_EQ(count(rest, job_finished), 1);
}

TEST_F(JobsTest, SampleCallbackAppendsAndRefusesANonArray) {
    live_samples = nullptr;
    launch_route_sample_callback(json{{"a", 1}});
    EXPECT_EQ(live_samples, json::array({{{"a", 1}}}));
    live_samples = json::object();
    EXPECT_EQ(test::error_text([] { launch_route_sample_callback(json{{"a", 2}}); }),
              "[json.exception.type_error.308] cannot use push_back() with object");
    live_samples = json::array();
}

// --- Page readings ----------------------------------------------------------------------------

TEST_F(JobsTest, SecondViewCollectionOnlyRecordsTheRequest) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> readings{0};
    app_services().lan_devices_view = [&] {
        ++readings;
        WaitForSingleObject(release, 60000);
        return TableModel{L"sieć", {}, {}, 1};
    };
    app_services().computer_state_view = [&](const TableModel&) {
        ++readings;
        return TableModel{};
    };
    collecting_view = 0;
    start_view_collection(window, 3, 0);
    EXPECT_EQ(collecting_view, 3);
    EXPECT_EQ(main_window_state.shown_table.title, L"Odczytywanie bieżących danych Windows…");
    start_view_collection(window, 2, 1);
    EXPECT_EQ(collecting_view, 3);
    EXPECT_EQ(pending_view_page, 2);
    EXPECT_EQ(pending_view_mode, 1);
    SetEvent(release);
    MSG msg{};
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!PeekMessageW(&msg, window, view_reading_ready, view_reading_ready, PM_REMOVE) &&
           std::chrono::steady_clock::now() < give_up) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    ASSERT_EQ(msg.message, view_reading_ready);
    std::unique_ptr<ViewReading> reading(reinterpret_cast<ViewReading*>(msg.lParam));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_EQ(reading->table.title, L"sieć");
    EXPECT_EQ(readings, 1);
    stop_and_join(view_collection_slot);
    collecting_view = 0;
    CloseHandle(release);
}

TEST_F(JobsTest, FailedReadingsKeepThePreviousTableWithTheMessage) {
    app_services().computer_state_view = [](const TableModel&) -> TableModel {
        throw std::runtime_error("no reading");
    };
    app_services().read_wifi_environment = [](bool) -> WifiReading {
        throw std::runtime_error("no reading");
    };
    TableModel previous;
    previous.title = L"poprzednia";
    previous.columns = {{L"Pomiar", 100}};
    previous.rows.resize(1);
    previous.rows[0].cells = {L"a"};
    for (int page : {2, 4}) {
        view_collection_job(window, page, 1, previous);
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, window, view_reading_ready, view_reading_ready, PM_REMOVE));
        std::unique_ptr<ViewReading> reading(reinterpret_cast<ViewReading*>(msg.lParam));
        EXPECT_EQ(reading->mode, 1);
        EXPECT_EQ(reading->table.title, L"Windows nie udostępnił bieżącego odczytu.");
        EXPECT_EQ(reading->table.rows, previous.rows);
        EXPECT_EQ(reading->wifi.has_value(), page == 4);
        if (page == 4) {
            EXPECT_EQ(reading->wifi->card,
                      (TextCard{L"Brak oceny kanału", L"Powtórz szczegółowy skan Wi-Fi.",
                                L"Windows nie udostępnił bieżącego odczytu.", 0}));
        }
    }
    // A window that is gone: the job cannot hand the record over and frees it itself.
    HWND gone = create_test_window();
    DestroyWindow(gone);
    view_collection_job(gone, 2, 0, previous);
}

TEST_F(JobsTest, ViewCollectionWithoutItsServiceDoesNothing) {
    app_services().lan_devices_view = nullptr;
    collecting_view = 0;
    pending_view_page = 0;
    start_view_collection(window, 3, 0);
    EXPECT_EQ(collecting_view, 0);
    EXPECT_EQ(pending_view_page, 3);
    EXPECT_FALSE(view_collection_slot.joinable());
}

// --- Update --------------------------------------------------------------------------------

TEST_F(JobsTest, UpdateJobMessages) {
    struct Case {
        std::string version;
        bool download;
        bool install_fails;
        std::wstring message;
        bool installed;
    };
    const std::vector<Case> cases{
        {"1.1.19", false, false, L"Dostępna wersja 1.1.19. Wybierz przycisk aktualizacji.", false},
        {"2.0.0", true, false, L"Pobrano i zweryfikowano 2.0.0. Ponowne uruchamianie aplikacji…",
         true},
        {"1.1.18", false, false, L"Masz aktualną wersję aplikacji.", false},
        {"1.1.19", true, true,
         L"Nie udało się ukończyć aktualizacji. Serwer aktualizacji odpowiedział nieprawidłowo. "
         L"(kod: node_http_302)",
         false},
    };
    for (const Case& c : cases) {
        std::vector<std::string> installed;
        app_services().load_release_description = [&](const std::wstring& from) {
            EXPECT_EQ(from, origin);
            return ReleaseInfo{c.version, std::string(64, 'a'), 1000};
        };
        app_services().install_update = [&](const ReleaseInfo& release, const std::wstring&) {
            if (c.install_fails) throw std::runtime_error("node_http_302");
            installed.push_back(release.version);
        };
        update_check_job(window, c.download, origin);
        MSG msg;
        EXPECT_TRUE(PeekMessageW(&msg, window, update_check_done, update_check_done, PM_REMOVE));
        EXPECT_EQ(update_result.message, c.message);
        EXPECT_EQ(update_result.installed, c.installed);
        EXPECT_EQ(installed.size(), c.installed ? 1u : 0u);
        EXPECT_EQ(update_result.release.has_value(), c.version != "1.1.18");
    }
    // The update's own sentences stand as they are; the JSON library's text never shows.
    app_services().load_release_description = [](const std::wstring&) -> ReleaseInfo {
        throw std::runtime_error("Podpis opisu wydania jest nieprawidłowy.");
    };
    update_check_job(window, false, origin);
    EXPECT_EQ(update_result.message,
              L"Nie udało się ukończyć aktualizacji. Podpis opisu wydania jest nieprawidłowy.");
    EXPECT_FALSE(update_result.release.has_value());
    app_services().load_release_description = [](const std::wstring&) -> ReleaseInfo {
        return ReleaseInfo{nlohmann::json::object().at("proof").get<std::string>(), "", 0};
    };
    update_check_job(window, false, origin);
    EXPECT_EQ(update_result.message,
              L"Nie udało się ukończyć aktualizacji. Niepoprawny opis "
              L"wydania Windows. (kod: json_403)");
}

TEST_F(JobsTest, UpdateTaskStartsOnlyWhenNoneRunsOrIsStaged) {
    std::atomic<int> checks{0};
    app_services().load_release_description = [&](const std::wstring&) {
        ++checks;
        return ReleaseInfo{"1.0.0", std::string(64, 'a'), 1};
    };
    update_running = false;
    update_ready = true;
    start_update_task(window, true);
    EXPECT_FALSE(update_running);
    EXPECT_FALSE(update_slot.joinable());

    update_ready = false;
    start_update_task(window, true);
    EXPECT_TRUE(update_running);
    EXPECT_TRUE(update_download_mode);
    EXPECT_EQ(update_status_text, L"Pobieranie i weryfikacja pliku…");
    start_update_task(window, false);  // runs already: nothing
    pump_until(update_check_done);
    stop_and_join(update_slot);
    EXPECT_EQ(checks, 1);
    update_running = false;
    update_download_mode = false;
}

// --- Thread creation failure -------------------------------------------------------------------

TEST_F(JobsTest, AThreadThatCannotBeCreatedUndoesTheStart) {
    app_services().start_job_thread = [](JobSlot&, std::function<void(std::stop_token)>) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "no thread");
    };
    app_services().load_release_description = [](const std::wstring&) { return ReleaseInfo{}; };
    app_services().lan_devices_view = [] { return TableModel{}; };
    update_running = false;
    update_ready = false;
    update_status_text = L"Masz aktualną wersję aplikacji.";
    start_update_task(window, false);
    EXPECT_FALSE(update_running);
    EXPECT_EQ(update_status_text, L"Masz aktualną wersję aplikacji.");
    EXPECT_NE(main_window_state.shown_table.title.find(L"no thread"), std::wstring::npos);

    collecting_view = 0;
    start_view_collection(window, 3, 0);
    EXPECT_EQ(collecting_view, 0);

    last_report_loading = false;
    open_last_report(window);
    EXPECT_FALSE(last_report_loading);
    EXPECT_NE(main_window_state.shown_table.title.find(L"no thread"), std::wstring::npos);
}

// --- Reverse DNS of route responders ------------------------------------------------------------

TEST_F(JobsTest, PtrJobHandsOverItsSessionsNamesAndEmptiesThemOnFailure) {
    app_services().resolve_ptr_names = [&](const std::vector<std::string>& addresses,
                                           std::stop_token) {
        ResponderNameMap names;
        for (const std::string& address : addresses) names[address] = {L"router.example", L""};
        return names;
    };
    responder_names = {};
    resolve_ptr_names_job({}, window, "session-a", {"10.0.0.1", "10.0.0.2"});
    EXPECT_EQ(responder_names.session_id, "session-a");
    EXPECT_EQ(responder_names.names.size(), 2u);
    MSG msg;
    EXPECT_TRUE(
        PeekMessageW(&msg, window, responder_names_ready, responder_names_ready, PM_REMOVE));

    app_services().resolve_ptr_names = [](const std::vector<std::string>&,
                                          std::stop_token) -> ResponderNameMap {
        throw std::bad_alloc();
    };
    resolve_ptr_names_job({}, window, "session-b", {"10.0.0.1"});
    EXPECT_EQ(responder_names.session_id, "session-b");
    EXPECT_TRUE(responder_names.names.empty());
    EXPECT_TRUE(
        PeekMessageW(&msg, window, responder_names_ready, responder_names_ready, PM_REMOVE));
}

TEST_F(JobsTest, ResponderLookupStartsOncePerRouteReport) {
    std::atomic<int> lookups{0};
    app_services().resolve_ptr_names = [&](const std::vector<std::string>& addresses,
                                           std::stop_token) {
        ++lookups;
        EXPECT_EQ(addresses, (std::vector<std::string>{"10.0.0.1"}));
        return ResponderNameMap{};
    };
    responder_lookup = {};
    const json report{{"session_id", "route-1"},
                      {"mtr_samples", json::array({{{"responder", "10.0.0.1"}}})}};
    start_responder_lookup(window, 7, report);
    EXPECT_EQ(responder_lookup.responder_session_id, "route-1");
    EXPECT_EQ(responder_lookup.lookup_session_id, "route-1");
    start_responder_lookup(window, 7, report);  // one runs: nothing more
    pump_until(responder_names_ready);
    stop_and_join(responder_lookup_slot);
    EXPECT_EQ(lookups, 1);
    EXPECT_EQ(responder_names.session_id, "route-1");

    app_services().resolve_ptr_names = nullptr;
    responder_lookup = {};
    start_responder_lookup(window, 7, report);
    EXPECT_EQ(responder_lookup.lookup_session_id, "");
    EXPECT_FALSE(responder_lookup_slot.joinable());
}

// A real target run: echoes to loopback, recorded, uploaded to the provider simulator and stored
// by the job, with the client registered at the simulator's portal.
TEST_F(JobsTest, RealTargetRunIsStoredAndUploaded) {
    const std::wstring simulator = to_wide(test::simulator_origin());
    test::ScopedEnv simulator_origin_env{L"QUORVEL_DESKTOP_ORIGIN", simulator};
    const std::wstring simulator_target = credential_target(simulator);
    CredDeleteW(simulator_target.c_str(), CRED_TYPE_GENERIC, 0);
    test::simulator_reset();
    app_services() = product_services();
    TargetRunRequest request;
    request.purpose = "monitor";
    request.target = "127.0.0.1";
    request.profile_name = "Monitoring";
    request.protocol = "icmp";
    request.attempts = 3;
    request.max_ttl = 64;
    request.echo = true;
    start_job(job_slot, [this, request](std::stop_token stop) {
        launch_route_job_thread(stop, window, request);
    });
    finish_job();
    CredDeleteW(simulator_target.c_str(), CRED_TYPE_GENERIC, 0);

    EXPECT_EQ(last_error_text, L"");
    ASSERT_TRUE(current_report.is_object());
    EXPECT_EQ(current_report["state"], "completed");
    EXPECT_EQ(current_report["mtr_samples"].size(), 3u);
    const std::string id = current_report["session_id"];
    const fs::path data = data_directory(simulator, job_api_token);
    const std::string archived = read_text(data / "reports" / (id + ".json"));
    EXPECT_EQ(archived, current_report.dump());
    EXPECT_EQ(read_text(data / "last-monitor.json"), archived);
    const json sessions = test::simulator_control("GET", "upload/sessions")["sessions"];
    ASSERT_TRUE(sessions.contains(id));
    EXPECT_EQ(sessions[id]["completed"], true);
}

TEST(ValueWithSuffix, AppendsExceptToThePlaceholder) {
    const std::vector<TextCard> cards{{L"Pobieranie", L"93,4", L"", 1},
                                      {L"Wysyłanie", L"—", L"", 0}};
    EXPECT_EQ(value_with_suffix(cards, 0, L" Mb/s"), L"93,4 Mb/s");
    EXPECT_EQ(value_with_suffix(cards, 1, L" Mb/s"), L"—");
    EXPECT_EQ(value_with_suffix(cards, 2, L" ms"), L"—");
}

}  // namespace
}  // namespace tarvisko
