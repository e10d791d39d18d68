// The counter control: real launches of this executable as the counter, the launcher, token, GUID
// and address rows through their seams, arming, and a whole monitored session against a counter
// child that feeds synthetic events through the real counting code.
#include "traffic/traffic_control.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <vector>

#include "engine/common/text.h"
#include "support/test_support.h"
#include "traffic/traffic_fakes.h"
#include "traffic/traffic_process_test.h"
#include "traffic/traffic_table.h"

namespace tarvisko {
namespace {

// ---- The launcher --------------------------------------------------------------------------

enum class Launch { real, fail, command };

struct LaunchRecord {
    Launch mode = Launch::real;
    DWORD error = 0;       // Launch::fail
    std::wstring command;  // Launch::command: arguments of this executable
    int calls = 0;
    std::wstring verb, file, parameters;
    ULONG mask = 0;
    int show = -1;
    HWND owner = nullptr;
    HandleGuard<HANDLE> process;  // a duplicate of the launched process, for its exit code
};
LaunchRecord launch;

HANDLE duplicate(HANDLE process) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return copy;
}

BOOL WINAPI recording_launcher(SHELLEXECUTEINFOW* info) {
    ++launch.calls;
    launch.verb = info->lpVerb;
    launch.file = info->lpFile;
    launch.parameters = info->lpParameters;
    launch.mask = info->fMask;
    launch.show = info->nShow;
    launch.owner = info->hwnd;
    if (launch.mode == Launch::fail) {
        SetLastError(launch.error);
        return FALSE;
    }
    if (launch.mode == Launch::real) {
        if (!ShellExecuteExW(info)) return FALSE;
    } else {
        wchar_t self[MAX_PATH]{};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring line = L"\"" + std::wstring(self) + L"\" " + launch.command;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &child)) {
            return FALSE;
        }
        CloseHandle(child.hThread);
        info->hProcess = child.hProcess;
    }
    launch.process = HandleGuard<HANDLE>(duplicate(info->hProcess), [](HANDLE h) {
        TerminateProcess(h, 9);
        WaitForSingleObject(h, 30000);
        CloseHandle(h);
    });
    return TRUE;
}

DWORD exit_code_of_launched() {
    if (WaitForSingleObject(launch.process.get(), 30000) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(launch.process.get(), &code);
    return code;
}

// ---- Token, GUID and address rows ----------------------------------------------------------

BOOL WINAPI not_a_member(HANDLE, PSID, PBOOL member) {
    *member = FALSE;
    return TRUE;
}

BOOL WINAPI not_elevated(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID information, DWORD size,
                         PDWORD returned) {
    if (size < sizeof(TOKEN_ELEVATION)) return FALSE;
    static_cast<TOKEN_ELEVATION*>(information)->TokenIsElevated = 0;
    *returned = sizeof(TOKEN_ELEVATION);
    return TRUE;
}

GUID fixed_guid{};
HRESULT WINAPI fixed_guid_maker(GUID* guid) {
    *guid = fixed_guid;
    return S_OK;
}

using Row = test::UnicastRow;
std::vector<Row>& rows = test::injected_unicast_table().rows;
DWORD& rows_error = test::injected_unicast_table().error;
int& tables_given = test::injected_unicast_table().given;
int& tables_freed = test::injected_unicast_table().freed;
constexpr auto injected_rows = test::injected_unicast_rows;
constexpr auto free_injected = test::free_injected_rows;

// Installs the recording launcher; restores every real call at the end.
struct ControlSeams {
    ControlSeams() {
        launch = LaunchRecord{};
        traffic_control_system().shell_execute = recording_launcher;
    }
    ~ControlSeams() {
        traffic_control_system() = TrafficControlSystem{};
        launch = LaunchRecord{};
    }
};

std::wstring status_text(TrafficView& view) {
    std::lock_guard lock(view.lock);
    return view.status_text;
}

// ---- Starting ------------------------------------------------------------------------------

// Under Wine the kernel provider is absent: the real counter reports -5 and exits with 1, whichever
// verb launched it ("runas" starts it without a prompt there).
TEST(TrafficControl, TheRealCounterUnderWineReportsWindowsError5) {
    struct Case {
        const char* name;
        bool inject_plain_token;
        const wchar_t* verb;
    };
    for (const Case& c : {Case{"Wine's own token", false, L"open"},
                          Case{"a token that may not trace", true, L"runas"}}) {
        SCOPED_TRACE(c.name);
        ControlSeams seams;
        if (c.inject_plain_token) {
            traffic_control_system().check_token_membership = not_a_member;
            traffic_control_system().token_information = not_elevated;
        }
        TrafficViewPtr view = create_traffic_view();
        const HWND owner = reinterpret_cast<HWND>(0x1234);
        EXPECT_FALSE(start_traffic_counter(*view, owner));
        EXPECT_EQ(status_text(*view), L"Brak odczytu ruchu procesów · Windows 5");
        ASSERT_EQ(launch.calls, 1);
        EXPECT_EQ(launch.verb, c.verb) << "Wine reports every token elevated";
        EXPECT_EQ(launch.mask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC));
        EXPECT_EQ(launch.show, SW_HIDE);
        EXPECT_EQ(launch.owner, owner);
        wchar_t self[MAX_PATH]{};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        EXPECT_EQ(launch.file, self);
        const std::wregex parameters(
            L"--process-traffic "
            L"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\} " +
            std::to_wstring(GetCurrentProcessId()));
        EXPECT_TRUE(std::regex_match(launch.parameters, parameters));
        EXPECT_EQ(exit_code_of_launched(), 1u);
        EXPECT_EQ(load_traffic_status(*view->section_view.get()), -5);
        EXPECT_FALSE(view->child.valid()) << "a failed start stops and closes the child";
        EXPECT_EQ(build_traffic_table(*view, true, L"Uruchamianie testu").title,
                  L"Brak danych ETW · kod Windows 5");
    }
}

