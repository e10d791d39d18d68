#include "traffic/traffic_fakes.h"

#include <objbase.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "engine/common/system.h"

namespace tarvisko::test {

namespace {

void put(std::vector<std::uint8_t>& data, const void* bytes, std::size_t size) {
    const auto* begin = static_cast<const std::uint8_t*>(bytes);
    data.insert(data.end(), begin, begin + size);
}

template <typename T>
void put_value(std::vector<std::uint8_t>& data, T value) {
    put(data, &value, sizeof value);
}

bool is_tcp_send(USHORT id) { return id == 10 || id == 26; }

struct FakeState {
    EtwScript script;
    EtwLog log;
    HANDLE released = nullptr;  // set when the session is stopped or its trace closed
    PEVENT_RECORD_CALLBACK callback = nullptr;
    void* context = nullptr;
    std::atomic<std::size_t> tick_index{0};
};
FakeState* state = nullptr;

void fill_lost(PEVENT_TRACE_PROPERTIES properties) {
    properties->EventsLost = state->script.events_lost;
    properties->RealTimeBuffersLost = state->script.buffers_lost;
}

ULONG WINAPI fake_start(PTRACEHANDLE session, LPCWSTR, PEVENT_TRACE_PROPERTIES) {
    ++state->log.starts;
    *session = 7;
    return state->script.start_error;
}

ULONG WINAPI fake_enable(TRACEHANDLE, LPCGUID, ULONG, UCHAR, ULONGLONG, ULONGLONG, ULONG,
                         PENABLE_TRACE_PARAMETERS) {
    ++state->log.enables;
    return state->script.enable_error;
}

TRACEHANDLE WINAPI fake_open(PEVENT_TRACE_LOGFILEW logfile) {
    ++state->log.opens;
    if (state->script.open_error != 0) {
        SetLastError(state->script.open_error);
        return INVALID_PROCESSTRACE_HANDLE;
    }
    state->callback = logfile->EventRecordCallback;
    state->context = logfile->Context;
    return 42;
}

ULONG WINAPI fake_process(PTRACEHANDLE, ULONG, LPFILETIME, LPFILETIME) {
    if (state->script.feed) {
        state->script.feed(state->callback, state->context,
                           [] { return WaitForSingleObject(state->released, 0) == WAIT_OBJECT_0; });
    }
    if (!state->script.process_at_once) WaitForSingleObject(state->released, INFINITE);
    return state->script.process_result;
}

ULONG WINAPI fake_query_all(PEVENT_TRACE_PROPERTIES* records, ULONG count, PULONG listed) {
    if (state->script.query_error != 0) return state->script.query_error;
    const std::vector<std::wstring>& sessions = state->script.sessions;
    *listed = static_cast<ULONG>(sessions.size());
    for (ULONG i = 0; i < count && i < sessions.size(); ++i) {
        auto* name = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(records[i]) +
                                                records[i]->LoggerNameOffset);
        std::memcpy(name, sessions[i].c_str(), (sessions[i].size() + 1) * sizeof(wchar_t));
    }
    return sessions.size() > count ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

ULONG WINAPI fake_control(TRACEHANDLE session, LPCWSTR name, PEVENT_TRACE_PROPERTIES properties,
                          ULONG code) {
    if (session == 0 && name != nullptr && code == EVENT_TRACE_CONTROL_STOP) {
        state->log.stopped_by_name.emplace_back(name);
        return ERROR_SUCCESS;
    }
    if (code == EVENT_TRACE_CONTROL_QUERY) {
        ++state->log.queries;
        fill_lost(properties);
        return ERROR_SUCCESS;
    }
    if (code != EVENT_TRACE_CONTROL_STOP) return ERROR_INVALID_PARAMETER;
    ++state->log.stops;
    if (state->script.stop_error != 0) return state->script.stop_error;
    fill_lost(properties);
    SetEvent(state->released);
    return ERROR_SUCCESS;
}

ULONG WINAPI fake_close(TRACEHANDLE) {
    state->log.stopped_before_close = WaitForSingleObject(state->released, 0) == WAIT_OBJECT_0;
    ++state->log.closes;
    SetEvent(state->released);
    return ERROR_SUCCESS;
}

HANDLE WINAPI fake_thread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack,
                          LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD id) {
    if (state->script.thread_error != 0) {
        SetLastError(state->script.thread_error);
        return nullptr;
    }
    ++state->log.threads;
    return CreateThread(attributes, stack, start, parameter, flags, id);
}

ULONGLONG WINAPI fake_ticks() {
    const std::vector<ULONGLONG>& ticks = state->script.ticks;
    if (ticks.empty()) return GetTickCount64();
    const std::size_t index = std::min(state->tick_index++, ticks.size() - 1);
    return ticks[index];
}

// The part of a command line after the program's name.
std::wstring_view arguments_of(std::wstring_view line) {
    std::size_t at = 0;
    if (!line.empty() && line[0] == L'"') {
        at = line.find(L'"', 1);
        at = at == std::wstring_view::npos ? line.size() : at + 1;
    } else {
        at = std::min(line.find(L' '), line.size());
    }
    while (at < line.size() && line[at] == L' ') ++at;
    return line.substr(at);
}

}  // namespace

