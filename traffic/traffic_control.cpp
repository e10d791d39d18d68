#include "traffic/traffic_control.h"

#include <objbase.h>

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "engine/common/address.h"
#include "traffic/traffic_counter.h"

namespace tarvisko {

namespace {

constexpr DWORD kModulePathCapacity = 32768;
constexpr int kStartWaits = 80;
constexpr DWORD kStartWaitMs = 100;
constexpr DWORD kStopWaitMs = 3000;

constexpr const wchar_t* kWaitingForChild = L"Oczekiwanie na uruchomienie licznika ruchu Windows.";
constexpr const wchar_t* kChildRunning = L"Ustalanie karty używanej przez serwer pomiarowy…";
constexpr const wchar_t* kAdapterUnconfirmed =
    L"Brak odczytu ruchu procesów. Windows nie potwierdził karty testu.";
constexpr const wchar_t* kArmed = L"Czekam na pierwsze próbki ruchu do Internetu.";
constexpr const wchar_t* kConsentRefused =
    L"Anulowano zgodę Windows. Test trwa bez licznika procesów.";
constexpr const wchar_t* kLaunchFailed = L"Nie udało się uruchomić licznika procesów · Windows ";
constexpr const wchar_t* kChildFailed = L"Brak odczytu ruchu procesów · Windows ";
constexpr const wchar_t* kChildSilent = L"Windows nie potwierdził uruchomienia licznika procesów.";

void close_handle(HANDLE handle) { CloseHandle(handle); }
void unmap_section(TrafficSharedSection* view) { UnmapViewOfFile(view); }

bool token_is_performance_log_member(const TrafficControlSystem& system) {
    BYTE sid[SECURITY_MAX_SID_SIZE]{};
    DWORD size = sizeof sid;
    if (!CreateWellKnownSid(WinBuiltinPerfLoggingUsersSid, nullptr, sid, &size)) return false;
    BOOL member = FALSE;
    return system.check_token_membership(nullptr, sid, &member) && member;
}

bool token_is_elevated(const TrafficControlSystem& system) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    HandleGuard<HANDLE> token(raw, close_handle);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return system.token_information(token.get(), TokenElevation, &elevation, sizeof elevation,
                                    &size) &&
           elevation.TokenIsElevated != 0;
}

// The program's own executable; empty when the path does not fit.
std::wstring own_module_path() {
    std::vector<wchar_t> buffer(kModulePathCapacity);
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), kModulePathCapacity);
    if (length == 0 || length >= kModulePathCapacity) return {};
    return std::wstring(buffer.data(), length);
}

// An IPv4 or IPv6 socket address as an AddressValue; another family gives an empty one.
AddressValue address_of(const SOCKADDR_INET& address) {
    if (address.si_family == AF_INET) {
        return address_from_bytes(reinterpret_cast<const std::uint8_t*>(&address.Ipv4.sin_addr),
                                  false);
    }
    if (address.si_family == AF_INET6) {
        return address_from_bytes(reinterpret_cast<const std::uint8_t*>(&address.Ipv6.sin6_addr),
                                  true);
    }
    return {};
}

bool same_address(const AddressValue& a, const AddressValue& b) {
    return a.length == b.length && std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

// The reservation address as an AddressValue; false for anything but a usable IP literal.
bool reservation_address(const nlohmann::json& value, AddressValue& address) {
    if (!value.is_string()) return false;
    Target target;
    try {
        target = parse_ip_literal(value.get<std::string>());
    } catch (const std::exception&) {
        return false;
    }
    address = address_of(target.address);
    return true;
}

// Stores the addresses of the one interface that holds `address`; false when none or two do.
bool store_adapter_addresses(TrafficSharedSection& section, const MIB_UNICASTIPADDRESS_TABLE& table,
                             const AddressValue& address) {
    NET_LUID luid{};
    bool found = false;
    for (ULONG i = 0; i < table.NumEntries; ++i) {
        const MIB_UNICASTIPADDRESS_ROW& row = table.Table[i];
        if (!same_address(address_of(row.Address), address)) continue;
        if (found && row.InterfaceLuid.Value != luid.Value) return false;
        luid = row.InterfaceLuid;
        found = true;
    }
    if (!found) return false;
    for (ULONG i = 0; i < table.NumEntries; ++i) {
        const MIB_UNICASTIPADDRESS_ROW& row = table.Table[i];
        if (row.InterfaceLuid.Value != luid.Value) continue;
        if (section.address_count >= kTrafficAddressSlots) {
            section.address_count = 0;  // too many to filter by: no partial list
            return false;
        }
        const AddressValue row_address = address_of(row.Address);
        TrafficAddressEntry& entry = section.addresses[section.address_count];
        std::memcpy(entry.bytes, row_address.bytes, sizeof entry.bytes);
        entry.length = row_address.length;
        entry.prefix_length = row.OnLinkPrefixLength;
        section.address_count += 1;
    }
    return true;
}

}  // namespace

TrafficControlSystem& traffic_control_system() {
    static TrafficControlSystem system;
    return system;
}

TrafficViewPtr create_traffic_view() {
    return TrafficViewPtr(new TrafficView, destroy_traffic_view);
}

void destroy_traffic_view(TrafficView* view) {
    if (view == nullptr) return;
    stop_traffic_counter(*view);
    delete view;
}

