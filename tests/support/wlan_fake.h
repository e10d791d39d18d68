#pragma once
// A WLAN service for tests, behind the WlanApi table. Wine lists no wireless interfaces and its
// WlanGetNetworkBssList ends the process, so every test of Wi-Fi code past WlanEnumInterfaces
// runs against this fake: the test chooses the codes, interfaces, replies and network lists; the
// fake sends scan notifications from a thread of its own and counts every reply handed out,
// freed, and every client handle opened and closed.
//
// One FakeWlan at a time: its constructor installs it as the target of the table's functions.
#include <windows.h>
#include <wlanapi.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/inventory/wifi.h"

namespace tarvisko::test {

// What one call answers: the result code and, when not empty, the reply buffer (a failing call
// may still hand one back; the caller frees it all the same).
struct FakeWlanReply {
    DWORD result = ERROR_SUCCESS;
    std::vector<std::uint8_t> bytes{};
};

struct FakeWlanInterface {
    GUID guid{};
    WLAN_INTERFACE_STATE state = wlan_interface_state_disconnected;
    std::wstring description = L"Fake Wireless Adapter";  // cut to 255 units in the list
    // WlanQueryInterface by opcode; an opcode not listed answers ERROR_NOT_SUPPORTED.
    std::map<WLAN_INTF_OPCODE, FakeWlanReply> replies{};
    // WlanGetNetworkBssList: bytes of a WLAN_BSS_LIST (see wifi_fixtures.h). The default is an
    // empty list's header.
    FakeWlanReply bss_list{ERROR_SUCCESS, {8, 0, 0, 0, 0, 0, 0, 0}};
};

// A notification the fake sends after a successful WlanScan, to the callback registered then.
struct FakeScanNotification {
    DWORD source = WLAN_NOTIFICATION_SOURCE_ACM;
    DWORD code = wlan_notification_acm_scan_complete;
    std::optional<GUID> guid{};  // absent: the interface that was scanned
};

class FakeWlan {
  public:
    FakeWlan();
    ~FakeWlan();
    FakeWlan(const FakeWlan&) = delete;
    FakeWlan& operator=(const FakeWlan&) = delete;

    // The table whose functions answer from this fake.
    const WlanApi& api() const;

    // Chosen answers.
    DWORD open_result = ERROR_SUCCESS;
    DWORD enum_result = ERROR_SUCCESS;
    bool enum_gives_list = true;  // false: WlanEnumInterfaces answers enum_result without a list
    std::vector<FakeWlanInterface> interfaces;
    DWORD register_result = ERROR_SUCCESS;    // WlanRegisterNotification for a source
    DWORD unregister_result = ERROR_SUCCESS;  // WlanRegisterNotification with source none
    DWORD scan_result = ERROR_SUCCESS;
    // Sent in order from the notifier thread after a successful WlanScan, each after
    // notification_delay. Notifications stop when the registration is removed or the handle
    // closed; a removal or close waits for a callback that is running, as the service does.
    std::vector<FakeScanNotification> scan_notifications;
    std::chrono::milliseconds notification_delay{0};
    int throw_on_query = -1;  // index of the WlanQueryInterface call that runs out of memory

    // What the code under test did.
    int opens = 0;
    int closes = 0;
    int frees = 0;
    int queries = 0;
    int registrations = 0;    // calls with a notification source
    int unregistrations = 0;  // calls with source none
    int scans = 0;
    int bss_list_calls = 0;
    int notifications_delivered = 0;
    int invalid_handle_calls = 0;  // calls with a handle that is not open (null, closed, unknown)
    bool freed_unknown = false;    // WlanFreeMemory of something the fake never handed out
    DWORD registered_source = 0;   // arguments of the last registration with a source
    BOOL registered_ignore_duplicate = TRUE;
    void* registered_context = nullptr;
    bool scan_had_ssid_or_ie = false;
    bool bss_list_call_filtered = false;  // an SSID, a BSS type other than any, or security on
    std::vector<WLAN_INTF_OPCODE> queried_opcodes;

    std::size_t outstanding_replies() const;
    std::size_t open_handles() const;
    // GoogleTest expectations: every reply freed exactly once, nothing unknown freed, every
    // opened handle closed exactly once, no call on a handle that was not open.
    void expect_released() const;

  private:
    friend struct FakeWlanCalls;

    void* allocate(const std::vector<std::uint8_t>& bytes);
    void* allocate_size(std::size_t size);
    bool handle_open(HANDLE handle);
    const FakeWlanInterface* find(const GUID* guid) const;
    void start_notifier(const GUID& scanned);
    void end_registration();
    void join_notifier();

    std::set<void*> outstanding_;
    std::set<HANDLE> handles_;
    std::uintptr_t next_handle_ = 0x4240;

    std::mutex mutex_;  // guards the registration and stop flag against the notifier thread
    std::condition_variable wake_;
    WLAN_NOTIFICATION_CALLBACK callback_ = nullptr;
    void* context_ = nullptr;
    bool stop_ = false;
    std::thread notifier_;
};

// A GUID numbered n, stable across runs.
GUID test_guid(std::uint32_t n);

// The object's bytes, cut to `size` when given.
template <typename T>
std::vector<std::uint8_t> bytes_of(const T& value, std::size_t size = sizeof(T)) {
    std::vector<std::uint8_t> bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    bytes.resize(size);
    return bytes;
}

// A connected association to `bssid` under the SSID (its bytes as given, at most 32), with
// profile name "HomeProfileName", HT/VHT phy 8, quality 87 %, 866,700 / 585,000 kbit/s.
WLAN_CONNECTION_ATTRIBUTES wlan_connection(std::string_view ssid,
                                           const std::array<std::uint8_t, 6>& bssid);

// Interface n in state connected that answers the current connection (a 604-byte record),
// the RSSI and the channel number.
FakeWlanInterface connected_wlan_interface(std::uint32_t n,
                                           const WLAN_CONNECTION_ATTRIBUTES& connection,
                                           std::int32_t rssi_dbm, std::uint32_t channel);

}  // namespace tarvisko::test
