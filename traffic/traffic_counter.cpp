#include "traffic/traffic_counter.h"

#include <objbase.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "engine/common/address.h"
#include "engine/common/handle_guard.h"

namespace tarvisko {

namespace {

// The provider's IPv4 and IPv6 keywords.
constexpr ULONGLONG kNetworkKeywords = 0x30;
constexpr UCHAR kVerboseLevel = 5;
constexpr ULONG kEnableTimeoutMs = 2500;
constexpr DWORD kPublishIntervalMs = 750;
constexpr ULONG kTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD | PROCESS_TRACE_MODE_REAL_TIME |
                             PROCESS_TRACE_MODE_RAW_TIMESTAMP;

struct EventKind {
    bool counted = false;
    bool ipv6 = false;
    bool received = false;
};

// TCP send/receive over IPv4 (10, 11) and IPv6 (26, 27), UDP the same (42, 43, 58, 59).
EventKind event_kind(USHORT id) {
    switch (id) {
        case 10:
        case 42:
            return {true, false, false};
        case 11:
        case 43:
            return {true, false, true};
        case 26:
        case 58:
            return {true, true, false};
        case 27:
        case 59:
            return {true, true, true};
        default:
            return {};
    }
}

// EVENT_TRACE_PROPERTIES followed by room for the session name: 320 bytes in all.
struct SessionProperties {
    EVENT_TRACE_PROPERTIES properties;
    wchar_t name[(320 - sizeof(EVENT_TRACE_PROPERTIES)) / sizeof(wchar_t)];

    SessionProperties() {
        std::memset(this, 0, sizeof *this);
        properties.Wnode.BufferSize = sizeof *this;
        properties.LoggerNameOffset = offsetof(SessionProperties, name);
    }
    std::int32_t lost() const {
        const std::uint64_t sum =
            std::uint64_t{properties.EventsLost} + properties.RealTimeBuffersLost;
        return static_cast<std::int32_t>(std::min<std::uint64_t>(sum, INT32_MAX));
    }
};
static_assert(sizeof(SessionProperties) == 320);

std::int32_t negative_error(unsigned long error) { return -static_cast<std::int32_t>(error); }

void add_saturating(std::int32_t& count) {
    if (count < INT32_MAX) ++count;
}

bool prefix_equal(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t bits) {
    const std::uint32_t whole = bits / 8;
    if (std::memcmp(a, b, whole) != 0) return false;
    const std::uint32_t rest = bits % 8;
    if (rest == 0) return true;
    const auto mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
    return (a[whole] & mask) == (b[whole] & mask);
}

bool equals_entry(const TrafficAddressEntry& entry, const AddressValue& address) {
    return entry.length == address.length && std::memcmp(entry.bytes, address.bytes, 16) == 0;
}

bool is_stored_address(TrafficSharedSection& section, const AddressValue& address) {
    const std::uint32_t count = stored_address_count(section);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (equals_entry(section.addresses[i], address)) return true;
    }
    return false;
}

Target target_of(const AddressValue& address) {
    Target target;
    if (address.length == 4) {
        target.address.Ipv4.sin_family = AF_INET;
        std::memcpy(&target.address.Ipv4.sin_addr, address.bytes, 4);
    } else {
        target.address.Ipv6.sin6_family = AF_INET6;
        std::memcpy(&target.address.Ipv6.sin6_addr, address.bytes, 16);
    }
    return target;
}

// (end - start) in milliseconds at `frequency`, integer division; 0 for a window that closed
// before it opened (a stop stamped before arming) and whatever a hostile stamp would overflow.
std::int64_t elapsed_milliseconds(std::int64_t start, std::int64_t end, std::int64_t frequency) {
    if (end <= start || frequency <= 0) return 0;
    const std::uint64_t ticks = static_cast<std::uint64_t>(end) - static_cast<std::uint64_t>(start);
    const auto f = static_cast<std::uint64_t>(frequency);
    const std::uint64_t seconds = ticks / f;
    if (seconds > static_cast<std::uint64_t>(INT64_MAX / 1000 - 1)) return INT64_MAX;
    return static_cast<std::int64_t>(seconds * 1000 + ticks % f * 1000 / f);
}

struct ProcessingJob {
    TRACEHANDLE trace;
    TrafficCounterContext* context;
};

DWORD WINAPI processing_thread(void* parameter) {
    auto* job = static_cast<ProcessingJob*>(parameter);
    TRACEHANDLE handles[1] = {job->trace};
    const ULONG result = traffic_etw().process_trace(handles, 1, nullptr, nullptr);
    job->context->trace_result.exchange(static_cast<std::int32_t>(result));
    return 0;
}

ULONG stop_session(TRACEHANDLE session, SessionProperties& properties) {
    return traffic_etw().control_trace(session, nullptr, &properties.properties,
                                       EVENT_TRACE_CONTROL_STOP);
}

// Room for the names QueryAllTracesW writes after each record.
struct ListedSession {
    EVENT_TRACE_PROPERTIES properties;
    wchar_t logger_name[1024];
    wchar_t log_file_name[1024];
};

bool is_guid_text(const std::wstring& text) {
    CLSID parsed{};
    return text.size() == 38 && SUCCEEDED(CLSIDFromString(text.c_str(), &parsed));
}

// The session's owners are gone when nothing holds its section any more.
bool session_owners_gone(std::wstring_view guid_text) {
    const std::wstring section = traffic_section_name(guid_text);
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, section.c_str());
    if (mapping != nullptr) {
        CloseHandle(mapping);
        return false;
    }
    return GetLastError() == ERROR_FILE_NOT_FOUND;
}

