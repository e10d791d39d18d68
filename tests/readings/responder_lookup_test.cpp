#include "readings/responder_lookup.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "dns_fake.h"
#include "readings/reverse_dns.h"

namespace tarvisko {
namespace {

using nlohmann::json;

json route_report(const std::string& session, const std::vector<json>& responders) {
    json samples = json::array();
    for (const json& responder : responders) samples.push_back({{"responder", responder}});
    return {{"session_id", session},
            {"measurement", {{"purpose", "mtr"}, {"technique", "trace"}}},
            {"mtr_samples", samples}};
}

TEST(RouteResponderAddresses, DistinctTextsInOrderAtMost96) {
    EXPECT_EQ(route_responder_addresses(route_report(
                  "s", {"10.0.0.1", nullptr, 5, "11.0.0.1", "10.0.0.1", json::object(), "x"})),
              (std::vector<std::string>{"10.0.0.1", "11.0.0.1", "x"}));
    EXPECT_TRUE(route_responder_addresses(json{{"mtr_samples", "no"}}).empty());
    EXPECT_TRUE(route_responder_addresses(json::array()).empty());
    json samples = json::array({"not an object"});
    EXPECT_TRUE(route_responder_addresses(json{{"mtr_samples", samples}}).empty());

    std::vector<json> many;
    for (int i = 1; i <= 120; ++i) {
        const std::string address = "11.0." + std::to_string(i / 100) + "." + std::to_string(i);
        many.push_back(address);
        many.push_back(address);  // every hop answers twice
    }
    const std::vector<std::string> first = route_responder_addresses(route_report("s", many));
    ASSERT_EQ(first.size(), 96u);
    EXPECT_EQ(first.front(), "11.0.0.1");
    EXPECT_EQ(first.back(), "11.0.0.96");
}

TEST(StartResponderLookup, OncePerReportAndOnlyWhileNoLookupRuns) {
    struct Started {
        std::string session;
        std::vector<std::string> addresses;
    };
    const json report_a = route_report("A", {"11.0.0.1", "10.0.0.1"});
    const json game = {{"session_id", "G"},
                       {"measurement", {{"technique", "echo"}}},
                       {"mtr_samples", json::array({{{"responder", "11.0.0.3"}}})}};
    const struct {
        const char* name;
        ResponderLookupState before;
        int view;
        json report;
        std::string shown_after;
        std::string lookup_after;
        bool starts;
    } cases[] = {
        {"new route report", {}, 8, report_a, "A", "A", true},
        {"view 7 reads any report as a route", {}, 7, route_report("C", {"x"}), "C", "C", true},
        {"names already held", {"", {"A", {}}, ""}, 8, report_a, "A", "", false},
        {"a lookup runs", {"B", {}, "B"}, 8, report_a, "A", "B", false},
        {"not a route report", {"A", {}, ""}, 6, game, "", "", false},
        {"no report", {"A", {}, ""}, 7, json(), "", "", false},
        {"no session id", {}, 7, route_report("", {"11.0.0.1"}), "", "", false},
        {"no responders", {}, 7, route_report("D", {nullptr}), "D", "", false},
    };
    for (const auto& c : cases) {
        ResponderLookupState state = c.before;
        std::vector<Started> started;
        start_responder_lookup(state, c.view, c.report,
                               [&](const std::string& session, std::vector<std::string> list) {
                                   started.push_back({session, std::move(list)});
                               });
        EXPECT_EQ(state.responder_session_id, c.shown_after) << c.name;
        EXPECT_EQ(state.lookup_session_id, c.lookup_after) << c.name;
        ASSERT_EQ(started.size(), c.starts ? 1u : 0u) << c.name;
        if (c.starts) {
            EXPECT_EQ(started[0].session, c.lookup_after) << c.name;
            EXPECT_EQ(started[0].addresses, route_responder_addresses(c.report)) << c.name;
        }
    }
}

TEST(ResponderNames, TakenOverThenTheViewRebuiltOnlyForTheWantedReport) {
    ResponderLookupState state;
    state.lookup_session_id = "A";
    state.responder_session_id = "B";  // the user moved on to report B meanwhile
    take_responder_names(state, {"A", {{"11.0.0.1", {L"a.example", L""}}}});
    EXPECT_TRUE(state.lookup_session_id.empty());
    EXPECT_EQ(state.shown_responder_names.session_id, "A");
    EXPECT_EQ(state.shown_responder_names.names.at("11.0.0.1").name, L"a.example");

    EXPECT_EQ(responder_names_follow_up(state, "B"), ResponderNamesFollowUp::lookup_again);
    EXPECT_EQ(responder_names_follow_up(state, "A"), ResponderNamesFollowUp::none);
    EXPECT_EQ(responder_names_follow_up(state, ""), ResponderNamesFollowUp::none);
    state.responder_session_id = "A";
    EXPECT_EQ(responder_names_follow_up(state, "A"), ResponderNamesFollowUp::rebuild_view);
    state.responder_session_id.clear();  // a game view or a comparison asked to forget it
    EXPECT_EQ(responder_names_follow_up(state, ""), ResponderNamesFollowUp::none);
}

TEST(LookupResponderNames, TheJobsResultCarriesItsSessionAndSurvivesAFailure) {
    test::FakeResolver fake;
    test::ScopedDnsCalls installed(fake.calls());
    fake.answer(L"1.0.0.11.in-addr.arpa.", test::ptr_answer(L"edge.example."));
    const ResponderNameResolver resolver = [](const std::vector<std::string>& addresses,
                                              std::stop_token stop) {
        return resolve_ptr_names(addresses, stop);
    };
    const SessionResponderNames pending =
        lookup_responder_names("S", {"11.0.0.1", "abc"}, {}, resolver);
    EXPECT_EQ(pending.session_id, "S");
    EXPECT_EQ(pending.names.at("11.0.0.1").name, L"edge.example");
    EXPECT_EQ(pending.names.at("abc").note, L"Adres bez obsługi reverse DNS.");

    // Memory exhaustion on the way, or no resolver at all: the session comes back without names.
    const ResponderNameResolver exhausted = [](const std::vector<std::string>&,
                                               std::stop_token) -> ResponderNameMap {
        throw std::bad_alloc();
    };
    for (const ResponderNameResolver& failing : {exhausted, ResponderNameResolver{}}) {
        const SessionResponderNames none = lookup_responder_names("T", {"11.0.0.1"}, {}, failing);
        EXPECT_EQ(none.session_id, "T");
        EXPECT_TRUE(none.names.empty());
    }
}

}  // namespace
}  // namespace tarvisko
