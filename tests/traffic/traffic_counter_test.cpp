// The counter process: the event filter over records built like the kernel's, the publication,
// and whole sessions of the real child code behind a scripted event-trace session.
#include "traffic/traffic_counter.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "traffic/traffic_fakes.h"

namespace tarvisko {
namespace {

using test::NetEvent;
using test::SyntheticEvent;

constexpr std::uint32_t kExcluded = 999;

// The adapter of every case: a private IPv4 address behind a router, a global IPv6 address, and
// a public IPv4 address with its /24 link.
std::unique_ptr<TrafficSharedSection> adapter_section() {
    auto section = test::zeroed_section();
    test::add_address(*section, "10.0.0.5", 24);
    test::add_address(*section, "2a00:1450:4000::5", 64);
    test::add_address(*section, "85.10.20.30", 24);
    section->excluded_pid = kExcluded;
    section->start_qpc = 1000;
    return section;
}

struct EventCase {
    const char* name;
    NetEvent event;
    std::uint64_t received;
    std::uint64_t sent;
    std::int32_t rejected = 0;
    std::int64_t start = 1000;
    std::int64_t stop = 0;
    std::uint32_t address_count = 0;  // overrides the section's count when not 0
};

NetEvent ev(USHORT id, std::string destination, std::string source, std::int64_t stamp = 1500) {
    NetEvent event;
    event.id = id;
    event.destination = std::move(destination);
    event.source = std::move(source);
    event.stamp = stamp;
    return event;
}

template <typename F>
NetEvent with(NetEvent event, F change) {
    change(event);
    return event;
}

constexpr GUID kOtherProvider = {
    0x9A280AC0, 0xC8E0, 0x11D1, {0x84, 0xE2, 0, 0xC0, 0x4F, 0xB9, 0x98, 0xA2}};

TEST(TrafficEvents, FilterAndCountLikeTheKernelWritesThem) {
    const char* v4 = "10.0.0.5";
    const char* v6 = "2a00:1450:4000::5";
    const char* peer4 = "8.8.8.8";
    const char* peer6 = "2a00:1450:4001::1";
    const EventCase cases[] = {
        {"tcp4 sent", ev(10, peer4, v4), 0, 100},
        {"tcp4 received", ev(11, v4, peer4), 100, 0},
        {"udp4 sent", ev(42, peer4, v4), 0, 100},
        {"udp4 received", ev(43, v4, peer4), 100, 0},
        {"tcp6 sent", ev(26, peer6, v6), 0, 100},
        {"tcp6 received", ev(27, v6, peer6), 100, 0},
        {"udp6 sent", ev(58, peer6, v6), 0, 100},
        {"udp6 received", ev(59, v6, peer6), 100, 0},
        {"received, both ends named from the local side", ev(11, peer4, v4), 100, 0},
        {"IPv4-mapped addresses compared as IPv4", ev(26, "::ffff:8.8.8.8", "::ffff:10.0.0.5"), 0,
         100},
        {"other provider",
         with(ev(10, peer4, v4), [](NetEvent& e) { e.provider = kOtherProvider; }), 0, 0},
        {"event id outside the table", ev(12, peer4, v4), 0, 0},
        {"not armed", ev(10, peer4, v4), 0, 0, 0, 0},
        {"before start", ev(10, peer4, v4, 999), 0, 0},
        {"exactly at start", ev(10, peer4, v4, 1000), 0, 100},
        {"exactly at stop", ev(10, peer4, v4, 2000), 0, 100, 0, 1000, 2000},
        {"after stop", ev(10, peer4, v4, 2001), 0, 0, 0, 1000, 2000},
        {"layout version 1", with(ev(10, peer4, v4), [](NetEvent& e) { e.version = 1; }), 0, 0, 1},
        {"IPv4 at the minimum length",
         with(ev(10, peer4, v4), [](NetEvent& e) { e.user_length = 16; }), 0, 100},
        {"IPv4 one byte short", with(ev(10, peer4, v4), [](NetEvent& e) { e.user_length = 15; }), 0,
         0, 1},
        {"IPv6 at the minimum length",
         with(ev(27, v6, peer6), [](NetEvent& e) { e.user_length = 40; }), 100, 0},
        {"IPv6 one byte short", with(ev(27, v6, peer6), [](NetEvent& e) { e.user_length = 39; }), 0,
         0, 1},
        {"no user data", with(ev(11, v4, peer4), [](NetEvent& e) { e.user_length = 0; }), 0, 0, 1},
        {"loopback peer", ev(10, "127.0.0.1", v4), 0, 0},
        {"IPv6 loopback", ev(26, "::1", v6), 0, 0},
        {"IPv4-mapped loopback", ev(26, "::ffff:127.0.0.9", "::ffff:10.0.0.5"), 0, 0},
        {"private peer (the router)", ev(10, "192.168.1.1", v4), 0, 0},
        {"documentation IPv6 peer", ev(26, "2001:db8::1", v6), 0, 0},
        {"public peer on the adapter's own link", ev(10, "85.10.20.99", "85.10.20.30"), 0, 0},
        {"public peer beside the adapter's link", ev(10, "85.10.21.99", "85.10.20.30"), 0, 100},
        {"peer on the IPv6 /64 of the adapter", ev(26, "2a00:1450:4000::77", v6), 0, 0},
        {"local address not on the adapter", ev(10, peer4, "10.0.0.6"), 0, 0},
        {"the application itself",
         with(ev(10, peer4, v4), [](NetEvent& e) { e.process_id = kExcluded; }), 0, 0},
        {"process 0", with(ev(10, peer4, v4), [](NetEvent& e) { e.process_id = 0; }), 0, 0},
        {"size 0", with(ev(10, peer4, v4), [](NetEvent& e) { e.size = 0; }), 0, 0},
        {"hostile address count", ev(10, peer4, v4), 0, 100, 0, 1000, 0, 500},
    };
    for (const EventCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto section = adapter_section();
        section->start_qpc = c.start;
        section->stop_qpc = c.stop;
        if (c.address_count != 0) section->address_count = c.address_count;
        TrafficCounterContext context;
        context.section = section.get();
        SyntheticEvent event(c.event, &context);
        on_network_event(event.record());

        EXPECT_EQ(context.rejected, c.rejected);
        EXPECT_EQ(context.overflow, 0);
        if (c.received == 0 && c.sent == 0) {
            EXPECT_TRUE(context.counters.empty());
            continue;
        }
        ASSERT_EQ(context.counters.size(), 1u);
        const ProcessTrafficCounter& counter = context.counters.begin()->second;
        EXPECT_EQ(counter.process_id, c.event.process_id);
        EXPECT_EQ(counter.bytes_received, c.received);
        EXPECT_EQ(counter.bytes_sent, c.sent);
    }
}

TEST(TrafficEvents, ProcessesBeyondTheSlotsOverflowWhileKnownOnesStillCount) {
    auto section = adapter_section();
    TrafficCounterContext context;
    context.section = section.get();
    auto send = [&](std::uint32_t process_id) {
        NetEvent event = ev(10, "8.8.8.8", "10.0.0.5");
        event.process_id = process_id;
        SyntheticEvent synthetic(event, &context);
        on_network_event(synthetic.record());
    };
    constexpr std::uint32_t first = 10000;
    for (std::uint32_t pid = first; pid < first + kTrafficProcessSlots; ++pid) send(pid);
    send(first + kTrafficProcessSlots);
    send(first + kTrafficProcessSlots + 1);
    send(first + 7);
    EXPECT_EQ(context.counters.size(), kTrafficProcessSlots);
    EXPECT_EQ(context.overflow, 2);
    EXPECT_EQ(context.counters.at(first + 7).bytes_sent, 200u);
    EXPECT_EQ(context.counters.count(first + kTrafficProcessSlots), 0u);
}

TEST(TrafficEvents, LocalIsTheAddressOnTheAdapterWhicheverSlotHoldsIt) {
    auto section = adapter_section();
    auto value = [](const char* literal) {
        const auto bytes = test::address_bytes(literal);
        return address_from_bytes(bytes.data(), bytes.size() == 16);
    };
    struct Case {
        const char* destination;
        const char* source;
        bool received;
        const char* local;
    };
    const Case cases[] = {
        {"8.8.8.8", "10.0.0.5", false, "10.0.0.5"},     // sent, as the provider describes it
        {"10.0.0.5", "8.8.8.8", true, "10.0.0.5"},      // received, as the provider describes it
        {"8.8.8.8", "10.0.0.5", true, "10.0.0.5"},      // received, named from the local side
        {"10.0.0.5", "8.8.8.8", false, "10.0.0.5"},     // sent, named from the remote side
        {"8.8.8.8", "1.1.1.1", true, "8.8.8.8"},        // neither stored: the provider's reading
        {"10.0.0.5", "85.10.20.30", true, "10.0.0.5"},  // both stored: the provider's reading
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.destination) + " <- " + c.source);
        const TrafficEndpoints endpoints =
            event_endpoints(*section, value(c.destination), value(c.source), c.received);
        const AddressValue local = value(c.local);
        EXPECT_EQ(endpoints.local.length, local.length);
        EXPECT_EQ(std::memcmp(endpoints.local.bytes, local.bytes, 16), 0);
    }
}