// "{GUID} pid": the GUID text at 0..37, a blank, then 1 to 10 decimal digits.
bool parse_child_arguments(std::wstring_view arguments, std::wstring& guid_text,
                           std::uint32_t& parent_pid) {
    if (arguments.size() < 40 || arguments.size() > 49 || arguments[38] != L' ') return false;
    guid_text.assign(arguments.substr(0, 38));
    CLSID clsid{};
    if (FAILED(CLSIDFromString(guid_text.c_str(), &clsid))) return false;
    std::uint64_t value = 0;
    for (wchar_t c : arguments.substr(39)) {
        if (c < L'0' || c > L'9') return false;
        value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(c - L'0'),
                                        std::numeric_limits<std::uint32_t>::max());
    }
    parent_pid = static_cast<std::uint32_t>(value);
    return parent_pid != 0;
}

void close_handle(HANDLE handle) { CloseHandle(handle); }

}  // namespace

TrafficEtw& traffic_etw() {
    static TrafficEtw etw;
    return etw;
}

AddressValue address_from_bytes(const std::uint8_t* bytes, bool is_ipv6) {
    static constexpr std::uint8_t mapped_prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    AddressValue address;
    if (is_ipv6 && std::memcmp(bytes, mapped_prefix, sizeof mapped_prefix) == 0) {
        std::memcpy(address.bytes, bytes + 12, 4);
        address.length = 4;
    } else if (is_ipv6) {
        std::memcpy(address.bytes, bytes, 16);
        address.length = 16;
    } else {
        std::memcpy(address.bytes, bytes, 4);
        address.length = 4;
    }
    return address;
}

bool is_loopback_address(const std::uint8_t* bytes, bool is_ipv6) {
    const AddressValue address = address_from_bytes(bytes, is_ipv6);
    if (address.length == 4) return address.bytes[0] == 127;
    static constexpr std::uint8_t loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::memcmp(address.bytes, loopback, 16) == 0;
}

