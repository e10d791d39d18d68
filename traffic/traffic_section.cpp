#include "traffic/traffic_section.h"

#include <algorithm>
#include <cstring>

namespace tarvisko {

namespace {

constexpr int kReadAttempts = 4;

template <typename T>
std::atomic_ref<T> shared(T& field) {
    return std::atomic_ref<T>(field);
}

}  // namespace

std::wstring traffic_section_name(std::wstring_view guid_text) {
    return L"Local\\" + traffic_session_name(guid_text);
}

std::wstring traffic_stop_event_name(std::wstring_view guid_text) {
    return traffic_section_name(guid_text) + L"-stop";
}

std::wstring traffic_session_name(std::wstring_view guid_text) {
    return L"QUORVEL-ProcessTraffic-" + std::wstring(guid_text);
}

std::wstring traffic_child_parameters(std::wstring_view guid_text, std::uint32_t parent_pid) {
    return L"--process-traffic " + std::wstring(guid_text) + L" " + std::to_wstring(parent_pid);
}

std::int32_t load_traffic_status(TrafficSharedSection& section) {
    return shared(section.status).load();
}

void store_traffic_status(TrafficSharedSection& section, std::int32_t status) {
    shared(section.status).exchange(status);
}

std::int64_t load_start_qpc(TrafficSharedSection& section) {
    return shared(section.start_qpc).load();
}

void store_start_qpc(TrafficSharedSection& section, std::int64_t qpc) {
    shared(section.start_qpc).exchange(qpc);
}

std::int64_t load_stop_qpc(TrafficSharedSection& section) {
    return shared(section.stop_qpc).load();
}

bool stamp_stop_qpc(TrafficSharedSection& section, std::int64_t qpc) {
    std::int64_t expected = 0;
    return shared(section.stop_qpc).compare_exchange_strong(expected, qpc);
}

std::int64_t performance_counter_now() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void publish_section_snapshot(TrafficSharedSection& section, const TrafficSnapshot& snapshot) {
    auto sequence = shared(section.sequence);
    sequence.fetch_add(1, std::memory_order_relaxed);
    // The odd sequence must be visible before any byte of the new snapshot.
    std::atomic_thread_fence(std::memory_order_release);
    std::memcpy(&section.snapshot, &snapshot, sizeof snapshot);
    sequence.fetch_add(1, std::memory_order_release);
}

bool read_section_snapshot(TrafficSharedSection& section, TrafficSnapshot& out) {
    auto sequence = shared(section.sequence);
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const std::uint32_t before = sequence.load(std::memory_order_acquire);
        if (before % 2 != 0) continue;
        std::memcpy(&out, &section.snapshot, sizeof out);
        // Keeps the copy above the second load: a writer that started meanwhile shows.
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence.load(std::memory_order_relaxed) == before) return true;
    }
    std::memset(&out, 0, sizeof out);
    return false;
}

std::uint32_t stored_address_count(TrafficSharedSection& section) {
    return std::min(section.address_count, kTrafficAddressSlots);
}

std::uint32_t snapshot_entry_count(const TrafficSnapshot& snapshot) {
    return std::min(snapshot.count, kTrafficProcessSlots);
}

}  // namespace tarvisko
