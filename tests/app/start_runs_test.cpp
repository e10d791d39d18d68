// The target-run request a page asks for, from its combo selections, target text and profile;
// starting a full test or a target run in the window.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "app/controls.h"
#include "app/jobs.h"
#include "app/messages.h"
#include "app/services.h"
#include "app/status_texts.h"
#include "app/start_runs.h"
#include "results/hop_table.h"
#include "traffic/traffic_control.h"
#include "results/icmp_table.h"
#include "support/window_harness.h"

namespace tarvisko {
namespace {

using nlohmann::json;

struct Expected {
    std::string purpose, profile_name, protocol, region, target_kind;
    std::uint32_t attempts, max_ttl, interval_ms;
    bool echo;
    std::int32_t family;
    bool repeat;
};

void expect_request(const std::optional<TargetRunRequest>& request, const Expected& e,
                    const std::string& name) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->purpose, e.purpose);
    EXPECT_EQ(request->profile_name, e.profile_name);
    EXPECT_EQ(request->protocol, e.protocol);
    EXPECT_EQ(request->region, e.region);
    EXPECT_EQ(request->target_kind, e.target_kind);
    EXPECT_EQ(request->attempts, e.attempts);
    EXPECT_EQ(request->max_ttl, e.max_ttl);
    EXPECT_EQ(request->interval_ms, e.interval_ms);
    EXPECT_EQ(request->timeout_ms, 400u);
    EXPECT_EQ(request->echo, e.echo);
    EXPECT_EQ(request->family, e.family);
    EXPECT_EQ(request->repeat, e.repeat);
}

TargetPageInputs inputs(int page) {
    TargetPageInputs in;
    in.page = page;
    in.target = L"serwer.example";
    return in;
}

const json profile = json::parse(R"({
    "name": "Gra",
    "regions": [
        {"label": "Frankfurt", "kind": "official_server", "host": "a.example"},
        {"host": "b.example"}
    ]
})");

TEST(TargetRunRequest, PerPageTable) {
    {
        TargetPageInputs in = inputs(8);
        in.combo_313 = 5;  // "Do zatrzymania"
        expect_request(target_run_request(in, nullptr),
                       {"monitor", "Monitoring", "icmp", "", "user_supplied", 300, 64, 1000, true,
                        0, true},
                       "page 8 until stopped");
        in.combo_313 = 2;
        expect_request(target_run_request(in, nullptr),
                       {"monitor", "Monitoring", "icmp", "", "user_supplied", 900, 64, 1000, true,
                        0, false},
                       "page 8 fifteen minutes");
        in.combo_313 = 9;  // past the end: the last entry, not a repeat
        expect_request(target_run_request(in, nullptr),
                       {"monitor", "Monitoring", "icmp", "", "user_supplied", 3600, 64, 1000, true,
                        0, false},
                       "page 8 past the end");
    }
    {
        TargetPageInputs in = inputs(7);
        in.combo_314 = 1;  // TCP 443
        in.combo_313 = 1;
        in.combo_317 = 2;
        in.combo_318 = 1;
        in.combo_324 = 2;  // IPv6
        expect_request(target_run_request(in, nullptr),
                       {"mtr", "MTR", "tcp", "", "user_supplied", 100, 32, 500, false, 6, false},
                       "page 7 TCP and IPv6");
        in.combo_324 = 1;
        EXPECT_EQ(target_run_request(in, nullptr)->family, 4);
        // No selection anywhere: the first entry of every table.
        expect_request(target_run_request(inputs(7), nullptr),
                       {"mtr", "MTR", "icmp", "", "user_supplied", 20, 8, 100, false, 0, false},
                       "page 7 no selection");
    }
    {
        TargetPageInputs in = inputs(6);
        in.profile_text = L"Gra";
        in.combo_327 = 1;  // "Trasa MTR"
        in.combo_328 = 2;
        in.combo_316 = 0;
        expect_request(target_run_request(in, profile),
                       {"gaming", "Gra", "icmp", "Frankfurt", "official_server", 300, 16, 100,
                        false, 0, false},
                       "page 6 route");
        in.combo_327 = 0;
        in.combo_316 = 1;  // a region without label and kind
        expect_request(target_run_request(in, profile),
                       {"gaming", "Gra", "icmp", "", "official_diagnostic", 300, 64, 1000, true, 0,
                        false},
                       "page 6 region defaults");
        for (int selection : {-1, 2}) {  // no region chosen, or "Własny cel"
            in.combo_316 = selection;
            expect_request(target_run_request(in, profile),
                           {"gaming", "Gra", "icmp", "", "user_supplied", 300, 64, 1000, true, 0,
                            false},
                           "page 6 own target " + std::to_string(selection));
        }
        in.combo_316 = 0;
        expect_request(target_run_request(in, json{{"name", "Bez regionów"}}),
                       {"gaming", "Gra", "icmp", "", "user_supplied", 300, 64, 1000, true, 0,
                        false},
                       "page 6 profile without regions");
    }
}

