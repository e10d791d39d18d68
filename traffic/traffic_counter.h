#pragma once
// The traffic counter process: the program started with "--process-traffic " + session GUID +
// parent id. It opens the section and stop event that the windowed application created, runs a
// real-time event-trace session on the kernel network provider, counts each process's TCP and UDP
// bytes between the measurement adapter's own addresses and public addresses, and publishes the
// counts until it is told to stop, its parent ends, or 210 seconds have passed.
//
// Why a separate process: a kernel-provider session needs membership in Performance Log Users or
// an elevated token, and the application itself must run without elevation. The child may run
// elevated while the parent does not; they share nothing but the section and the stop event.
// clang-format off
#include <windows.h>
#include <evntrace.h>
#include <evntcons.h>
// clang-format on

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "traffic/traffic_section.h"

namespace tarvisko {

// The event-trace calls and the clock of the counter. Each member defaults to the real call; only
// test executables change them (under Wine OpenTraceW fails with 5, so a session never delivers
// events there). Set once, before a session starts.
struct TrafficEtw {
    decltype(&StartTraceW) start_trace = StartTraceW;
    decltype(&EnableTraceEx2) enable_trace = EnableTraceEx2;
    decltype(&OpenTraceW) open_trace = OpenTraceW;
    decltype(&ProcessTrace) process_trace = ProcessTrace;
    decltype(&ControlTraceW) control_trace = ControlTraceW;
    decltype(&CloseTrace) close_trace = CloseTrace;
    decltype(&CreateThread) create_thread = CreateThread;
    decltype(&GetTickCount64) tick_count = GetTickCount64;
    decltype(&QueryAllTracesW) query_all_traces = QueryAllTracesW;
};
TrafficEtw& traffic_etw();

// Microsoft-Windows-Kernel-Network.
inline constexpr GUID kKernelNetworkProvider = {
    0x7DD42A49, 0x5329, 0x4832, {0x8D, 0xFD, 0x43, 0xD9, 0x79, 0x15, 0x3A, 0x88}};
// How long one counter runs at most after its session started.
inline constexpr ULONGLONG kTrafficSessionLimitMs = 210000;

struct AddressValue {
    std::uint8_t bytes[16]{};  // IPv4 in the first 4
    std::uint32_t length = 0;  // 4, 16, or 0 for none
};

struct ProcessTrafficCounter {
    std::uint32_t process_id = 0;
    std::uint64_t bytes_received = 0;
    std::uint64_t bytes_sent = 0;
};

// Owned by run_traffic_session; the trace hands it to every on_network_event call.
struct TrafficCounterContext {
    TrafficSharedSection* section = nullptr;
    bool include_loopback = false;
    bool filter_by_adapter = true;
    std::mutex mutex;  // guards the three members below
    std::map<std::uint32_t, ProcessTrafficCounter> counters;
    std::int32_t rejected = 0;
    std::int32_t overflow = 0;
    // The result of ProcessTrace, stored once by the processing thread; 0 while it runs.
    std::atomic<std::int32_t> trace_result{0};
};

// An IPv4-mapped IPv6 address becomes the IPv4 address of its last 4 bytes.
AddressValue address_from_bytes(const std::uint8_t* bytes, bool is_ipv6);
// 127.0.0.0/8, ::1 and ::ffff:127.0.0.0/104.
bool is_loopback_address(const std::uint8_t* bytes, bool is_ipv6);
// Whether traffic between the adapter's own `local` address and `remote` counts: the remote is
// public and off the adapter's link, the local address is one of the stored entries.
bool is_counted_address(TrafficSharedSection& section, const AddressValue& local,
                        const AddressValue& remote);

struct TrafficEndpoints {
    AddressValue local;
    AddressValue remote;
};
// Which of an event's two addresses is this computer's. The provider's messages read as if a
// received event carried the peer as its source, so that is tried first: the source of a sent
// event, the destination of a received one, is local. Should the kernel describe both directions
// from the local end instead, the other address is the one equal to a stored adapter entry, and
// then it is taken as local; otherwise received bytes would never count.
TrafficEndpoints event_endpoints(TrafficSharedSection& section, const AddressValue& destination,
                                 const AddressValue& source, bool received);

// The trace's event callback; the record's UserContext is the TrafficCounterContext.
void WINAPI on_network_event(PEVENT_RECORD event);
// One publication: nothing until armed; `lost` as the session reports it.
void publish_traffic_snapshot(TrafficCounterContext& context, std::int32_t lost);

// A counter killed before its end leaves its kernel session running until the computer restarts
// (a session outlives the process that started it). Stops every session named
// "QUORVEL-ProcessTraffic-{GUID}" whose owners are known to be gone: no process holds that
// session's section any more (the application and its counter both keep it while they run). A
// session whose section exists, or cannot be looked up, is left alone. Returns the names of the
// sessions it stopped.
std::vector<std::wstring> stop_abandoned_traffic_sessions();

// The session itself; true when it failed (the status then holds minus the Windows error),
// false when it ended normally (status 2). `parent` may be null.
bool run_traffic_session(TrafficSharedSection* section, std::wstring_view guid_text,
                         HANDLE stop_event, HANDLE parent, bool include_loopback);

// The "--process-traffic " mode; `arguments` is the text after the switch. Exit code: 2 for bad
// arguments or a missing kernel object, 1 when the session failed, 0 when it ended normally.
int run_process_traffic_child(std::wstring_view arguments);

}  // namespace tarvisko