std::vector<std::uint8_t> address_bytes(const std::string& literal) {
    std::uint8_t bytes[16]{};
    if (inet_pton(AF_INET, literal.c_str(), bytes) == 1) return {bytes, bytes + 4};
    if (inet_pton(AF_INET6, literal.c_str(), bytes) == 1) return {bytes, bytes + 16};
    throw std::invalid_argument("not an IP literal: " + literal);
}

bool is_ipv6_event(USHORT id) { return id == 26 || id == 27 || id == 58 || id == 59; }

SyntheticEvent::SyntheticEvent(const NetEvent& event, void* context) {
    const std::size_t width = is_ipv6_event(event.id) ? 16 : 4;
    const std::vector<std::uint8_t> destination = address_bytes(event.destination);
    const std::vector<std::uint8_t> source = address_bytes(event.source);
    if (destination.size() != width || source.size() != width) {
        throw std::invalid_argument("address family does not match the event id");
    }
    put_value<std::uint32_t>(data_, event.process_id);
    put_value<std::uint32_t>(data_, event.size);
    put(data_, destination.data(), width);
    put(data_, source.data(), width);
    put_value<std::uint16_t>(data_, htons(443));    // dport
    put_value<std::uint16_t>(data_, htons(50123));  // sport
    if (is_tcp_send(event.id)) {
        put_value<std::uint32_t>(data_, 11);  // startime
        put_value<std::uint32_t>(data_, 12);  // endtime
    }
    put_value<std::uint32_t>(data_, 77);                  // seqnum
    put_value<std::uint64_t>(data_, 0xFFFF800012345678);  // connid
    if (event.user_length) data_.resize(*event.user_length);

    record_.EventHeader.Size = sizeof(EVENT_HEADER);
    record_.EventHeader.ProviderId = event.provider;
    record_.EventHeader.EventDescriptor.Id = event.id;
    record_.EventHeader.EventDescriptor.Version = event.version;
    record_.EventHeader.TimeStamp.QuadPart = event.stamp;
    record_.UserDataLength = static_cast<USHORT>(data_.size());
    record_.UserData = data_.empty() ? nullptr : data_.data();
    record_.UserContext = context;
}

std::unique_ptr<TrafficSharedSection> zeroed_section() {
    auto section = std::make_unique<TrafficSharedSection>();
    std::memset(section.get(), 0, sizeof *section);
    return section;
}

void add_address(TrafficSharedSection& section, const std::string& literal,
                 std::uint32_t prefix_length) {
    const std::vector<std::uint8_t> bytes = address_bytes(literal);
    TrafficAddressEntry& entry = section.addresses[section.address_count++];
    std::memset(entry.bytes, 0, sizeof entry.bytes);
    std::memcpy(entry.bytes, bytes.data(), bytes.size());
    entry.length = static_cast<std::uint32_t>(bytes.size());
    entry.prefix_length = prefix_length;
}

NamedSection::NamedSection() {
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) throw std::runtime_error("CoCreateGuid failed");
    wchar_t text[40]{};
    StringFromGUID2(guid, text, 40);
    guid_text = text;
    mapping = HandleGuard<HANDLE>(
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kTrafficSectionBytes,
                           traffic_section_name(guid_text).c_str()),
        [](HANDLE h) { CloseHandle(h); });
    stop_event = HandleGuard<HANDLE>(
        CreateEventW(nullptr, TRUE, FALSE, traffic_stop_event_name(guid_text).c_str()),
        [](HANDLE h) { CloseHandle(h); });
    if (!mapping || !stop_event) throw std::runtime_error("section or event not created");
    view = HandleGuard<void*>(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0),
                              [](void* base) { UnmapViewOfFile(base); });
    if (!view) throw std::runtime_error("section not mapped");
}

std::wstring NamedSection::child_arguments(std::uint32_t parent_pid) const {
    return guid_text + L" " + std::to_wstring(parent_pid);
}

FakeEtw::FakeEtw(EtwScript script) {
    state = new FakeState;
    state->script = std::move(script);
    state->released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    TrafficEtw& etw = traffic_etw();
    etw.start_trace = fake_start;
    etw.enable_trace = fake_enable;
    etw.open_trace = fake_open;
    etw.process_trace = fake_process;
    etw.control_trace = fake_control;
    etw.close_trace = fake_close;
    etw.create_thread = fake_thread;
    etw.tick_count = fake_ticks;
    etw.query_all_traces = fake_query_all;
}

FakeEtw::~FakeEtw() {
    traffic_etw() = TrafficEtw{};
    CloseHandle(state->released);
    delete state;
    state = nullptr;
}

const EtwLog& FakeEtw::log() const { return state->log; }

InjectedUnicastTable& injected_unicast_table() {
    static InjectedUnicastTable table;
    return table;
}

