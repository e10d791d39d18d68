#include "support/wlan_fake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <new>
#include <stdexcept>

namespace tarvisko::test {
namespace {

FakeWlan* installed = nullptr;

}  // namespace

// The table's functions: each answers from the installed fake.
struct FakeWlanCalls {
    static FakeWlan& fake() {
        if (installed == nullptr) throw std::logic_error("no FakeWlan installed");
        return *installed;
    }

    static DWORD WINAPI open(DWORD version, PVOID, PDWORD negotiated, PHANDLE handle) {
        FakeWlan& f = fake();
        EXPECT_EQ(version, 2u);
        if (f.open_result != ERROR_SUCCESS) return f.open_result;
        ++f.opens;
        const HANDLE opened = reinterpret_cast<HANDLE>(f.next_handle_++);
        f.handles_.insert(opened);
        *negotiated = 2;
        *handle = opened;
        return ERROR_SUCCESS;
    }

    static DWORD WINAPI enumerate(HANDLE handle, PVOID, PWLAN_INTERFACE_INFO_LIST* list) {
        FakeWlan& f = fake();
        if (!f.handle_open(handle)) return ERROR_INVALID_HANDLE;
        if (f.enum_result != ERROR_SUCCESS || !f.enum_gives_list) return f.enum_result;
        const std::size_t n = f.interfaces.size();
        const std::size_t size = offsetof(WLAN_INTERFACE_INFO_LIST, InterfaceInfo) +
                                 sizeof(WLAN_INTERFACE_INFO) * std::max<std::size_t>(n, 1);
        auto* result = static_cast<WLAN_INTERFACE_INFO_LIST*>(f.allocate_size(size));
        result->dwNumberOfItems = static_cast<DWORD>(n);
        for (std::size_t i = 0; i < n; ++i) {
            WLAN_INTERFACE_INFO& info = result->InterfaceInfo[i];
            info.InterfaceGuid = f.interfaces[i].guid;
            info.isState = f.interfaces[i].state;
            const std::wstring& text = f.interfaces[i].description;
            const std::size_t units = std::min<std::size_t>(text.size(), 255);
            std::copy_n(text.data(), units, info.strInterfaceDescription);
            info.strInterfaceDescription[units] = L'\0';
        }
        *list = result;
        return ERROR_SUCCESS;
    }

    static DWORD WINAPI query(HANDLE handle, const GUID* guid, WLAN_INTF_OPCODE opcode, PVOID,
                              PDWORD size, PVOID* data, PWLAN_OPCODE_VALUE_TYPE) {
        FakeWlan& f = fake();
        if (!f.handle_open(handle)) return ERROR_INVALID_HANDLE;
        if (f.queries++ == f.throw_on_query) throw std::bad_alloc();
        f.queried_opcodes.push_back(opcode);
        const FakeWlanInterface* item = f.find(guid);
        if (item == nullptr) return ERROR_NOT_FOUND;
        const auto found = item->replies.find(opcode);
        if (found == item->replies.end()) return ERROR_NOT_SUPPORTED;
        const FakeWlanReply& reply = found->second;
        if (!reply.bytes.empty()) {
            *data = f.allocate(reply.bytes);
            *size = static_cast<DWORD>(reply.bytes.size());
        }
        return reply.result;
    }

    static VOID WINAPI free_memory(PVOID memory) {
        FakeWlan& f = fake();
        ++f.frees;
        if (f.outstanding_.erase(memory) == 0) {
            f.freed_unknown = true;
            return;
        }
        ::operator delete(memory);
    }

    static DWORD WINAPI close(HANDLE handle, PVOID reserved) {
        FakeWlan& f = fake();
        EXPECT_EQ(reserved, nullptr);
        if (f.handles_.erase(handle) == 0) {
            ++f.invalid_handle_calls;
            return ERROR_INVALID_HANDLE;
        }
        ++f.closes;
        // Closing the handle ends its registration and waits for a callback that is running.
        f.end_registration();
        return ERROR_SUCCESS;
    }