bool is_counted_address(TrafficSharedSection& section, const AddressValue& local,
                        const AddressValue& remote) {
    if (remote.length != 4 && remote.length != 16) return false;
    if (!is_public_address(target_of(remote))) return false;
    const std::uint32_t count = stored_address_count(section);
    bool matched = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const TrafficAddressEntry& entry = section.addresses[i];
        const std::uint32_t prefix = entry.prefix_length;
        if (entry.length == remote.length && prefix != 0 && prefix <= remote.length * 8 &&
            prefix_equal(remote.bytes, entry.bytes, prefix)) {
            return false;  // the remote lies on the adapter's own link
        }
        if (equals_entry(entry, local)) matched = true;
    }
    return matched;
}

TrafficEndpoints event_endpoints(TrafficSharedSection& section, const AddressValue& destination,
                                 const AddressValue& source, bool received) {
    TrafficEndpoints endpoints =
        received ? TrafficEndpoints{destination, source} : TrafficEndpoints{source, destination};
    if (!is_stored_address(section, endpoints.local) &&
        is_stored_address(section, endpoints.remote)) {
        std::swap(endpoints.local, endpoints.remote);
    }
    return endpoints;
}

void WINAPI on_network_event(PEVENT_RECORD event) {
    const EVENT_HEADER& header = event->EventHeader;
    if (!IsEqualGUID(header.ProviderId, kKernelNetworkProvider)) return;
    const EventKind kind = event_kind(header.EventDescriptor.Id);
    if (!kind.counted) return;

    auto& context = *static_cast<TrafficCounterContext*>(event->UserContext);
    TrafficSharedSection& section = *context.section;
    const std::int64_t start = load_start_qpc(section);
    const std::int64_t stop = load_stop_qpc(section);
    const std::int64_t stamp = header.TimeStamp.QuadPart;
    if (start == 0 || stamp < start || (stop != 0 && stamp > stop)) return;

    const USHORT minimum = kind.ipv6 ? 40 : 16;
    if (header.EventDescriptor.Version != 0 || event->UserDataLength < minimum ||
        event->UserData == nullptr) {
        std::lock_guard lock(context.mutex);
        add_saturating(context.rejected);
        return;
    }
    const auto* data = static_cast<const std::uint8_t*>(event->UserData);
    std::uint32_t process_id = 0;
    std::uint32_t size = 0;
    std::memcpy(&process_id, data, 4);
    std::memcpy(&size, data + 4, 4);
    const std::uint8_t* destination = data + 8;
    const std::uint8_t* source = data + (kind.ipv6 ? 24 : 12);

    if (!context.include_loopback &&
        (is_loopback_address(destination, kind.ipv6) || is_loopback_address(source, kind.ipv6))) {
        return;
    }
    if (context.filter_by_adapter) {
        const TrafficEndpoints endpoints =
            event_endpoints(section, address_from_bytes(destination, kind.ipv6),
                            address_from_bytes(source, kind.ipv6), kind.received);
        if (!is_counted_address(section, endpoints.local, endpoints.remote)) return;
        if (process_id == 0 || process_id == section.excluded_pid || size == 0) return;
    }

    std::lock_guard lock(context.mutex);
    auto found = context.counters.find(process_id);
    if (found == context.counters.end()) {
        if (context.counters.size() >= kTrafficProcessSlots) {
            add_saturating(context.overflow);
            return;
        }
        found = context.counters.emplace(process_id, ProcessTrafficCounter{process_id, 0, 0}).first;
    }
    (kind.received ? found->second.bytes_received : found->second.bytes_sent) += size;
}

void publish_traffic_snapshot(TrafficCounterContext& context, std::int32_t lost) {
    TrafficSharedSection& section = *context.section;
    const std::int64_t start = load_start_qpc(section);
    const std::int64_t stop = load_stop_qpc(section);
    if (start == 0) return;
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);

    TrafficSnapshot snapshot{};
    snapshot.elapsed_ms = elapsed_milliseconds(start, stop != 0 ? stop : performance_counter_now(),
                                               frequency.QuadPart);
    snapshot.lost = lost;
    {
        std::lock_guard lock(context.mutex);
        snapshot.rejected = context.rejected;
        snapshot.overflow = context.overflow;
        for (const auto& [process_id, counter] : context.counters) {
            if (snapshot.count == kTrafficProcessSlots) break;
            TrafficSnapshotEntry& entry = snapshot.entries[snapshot.count++];
            entry.process_id = process_id;
            entry.bytes_received = counter.bytes_received;
            entry.bytes_sent = counter.bytes_sent;
        }
    }
    publish_section_snapshot(section, snapshot);
}

