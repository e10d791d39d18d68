#pragma once
// The status envelope that wraps every measured value.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace tarvisko {

// {"status":"ok","value":v}
nlohmann::json json_value_ok(nlohmann::json value);
// The ok envelope when the value holds `total` elements, else
// {"reason":"row_limit","status":"partial","total":total,"value":v}.
nlohmann::json json_value_partial(nlohmann::json value, std::uint64_t total);
// {"reason":reason,"status":"unavailable"}
nlohmann::json json_unavailable(const std::string& reason);

}  // namespace tarvisko
