#pragma once
// The hop table of a route trace: one row per measurement series and hop, with a gaming rating
// of the target and a diagnosis of where a degradation shows.
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "results/responder_names.h"
#include "results/table_model.h"

namespace tarvisko {

// The measurement series a probe sample belongs to. Missing texts read as empty, a missing
// family as 0.
struct MtrGroupKey {
    std::string target;
    std::int64_t family = 0;
    std::string protocol;
    std::string phase;
};

// Target (byte-wise), then family, protocol and phase.
bool mtr_group_key_less(const MtrGroupKey& a, const MtrGroupKey& b);

// The hops of one series: TTL -> that hop's samples (pointers into the input document), sorted
// by attempt.
using MtrHops = std::map<std::int64_t, std::vector<const nlohmann::json*>>;

struct TargetAssessment {
    std::set<std::int64_t> target_hops;  // TTLs at which the target itself replied
    bool comparable = false;             // the target's rounds can be rated
    std::wstring explanation;            // empty or one diagnosis sentence
};

TargetAssessment assess_target_responses(const MtrHops& hops);

// Samples that are not objects or lack an integer "ttl" or "attempt" are left out. `names` is
// the reverse DNS of the run on show, or empty.
TableModel build_mtr_hop_table(const nlohmann::json& samples, const ResponderNameMap& names);

}  // namespace tarvisko