std::vector<std::wstring> stop_abandoned_traffic_sessions() {
    constexpr ULONG kListed = 64;  // the most sessions Windows runs at once
    std::vector<ListedSession> listed(kListed);
    std::vector<PEVENT_TRACE_PROPERTIES> records(kListed);
    for (ULONG i = 0; i < kListed; ++i) {
        std::memset(&listed[i], 0, sizeof listed[i]);
        listed[i].properties.Wnode.BufferSize = sizeof(ListedSession);
        listed[i].properties.LoggerNameOffset = offsetof(ListedSession, logger_name);
        listed[i].properties.LogFileNameOffset = offsetof(ListedSession, log_file_name);
        records[i] = &listed[i].properties;
    }
    TrafficEtw& etw = traffic_etw();
    ULONG count = 0;
    const ULONG error = etw.query_all_traces(records.data(), kListed, &count);
    // With more sessions than records, the first records are still filled.
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) return {};

    const std::wstring prefix = traffic_session_name(L"");
    std::vector<std::wstring> stopped;
    for (ULONG i = 0; i < std::min(count, kListed); ++i) {
        if (listed[i].properties.LoggerNameOffset != offsetof(ListedSession, logger_name)) continue;
        const wchar_t* name = listed[i].logger_name;
        const std::wstring text(name, wcsnlen(name, std::size(listed[i].logger_name)));
        if (!text.starts_with(prefix)) continue;
        const std::wstring guid_text = text.substr(prefix.size());
        if (!is_guid_text(guid_text) || !session_owners_gone(guid_text)) continue;
        SessionProperties properties;
        if (etw.control_trace(0, text.c_str(), &properties.properties, EVENT_TRACE_CONTROL_STOP) ==
            ERROR_SUCCESS) {
            stopped.push_back(text);
        }
    }
    return stopped;
}

