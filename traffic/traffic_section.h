#pragma once
// The memory that the windowed application (the parent) and its traffic counter process (the
// child) share, and the only way either side touches it.
//
// The section is a fixed 52,280-byte little-endian format: the parent writes which local
// addresses carry the measurement and from when to count, the child reports its state and
// publishes the per-process byte counts under a sequence lock. The records below are laid out so
// that natural alignment gives exactly the format's offsets (no padding anywhere, checked field by
// field), which lets every shared field be read and written through std::atomic_ref.
//
// Either side may face a hostile section: the child may run elevated while any process of the
// user can write the section, so every count read from it is clamped before use.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace tarvisko {

inline constexpr std::uint32_t kTrafficAddressSlots = 128;
inline constexpr std::uint32_t kTrafficProcessSlots = 2048;

// One local address of the measurement adapter.
struct TrafficAddressEntry {
    std::uint8_t bytes[16];       // network order; IPv4 in the first 4, the rest 0
    std::uint32_t length;         // 4 or 16
    std::uint32_t prefix_length;  // on-link prefix in bits, as Windows reports it
};

struct TrafficSnapshotEntry {
    std::uint32_t process_id;
    std::uint32_t reserved;  // 0
    std::uint64_t bytes_received;
    std::uint64_t bytes_sent;
};

struct TrafficSnapshot {
    std::int64_t elapsed_ms;  // counting time so far; 0 means no data
    std::int32_t lost;        // events and real-time buffers the session lost
    std::int32_t rejected;    // counted kinds with an unknown layout or short user data
    std::int32_t overflow;    // events of new processes beyond kTrafficProcessSlots
    std::uint32_t count;      // valid entries, ascending process id
    TrafficSnapshotEntry entries[kTrafficProcessSlots];
};

struct TrafficSharedSection {
    std::int32_t status;     // 0 not started, 1 running, 2 ended, -error: the child failed
    std::uint32_t sequence;  // odd while the snapshot is being written
    std::int64_t start_qpc;  // performance counter from which events count; 0 = not armed
    std::int64_t stop_qpc;   // performance counter after which they no longer count; 0 = open
    std::uint32_t address_count;
    std::uint32_t excluded_pid;  // the windowed application, never counted
    TrafficAddressEntry addresses[kTrafficAddressSlots];
    TrafficSnapshot snapshot;
};

static_assert(sizeof(TrafficAddressEntry) == 24);
static_assert(offsetof(TrafficAddressEntry, bytes) == 0);
static_assert(offsetof(TrafficAddressEntry, length) == 16);
static_assert(offsetof(TrafficAddressEntry, prefix_length) == 20);

static_assert(sizeof(TrafficSnapshotEntry) == 24);
static_assert(offsetof(TrafficSnapshotEntry, process_id) == 0);
static_assert(offsetof(TrafficSnapshotEntry, reserved) == 4);
static_assert(offsetof(TrafficSnapshotEntry, bytes_received) == 8);
static_assert(offsetof(TrafficSnapshotEntry, bytes_sent) == 16);

static_assert(sizeof(TrafficSnapshot) == 49176);
static_assert(offsetof(TrafficSnapshot, elapsed_ms) == 0);
static_assert(offsetof(TrafficSnapshot, lost) == 8);
static_assert(offsetof(TrafficSnapshot, rejected) == 12);
static_assert(offsetof(TrafficSnapshot, overflow) == 16);
static_assert(offsetof(TrafficSnapshot, count) == 20);
static_assert(offsetof(TrafficSnapshot, entries) == 24);

static_assert(sizeof(TrafficSharedSection) == 52280);
static_assert(offsetof(TrafficSharedSection, status) == 0);
static_assert(offsetof(TrafficSharedSection, sequence) == 4);
static_assert(offsetof(TrafficSharedSection, start_qpc) == 8);
static_assert(offsetof(TrafficSharedSection, stop_qpc) == 16);
static_assert(offsetof(TrafficSharedSection, address_count) == 24);
static_assert(offsetof(TrafficSharedSection, excluded_pid) == 28);
static_assert(offsetof(TrafficSharedSection, addresses) == 32);
static_assert(offsetof(TrafficSharedSection, snapshot) == 3104);

static_assert(std::is_standard_layout_v<TrafficSharedSection>);
static_assert(std::is_trivially_copyable_v<TrafficSharedSection>);
static_assert(std::atomic_ref<std::int32_t>::is_always_lock_free);
static_assert(std::atomic_ref<std::uint32_t>::is_always_lock_free);
static_assert(std::atomic_ref<std::int64_t>::is_always_lock_free);

inline constexpr DWORD kTrafficSectionBytes = sizeof(TrafficSharedSection);

// Kernel object names for one session; `guid_text` is the 38-character braced form.
std::wstring traffic_section_name(std::wstring_view guid_text);     // "Local\QUORVEL-..."
std::wstring traffic_stop_event_name(std::wstring_view guid_text);  // section name + "-stop"
std::wstring traffic_session_name(std::wstring_view guid_text);     // no "Local\" prefix
// The parameters of the counter process: "--process-traffic " + GUID + " " + parent id.
std::wstring traffic_child_parameters(std::wstring_view guid_text, std::uint32_t parent_pid);

// Status: the child exchanges, the parent loads.
std::int32_t load_traffic_status(TrafficSharedSection& section);
void store_traffic_status(TrafficSharedSection& section, std::int32_t status);
std::int64_t load_start_qpc(TrafficSharedSection& section);
void store_start_qpc(TrafficSharedSection& section, std::int64_t qpc);
std::int64_t load_stop_qpc(TrafficSharedSection& section);
// Sets stop_qpc from 0 to `qpc`; false (and nothing changes) when it was already set.
bool stamp_stop_qpc(TrafficSharedSection& section, std::int64_t qpc);
// The current performance counter.
std::int64_t performance_counter_now();

// Writer side of the sequence lock: the sequence turns odd, the snapshot is copied in whole, the
// sequence turns even again.
void publish_section_snapshot(TrafficSharedSection& section, const TrafficSnapshot& snapshot);
// Reader side: at most 4 attempts; an odd sequence or one that changed during the copy fails an
// attempt. True with the copy in `out`; false with `out` all zero.
bool read_section_snapshot(TrafficSharedSection& section, TrafficSnapshot& out);

// Counts clamped to the slots that exist.
std::uint32_t stored_address_count(TrafficSharedSection& section);
std::uint32_t snapshot_entry_count(const TrafficSnapshot& snapshot);

}  // namespace tarvisko