TEST(TrafficControl, ALaunchThatFailsLeavesItsReasonAndNoChild) {
    struct Case {
        DWORD error;
        const wchar_t* text;
    };
    for (const Case& c :
         {Case{ERROR_CANCELLED, L"Anulowano zgodę Windows. Test trwa bez licznika procesów."},
          Case{ERROR_FILE_NOT_FOUND, L"Nie udało się uruchomić licznika procesów · Windows 2"}}) {
        SCOPED_TRACE(c.error);
        ControlSeams seams;
        launch.mode = Launch::fail;
        launch.error = c.error;
        TrafficViewPtr view = create_traffic_view();
        EXPECT_FALSE(start_traffic_counter(*view, nullptr));
        EXPECT_EQ(status_text(*view), c.text);
        EXPECT_FALSE(view->child.valid());
        EXPECT_EQ(load_traffic_status(*view->section_view.get()), 0);
        EXPECT_EQ(build_traffic_table(*view, true, L"Pobieranie").title, c.text);
    }
}

TEST(TrafficControl, AChildThatNeverReportsIsGivenAboutEightSecondsThenStopped) {
    struct Case {
        const wchar_t* command;
        double at_least_seconds;
    };
    for (const Case& c : {Case{L"--exit-code 0", 0.0}, Case{L"--sleep 60000", 7.5}}) {
        SCOPED_TRACE(std::string(c.command, c.command + std::wcslen(c.command)));
        ControlSeams seams;
        launch.mode = Launch::command;
        launch.command = c.command;
        TrafficViewPtr view = create_traffic_view();
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(start_traffic_counter(*view, nullptr));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        EXPECT_GE(took.count(), c.at_least_seconds);
        EXPECT_EQ(status_text(*view), L"Windows nie potwierdził uruchomienia licznika procesów.");
        EXPECT_FALSE(view->child.valid());
        EXPECT_NE(load_stop_qpc(*view->section_view.get()), 0);
        EXPECT_EQ(WaitForSingleObject(view->stop_event.get(), 0), WAIT_OBJECT_0);
    }
}

TEST(TrafficControl, NamesThatAlreadyExistLaunchNothing) {
    for (bool event_exists : {false, true}) {
        SCOPED_TRACE(event_exists ? "stop event exists" : "section exists");
        ControlSeams seams;
        ASSERT_EQ(CoCreateGuid(&fixed_guid), S_OK);
        traffic_control_system().create_guid = fixed_guid_maker;
        wchar_t text[40]{};
        StringFromGUID2(fixed_guid, text, 40);
        HandleGuard<HANDLE> squatter(
            event_exists ? CreateEventW(nullptr, TRUE, FALSE, traffic_stop_event_name(text).c_str())
                         : CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              4096, traffic_section_name(text).c_str()),
            [](HANDLE h) { CloseHandle(h); });
        ASSERT_TRUE(squatter.valid());

        TrafficViewPtr view = create_traffic_view();
        EXPECT_FALSE(start_traffic_counter(*view, nullptr));
        EXPECT_EQ(launch.calls, 0);
        EXPECT_EQ(status_text(*view), L"Przygotowywanie odczytu Windows…");
        EXPECT_FALSE(view->child.valid());
        EXPECT_EQ(view->stop_event.valid(), false);
    }
}