TEST(TrafficEvents, AddressHelpers) {
    const auto mapped = test::address_bytes("::ffff:93.184.216.34");
    const AddressValue ipv4 = address_from_bytes(mapped.data(), true);
    EXPECT_EQ(ipv4.length, 4u);
    EXPECT_EQ(ipv4.bytes[0], 93);
    EXPECT_EQ(ipv4.bytes[4], 0);
    const auto almost = test::address_bytes("::fffe:93.184.216.34");
    EXPECT_EQ(address_from_bytes(almost.data(), true).length, 16u);

    struct Case {
        const char* literal;
        bool loopback;
    };
    for (const Case& c :
         {Case{"127.0.0.1", true}, Case{"127.255.0.9", true}, Case{"128.0.0.1", false},
          Case{"::1", true}, Case{"::2", false}, Case{"::ffff:127.1.2.3", true},
          Case{"::ffff:128.1.2.3", false}, Case{"::127.0.0.1", false}}) {
        const auto bytes = test::address_bytes(c.literal);
        EXPECT_EQ(is_loopback_address(bytes.data(), bytes.size() == 16), c.loopback) << c.literal;
    }

    // Entries whose prefix is 0 or longer than the address never make a peer on-link.
    auto section = test::zeroed_section();
    test::add_address(*section, "85.10.20.30", 0);
    test::add_address(*section, "85.10.20.31", 33);
    const auto local = test::address_bytes("85.10.20.30");
    const auto remote = test::address_bytes("85.10.20.99");
    EXPECT_TRUE(is_counted_address(*section, address_from_bytes(local.data(), false),
                                   address_from_bytes(remote.data(), false)));
    section->address_count = 0;
    EXPECT_FALSE(is_counted_address(*section, address_from_bytes(local.data(), false),
                                    address_from_bytes(remote.data(), false)));
    EXPECT_FALSE(is_counted_address(*section, address_from_bytes(local.data(), false), {}));
}

