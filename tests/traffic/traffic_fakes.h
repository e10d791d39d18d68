#pragma once
// Fixtures of the traffic monitor tests: kernel network events built byte for byte, sections in
// ordinary memory and as named kernel objects, a scripted event-trace session behind the
// counter's function table, and the child modes of a test executable.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/handle_guard.h"
#include "traffic/traffic_counter.h"
#include "traffic/traffic_section.h"

namespace tarvisko::test {

// One kernel network event as the provider writes it: the Part's fields (process id, size,
// destination, source) followed by the ports and the kernel's further fields of that event id.
struct NetEvent {
    USHORT id = 10;
    std::uint32_t process_id = 1000;
    std::uint32_t size = 100;
    std::string destination;  // IP literal; IPv6 for ids 26, 27, 58, 59
    std::string source;
    std::int64_t stamp = 0;  // raw performance counter
    UCHAR version = 0;
    std::optional<std::size_t> user_length;  // cut or padded user data
    GUID provider = kKernelNetworkProvider;
};

// An EVENT_RECORD that owns its user data. Not copyable: the record points into itself.
class SyntheticEvent {
  public:
    SyntheticEvent(const NetEvent& event, void* context);
    SyntheticEvent(const SyntheticEvent&) = delete;
    SyntheticEvent& operator=(const SyntheticEvent&) = delete;
    EVENT_RECORD* record() { return &record_; }

  private:
    EVENT_RECORD record_{};
    std::vector<std::uint8_t> data_;
};

// Bytes of an IP literal: 4 or 16; throws on anything else.
std::vector<std::uint8_t> address_bytes(const std::string& literal);
bool is_ipv6_event(USHORT id);

std::unique_ptr<TrafficSharedSection> zeroed_section();
// Appends an address entry of the measurement adapter.
void add_address(TrafficSharedSection& section, const std::string& literal,
                 std::uint32_t prefix_length);

// A section and stop event under fresh names, as the application creates them.
struct NamedSection {
    NamedSection();
    std::wstring guid_text;
    HandleGuard<HANDLE> mapping;
    HandleGuard<HANDLE> stop_event;
    HandleGuard<void*> view;
    TrafficSharedSection& section() { return *static_cast<TrafficSharedSection*>(view.get()); }
    // The counter's arguments naming this section and `parent_pid`.
    std::wstring child_arguments(std::uint32_t parent_pid) const;
};

// The scripted event-trace session installed in traffic_etw() by FakeEtw. ProcessTrace hands
// `feed` the trace's callback and context, then (unless `process_at_once`) blocks until the session
// is stopped or closed and returns `process_result`.
struct EtwScript {
    ULONG start_error = 0;
    ULONG enable_error = 0;
    ULONG open_error = 0;    // OpenTraceW fails with it when not 0
    DWORD thread_error = 0;  // CreateThread fails with it when not 0
    ULONG process_result = 0;
    bool process_at_once = false;
    ULONG stop_error = 0;
    ULONG events_lost = 0;
    ULONG buffers_lost = 0;
    // Tick counts returned in turn; the last one repeats. Empty: the real clock.
    std::vector<ULONGLONG> ticks;
    // The sessions QueryAllTracesW lists, by name, and what it returns (ERROR_MORE_DATA is
    // returned by itself when they do not fit the caller's records).
    std::vector<std::wstring> sessions;
    ULONG query_error = 0;
    std::function<void(PEVENT_RECORD_CALLBACK callback, void* context,
                       const std::function<bool()>& stopped)>
        feed;
};

struct EtwLog {
    std::atomic<int> starts{0}, enables{0}, opens{0}, queries{0}, stops{0}, closes{0}, threads{0};
    std::atomic<bool> stopped_before_close{false};
    // Sessions stopped by name rather than by the counter's own handle.
    std::vector<std::wstring> stopped_by_name;
};

// Installs the script for its lifetime and restores the real calls after.
class FakeEtw {
  public:
    explicit FakeEtw(EtwScript script);
    ~FakeEtw();
    FakeEtw(const FakeEtw&) = delete;
    FakeEtw& operator=(const FakeEtw&) = delete;
    const EtwLog& log() const;
};

// The unicast address table that the control reads when it arms the counter, injected through
// traffic_control_system() (Wine's own table holds only the test machine's addresses).
struct UnicastRow {
    std::uint64_t luid;
    std::string literal;  // IP literal
    std::uint8_t prefix;
};
struct InjectedUnicastTable {
    std::vector<UnicastRow> rows;
    DWORD error = NO_ERROR;  // returned instead of a table when not NO_ERROR
    int given = 0;           // tables handed out
    int freed = 0;           // tables freed
};
InjectedUnicastTable& injected_unicast_table();
// GetUnicastIpAddressTable and FreeMibTable over injected_unicast_table().
DWORD WINAPI injected_unicast_rows(ADDRESS_FAMILY family, PMIB_UNICASTIPADDRESS_TABLE* table);
VOID WINAPI free_injected_rows(PVOID table);

// A feed for a counter process that a window or control test launches: once the section is
// armed, every 50 ms three processes exchange bytes between the adapter's first stored address
// that is not loopback and a public peer: this process receives 3,000 and sends 300 bytes per
// round, process 4,000,004 receives 2,000 and process 4,000,008 sends 1,000. Only the real
// on_network_event and publication count them.
void feed_steady_traffic(PEVENT_RECORD_CALLBACK callback, void* context,
                         const std::function<bool()>& stopped);

// This test executable started again with `arguments`; terminated if still running at the end.
class ChildProcess {
  public:
    explicit ChildProcess(const std::wstring& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    HANDLE handle() const { return process_.get(); }
    DWORD id() const { return id_; }
    // The exit code once the process ended (up to 30 s), or STILL_ACTIVE.
    DWORD wait();

  private:
    HandleGuard<HANDLE> process_;
    DWORD id_ = 0;
};

// Child modes of a test executable; returns the exit code when the command line asks for one.
// "--process-traffic " + arguments: the real counter, with feed_steady_traffic when the variable
// TARVISKO_TRAFFIC_FEED is "1" (inherited from the test); "--sleep <ms>"; "--exit-code <n>".
std::optional<int> run_traffic_child_mode();

}  // namespace tarvisko::test
