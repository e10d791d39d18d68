// What the program decides before and around its window: the role from the command line, the
// first rectangle, whether a saved placement may be used, and the keys the loop routes itself.
#include "app/entry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tarvisko {
namespace {

struct StartCase {
    std::wstring command_line;
    StartRole role;
    std::uint32_t pid;
    std::wstring traffic_arguments;
};

TEST(StartMode, RoleFromTheCommandLine) {
    const std::vector<StartCase> cases{
        {L"", StartRole::application, 0, L""},
        {L"--finish-update 42", StartRole::finish_update, 42, L""},
        {L"--finish-update 0", StartRole::bad_finish_update, 0, L""},
        {L"--finish-update ", StartRole::bad_finish_update, 0, L""},
        {L"--finish-update 12345678901", StartRole::bad_finish_update, 0, L""},
        {L"--finish-update 42a", StartRole::bad_finish_update, 0, L""},
        {L"--finish-update  42", StartRole::bad_finish_update, 0, L""},
        {L"--finish-update -1", StartRole::bad_finish_update, 0, L""},
        {L"--finish-update 4294967295", StartRole::finish_update, 4294967295u, L""},
        // Ten digits above the 32-bit range saturate rather than wrap.
        {L"--finish-update 9999999999", StartRole::finish_update, 4294967295u, L""},
        {L"--finish-update 0000000007", StartRole::finish_update, 7, L""},
        {L"--finish-update", StartRole::application, 0, L""},
        {L"--finish-update42", StartRole::application, 0, L""},
        {L"--process-traffic", StartRole::application, 0, L""},
        {L"--process-traffic ", StartRole::process_traffic, 0, L""},
        {L"--process-traffic 12 section", StartRole::process_traffic, 0, L"12 section"},
        {L"--process-traffic --finish-update 4", StartRole::process_traffic, 0,
         L"--finish-update 4"},
        {L" --finish-update 4", StartRole::application, 0, L""},
        {L"anything else", StartRole::application, 0, L""},
    };
    for (const auto& c : cases) {
        const StartMode mode = start_mode(c.command_line);
        SCOPED_TRACE(std::string(c.command_line.begin(), c.command_line.end()));
        EXPECT_EQ(mode.role, c.role);
        EXPECT_EQ(mode.pid, c.pid);
        EXPECT_EQ(std::wstring(mode.traffic_arguments), c.traffic_arguments);
    }
}

TEST(InitialWindowRect, CentredAndCappedByTheWorkArea) {
    struct Case {
        RECT work;
        int dpi;
        RECT expected;
    };
    const std::vector<Case> cases{
        {{0, 0, 1920, 1040}, 96, {360, 120, 1560, 920}},
        {{0, 0, 3840, 2100}, 144, {1020, 450, 2820, 1650}},
        // Smaller than 1200 x 800 DIP: the whole work area.
        {{0, 0, 1024, 728}, 96, {0, 0, 1024, 728}},
        {{0, 0, 1600, 900}, 144, {0, 0, 1600, 900}},
        // A work area that does not start at the origin (taskbar on the left or top); an odd
        // remainder is halved toward zero.
        {{60, 30, 1341, 1001}, 96, {100, 115, 1300, 915}},
        {{-1920, 0, 0, 1080}, 96, {-1560, 140, -360, 940}},
    };
    for (const auto& c : cases) {
        const RECT rect = initial_window_rect(c.work, c.dpi);
        EXPECT_EQ(rect.left, c.expected.left);
        EXPECT_EQ(rect.top, c.expected.top);
        EXPECT_EQ(rect.right, c.expected.right);
        EXPECT_EQ(rect.bottom, c.expected.bottom);
    }
}

TEST(PlacementUsable, OnlyAWholeRecordOnAPresentMonitor) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    static_assert(sizeof(WINDOWPLACEMENT) == 44);
    EXPECT_TRUE(placement_usable(placement, 44, true));
    EXPECT_FALSE(placement_usable(placement, 44, false));  // its monitor was removed
    EXPECT_FALSE(placement_usable(placement, 40, true));
    EXPECT_FALSE(placement_usable(placement, 0, true));
    placement.length = 40;
    EXPECT_FALSE(placement_usable(placement, 44, true));
}