DWORD WINAPI injected_unicast_rows(ADDRESS_FAMILY, PMIB_UNICASTIPADDRESS_TABLE* table) {
    InjectedUnicastTable& injected = injected_unicast_table();
    *table = nullptr;
    if (injected.error != NO_ERROR) return injected.error;
    const std::size_t size = offsetof(MIB_UNICASTIPADDRESS_TABLE, Table) +
                             (injected.rows.size() + 1) * sizeof(MIB_UNICASTIPADDRESS_ROW);
    auto* result = static_cast<PMIB_UNICASTIPADDRESS_TABLE>(std::calloc(1, size));
    result->NumEntries = static_cast<ULONG>(injected.rows.size());
    for (std::size_t i = 0; i < injected.rows.size(); ++i) {
        MIB_UNICASTIPADDRESS_ROW& row = result->Table[i];
        row.InterfaceLuid.Value = injected.rows[i].luid;
        row.OnLinkPrefixLength = injected.rows[i].prefix;
        const std::vector<std::uint8_t> bytes = address_bytes(injected.rows[i].literal);
        if (bytes.size() == 4) {
            row.Address.Ipv4.sin_family = AF_INET;
            std::memcpy(&row.Address.Ipv4.sin_addr, bytes.data(), 4);
        } else {
            row.Address.Ipv6.sin6_family = AF_INET6;
            std::memcpy(&row.Address.Ipv6.sin6_addr, bytes.data(), 16);
        }
    }
    ++injected.given;
    *table = result;
    return NO_ERROR;
}

VOID WINAPI free_injected_rows(PVOID table) {
    ++injected_unicast_table().freed;
    std::free(table);
}

void feed_steady_traffic(PEVENT_RECORD_CALLBACK callback, void* context,
                         const std::function<bool()>& stopped) {
    auto& counter = *static_cast<TrafficCounterContext*>(context);
    TrafficSharedSection& section = *counter.section;
    const std::uint32_t self = GetCurrentProcessId();
    while (!stopped()) {
        Sleep(50);
        if (load_start_qpc(section) == 0) continue;
        const TrafficAddressEntry* local = nullptr;
        for (std::uint32_t i = 0; i < stored_address_count(section) && local == nullptr; ++i) {
            const TrafficAddressEntry& entry = section.addresses[i];
            if ((entry.length == 4 || entry.length == 16) &&
                !is_loopback_address(entry.bytes, entry.length == 16)) {
                local = &entry;
            }
        }
        if (local == nullptr) continue;
        const bool v6 = local->length == 16;
        char text[64]{};
        inet_ntop(v6 ? AF_INET6 : AF_INET, local->bytes, text, sizeof text);
        const std::string me = text;
        const std::string peer = v6 ? "2a00:1450:4001:81f::200e" : "93.184.216.34";
        const std::int64_t now = performance_counter_now();
        const USHORT shift = v6 ? 16 : 0;  // the IPv6 ids follow the IPv4 ones by 16
        auto deliver = [&](USHORT id, std::uint32_t process_id, std::uint32_t size,
                           const std::string& destination, const std::string& source) {
            NetEvent event;
            event.id = static_cast<USHORT>(id + shift);
            event.process_id = process_id;
            event.size = size;
            event.destination = destination;
            event.source = source;
            event.stamp = now;
            SyntheticEvent synthetic(event, context);
            callback(synthetic.record());
        };
        deliver(11, self, 3000, me, peer);     // TCP received
        deliver(10, self, 300, peer, me);      // TCP sent
        deliver(43, 4000004, 2000, me, peer);  // UDP received
        deliver(42, 4000008, 1000, peer, me);  // UDP sent
    }
}

ChildProcess::ChildProcess(const std::wstring& arguments) {
    wchar_t self[MAX_PATH]{};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
        throw std::runtime_error("child not started");
    }
    CloseHandle(child.hThread);
    process_ = HandleGuard<HANDLE>(child.hProcess, [](HANDLE h) {
        TerminateProcess(h, 9);
        WaitForSingleObject(h, 30000);
        CloseHandle(h);
    });
    id_ = child.dwProcessId;
}

ChildProcess::~ChildProcess() = default;

DWORD ChildProcess::wait() {
    WaitForSingleObject(process_.get(), 30000);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}

std::optional<int> run_traffic_child_mode() {
    const std::wstring_view arguments = arguments_of(GetCommandLineW());
    constexpr std::wstring_view traffic = L"--process-traffic ";
    if (arguments.substr(0, traffic.size()) == traffic) {
        if (read_environment_variable(L"TARVISKO_TRAFFIC_FEED") == L"1") {
            EtwScript script;
            script.feed = feed_steady_traffic;
            FakeEtw fake(std::move(script));
            return run_process_traffic_child(arguments.substr(traffic.size()));
        }
        return run_process_traffic_child(arguments.substr(traffic.size()));
    }
    constexpr std::wstring_view sleep = L"--sleep ";
    if (arguments.substr(0, sleep.size()) == sleep) {
        Sleep(static_cast<DWORD>(std::stoul(std::wstring(arguments.substr(sleep.size())))));
        return 0;
    }
    constexpr std::wstring_view exit_code = L"--exit-code ";
    if (arguments.substr(0, exit_code.size()) == exit_code) {
        return std::stoi(std::wstring(arguments.substr(exit_code.size())));
    }
    return std::nullopt;
}

}  // namespace tarvisko::test