TEST(TrafficPublication, NothingUntilArmedThenTheWholeCountInProcessOrder) {
    auto section = test::zeroed_section();
    TrafficCounterContext context;
    context.section = section.get();
    context.counters[300] = {300, 1, 2};
    context.counters[20] = {20, 3, 4};
    context.counters[4000] = {4000, 5, 6};
    context.rejected = 2;
    context.overflow = 1;

    publish_traffic_snapshot(context, 7);
    EXPECT_EQ(section->sequence, 0u);
    EXPECT_EQ(section->snapshot.elapsed_ms, 0);
    EXPECT_EQ(section->snapshot.count, 0u);

    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    section->start_qpc = 5 * frequency.QuadPart;
    section->stop_qpc = section->start_qpc + frequency.QuadPart * 5 / 2;
    publish_traffic_snapshot(context, 7);
    EXPECT_EQ(section->sequence, 2u);
    const TrafficSnapshot& snapshot = section->snapshot;
    EXPECT_EQ(snapshot.elapsed_ms, 2500);
    EXPECT_EQ(snapshot.lost, 7);
    EXPECT_EQ(snapshot.rejected, 2);
    EXPECT_EQ(snapshot.overflow, 1);
    ASSERT_EQ(snapshot.count, 3u);
    EXPECT_EQ(snapshot.entries[0].process_id, 20u);
    EXPECT_EQ(snapshot.entries[1].process_id, 300u);
    EXPECT_EQ(snapshot.entries[2].process_id, 4000u);
    EXPECT_EQ(snapshot.entries[2].bytes_received, 5u);
    EXPECT_EQ(snapshot.entries[2].bytes_sent, 6u);
    EXPECT_EQ(snapshot.entries[3].process_id, 0u);

    // An open window runs to now; one closed before it opened holds nothing.
    section->start_qpc = performance_counter_now() - frequency.QuadPart;
    section->stop_qpc = 0;
    publish_traffic_snapshot(context, 0);
    EXPECT_GE(section->snapshot.elapsed_ms, 1000);
    section->stop_qpc = section->start_qpc - 1;
    publish_traffic_snapshot(context, 0);
    EXPECT_EQ(section->snapshot.elapsed_ms, 0);
}

