#include "readings/responder_lookup.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "readings/reverse_dns.h"
#include "results/format.h"
#include "results/view_status.h"

namespace tarvisko {

std::vector<std::string> route_responder_addresses(const nlohmann::json& report) {
    std::vector<std::string> addresses;
    const nlohmann::json& samples = json_member_or_null(report, "mtr_samples");
    if (!samples.is_array()) return addresses;
    for (const nlohmann::json& sample : samples) {
        if (addresses.size() >= kResponderLimit) break;
        const nlohmann::json& responder = json_member_or_null(sample, "responder");
        if (!responder.is_string()) continue;
        const auto& text = responder.get_ref<const std::string&>();
        if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
            addresses.push_back(text);
        }
    }
    return addresses;
}

void start_responder_lookup(ResponderLookupState& state, int view, const nlohmann::json& report,
                            const StartResponderLookupJob& start_job) {
    state.responder_session_id = is_route_report(view, report) ? report_session_id(report) : "";
    if (state.responder_session_id.empty() ||
        state.responder_session_id == state.shown_responder_names.session_id ||
        !state.lookup_session_id.empty()) {
        return;
    }
    std::vector<std::string> addresses = route_responder_addresses(report);
    if (addresses.empty()) return;
    state.lookup_session_id = state.responder_session_id;
    start_job(state.lookup_session_id, std::move(addresses));
}

SessionResponderNames lookup_responder_names(std::string session_id,
                                             const std::vector<std::string>& addresses,
                                             std::stop_token stop,
                                             const ResponderNameResolver& resolve) {
    SessionResponderNames pending;
    pending.session_id = std::move(session_id);
    try {
        pending.names = resolve(addresses, stop);
    } catch (const std::exception&) {
        pending.names.clear();
    }
    return pending;
}

void take_responder_names(ResponderLookupState& state, SessionResponderNames&& pending) {
    state.lookup_session_id.clear();
    state.shown_responder_names = std::move(pending);
}

ResponderNamesFollowUp responder_names_follow_up(const ResponderLookupState& state,
                                                 const std::string& view_session_id) {
    if (state.responder_session_id.empty() || view_session_id != state.responder_session_id) {
        return ResponderNamesFollowUp::none;
    }
    return state.shown_responder_names.session_id == view_session_id
               ? ResponderNamesFollowUp::rebuild_view
               : ResponderNamesFollowUp::lookup_again;
}

}  // namespace tarvisko