TEST(RouteMessage, KeysTheLoopHandlesItself) {
    HWND details = reinterpret_cast<HWND>(0x1000);
    HWND list = reinterpret_cast<HWND>(0x2000);
    HWND other = reinterpret_cast<HWND>(0x3000);
    auto key = [](HWND window, WPARAM code) {
        MSG message{};
        message.hwnd = window;
        message.message = WM_KEYDOWN;
        message.wParam = code;
        return message;
    };
    MSG click = key(list, 0);
    click.message = WM_LBUTTONDOWN;
    MSG char_c = key(list, 0x43);
    char_c.message = WM_CHAR;

    RouteInput base;
    base.results_list = list;
    RouteInput with_details = base;
    with_details.details = details;
    RouteInput in_details = with_details;
    in_details.for_details = true;
    RouteInput ctrl = with_details;
    ctrl.control_down = true;
    RouteInput ctrl_in_details = in_details;
    ctrl_in_details.control_down = true;
    RouteInput reports = base;
    reports.current_page = 9;
    reports.open_button_visible = true;
    RouteInput reports_10 = reports;
    reports_10.current_page = 10;
    RouteInput reports_hidden = reports;
    reports_hidden.open_button_visible = false;
    RouteInput page_7 = reports;
    page_7.current_page = 7;
    // A stale "for details" flag without a details window routes as usual.
    RouteInput no_details_flag = base;
    no_details_flag.for_details = true;
    no_details_flag.control_down = true;

    struct Case {
        const char* name;
        MSG message;
        RouteInput input;
        MessageRoute expected;
    };
    const std::vector<Case> cases{
        {"escape in details", key(details, VK_ESCAPE), in_details, MessageRoute::details_escape},
        {"other key in details", key(details, VK_TAB), in_details, MessageRoute::details_dialog},
        {"click in details", click, in_details, MessageRoute::details_dialog},
        {"ctrl+c meant for details", key(details, 0x43), ctrl_in_details,
         MessageRoute::details_dialog},
        {"escape elsewhere", key(list, VK_ESCAPE), with_details, MessageRoute::dispatch},
        {"ctrl+c in list with details open", key(list, 0x43), ctrl, MessageRoute::copy_row},
        {"ctrl+c without details", key(list, 0x43), no_details_flag, MessageRoute::copy_row},
        {"c without ctrl", key(list, 0x43), with_details, MessageRoute::dispatch},
        {"ctrl+c outside the list", key(other, 0x43), ctrl, MessageRoute::dispatch},
        {"WM_CHAR c with ctrl", char_c, ctrl, MessageRoute::dispatch},
        {"enter on page 9", key(list, VK_RETURN), reports, MessageRoute::open_report},
        {"enter on page 10", key(list, VK_RETURN), reports_10, MessageRoute::open_report},
        {"enter with the open button hidden", key(list, VK_RETURN), reports_hidden,
         MessageRoute::dispatch},
        {"enter on page 7", key(list, VK_RETURN), page_7, MessageRoute::dispatch},
        {"enter outside the list", key(other, VK_RETURN), reports, MessageRoute::dispatch},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(route_message(c.message, c.input), c.expected) << c.name;
    }
}

TEST(StartSweep, TemporaryFilesOfGoneWritersInTheProgramsOwnFolders) {
    namespace fs = std::filesystem;
    test::TempDir local;
    test::ScopedEnv local_env(L"LOCALAPPDATA", local.path().wstring());
    const fs::path root = local.path() / L"QUORVEL" / L"Sondaro";
    const fs::path data = root / std::wstring(64, L'c');
    const fs::path foreign = root / L"other";
    for (const fs::path& folder : {data / L"reports", foreign}) fs::create_directories(folder);
    // No process can have the first id; the second is this one's.
    const std::wstring gone = L".4294967292.tmp";
    const std::wstring mine = L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    const std::vector<fs::path> removed = {root / (L"targets-x.json" + gone),
                                           data / (L"last-report.json" + gone),
                                           data / L"reports" / (L"a.json" + gone)};
    const std::vector<fs::path> kept = {root / (L"wifi-baseline.json" + mine),
                                        data / (L"last-mtr.json" + mine),
                                        foreign / (L"last-report.json" + gone)};
    for (const auto& file : removed) std::ofstream(file) << "x";
    for (const auto& file : kept) std::ofstream(file) << "x";

    EXPECT_EQ(own_data_folders(), (std::vector<fs::path>{root, data, data / L"reports"}));
    sweep_abandoned_temporary_files();
    for (const auto& file : removed) EXPECT_FALSE(fs::exists(file)) << file;
    for (const auto& file : kept) EXPECT_TRUE(fs::exists(file)) << file;

    // Without the local data folder there is nothing to look at.
    test::ScopedEnv empty(L"LOCALAPPDATA", std::wstring());
    EXPECT_TRUE(own_data_folders().empty());
    sweep_abandoned_temporary_files();
}

}  // namespace
}  // namespace tarvisko