TEST(TrafficChild, ArgumentsThatNameNoSessionEndWithCode2AndLeaveTheSectionAlone) {
    test::NamedSection named;
    const std::wstring guid = named.guid_text;
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    const std::wstring other_guid = L"{00000000-1111-2222-3333-444444444444}";
    const std::wstring cases[] = {
        L"",
        guid,                          // 38 characters, no process id
        guid + L" ",                   // 39
        guid + L" 12345678901",        // 50
        guid + L"x1234",               // no blank at 38
        guid.substr(1) + L"} " + pid,  // not a GUID
        L"{zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz} " + pid,
        guid + L" 0",
        guid + L" 0000000000",
        guid + L" +1",
        guid + L" -1",
        guid + L" 12a",
        guid + L" 4294967296",    // too large: never a process
        other_guid + L" " + pid,  // no such section
    };
    for (const std::wstring& arguments : cases) {
        SCOPED_TRACE(std::string(arguments.begin(), arguments.end()));
        EXPECT_EQ(run_process_traffic_child(arguments), 2);
    }
    EXPECT_EQ(load_traffic_status(named.section()), 0);

    // A section without its stop event is not a session either.
    test::NamedSection half;
    half.stop_event.reset();
    EXPECT_EQ(run_process_traffic_child(half.child_arguments(GetCurrentProcessId())), 2);
}

// Runs the real child code on a thread against `named`, as a counter process would.
struct ChildRun {
    int exit_code = -1;
    std::thread thread;

    ChildRun(test::NamedSection& named, std::uint32_t parent_pid) {
        thread = std::thread([this, arguments = named.child_arguments(parent_pid)] {
            exit_code = run_process_traffic_child(arguments);
        });
    }
    int join() {
        thread.join();
        return exit_code;
    }
};

bool wait_for_status(TrafficSharedSection& section) {
    for (int i = 0; i < 400; ++i) {
        if (load_traffic_status(section) != 0) return true;
        Sleep(25);
    }
    return false;
}

void arm_now(TrafficSharedSection& section) {
    test::add_address(section, "10.0.0.5", 24);
    section.excluded_pid = kExcluded;
    store_start_qpc(section, performance_counter_now());
}

// One received event of 500 bytes for process 1234, stamped now.
std::atomic<bool> fed{false};
void feed_one(PEVENT_RECORD_CALLBACK callback, void* context, const std::function<bool()>&) {
    NetEvent event = ev(11, "10.0.0.5", "8.8.8.8", performance_counter_now());
    event.process_id = 1234;
    event.size = 500;
    SyntheticEvent synthetic(event, context);
    callback(synthetic.record());
    fed = true;
}