TEST(TargetRunRequest, NoTargetNoRequest) {
    for (const std::wstring& target : {std::wstring(), std::wstring(L"a\xD800" L"b"),
                                       std::wstring(1, static_cast<wchar_t>(0xDC00))}) {
        TargetPageInputs in = inputs(7);
        in.target = target;
        EXPECT_FALSE(target_run_request(in, nullptr).has_value());
    }
    EXPECT_FALSE(target_run_request(inputs(5), nullptr).has_value());
    TargetPageInputs in = inputs(7);
    in.target = L"zażółć.example";
    EXPECT_EQ(target_run_request(in, nullptr)->target, "zażółć.example");
}

// --- Starting in the window ------------------------------------------------------------------

using test::WindowHarness;

// The starts are looked at before their jobs run: the service table keeps the job instead of
// starting a thread, and the engine services are present but never called.
class StartInWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        app_services().run_desktop_test = [](const std::atomic<bool>&, const PhaseCallback&,
                                             LiveTraffic&) { return json::object(); };
        app_services().run_target_probe = [](const TargetRunRequest&, const std::atomic<bool>&,
                                             const SampleCallback&) { return json::object(); };
        app_services().start_job_thread = [this](JobSlot&,
                                                 std::function<void(std::stop_token)> job) {
            started.push_back(std::move(job));
        };
        measurement_running = false;
        last_report_loading = false;
        live_target_page = 0;
        traffic_monitor.reset();
    }
    void TearDown() override {
        app_services() = saved;
        measurement_running = false;
        live_target_page = 0;
        traffic_monitor.reset();
        live_traffic.local_address_callback = nullptr;
    }
    void open_page(int page) {
        harness.state().current_page = page;
        harness.state().table_view_shown = true;
    }
    void select(int id, std::vector<std::wstring> items, int index) {
        fill_combo(harness.state(), id, items, index);
    }
    bool nav_enabled() const {
        for (int id = first_nav_button_id; id <= last_nav_button_id; ++id) {
            if (harness.enabled(id)) return true;
        }
        return false;
    }
    // KillTimer tells whether the timer ran.
    bool timer_running(UINT_PTR id) const { return KillTimer(harness.window(), id) != 0; }

    AppServices saved = app_services();
    std::vector<std::function<void(std::stop_token)>> started;
    WindowHarness harness;
};

TEST_F(StartInWindow, EmptyTargetOnlyAsksForOne) {
    open_page(7);
    SetWindowTextW(harness.child(target_edit_id), L"");
    harness.state().shown_table.title = L"przed";
    launch_route(harness.window());
    EXPECT_EQ(harness.state().shown_table.title, L"Wpisz pojedynczy adres IP lub nazwę DNS.");
    EXPECT_EQ(GetFocus(), harness.child(target_edit_id));
    EXPECT_FALSE(measurement_running);
    EXPECT_EQ(live_target_page, 0);
    EXPECT_TRUE(started.empty());
    EXPECT_FALSE(timer_running(timer_live_samples));
    EXPECT_TRUE(nav_enabled());
}

TEST_F(StartInWindow, TargetRunRefusedOffTheTargetPagesOrWhileBusy) {
    SetWindowTextW(harness.child(target_edit_id), L"127.0.0.1");
    open_page(5);
    launch_route(harness.window());
    open_page(7);
    measurement_running = true;
    launch_route(harness.window());
    measurement_running = false;
    last_report_loading = true;
    launch_route(harness.window());
    last_report_loading = false;
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(live_target_page, 0);
}