    static DWORD WINAPI register_notification(HANDLE handle, DWORD source, WINBOOL ignore_duplicate,
                                              WLAN_NOTIFICATION_CALLBACK callback, PVOID context,
                                              PVOID, PDWORD) {
        FakeWlan& f = fake();
        if (!f.handle_open(handle)) return ERROR_INVALID_HANDLE;
        if (source == WLAN_NOTIFICATION_SOURCE_NONE) {
            ++f.unregistrations;
            if (f.unregister_result != ERROR_SUCCESS) return f.unregister_result;
            f.end_registration();
            return ERROR_SUCCESS;
        }
        ++f.registrations;
        f.registered_source = source;
        f.registered_ignore_duplicate = ignore_duplicate;
        f.registered_context = context;
        if (f.register_result != ERROR_SUCCESS) return f.register_result;
        const std::lock_guard lock(f.mutex_);
        f.callback_ = callback;
        f.context_ = context;
        return ERROR_SUCCESS;
    }

    static DWORD WINAPI scan(HANDLE handle, const GUID* guid, const PDOT11_SSID ssid,
                             const PWLAN_RAW_DATA ie_data, PVOID) {
        FakeWlan& f = fake();
        if (!f.handle_open(handle)) return ERROR_INVALID_HANDLE;
        ++f.scans;
        if (ssid != nullptr || ie_data != nullptr) f.scan_had_ssid_or_ie = true;
        if (f.scan_result != ERROR_SUCCESS) return f.scan_result;
        f.start_notifier(*guid);
        return ERROR_SUCCESS;
    }

    static DWORD WINAPI bss_list(HANDLE handle, const GUID* guid, const PDOT11_SSID ssid,
                                 DOT11_BSS_TYPE type, WINBOOL security, PVOID,
                                 PWLAN_BSS_LIST* list) {
        FakeWlan& f = fake();
        if (!f.handle_open(handle)) return ERROR_INVALID_HANDLE;
        ++f.bss_list_calls;
        if (ssid != nullptr || type != dot11_BSS_type_any || security != FALSE) {
            f.bss_list_call_filtered = true;
        }
        const FakeWlanInterface* item = f.find(guid);
        if (item == nullptr) return ERROR_NOT_FOUND;
        if (!item->bss_list.bytes.empty()) {
            *list = static_cast<PWLAN_BSS_LIST>(f.allocate(item->bss_list.bytes));
        }
        return item->bss_list.result;
    }
};

FakeWlan::FakeWlan() {
    if (installed != nullptr) throw std::logic_error("a FakeWlan is already installed");
    installed = this;
}

FakeWlan::~FakeWlan() {
    end_registration();
    for (void* memory : outstanding_) ::operator delete(memory);
    installed = nullptr;
}

const WlanApi& FakeWlan::api() const {
    static const WlanApi table{&FakeWlanCalls::open,  &FakeWlanCalls::enumerate,
                               &FakeWlanCalls::query, &FakeWlanCalls::free_memory,
                               &FakeWlanCalls::close, &FakeWlanCalls::register_notification,
                               &FakeWlanCalls::scan,  &FakeWlanCalls::bss_list};
    return table;
}

std::size_t FakeWlan::outstanding_replies() const { return outstanding_.size(); }

std::size_t FakeWlan::open_handles() const { return handles_.size(); }

void FakeWlan::expect_released() const {
    EXPECT_EQ(outstanding_.size(), 0u) << "WLAN replies not freed";
    EXPECT_FALSE(freed_unknown) << "freed memory the WLAN service never handed out";
    EXPECT_EQ(handles_.size(), 0u) << "client handles left open";
    EXPECT_EQ(closes, opens) << "client handle not closed exactly once";
    EXPECT_EQ(invalid_handle_calls, 0) << "a WLAN call on a handle that was not open";
}

void* FakeWlan::allocate_size(std::size_t size) {
    void* memory = ::operator new(size);
    std::memset(memory, 0, size);
    outstanding_.insert(memory);
    return memory;
}

void* FakeWlan::allocate(const std::vector<std::uint8_t>& bytes) {
    void* memory = allocate_size(bytes.size());
    std::memcpy(memory, bytes.data(), bytes.size());
    return memory;
}

bool FakeWlan::handle_open(HANDLE handle) {
    if (handles_.count(handle) != 0) return true;
    ++invalid_handle_calls;
    return false;
}

const FakeWlanInterface* FakeWlan::find(const GUID* guid) const {
    if (guid == nullptr) return nullptr;
    for (const FakeWlanInterface& item : interfaces) {
        if (IsEqualGUID(item.guid, *guid)) return &item;
    }
    return nullptr;
}

void FakeWlan::start_notifier(const GUID& scanned) {
    join_notifier();
    {
        const std::lock_guard lock(mutex_);
        stop_ = false;
    }
    std::vector<WLAN_NOTIFICATION_DATA> queue;
    for (const FakeScanNotification& n : scan_notifications) {
        WLAN_NOTIFICATION_DATA data{};
        data.NotificationSource = n.source;
        data.NotificationCode = n.code;
        data.InterfaceGuid = n.guid.value_or(scanned);
        queue.push_back(data);
    }
    notifier_ = std::thread([this, queue, delay = notification_delay]() mutable {
        for (WLAN_NOTIFICATION_DATA& data : queue) {
            std::unique_lock lock(mutex_);
            // A timed wait of 0 ms still sleeps a scheduler tick under Wine; without a delay the
            // notification goes out at once.
            const bool stopped = delay.count() > 0
                                     ? wake_.wait_for(lock, delay, [this] { return stop_; })
                                     : stop_;
            if (stopped) return;
            if (callback_ == nullptr) return;
            // Delivered under the lock: a removal or close waits for the callback to end.
            callback_(&data, context_);
            ++notifications_delivered;
        }
    });
}

void FakeWlan::end_registration() {
    {
        // Taking the lock waits for a callback that is being delivered.
        const std::lock_guard lock(mutex_);
        callback_ = nullptr;
        context_ = nullptr;
    }
    join_notifier();
}

void FakeWlan::join_notifier() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (notifier_.joinable()) notifier_.join();
}

