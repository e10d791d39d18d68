#pragma once
// Reports of real runs, captured by tools/capture-result-fixtures, and small builders of
// hand-made probe samples for what those runs cannot produce.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/system.h"
#include "engine/common/text.h"
#include "results/table_model.h"

namespace tarvisko::test {

// tests/results/fixtures/<name>.json of the source tree (CTest names it in TARVISKO_SOURCE_DIR;
// Wine shows the Unix root as drive Z:).
inline nlohmann::json load_result_fixture(const std::string& name) {
    std::string top = to_utf8(read_environment_variable(L"TARVISKO_SOURCE_DIR"));
    if (top.empty()) throw std::runtime_error("TARVISKO_SOURCE_DIR unset: run through CTest");
    if (top.front() == '/') top = "Z:" + top;
    const std::string path = top + "/tests/results/fixtures/" + name + ".json";
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("fixture missing: " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return nlohmann::json::parse(text.str());
}

// One probe sample as the engine writes it.
inline nlohmann::json probe(const std::string& target, long long ttl, long long attempt,
                            const std::string& status, const nlohmann::json& responder,
                            const nlohmann::json& rtt_ms, const std::string& phase = "baseline",
                            const std::string& protocol = "icmp", int family = 4) {
    return {
        {"target", target}, {"family", family},   {"protocol", protocol}, {"phase", phase},
        {"ttl", ttl},       {"attempt", attempt}, {"status", status},     {"responder", responder},
        {"rtt_ms", rtt_ms}};
}

// The help texts of the three ratings, as the window shows them.
inline const std::wstring ping_help =
    L"Zielony do 50 ms, żółty do 100 ms, czerwony powyżej 100 ms.";
inline const std::wstring jitter_help = L"Zielony do 5 ms, żółty do 15 ms, czerwony powyżej 15 ms.";
inline const std::wstring loss_help = L"Zielony przy 0%, żółty do 5%, czerwony powyżej 5%.";

struct ExpectedRow {
    std::vector<std::wstring> cells;
    std::vector<Verdict> status;
    std::wstring detail;
};

// Every row's cells, verdicts and detail, in order; charts are checked by the callers.
inline void expect_rows(const TableModel& model, const std::vector<ExpectedRow>& expected) {
    ASSERT_EQ(model.rows.size(), expected.size()) << "rows";
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_EQ(model.rows[i].cells, expected[i].cells);
        EXPECT_EQ(model.rows[i].status, expected[i].status);
        EXPECT_EQ(model.rows[i].detail, expected[i].detail);
    }
}

}  // namespace tarvisko::test