const wchar_t* traffic_launch_verb(bool performance_log_member, bool elevated) {
    return performance_log_member || elevated ? L"open" : L"runas";
}

bool start_traffic_counter(TrafficView& view, HWND owner) {
    TrafficControlSystem& system = traffic_control_system();
    GUID guid{};
    if (FAILED(system.create_guid(&guid))) return false;
    wchar_t guid_buffer[40]{};
    if (StringFromGUID2(guid, guid_buffer, 40) != 39) return false;
    const std::wstring guid_text = guid_buffer;

    TrafficSharedSection* section = nullptr;
    {
        std::lock_guard lock(view.lock);
        HANDLE mapping =
            CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                               kTrafficSectionBytes, traffic_section_name(guid_text).c_str());
        const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
        view.section = HandleGuard<HANDLE>(mapping, close_handle);
        if (!view.section || existed) {
            view.section.reset();  // someone else's section is none of ours
            return false;
        }
        view.section_view = HandleGuard<TrafficSharedSection*>(
            static_cast<TrafficSharedSection*>(
                MapViewOfFile(view.section.get(), FILE_MAP_WRITE, 0, 0, kTrafficSectionBytes)),
            unmap_section);
        HANDLE event =
            CreateEventW(nullptr, TRUE, FALSE, traffic_stop_event_name(guid_text).c_str());
        const bool event_existed = GetLastError() == ERROR_ALREADY_EXISTS;
        view.stop_event = HandleGuard<HANDLE>(event, close_handle);
        if (!view.section_view || !view.stop_event || event_existed) {
            if (event_existed) view.stop_event.reset();
            return false;
        }
        section = view.section_view.get();
        view.status_text = kWaitingForChild;
    }

    couninitialize_guard com(
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    const std::wstring parameters = traffic_child_parameters(guid_text, GetCurrentProcessId());
    const std::wstring file = own_module_path();
    if (file.empty()) return false;
    const wchar_t* verb =
        traffic_launch_verb(token_is_performance_log_member(system), token_is_elevated(system));

    SHELLEXECUTEINFOW launch{};
    launch.cbSize = sizeof launch;
    launch.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    launch.hwnd = owner;
    launch.lpVerb = verb;
    launch.lpFile = file.c_str();
    launch.lpParameters = parameters.c_str();
    launch.nShow = SW_HIDE;
    const BOOL launched = system.shell_execute(&launch);
    const DWORD launch_error = GetLastError();
    if (!launched || launch.hProcess == nullptr) {
        if (launch.hProcess != nullptr) CloseHandle(launch.hProcess);
        std::lock_guard lock(view.lock);
        view.status_text = launch_error == ERROR_CANCELLED
                               ? std::wstring(kConsentRefused)
                               : kLaunchFailed + std::to_wstring(launch_error);
        return false;
    }

    view.child = HandleGuard<HANDLE>(launch.hProcess, close_handle);
    for (int wait = 1;; ++wait) {
        const std::int32_t status = load_traffic_status(*section);
        if (status == 1) {
            std::lock_guard lock(view.lock);
            view.status_text = kChildRunning;
            return true;
        }
        if (status < 0) break;
        if (WaitForSingleObject(view.child.get(), kStartWaitMs) != WAIT_TIMEOUT) break;
        if (wait == kStartWaits) break;
    }
    {
        std::lock_guard lock(view.lock);
        const std::int32_t status = load_traffic_status(*section);
        view.status_text = status < 0 ? kChildFailed + std::to_wstring(-std::int64_t{status})
                                      : std::wstring(kChildSilent);
    }
    stop_traffic_counter(view);
    return false;
}

void arm_traffic_counter(TrafficView& view, const nlohmann::json& reservation_local_address) {
    std::lock_guard lock(view.lock);
    if (!view.section_view) return;
    TrafficSharedSection& section = *view.section_view.get();
    if (load_traffic_status(section) != 1) return;
    // Armed once: a second list or start stamp would move the window under the child's reads.
    if (load_start_qpc(section) != 0) return;
    view.status_text = kAdapterUnconfirmed;

    AddressValue address;
    if (!reservation_address(reservation_local_address, address)) return;
    TrafficControlSystem& system = traffic_control_system();
    PMIB_UNICASTIPADDRESS_TABLE raw = nullptr;
    const DWORD read = system.unicast_table(AF_UNSPEC, &raw);
    HandleGuard<PMIB_UNICASTIPADDRESS_TABLE> table(
        raw, [](PMIB_UNICASTIPADDRESS_TABLE t) { traffic_control_system().free_table(t); });
    if (read != NO_ERROR || !table) return;
    if (!store_adapter_addresses(section, *table.get(), address)) return;
    if (section.address_count == 0) return;

    section.excluded_pid = GetCurrentProcessId();
    view.status_text = kArmed;
    // Last: the start stamp publishes the address list and the excluded process to the child.
    store_start_qpc(section, performance_counter_now());
}

void stop_traffic_counter(TrafficView& view) {
    if (!view.child) return;
    if (view.section_view) stamp_stop_qpc(*view.section_view.get(), performance_counter_now());
    if (view.stop_event) SetEvent(view.stop_event.get());
    WaitForSingleObject(view.child.get(), kStopWaitMs);
    view.child.reset();
}

}  // namespace tarvisko