bool run_traffic_session(TrafficSharedSection* section, std::wstring_view guid_text,
                         HANDLE stop_event, HANDLE parent, bool include_loopback) {
    TrafficEtw& etw = traffic_etw();
    // Before a new session: the leftovers of counters that were killed would otherwise hold
    // their kernel buffers until the next restart.
    stop_abandoned_traffic_sessions();
    std::wstring name = traffic_session_name(guid_text);

    SessionProperties start_properties;
    EVENT_TRACE_PROPERTIES& properties = start_properties.properties;
    properties.Wnode.Flags = WNODE_FLAG_TRACED_GUID;
    properties.Wnode.ClientContext = 1;  // raw performance-counter time stamps
    properties.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
    properties.BufferSize = 64;
    properties.MinimumBuffers = 16;
    properties.MaximumBuffers = 128;
    properties.FlushTimer = 1;
    TRACEHANDLE session = 0;
    ULONG error = etw.start_trace(&session, name.c_str(), &properties);
    if (error != ERROR_SUCCESS) {
        store_traffic_status(*section, negative_error(error));
        return true;
    }

    // From here on every path stops the session: it must never outlive this process.
    error = etw.enable_trace(session, &kKernelNetworkProvider, EVENT_CONTROL_CODE_ENABLE_PROVIDER,
                             kVerboseLevel, kNetworkKeywords, 0, kEnableTimeoutMs, nullptr);
    if (error != ERROR_SUCCESS) {
        SessionProperties stop_properties;
        stop_session(session, stop_properties);
        store_traffic_status(*section, negative_error(error));
        return true;
    }

    TrafficCounterContext context;
    context.section = section;
    context.include_loopback = include_loopback;
    context.filter_by_adapter = true;

    EVENT_TRACE_LOGFILEW logfile{};
    logfile.LoggerName = name.data();
    logfile.ProcessTraceMode = kTraceMode;
    logfile.EventRecordCallback = on_network_event;
    logfile.Context = &context;
    const TRACEHANDLE trace = etw.open_trace(&logfile);
    if (trace == INVALID_PROCESSTRACE_HANDLE) {
        error = GetLastError();
        SessionProperties stop_properties;
        stop_session(session, stop_properties);
        store_traffic_status(*section, negative_error(error));
        return true;
    }

    ProcessingJob job{trace, &context};
    const HANDLE thread = etw.create_thread(nullptr, 0, processing_thread, &job, 0, nullptr);
    if (thread == nullptr) {
        // Without the thread nothing would ever be counted: a failure like any other.
        error = GetLastError();
        SessionProperties stop_properties;
        stop_session(session, stop_properties);
        etw.close_trace(trace);
        store_traffic_status(*section, negative_error(error != 0 ? error : ERROR_OUTOFMEMORY));
        return true;
    }
    store_traffic_status(*section, 1);

    const ULONGLONG deadline = etw.tick_count() + kTrafficSessionLimitMs;
    const HANDLE waits[2] = {stop_event, parent};
    std::int32_t lost = 0;
    while (context.trace_result.load() == 0) {
        const DWORD waited =
            WaitForMultipleObjects(parent != nullptr ? 2 : 1, waits, FALSE, kPublishIntervalMs);
        if (waited != WAIT_TIMEOUT) break;
        SessionProperties query;
        if (etw.control_trace(session, nullptr, &query.properties, EVENT_TRACE_CONTROL_QUERY) ==
            ERROR_SUCCESS) {
            lost = query.lost();
        }
        publish_traffic_snapshot(context, lost);
        if (etw.tick_count() >= deadline) break;
    }

    stamp_stop_qpc(*section, performance_counter_now());
    SessionProperties final_properties;
    if (stop_session(session, final_properties) == ERROR_SUCCESS) {
        lost = final_properties.lost();
        WaitForSingleObject(thread, INFINITE);
        etw.close_trace(trace);
    } else {
        etw.close_trace(trace);  // ends ProcessTrace
        WaitForSingleObject(thread, INFINITE);
    }
    CloseHandle(thread);
    publish_traffic_snapshot(context, lost);

    const std::int32_t result = context.trace_result.load();
    if (result == 0 || result == ERROR_CANCELLED) {
        store_traffic_status(*section, 2);
        return false;
    }
    store_traffic_status(*section, -result);
    return true;
}

int run_process_traffic_child(std::wstring_view arguments) {
    std::wstring guid_text;
    std::uint32_t parent_pid = 0;
    if (!parse_child_arguments(arguments, guid_text, parent_pid)) return 2;

    HandleGuard<HANDLE> parent(OpenProcess(SYNCHRONIZE, FALSE, parent_pid), close_handle);
    HandleGuard<HANDLE> mapping(
        OpenFileMappingW(FILE_MAP_WRITE, FALSE, traffic_section_name(guid_text).c_str()),
        close_handle);
    HandleGuard<HANDLE> stop_event(
        OpenEventW(SYNCHRONIZE, FALSE, traffic_stop_event_name(guid_text).c_str()), close_handle);
    if (!parent || !mapping || !stop_event) return 2;

    HandleGuard<void*> view(
        MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, kTrafficSectionBytes),
        [](void* base) { UnmapViewOfFile(base); });
    if (!view) return 2;
    const bool failed = run_traffic_session(static_cast<TrafficSharedSection*>(view.get()),
                                            guid_text, stop_event.get(), parent.get(), false);
    return failed ? 1 : 0;
}

}  // namespace tarvisko
