// The sequence lock across two processes: a writer child publishes at full speed snapshots whose
// every field derives from one counter; the parent reads through the real reader and must never
// accept a torn copy.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <iostream>

#include "traffic/traffic_fakes.h"
#include "traffic/traffic_process_test.h"

namespace tarvisko {

namespace {

void derive_snapshot(std::uint64_t k, TrafficSnapshot& snapshot) {
    snapshot.elapsed_ms = static_cast<std::int64_t>(k);
    snapshot.lost = static_cast<std::int32_t>(k * 3 % 1000003);
    snapshot.rejected = static_cast<std::int32_t>(k * 5 % 1000003);
    snapshot.overflow = static_cast<std::int32_t>(k * 7 % 1000003);
    snapshot.count = static_cast<std::uint32_t>(k % (kTrafficProcessSlots + 1));
    for (std::uint32_t i = 0; i < kTrafficProcessSlots; ++i) {
        TrafficSnapshotEntry& entry = snapshot.entries[i];
        if (i < snapshot.count) {
            entry = {static_cast<std::uint32_t>(k + i), 0, k * 1000 + i, k * 2000 + i};
        } else {
            entry = {};
        }
    }
}

// The first difference from the snapshot of its own elapsed_ms, or empty when there is none.
std::string torn_field(const TrafficSnapshot& read, TrafficSnapshot& expected) {
    derive_snapshot(static_cast<std::uint64_t>(read.elapsed_ms), expected);
    if (std::memcmp(&read, &expected, offsetof(TrafficSnapshot, entries)) != 0) return "header";
    for (std::uint32_t i = 0; i < kTrafficProcessSlots; ++i) {
        if (std::memcmp(&read.entries[i], &expected.entries[i], sizeof expected.entries[i]) != 0) {
            return "entry " + std::to_string(i);
        }
    }
    return {};
}

}  // namespace

int run_seqlock_writer(std::wstring_view guid_text) {
    const std::wstring name = traffic_section_name(guid_text);
    HandleGuard<HANDLE> mapping(OpenFileMappingW(FILE_MAP_WRITE, FALSE, name.c_str()),
                                [](HANDLE h) { CloseHandle(h); });
    HandleGuard<HANDLE> stop(
        OpenEventW(SYNCHRONIZE, FALSE, traffic_stop_event_name(guid_text).c_str()),
        [](HANDLE h) { CloseHandle(h); });
    if (!mapping || !stop) return 3;
    HandleGuard<void*> view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0),
                            [](void* base) { UnmapViewOfFile(base); });
    if (!view) return 3;
    auto& section = *static_cast<TrafficSharedSection*>(view.get());
    auto snapshot = std::make_unique<TrafficSnapshot>();
    for (std::uint64_t k = 1;; ++k) {
        derive_snapshot(k, *snapshot);
        publish_section_snapshot(section, *snapshot);
        if (k % 64 == 0 && WaitForSingleObject(stop.get(), 0) == WAIT_OBJECT_0) return 0;
    }
}

namespace {

TEST(TrafficSeqlock, NoAcceptedCopyIsEverTornAcrossProcesses) {
    test::NamedSection named;
    test::ChildProcess writer(L"--seqlock-writer " + named.guid_text);
    TrafficSharedSection& section = named.section();
    for (int i = 0; i < 400 && std::atomic_ref(section.sequence).load() == 0; ++i) Sleep(25);
    ASSERT_GT(std::atomic_ref(section.sequence).load(), 0u) << "the writer never published";

    auto read = std::make_unique<TrafficSnapshot>();
    auto expected = std::make_unique<TrafficSnapshot>();
    std::uint64_t accepted = 0;
    std::uint64_t refused = 0;
    std::int64_t last = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < end) {
        if (!read_section_snapshot(section, *read)) {
            ++refused;
            continue;
        }
        ++accepted;
        const std::string torn = torn_field(*read, *expected);
        ASSERT_TRUE(torn.empty()) << "torn copy at k = " << read->elapsed_ms << ": " << torn;
        ASSERT_GE(read->elapsed_ms, last) << "a copy older than the one before";
        last = read->elapsed_ms;
    }
    const std::uint32_t sequence = std::atomic_ref(section.sequence).load();
    SetEvent(named.stop_event.get());
    EXPECT_EQ(writer.wait(), 0);
    std::cout << "accepted " << accepted << ", refused " << refused << ", publications "
              << sequence / 2 << std::endl;
    EXPECT_GT(accepted, 0u);
}

}  // namespace
}  // namespace tarvisko
