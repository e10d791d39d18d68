#pragma once
// The two commands that start the engine: the full test (101) and a target run from page 6, 7
// or 8 (315).
#include <windows.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "engine/runs/target_run.h"

namespace tarvisko {

// The selections of the page's combos (CB_GETCURSEL, -1 for none) and the target text.
struct TargetPageInputs {
    int page = 0;
    std::wstring target;   // edit 312
    int combo_313 = -1;    // attempts (7, 8) or game profile (6)
    int combo_314 = -1;    // method (7)
    int combo_316 = -1;    // game region (6)
    int combo_317 = -1;    // max hops (7)
    int combo_318 = -1;    // interval (7)
    int combo_324 = -1;    // address family (7)
    int combo_327 = -1;    // game test kind (6)
    int combo_328 = -1;    // game test length (6)
    std::wstring profile_text;  // text of combo 313 (page 6's profile name)
};

// The request the page asks for; none when the target is empty (or not valid UTF-16). `profile`
// is the selected game profile (page 6), null elsewhere.
std::optional<TargetRunRequest> target_run_request(const TargetPageInputs& inputs,
                                                   const nlohmann::json& profile);

void run(HWND window, bool monitor_traffic);
void launch_route(HWND window);

}  // namespace tarvisko
