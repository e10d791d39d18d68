// The counter's event callback over a prebuilt array of kernel-like network events (counted and
// ignored ones, 2,048 processes), beside a bare loop that reads the same records and adds their
// sizes into a flat array; and the cost of one publication of a full snapshot.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "traffic/traffic_counter.h"
#include "traffic/traffic_fakes.h"

namespace {

using namespace tarvisko;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int passes = argc > 1 ? std::atoi(argv[1]) : 20;
    auto section = test::zeroed_section();
    test::add_address(*section, "10.0.0.5", 24);
    test::add_address(*section, "2a00:1450:4000::5", 64);
    for (int i = 0; i < 30; ++i)
        test::add_address(*section, "10.9." + std::to_string(i) + ".1", 24);
    section->excluded_pid = 999999;
    section->start_qpc = 1000;
    TrafficCounterContext context;
    context.section = section.get();

    // Three in four events count; the rest are turned away by the time window, the loopback or
    // private-peer filters, or an event id outside the table.
    constexpr std::size_t kEvents = 65536;
    std::vector<std::unique_ptr<test::SyntheticEvent>> events;
    events.reserve(kEvents);
    std::size_t counted = 0;
    for (std::size_t i = 0; i < kEvents; ++i) {
        test::NetEvent event;
        event.process_id = static_cast<std::uint32_t>(1000 + i / 8 % kTrafficProcessSlots);
        event.size = static_cast<std::uint32_t>(64 + i % 1400);
        event.stamp = 2000;
        const bool v6 = i % 3 == 0;
        const std::string me = v6 ? "2a00:1450:4000::5" : "10.0.0.5";
        const std::string peer = v6 ? "2a00:1450:4001::1" : "93.184.216.34";
        const USHORT shift = v6 ? 16 : 0;
        switch (i % 8) {
            case 0:
            case 1:
            case 2:
                event.id = static_cast<USHORT>(11 + shift);
                event.destination = me;
                event.source = peer;
                break;
            case 3:
            case 4:
            case 5:
                event.id = static_cast<USHORT>(42 + shift);
                event.destination = peer;
                event.source = me;
                break;
            case 6:
                event.id = static_cast<USHORT>(10 + shift);
                event.destination = v6 ? "::1" : "192.168.1.1";
                event.source = me;
                break;
            default:
                event.id = i % 16 == 7 && !v6 ? 12 : static_cast<USHORT>(10 + shift);
                event.destination = peer;
                event.source = me;
                event.stamp = 500;  // before the start
        }
        counted += i % 8 < 6 ? 1 : 0;
        events.push_back(std::make_unique<test::SyntheticEvent>(event, &context));
    }
    for (auto& event : events) on_network_event(event->record());  // every process known

    auto start = Clock::now();
    for (int pass = 0; pass < passes; ++pass) {
        for (auto& event : events) on_network_event(event->record());
    }
    const double callback_rate = static_cast<double>(kEvents) * passes / seconds_since(start);

    std::vector<std::uint64_t> flat(kTrafficProcessSlots * 2);
    start = Clock::now();
    for (int pass = 0; pass < passes; ++pass) {
        for (auto& event : events) {
            const EVENT_RECORD* record = event->record();
            if (!IsEqualGUID(record->EventHeader.ProviderId, kKernelNetworkProvider)) continue;
            const auto* data = static_cast<const std::uint8_t*>(record->UserData);
            std::uint32_t pid = 0;
            std::uint32_t size = 0;
            std::memcpy(&pid, data, 4);
            std::memcpy(&size, data + 4, 4);
            flat[(pid % kTrafficProcessSlots) * 2 + (record->EventHeader.EventDescriptor.Id & 1)] +=
                size;
        }
    }
    const double bare_rate = static_cast<double>(kEvents) * passes / seconds_since(start);
    std::uint64_t checksum = 0;
    for (std::uint64_t value : flat) checksum += value;

    constexpr int kPublications = 2000;
    section->stop_qpc = 1000 + 10000000;
    start = Clock::now();
    for (int i = 0; i < kPublications; ++i) publish_traffic_snapshot(context, 0);
    const double publication_us = seconds_since(start) * 1e6 / kPublications;

    std::printf("events: %zu (%zu counted) x %d passes, %zu processes known\n", kEvents, counted,
                passes, context.counters.size());
    std::printf("on_network_event: %.0f events/s\n", callback_rate);
    std::printf("bare loop:        %.0f events/s (checksum %llu)\n", bare_rate,
                static_cast<unsigned long long>(checksum));
    std::printf("ratio bare/callback: %.1f\n", bare_rate / callback_rate);
    std::printf("one publication of %u entries: %.1f us\n", section->snapshot.count,
                publication_us);
    return 0;
}
