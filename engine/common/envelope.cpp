#include "engine/common/envelope.h"

namespace tarvisko {

nlohmann::json json_value_ok(nlohmann::json value) {
    nlohmann::json envelope = nlohmann::json::object();
    envelope["status"] = "ok";
    envelope["value"] = std::move(value);
    return envelope;
}

nlohmann::json json_value_partial(nlohmann::json value, std::uint64_t total) {
    if (value.size() == total) return json_value_ok(std::move(value));
    nlohmann::json envelope = nlohmann::json::object();
    envelope["reason"] = "row_limit";
    envelope["status"] = "partial";
    envelope["total"] = total;
    envelope["value"] = std::move(value);
    return envelope;
}

nlohmann::json json_unavailable(const std::string& reason) {
    nlohmann::json envelope = nlohmann::json::object();
    envelope["reason"] = reason;
    envelope["status"] = "unavailable";
    return envelope;
}

}  // namespace tarvisko