TEST(TrafficChild, StopEventEndsNormallyAfterAFinalPublication) {
    test::EtwScript script;
    script.feed = feed_one;
    script.events_lost = 2;
    script.buffers_lost = 1;
    test::FakeEtw fake(script);
    test::NamedSection named;
    arm_now(named.section());
    fed = false;
    ChildRun child(named, GetCurrentProcessId());
    ASSERT_TRUE(wait_for_status(named.section()));
    EXPECT_EQ(load_traffic_status(named.section()), 1);
    for (int i = 0; i < 400 && !fed; ++i) Sleep(25);  // stamped after the stop it would not count
    SetEvent(named.stop_event.get());

    EXPECT_EQ(child.join(), 0);
    TrafficSharedSection& section = named.section();
    EXPECT_EQ(load_traffic_status(section), 2);
    EXPECT_NE(load_stop_qpc(section), 0);
    EXPECT_EQ(section.sequence % 2, 0u);
    EXPECT_GT(section.sequence, 0u);
    EXPECT_GE(section.snapshot.elapsed_ms, 0);
    EXPECT_EQ(section.snapshot.lost, 3);
    ASSERT_EQ(section.snapshot.count, 1u);
    EXPECT_EQ(section.snapshot.entries[0].process_id, 1234u);
    EXPECT_EQ(section.snapshot.entries[0].bytes_received, 500u);
    EXPECT_EQ(fake.log().stops, 1);
    EXPECT_EQ(fake.log().closes, 1);
    EXPECT_TRUE(fake.log().stopped_before_close);
}

// A GUID text that no section carries: the session of a counter whose application is gone.
std::wstring gone_guid_text() {
    GUID guid{};
    EXPECT_TRUE(SUCCEEDED(CoCreateGuid(&guid)));
    wchar_t text[40]{};
    StringFromGUID2(guid, text, 40);
    return text;
}

TEST(TrafficSessions, LeftoversOfGoneCountersAreStoppedOthersLeftAlone) {
    test::NamedSection alive;  // a running application's counter
    const std::wstring gone = traffic_session_name(gone_guid_text());
    const std::wstring gone_too = traffic_session_name(gone_guid_text());
    std::vector<std::wstring> many(70, L"Other Logger");

    const struct {
        const char* what;
        std::vector<std::wstring> sessions;
        ULONG query_error;
        std::vector<std::wstring> stopped;
    } cases[] = {
        {"mixed list",
         {L"NT Kernel Logger", gone, traffic_session_name(alive.guid_text),
          L"QUORVEL-ProcessTraffic-not-a-guid", gone + L"-x",
          L"quorvel-processtraffic-" + gone.substr(23), L"QUORVEL-ProcessTraffic-", gone_too},
         0,
         {gone, gone_too}},
        {"none of ours", {L"Circular Kernel Context Logger"}, 0, {}},
        {"listing refused", {gone}, ERROR_ACCESS_DENIED, {}},
    };
    for (const auto& c : cases) {
        test::EtwScript script;
        script.sessions = c.sessions;
        script.query_error = c.query_error;
        test::FakeEtw fake(script);
        EXPECT_EQ(stop_abandoned_traffic_sessions(), c.stopped) << c.what;
        EXPECT_EQ(fake.log().stopped_by_name, c.stopped) << c.what;
        EXPECT_EQ(fake.log().stops, 0) << c.what;
    }

    // More sessions than records: the first 64 are still looked at.
    many[63] = gone;
    many[64] = gone_too;
    test::EtwScript script;
    script.sessions = many;
    test::FakeEtw fake(script);
    EXPECT_EQ(stop_abandoned_traffic_sessions(), std::vector<std::wstring>{gone});
}

