#pragma once
// The window's side of the reverse DNS names of route responders: which report's names are
// wanted, which names are held, which lookup runs; and the body of the lookup job. The window
// owns one ResponderLookupState and touches it on its own thread only; the job fills a separate
// pending SessionResponderNames that the window takes over after joining the job.
#include <functional>
#include <nlohmann/json.hpp>
#include <stop_token>
#include <string>
#include <vector>

#include "results/responder_names.h"

namespace tarvisko {

struct ResponderLookupState {
    // Session id of the route report on show whose names are wanted; empty when none.
    std::string responder_session_id;
    // The names the route views use, with the session id they were resolved for.
    SessionResponderNames shown_responder_names;
    // Session id of the lookup under way; empty when none runs.
    std::string lookup_session_id;
};

// The distinct text "responder"s of the report's "mtr_samples" in order of appearance, at most
// 96.
std::vector<std::string> route_responder_addresses(const nlohmann::json& report);

// Starts the lookup job on the window's slot with the session id and the addresses.
using StartResponderLookupJob =
    std::function<void(const std::string& session_id, std::vector<std::string> addresses)>;

// Called whenever a view shows a report: records the route report on show and, once per report
// and only while no lookup runs, marks the lookup under way and calls `start_job`.
void start_responder_lookup(ResponderLookupState& state, int view, const nlohmann::json& report,
                            const StartResponderLookupJob& start_job);

// How the lookup job names addresses: the window's job passes resolve_ptr_names; tests pass a
// resolver of their own.
using ResponderNameResolver = std::function<ResponderNameMap(
    const std::vector<std::string>& addresses, std::stop_token stop)>;

// The body of the lookup job: the names that `resolve` gives the addresses, with the job's stop
// token, for the session; a failure (memory exhaustion) gives the session with no names.
SessionResponderNames lookup_responder_names(std::string session_id,
                                             const std::vector<std::string>& addresses,
                                             std::stop_token stop,
                                             const ResponderNameResolver& resolve);

// What the window does with a view after the lookup job has reported.
enum class ResponderNamesFollowUp {
    none,          // the view shows another report, or no route report is wanted
    rebuild_view,  // the held names belong to the report on show: rebuild its view
    lookup_again,  // the names came for an older report: look the shown one up now
};

// The job's message, after the join: ends the lookup under way and makes the pending names the
// held ones.
void take_responder_names(ResponderLookupState& state, SessionResponderNames&& pending);

// Then, while a route view (6 to 8) is on show and nothing else holds the window: what that view
// needs, given the session id of the report it shows (empty when none). The view is rebuilt only
// for the report whose names were wanted, and only when the held names are that report's.
ResponderNamesFollowUp responder_names_follow_up(const ResponderLookupState& state,
                                                 const std::string& view_session_id);

}  // namespace tarvisko
