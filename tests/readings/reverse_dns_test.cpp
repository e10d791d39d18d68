#include "readings/reverse_dns.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "dns_fake.h"
#include "engine/common/text.h"
#include "socket_address.h"

namespace tarvisko {
namespace {

using namespace std::chrono_literals;
using test::FakeAnswer;
using test::FakeRecord;
using test::FakeResolver;
using test::ptr_answer;
using test::socket_address;

const std::wstring kNotLiteral = L"Adres bez obsługi reverse DNS.";
const std::wstring kNotInCache = L"Brak lokalnej nazwy PTR w pamięci DNS Windows.";
const std::wstring kNoPtrName = L"Resolver DNS nie zwrócił nazwy PTR.";
const std::wstring kFailed = L"Nie udało się odczytać PTR z resolvera DNS.";

std::wstring ipv4_name(const char* text) { return reverse_lookup_name(socket_address(text)); }

TEST(ReverseLookupName, ReversedBytesOrHalfBytesAndNoneForLinkLocal) {
    const struct {
        const char* address;
        const wchar_t* name;
    } cases[] = {
        {"192.0.2.5", L"5.2.0.192.in-addr.arpa."},
        {"10.200.0.2", L"2.0.200.10.in-addr.arpa."},
        {"2001:db8::567:89ab",
         L"b.a.9.8.7.6.5.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa."},
        {"fe80::1", L""},
        {"febf::1", L""},  // still fe80::/10
        {"fec0::1", L"1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.c.e.f.ip6.arpa."},
    };
    for (const auto& c : cases) EXPECT_EQ(ipv4_name(c.address), c.name) << c.address;
    EXPECT_EQ(reverse_lookup_name(SOCKADDR_INET{}), L"");
}

TEST(FirstPtrName, FirstUsablePtrRecordWithoutItsTrailingDot) {
    const std::wstring longest(253, L'a');
    const struct {
        const char* name;
        std::vector<FakeRecord> records;
        std::wstring expected;
    } cases[] = {
        {"no records", {}, L""},
        {"trailing dot removed", {{DNS_TYPE_PTR, L"host.example."}}, L"host.example"},
        {"only one dot removed", {{DNS_TYPE_PTR, L"host.example.."}}, L"host.example."},
        {"other types passed over", {{DNS_TYPE_CNAME, L"alias."}, {DNS_TYPE_PTR, L"b."}}, L"b"},
        {"no name, dot alone, then usable",
         {{DNS_TYPE_PTR, std::nullopt}, {DNS_TYPE_PTR, L"."}, {DNS_TYPE_PTR, L"c"}},
         L"c"},
        {"253 characters and a dot", {{DNS_TYPE_PTR, longest + L"."}}, longest},
        {"254 characters", {{DNS_TYPE_PTR, longest + L"a"}, {DNS_TYPE_PTR, L"next"}}, L"next"},
        {"tab", {{DNS_TYPE_PTR, L"a\tb"}}, L""},
        {"carriage return", {{DNS_TYPE_PTR, L"a\rb"}}, L""},
        {"line feed", {{DNS_TYPE_PTR, L"a\nb."}}, L""},
        {"right-to-left override", {{DNS_TYPE_PTR, L"moc.\u202Eexample."}}, L""},
        {"bell and escape",
         {{DNS_TYPE_PTR,
           L"a\x07"
           L"b\x1B[2J."}},
         L""},
        {"zero-width space", {{DNS_TYPE_PTR, L"pay\u200Bpal.example."}}, L""},
        {"blank", {{DNS_TYPE_PTR, L"a b."}}, L""},
        {"unicode letters",
         {{DNS_TYPE_PTR, L"\u017Curaw.pl."}, {DNS_TYPE_PTR, L"xn--uraw-1sa.pl."}},
         L"xn--uraw-1sa.pl"},
        {"underscore and digits",
         {{DNS_TYPE_PTR, L"_gw-1.Core_2.example."}},
         L"_gw-1.Core_2.example"},
        {"first usable wins", {{DNS_TYPE_PTR, L"one."}, {DNS_TYPE_PTR, L"two."}}, L"one"},
    };
    FakeResolver fake;
    for (const auto& c : cases) {
        fake.cache(L"x", c.records);
        PDNS_RECORD records = nullptr;
        ASSERT_EQ(fake.calls().query_cache(L"x", DNS_TYPE_PTR, 0, nullptr, &records, nullptr), 0);
        EXPECT_EQ(first_ptr_name(records), c.expected) << c.name;
        if (records != nullptr) fake.calls().free(records, DnsFreeRecordList);
    }
    EXPECT_EQ(fake.outstanding_records(), 0u);
}

TEST(ReverseDnsFromCache, AsksTheCacheOnlyAndFreesTheRecords) {
    FakeResolver fake;
    const DnsCalls calls = fake.calls();
    fake.cache(L"7.1.168.192.in-addr.arpa.", {{DNS_TYPE_PTR, L"drukarka.lan."}});
    fake.cache(L"8.1.168.192.in-addr.arpa.", {{DNS_TYPE_PTR, L"x"}},
               DNS_ERROR_RCODE_SERVER_FAILURE);

    EXPECT_EQ(reverse_dns_from_cache(socket_address("192.168.1.7"), calls), L"drukarka.lan");
    EXPECT_EQ(reverse_dns_from_cache(socket_address("192.168.1.8"), calls), L"");
    EXPECT_EQ(reverse_dns_from_cache(socket_address("192.168.1.9"), calls), L"");
    EXPECT_EQ(reverse_dns_from_cache(socket_address("fe80::1"), calls), L"");  // no query name

    EXPECT_EQ(fake.cache_queries(),
              (std::vector<std::wstring>{L"7.1.168.192.in-addr.arpa.", L"8.1.168.192.in-addr.arpa.",
                                         L"9.1.168.192.in-addr.arpa."}));
    for (const DWORD options : fake.cache_options()) EXPECT_EQ(options, 0x1890u);
    EXPECT_EQ(fake.outstanding_records(), 0u);
    EXPECT_EQ(fake.bad_frees(), 0u);
}

TEST(ResolvePtrNames, EveryOutcomeGetsItsNameOrNote) {
    FakeResolver fake;
    fake.cache(L"7.1.168.192.in-addr.arpa.", {{DNS_TYPE_PTR, L"router.lan."}});
    fake.answer(L"1.0.0.11.in-addr.arpa.", ptr_answer(L"core1.example.net.", 30ms));
    FakeAnswer empty;
    empty.delay = 10ms;
    fake.answer(L"2.0.0.11.in-addr.arpa.", empty);
    FakeAnswer name_error;
    name_error.status = DNS_ERROR_RCODE_NAME_ERROR;
    fake.answer(L"3.0.0.11.in-addr.arpa.", name_error);
    FakeAnswer no_records;
    no_records.status = DNS_INFO_NO_RECORDS;
    fake.answer(L"4.0.0.11.in-addr.arpa.", no_records);
    FakeAnswer server_failure;
    server_failure.status = DNS_ERROR_RCODE_SERVER_FAILURE;
    fake.answer(L"5.0.0.11.in-addr.arpa.", server_failure);
    FakeAnswer refused_at_once;
    refused_at_once.returned = ERROR_TIMEOUT;
    fake.answer(L"6.0.0.11.in-addr.arpa.", refused_at_once);
    FakeAnswer answered_at_once = ptr_answer(L"sync.example.net");
    answered_at_once.returned = ERROR_SUCCESS;
    fake.answer(L"7.0.0.11.in-addr.arpa.", answered_at_once);
    // What a hostile zone can put in a route hop's name: it is no name at all.
    FakeAnswer bad_name = ptr_answer(
        L"edge\u202Egro\x07"
        L"\x1B[2J.example.");
    fake.answer(L"8.0.0.11.in-addr.arpa.", bad_name);
    fake.answer(L"1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.a.2.ip6.arpa.",
                ptr_answer(L"v6.example.net."));
    // Nothing is answered before every public address was asked: a resolver that waited for
    // one answer before asking the next would run into the deadline here.
    fake.hold_answers_until_issued(9);

    const std::vector<std::string> addresses = {
        "abc",      "192.168.1.7", "10.0.0.1", "fe80::1",  "11.0.0.1", "11.0.0.2", "11.0.0.3",
        "11.0.0.4", "11.0.0.5",    "11.0.0.6", "11.0.0.7", "11.0.0.8", "2a00::1",  "11.0.0.1"};
    const ResponderNameMap names = resolve_ptr_names(addresses, {}, fake.calls());

    const ResponderNameMap expected = {
        {"abc", {L"", kNotLiteral}},
        {"192.168.1.7", {L"router.lan", L""}},
        {"10.0.0.1", {L"", kNotInCache}},
        {"fe80::1", {L"", kNotLiteral}},  // parse_ip_literal refuses link-local literals
        {"11.0.0.1", {L"core1.example.net", L""}},
        {"11.0.0.2", {L"", kNoPtrName}},
        {"11.0.0.3", {L"", kNoPtrName}},
        {"11.0.0.4", {L"", kNoPtrName}},
        {"11.0.0.5", {L"", kFailed}},
        {"11.0.0.6", {L"", kFailed}},
        {"11.0.0.7", {L"sync.example.net", L""}},
        {"11.0.0.8", {L"", kNoPtrName}},
        {"2a00::1", {L"v6.example.net", L""}},
    };
    EXPECT_EQ(names, expected);

    // Only public addresses reach the resolver, each once; the private ones the cache.
    EXPECT_EQ(fake.issued().size(), 9u);
    EXPECT_EQ(fake.cache_queries(),
              (std::vector<std::wstring>{L"7.1.168.192.in-addr.arpa.", L"1.0.0.10.in-addr.arpa."}));
    for (const DnsQueryRequest& request : fake.requests()) {
        EXPECT_EQ(request.Version, 1u);
        EXPECT_EQ(request.QueryType, DNS_TYPE_PTR);
        EXPECT_EQ(request.QueryOptions, 0x1880u);
        EXPECT_EQ(request.pDnsServerList, nullptr);
        EXPECT_EQ(request.InterfaceIndex, 0u);
        EXPECT_NE(request.pQueryCompletionCallback, nullptr);
    }
    EXPECT_TRUE(fake.cancelled().empty());
    EXPECT_EQ(fake.outstanding_records(), 0u);
    EXPECT_EQ(fake.bad_frees(), 0u);
}

std::vector<std::string> public_addresses(int count) {
    std::vector<std::string> addresses;
    for (int i = 1; i <= count; ++i) addresses.push_back("11.0.0." + std::to_string(i));
    return addresses;
}

TEST(ResolvePtrNames, OneDeadlineForAllQueriesThenCancelledAndCompleted) {
    FakeResolver fake;  // silent: answers only when cancelled
    fake.answer(L"2.0.0.11.in-addr.arpa.", ptr_answer(L"fast.example.", 20ms));
    fake.cancel_delay(30ms);
    const ResponderNameMap names = resolve_ptr_names(public_addresses(4), {}, fake.calls());

    // One 4 s deadline for the whole set: every silent query is cancelled when it passes, not
    // one at 4 s, the next at 8 s and the last at 12 s.
    EXPECT_EQ(fake.cancelled(),
              (std::vector<std::wstring>{L"1.0.0.11.in-addr.arpa.", L"3.0.0.11.in-addr.arpa.",
                                         L"4.0.0.11.in-addr.arpa."}));
    EXPECT_EQ(fake.cancelled_at(), (std::vector<std::chrono::milliseconds>(3, 4000ms)));
    // The call returned once the cancelled queries had completed, not before.
    EXPECT_EQ(fake.elapsed(), 4030ms);
    EXPECT_EQ(fake.completions(), 4u);
    EXPECT_EQ(names.at("11.0.0.2").name, L"fast.example");
    for (const char* address : {"11.0.0.1", "11.0.0.3", "11.0.0.4"}) {
        EXPECT_EQ(names.at(address), (ResponderName{L"", kFailed})) << address;
    }
}

TEST(ResolvePtrNames, StopEndsTheWaitWithinAStepAndCancelledQueriesAreWaitedFor) {
    FakeResolver fake;
    fake.cancel_delay(300ms);  // cancelled queries take a while to complete
    std::stop_source stop;
    fake.at(200ms, [&] { stop.request_stop(); });
    const ResponderNameMap names =
        resolve_ptr_names(public_addresses(3), stop.get_token(), fake.calls());

    // The stop is seen within one 50 ms step, far before the 4 s deadline, and every query is
    // cancelled then; the call returns only after their completions.
    const std::vector<std::chrono::milliseconds> cancelled = fake.cancelled_at();
    ASSERT_EQ(cancelled.size(), 3u);
    for (const auto at : cancelled) {
        EXPECT_GE(at, 200ms);
        EXPECT_LE(at, 250ms);
    }
    EXPECT_EQ(fake.elapsed(), cancelled.back() + 300ms);
    // Every callback has run before the call returned: nothing writes into freed queries.
    EXPECT_EQ(fake.completions(), 3u);
    EXPECT_EQ(names.size(), 3u);
    for (const auto& [address, entry] : names) EXPECT_EQ(entry.note, kFailed) << address;
}

TEST(ResolvePtrNames, StopWhileIssuingLeavesTheRestUnaskedAndEndsTheWalk) {
    FakeResolver fake;
    std::stop_source stop;
    fake.on_issue([&](std::size_t issued) {
        if (issued == 2) stop.request_stop();
    });
    const ResponderNameMap names =
        resolve_ptr_names(public_addresses(4), stop.get_token(), fake.calls());
    EXPECT_EQ(fake.issued().size(), 2u);
    EXPECT_EQ(fake.cancelled().size(), 2u);
    EXPECT_EQ(fake.completions(), 2u);
    ASSERT_EQ(names.size(), 4u);
    for (const auto& [address, entry] : names) EXPECT_EQ(entry.note, kFailed) << address;

    // A stop before the call: no address is even looked at.
    EXPECT_TRUE(resolve_ptr_names({"abc", "10.0.0.1"}, stop.get_token(), fake.calls()).empty());
}

TEST(ResolvePtrNames, WithoutEitherAsynchronousFunctionNothingIsAsked) {
    FakeResolver fake;
    fake.fallback(ptr_answer(L"never.example."));
    for (const bool with_query_ex : {false, true}) {
        const ResponderNameMap names = resolve_ptr_names({"11.0.0.1", "10.0.0.1"}, {},
                                                         fake.calls(with_query_ex, !with_query_ex));
        // Nothing was waited for: the call did not sit out the deadline.
        EXPECT_EQ(fake.elapsed(), 0ms);
        EXPECT_EQ(names.at("11.0.0.1"), (ResponderName{L"", kFailed}));
        EXPECT_EQ(names.at("10.0.0.1"), (ResponderName{L"", kNotInCache}));
    }
    EXPECT_TRUE(fake.issued().empty());
}

TEST(ResolvePtrNames, OnlyTheFirst96AddressesInOrder) {
    FakeResolver fake;
    std::vector<std::string> addresses;
    for (int i = 0; i < 120; ++i) {
        addresses.push_back("192.168.0." + std::to_string(i + 1));
    }
    const ResponderNameMap names = resolve_ptr_names(addresses, {}, fake.calls());
    EXPECT_EQ(names.size(), 96u);
    EXPECT_TRUE(names.contains(addresses[95]));
    EXPECT_FALSE(names.contains(addresses[96]));
    EXPECT_EQ(fake.cache_queries().size(), 96u);
}

TEST(DnsCalls, SystemTableAndInstallingAnother) {
    const DnsCalls& system = windows_dns_calls();
    EXPECT_NE(system.query_cache, nullptr);
    EXPECT_NE(system.free, nullptr);
    // Wine lacks DnsCancelQuery; Windows 8 and later have both. Either way the table loads.
    std::printf("DnsQueryEx %s, DnsCancelQuery %s\n", system.query_ex ? "found" : "missing",
                system.cancel ? "found" : "missing");

    EXPECT_EQ(&active_dns_calls(), &system);
    FakeResolver fake;
    {
        test::ScopedDnsCalls installed(fake.calls());
        EXPECT_EQ(active_dns_calls().query_cache, fake.calls().query_cache);
        fake.cache(L"1.0.0.10.in-addr.arpa.", {{DNS_TYPE_PTR, L"nas.lan"}});
        EXPECT_EQ(resolve_ptr_names({"10.0.0.1"}, {}).at("10.0.0.1").name, L"nas.lan");
    }
    EXPECT_EQ(active_dns_calls().query_cache, system.query_cache);
}

}  // namespace
}  // namespace tarvisko
