#pragma once
// The test side of the provider simulator (tools/simulator): its origin and its control API,
// called over the same TLS origin the product uses. Tests using it are declared with
// tarvisko_simulator_test (tools/simulator/simulator.cmake).
#include <nlohmann/json.hpp>
#include <string>

namespace tarvisko::test {

struct SimulatorReply {
    int status = 0;
    std::string body;
};

// "https://localhost:PORT" from TARVISKO_SIMULATOR_ORIGIN; throws when the test was started
// without the simulator.
std::string simulator_origin();
unsigned short simulator_port();
// The origin's host name: "localhost", or the name a namespace test maps to the simulator.
std::string simulator_host();

// One request to the simulator over TLS (a fresh connection each time). Throws on a transport
// failure; any HTTP status is returned.
SimulatorReply simulator_request(const std::string& method, const std::string& path,
                                 const std::string& body = {});
// A control call ("reset", "faults", "upload/sessions", ...): JSON in and out; throws unless 2xx.
nlohmann::json simulator_control(const std::string& method, const std::string& control_path,
                                 const nlohmann::json& body = nullptr);

// Forgets faults, recorded requests and the endpoints' state.
void simulator_reset();
// Resets the simulator, retrying for up to `seconds` while it is not yet listening (a simulator
// started beside the test in another namespace). Throws when it never answers.
void simulator_reset_when_ready(int seconds);
// Adds one fault rule (see tools/simulator/simulator.py); returns its id.
int simulator_add_fault(const nlohmann::json& rule);
// The faults with how often each was applied.
nlohmann::json simulator_faults();
// Requests received whose path starts with the prefix, oldest first.
nlohmann::json simulator_requests(const std::string& path_prefix = {});

}  // namespace tarvisko::test