// ---- Arming --------------------------------------------------------------------------------

struct ArmFixture {
    ControlSeams seams;
    std::unique_ptr<TrafficSharedSection> section = test::zeroed_section();
    TrafficViewPtr view = create_traffic_view();

    ArmFixture() {
        traffic_control_system().unicast_table = injected_rows;
        traffic_control_system().free_table = free_injected;
        rows.clear();
        rows_error = NO_ERROR;
        tables_given = tables_freed = 0;
        view->section_view =
            HandleGuard<TrafficSharedSection*>(section.get(), [](TrafficSharedSection*) {});
        section->status = 1;
    }
};

std::vector<std::string> stored_addresses(TrafficSharedSection& section) {
    std::vector<std::string> texts;
    for (std::uint32_t i = 0; i < section.address_count; ++i) {
        const TrafficAddressEntry& entry = section.addresses[i];
        char text[64]{};
        inet_ntop(entry.length == 4 ? AF_INET : AF_INET6, entry.bytes, text, sizeof text);
        texts.push_back(std::string(text) + "/" + std::to_string(entry.prefix_length));
    }
    return texts;
}

TEST(TrafficArming, StoresTheAddressesOfTheOneAdapterHoldingTheReservation) {
    const std::vector<Row> adapter = {{1, "10.0.0.5", 24},
                                      {2, "192.168.56.1", 24},
                                      {1, "2a00:1450:4000::5", 64},
                                      {3, "127.0.0.1", 8},
                                      {1, "fe80::1c2b:3c4d:5e6f:7081", 64}};
    std::vector<Row> over_limit;
    for (int i = 0; i < 129; ++i) {
        over_limit.push_back({1, "10.0.1." + std::to_string(i + 1), 24});
    }
    std::vector<Row> at_limit(over_limit.begin(), over_limit.end() - 1);
    const std::vector<std::string> adapter_entries = {"10.0.0.5/24", "2a00:1450:4000::5/64",
                                                      "fe80::1c2b:3c4d:5e6f:7081/64"};

    struct Case {
        const char* name;
        nlohmann::json reservation;
        std::vector<Row> rows;
        DWORD rows_error;
        std::size_t armed_entries;  // 0: left unarmed
    };
    const Case cases[] = {
        {"IPv4 reservation", "10.0.0.5", adapter, NO_ERROR, 3},
        {"IPv6 reservation", "2a00:1450:4000::5", adapter, NO_ERROR, 3},
        {"address on two interfaces",
         "10.0.0.5",
         {{1, "10.0.0.5", 24}, {2, "10.0.0.5", 24}},
         NO_ERROR,
         0},
        {"address on no interface", "10.0.0.9", adapter, NO_ERROR, 0},
        {"not a string", 167772165, adapter, NO_ERROR, 0},
        {"null", nullptr, adapter, NO_ERROR, 0},
        {"not an IP literal", "localhost", adapter, NO_ERROR, 0},
        {"unspecified address", "0.0.0.0", adapter, NO_ERROR, 0},
        {"table unavailable", "10.0.0.5", adapter, ERROR_NOT_SUPPORTED, 0},
        {"128 addresses", "10.0.1.1", at_limit, NO_ERROR, 128},
        {"129 addresses", "10.0.1.1", over_limit, NO_ERROR, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ArmFixture f;
        rows = c.rows;
        rows_error = c.rows_error;
        arm_traffic_counter(*f.view, c.reservation);
        EXPECT_EQ(tables_freed, tables_given) << "every table read is freed";
        if (c.armed_entries == 0) {
            EXPECT_EQ(status_text(*f.view),
                      L"Brak odczytu ruchu procesów. Windows nie potwierdził karty testu.");
            EXPECT_EQ(f.section->start_qpc, 0);
            EXPECT_EQ(f.section->address_count, 0u);
            EXPECT_EQ(f.section->excluded_pid, 0u);
            continue;
        }
        EXPECT_EQ(status_text(*f.view), L"Czekam na pierwsze próbki ruchu do Internetu.");
        EXPECT_NE(f.section->start_qpc, 0);
        EXPECT_EQ(f.section->excluded_pid, GetCurrentProcessId());
        EXPECT_EQ(f.section->address_count, c.armed_entries);
        if (c.armed_entries == 3) {
            EXPECT_EQ(stored_addresses(*f.section), adapter_entries);
        }
    }
}

TEST(TrafficArming, OnlyARunningCounterIsArmedAndOnlyOnce) {
    ArmFixture f;
    rows = {{1, "10.0.0.5", 24}, {2, "10.0.0.6", 24}};
    f.section->status = 0;
    arm_traffic_counter(*f.view, "10.0.0.5");
    EXPECT_EQ(tables_given, 0);
    EXPECT_EQ(status_text(*f.view), L"Przygotowywanie odczytu Windows…");

    f.section->status = 1;
    arm_traffic_counter(*f.view, "10.0.0.5");
    const std::int64_t start = f.section->start_qpc;
    ASSERT_NE(start, 0);
    arm_traffic_counter(*f.view, "10.0.0.6");
    EXPECT_EQ(f.section->start_qpc, start);
    EXPECT_EQ(stored_addresses(*f.section), std::vector<std::string>{"10.0.0.5/24"});
    EXPECT_EQ(status_text(*f.view), L"Czekam na pierwsze próbki ruchu do Internetu.");

    TrafficViewPtr bare = create_traffic_view();
    arm_traffic_counter(*bare, "10.0.0.5");  // no section: nothing to arm
    EXPECT_EQ(status_text(*bare), L"Przygotowywanie odczytu Windows…");
    stop_traffic_counter(*bare);  // no child: nothing to stop
}

// ---- A whole monitored session -------------------------------------------------------------

// The counter child is this executable with the scripted session feeding events (see
// feed_steady_traffic); everything from the launch through the real child code, the section and
// the table is the product's.
TEST(TrafficControl, AMonitoredSessionShowsLiveRowsThenFinalAverages) {
    ControlSeams seams;
    test::ScopedEnv feed(L"TARVISKO_TRAFFIC_FEED", L"1");
    traffic_control_system().unicast_table = injected_rows;
    traffic_control_system().free_table = free_injected;
    rows = {{1, "127.0.0.1", 8}, {1, "10.0.0.5", 24}, {2, "192.168.56.1", 24}};
    rows_error = NO_ERROR;

    TrafficViewPtr view = create_traffic_view();
    ASSERT_TRUE(start_traffic_counter(*view, nullptr)) << to_utf8(status_text(*view));
    EXPECT_EQ(status_text(*view), L"Ustalanie karty używanej przez serwer pomiarowy…");
    arm_traffic_counter(*view, "10.0.0.5");
    EXPECT_EQ(status_text(*view), L"Czekam na pierwsze próbki ruchu do Internetu.");

    wchar_t self[MAX_PATH]{};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring child_name = std::filesystem::path(self).filename().wstring();
    const DWORD child_pid = GetProcessId(launch.process.get());

    TableModel live;
    for (int i = 0; i < 100 && live.rows.size() < 3; ++i) {
        Sleep(100);
        live = build_traffic_table(*view, true, L"Pobieranie");
    }
    ASSERT_EQ(live.rows.size(), 3u) << to_utf8(live.title);
    EXPECT_EQ(
        live.title.rfind(L"Pobieranie · Ruch do Internetu według procesu · Inne procesy ↓ ", 0),
        0u);
    EXPECT_EQ(live.rows[0].cells[0], child_name);
    EXPECT_EQ(live.rows[0].cells[1], std::to_wstring(child_pid));
    EXPECT_EQ(live.rows[1].cells[1], L"4000004");
    EXPECT_EQ(live.rows[2].cells[1], L"4000008");

    stop_traffic_counter(*view);
    EXPECT_FALSE(view->child.valid());
    EXPECT_EQ(exit_code_of_launched(), 0u);
    TrafficSharedSection& section = *view->section_view.get();
    EXPECT_EQ(load_traffic_status(section), 2);

    const TableModel final_table = build_traffic_table(*view, false, L"");
    ASSERT_EQ(final_table.rows.size(), 3u);
    EXPECT_EQ(
        final_table.title.rfind(L"Średni ruch do Internetu · ostatni test · Inne procesy ↓ ", 0),
        0u);
    EXPECT_EQ(final_table.rows[0].cells[0], child_name);
    EXPECT_EQ(final_table.rows[2].cells[2], L"0 Mb/s") << "process 4000008 only sends";
    EXPECT_NE(final_table.rows[2].cells[3], L"0 Mb/s");
    // The final table reads the last publication, made after the stop stamp.
    EXPECT_EQ(build_traffic_table(*view, false, L"").rows, final_table.rows);
    view.reset();  // destroy after stop: the child handle is already gone
}

}  // namespace
}  // namespace tarvisko

int main(int argc, char** argv) {
    if (auto code = tarvisko::test::run_traffic_child_mode()) return *code;
    if (argc == 3 && std::string(argv[1]) == "--seqlock-writer") {
        const std::string guid = argv[2];
        return tarvisko::run_seqlock_writer(std::wstring(guid.begin(), guid.end()));
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