TEST_F(StartInWindow, RouteRunShowsTheHopTableAndAMonitoringRunTheLatencyTable) {
    for (int page : {7, 8}) {
        SCOPED_TRACE(page);
        started.clear();
        measurement_running = false;
        open_page(page);
        select(method_combo_id, {L"ICMP", L"TCP 443"}, 1);
        SetWindowTextW(harness.child(target_edit_id), L"127.0.0.1");
        live_samples = json::array({1});
        shown_samples = json::array({2});
        set_tool_controls_enabled(harness.state(), true);
        layout_main_window(harness.state());
        {
            const std::unique_ptr<test::Dib> save = harness.render_item(save_target_button_id);
            EXPECT_EQ(save->pixel(save->width() / 2, 2), RGB(0xFF, 0xFF, 0xFF));  // enabled
        }
        launch_route(harness.window());

        ASSERT_EQ(started.size(), 1u);
        EXPECT_TRUE(measurement_running);
        EXPECT_EQ(live_target_page, page);
        EXPECT_EQ(live_view_hop_table, page == 7);
        EXPECT_EQ(live_samples, json::array());
        EXPECT_EQ(shown_samples, json::array());
        const TableModel expected = page == 7 ? build_mtr_hop_table(json::array(), {})
                                              : build_icmp_latency_table(json::array());
        EXPECT_EQ(harness.state().shown_table.columns, expected.columns);
        EXPECT_EQ(harness.state().shown_table.title, L"Ustalanie adresu celu…");
        EXPECT_EQ(harness.text(run_target_button_id), L"Zatrzymaj");
        EXPECT_FALSE(harness.enabled(target_edit_id));
        EXPECT_FALSE(nav_enabled());
        EXPECT_FALSE(harness.enabled(summary_button_id));
        EXPECT_TRUE(timer_running(timer_live_samples));
        EXPECT_FALSE(timer_running(timer_process_traffic));
        // "Zapisz cel" is off during the run and is drawn so: a flat window-grey face, not the
        // white of a button that can be pressed.
        EXPECT_FALSE(harness.enabled(save_target_button_id));
        const std::unique_ptr<test::Dib> save = harness.render_item(save_target_button_id);
        EXPECT_EQ(save->pixel(save->width() / 2, 2), RGB(0xF3, 0xF3, 0xF3));
    }
}

TEST_F(StartInWindow, TargetRunWhoseThreadCannotStartIsTakenBack) {
    app_services().start_job_thread = [](JobSlot&, std::function<void(std::stop_token)>) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "no thread");
    };
    open_page(7);
    SetWindowTextW(harness.child(target_edit_id), L"127.0.0.1");
    launch_route(harness.window());
    EXPECT_FALSE(measurement_running);
    EXPECT_EQ(live_target_page, 0);
    EXPECT_TRUE(nav_enabled());
    EXPECT_TRUE(harness.enabled(summary_button_id));
    EXPECT_EQ(harness.text(run_target_button_id), L"Wykonaj test");
    EXPECT_FALSE(timer_running(timer_live_samples));
    EXPECT_NE(harness.state().shown_table.title.find(L"no thread"), std::wstring::npos);
}

TEST_F(StartInWindow, FullTestWithoutMonitoringDropsAnOldViewAndShowsTheDashboard) {
    traffic_monitor = create_traffic_view();
    last_error_text = L"stary błąd";
    technical_report_text = L"stary raport";
    current_report = json::object();
    open_page(5);
    run(harness.window(), false);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(traffic_monitor, nullptr);
    EXPECT_FALSE(live_traffic.local_address_callback);
    EXPECT_EQ(harness.state().current_page, 0);
    EXPECT_TRUE(measurement_running);
    EXPECT_TRUE(current_report.is_null());
    EXPECT_EQ(last_error_text, L"");
    EXPECT_EQ(technical_report_text, L"");
    EXPECT_EQ(harness.state().status_message, L"Łączenie z serwerem…");
    EXPECT_EQ(GetFocus(), harness.child(stop_button_id));
    EXPECT_FALSE(nav_enabled());
    EXPECT_FALSE(timer_running(timer_process_traffic));
}

TEST_F(StartInWindow, FullTestWithMonitoringShowsTheTrafficTable) {
    std::vector<json> armed;
    app_services().create_traffic_view = [] { return create_traffic_view(); };
    app_services().build_traffic_table = [](TrafficView&, bool live, const std::wstring& label) {
        TableModel table;
        table.title = (live ? L"live · " : L"final · ") + label;
        return table;
    };
    app_services().arm_traffic_counter = [&](TrafficView&, const json& reservation) {
        armed.push_back(reservation);
    };
    run(harness.window(), true);
    ASSERT_EQ(started.size(), 1u);
    ASSERT_NE(traffic_monitor, nullptr);
    EXPECT_EQ(harness.state().current_page, 2);
    EXPECT_EQ(harness.state().shown_table.title, L"live · Uruchamianie testu");
    EXPECT_EQ(harness.text(stop_reading_button_id), L"Zatrzymaj pomiar");
    EXPECT_EQ(GetFocus(), harness.child(stop_reading_button_id));
    EXPECT_EQ(harness.state().status_message, L"Oczekiwanie na licznik ruchu Windows…");
    EXPECT_TRUE(timer_running(timer_process_traffic));
    ASSERT_TRUE(live_traffic.local_address_callback);
    live_traffic.local_address_callback(json("192.0.2.1"));
    EXPECT_EQ(armed, std::vector<json>{json("192.0.2.1")});
}

}  // namespace
}  // namespace tarvisko
