#pragma once
// The application's side of the per-process traffic monitor: one TrafficView per monitored full
// test. start_traffic_counter creates the section and stop event and launches the counter process
// (elevated when the token may not trace); arm_traffic_counter tells it which adapter carries the
// measurement once the engine knows the local address of its reservation; stop_traffic_counter
// closes the counting window and lets the child end. Every failure only changes the view's status
// text (the traffic table's title) and start's result: the test itself always goes on.
//
// Threads: start and stop run on the full-test job, arm on the engine's reservation callback, the
// table on the window thread. `lock` guards every member but `child`, which only start and stop
// touch, one after the other on the job thread (and destroy after the job was joined).
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <shellapi.h>
// clang-format on

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/common/handle_guard.h"
#include "results/table_model.h"
#include "traffic/traffic_section.h"

namespace tarvisko {

// The Windows calls of the control that tests replace; each defaults to the real call. Wine's
// token reports every process elevated, its launches never ask for consent, and its unicast table
// holds only the test machine's addresses: tests inject the token, the launcher, the GUID and the
// address rows here. Set once, before a view is started.
struct TrafficControlSystem {
    decltype(&CoCreateGuid) create_guid = CoCreateGuid;
    decltype(&CheckTokenMembership) check_token_membership = CheckTokenMembership;
    decltype(&GetTokenInformation) token_information = GetTokenInformation;
    decltype(&ShellExecuteExW) shell_execute = ShellExecuteExW;
    decltype(&GetUnicastIpAddressTable) unicast_table = GetUnicastIpAddressTable;
    decltype(&FreeMibTable) free_table = FreeMibTable;
};
TrafficControlSystem& traffic_control_system();

struct TrafficView {
    std::mutex lock;
    // Released in reverse order by destroy_traffic_view: the section view before the child, the
    // stop event and the section.
    HandleGuard<HANDLE> section;
    HandleGuard<HANDLE> stop_event;
    HandleGuard<HANDLE> child;  // not under `lock`: see above
    HandleGuard<TrafficSharedSection*> section_view;
    std::wstring status_text = L"Przygotowywanie odczytu Windows…";
    // The table's state between calls (see traffic_table.h).
    TrafficSnapshot saved_snapshot{};
    TableModel cached_live_table;
    std::map<std::uint32_t, std::wstring> process_names;
};

// Stops the counter, then releases everything the view holds and frees it.
void destroy_traffic_view(TrafficView* view);
// The same declaration as the shell's state (app/app_state.h), which knows the view only by name:
// the deleter travels with the pointer.
using TrafficViewPtr = std::unique_ptr<TrafficView, void (*)(TrafficView*)>;

// A new view in its first state, owned by a pointer that destroys it with destroy_traffic_view.
TrafficViewPtr create_traffic_view();

// True when the counter process runs and has reported so. Never throws; on false the status text
// says why, and the test goes on without counting.
bool start_traffic_counter(TrafficView& view, HWND owner);
// `reservation_local_address` is the engine's reservation local address: a JSON string with an IP
// literal is expected. Stores the addresses of the adapter holding it, this process's id and the
// start stamp; anything else leaves the counter unarmed with a status text saying so. Only the
// first successful arming counts.
void arm_traffic_counter(TrafficView& view, const nlohmann::json& reservation_local_address);
// Stamps the end of counting (once), signals the child and waits up to 3 s for it; the section
// stays readable for the final table. Does nothing without a child.
void stop_traffic_counter(TrafficView& view);

// "open" when the token may trace the kernel provider itself (a member of Performance Log Users,
// or elevated), else "runas".
const wchar_t* traffic_launch_verb(bool performance_log_member, bool elevated);

// Calls CoUninitialize at the end of its scope when the CoInitializeEx it guards succeeded.
class couninitialize_guard {
  public:
    explicit couninitialize_guard(HRESULT initialized) : active_(SUCCEEDED(initialized)) {}
    ~couninitialize_guard() {
        if (active_) CoUninitialize();
    }
    couninitialize_guard(const couninitialize_guard&) = delete;
    couninitialize_guard& operator=(const couninitialize_guard&) = delete;

  private:
    bool active_;
};

}  // namespace tarvisko