TEST(TrafficChild, ANewCounterStopsALeftoverBeforeItStarts) {
    const std::wstring gone = traffic_session_name(gone_guid_text());
    test::EtwScript script;
    script.sessions = {gone};
    test::FakeEtw fake(script);
    test::ChildProcess parent(L"--sleep 500");
    test::NamedSection named;
    ChildRun child(named, parent.id());
    EXPECT_EQ(child.join(), 0);
    EXPECT_EQ(fake.log().stopped_by_name, std::vector<std::wstring>{gone});
    EXPECT_EQ(fake.log().starts, 1);
    EXPECT_EQ(fake.log().stops, 1);  // its own session, at its end
}

TEST(TrafficChild, TheParentsEndEndsTheSessionNormally) {
    test::FakeEtw fake({});
    test::ChildProcess parent(L"--sleep 1500");
    test::NamedSection named;
    ChildRun child(named, parent.id());
    EXPECT_EQ(child.join(), 0);
    EXPECT_EQ(load_traffic_status(named.section()), 2);
    EXPECT_NE(load_stop_qpc(named.section()), 0);
    EXPECT_EQ(named.section().sequence, 0u) << "never armed: nothing published";
}

TEST(TrafficChild, AfterTheTimeLimitTheChildStampsTheStopItself) {
    test::EtwScript script;
    script.ticks = {1000, 1000 + kTrafficSessionLimitMs};
    test::FakeEtw fake(script);
    test::NamedSection named;
    arm_now(named.section());
    ChildRun child(named, GetCurrentProcessId());
    EXPECT_EQ(child.join(), 0);
    TrafficSharedSection& section = named.section();
    EXPECT_EQ(load_traffic_status(section), 2);
    EXPECT_NE(load_stop_qpc(section), 0);
    EXPECT_GE(fake.log().queries, 1);
    EXPECT_GE(section.sequence, 4u) << "a publication in the loop and one at the end";
    EXPECT_EQ(WaitForSingleObject(named.stop_event.get(), 0), WAIT_TIMEOUT);
}

TEST(TrafficChild, FailuresOfTheSessionEndWithMinusTheError) {
    struct Case {
        const char* name;
        test::EtwScript script;
        bool signal_stop;
        std::int32_t status;
        int exit_code;
        int stops;
        int closes;
        bool published;
    };
    auto script = [](auto change) {
        test::EtwScript s;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"StartTrace refused", script([](auto& s) { s.start_error = 5; }), false, -5, 1, 0, 0,
         false},
        {"EnableTraceEx2 refused", script([](auto& s) { s.enable_error = 87; }), false, -87, 1, 1,
         0, false},
        {"OpenTrace refused", script([](auto& s) { s.open_error = 5; }), false, -5, 1, 1, 0, false},
        {"processing thread not started", script([](auto& s) { s.thread_error = 8; }), false, -8, 1,
         1, 1, false},
        {"ProcessTrace failing while running", script([](auto& s) {
             s.process_at_once = true;
             s.process_result = 4201;
         }),
         false, -4201, 1, 1, 1, true},
        {"ProcessTrace cancelled", script([](auto& s) {
             s.process_at_once = true;
             s.process_result = ERROR_CANCELLED;
         }),
         false, 2, 0, 1, 1, true},
        {"stopping refused: the trace is closed first", script([](auto& s) { s.stop_error = 5; }),
         true, 2, 0, 1, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeEtw fake(c.script);
        test::NamedSection named;
        arm_now(named.section());
        ChildRun child(named, GetCurrentProcessId());
        if (c.signal_stop) {
            ASSERT_TRUE(wait_for_status(named.section()));
            SetEvent(named.stop_event.get());
        }
        EXPECT_EQ(child.join(), c.exit_code);
        EXPECT_EQ(load_traffic_status(named.section()), c.status);
        EXPECT_EQ(fake.log().stops, c.stops);
        EXPECT_EQ(fake.log().closes, c.closes);
        EXPECT_EQ(named.section().sequence > 0, c.published);
        if (c.script.stop_error != 0) {
            EXPECT_FALSE(fake.log().stopped_before_close);
        }
    }
}

}  // namespace
}  // namespace tarvisko

int main(int argc, char** argv) {
    if (auto code = tarvisko::test::run_traffic_child_mode()) return *code;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