GUID test_guid(std::uint32_t n) {
    GUID guid{};
    guid.Data1 = 0xA1B2C300 + n;
    guid.Data2 = 0x0D4E;
    guid.Data3 = 0x4F5A;
    const std::uint8_t tail[8] = {0x9b, 0x1c, 0x2d, 0x3e,
                                  0x4f, 0x50, 0x61, static_cast<std::uint8_t>(n)};
    std::memcpy(guid.Data4, tail, 8);
    return guid;
}

WLAN_CONNECTION_ATTRIBUTES wlan_connection(std::string_view ssid,
                                           const std::array<std::uint8_t, 6>& bssid) {
    WLAN_CONNECTION_ATTRIBUTES attributes{};
    attributes.isState = wlan_interface_state_connected;
    wcscpy(attributes.strProfileName, L"HomeProfileName");
    WLAN_ASSOCIATION_ATTRIBUTES& association = attributes.wlanAssociationAttributes;
    const std::size_t length = std::min<std::size_t>(ssid.size(), DOT11_SSID_MAX_LENGTH);
    association.dot11Ssid.uSSIDLength = static_cast<ULONG>(length);
    std::memcpy(association.dot11Ssid.ucSSID, ssid.data(), length);
    std::memcpy(association.dot11Bssid, bssid.data(), 6);
    association.dot11BssType = dot11_BSS_type_infrastructure;
    association.dot11PhyType = static_cast<DOT11_PHY_TYPE>(8);
    association.wlanSignalQuality = 87;
    association.ulRxRate = 866700;
    association.ulTxRate = 585000;
    return attributes;
}

FakeWlanInterface connected_wlan_interface(std::uint32_t n,
                                           const WLAN_CONNECTION_ATTRIBUTES& connection,
                                           std::int32_t rssi_dbm, std::uint32_t channel) {
    FakeWlanInterface item;
    item.guid = test_guid(n);
    item.state = wlan_interface_state_connected;
    item.replies[wlan_intf_opcode_current_connection] = {ERROR_SUCCESS, bytes_of(connection)};
    item.replies[wlan_intf_opcode_rssi] = {ERROR_SUCCESS, bytes_of(rssi_dbm)};
    item.replies[wlan_intf_opcode_channel_number] = {ERROR_SUCCESS, bytes_of(channel)};
    return item;
}

}  // namespace tarvisko::test
