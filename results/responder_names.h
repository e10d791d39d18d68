#pragma once
// Reverse DNS names of the routers a route trace met, as the hop table shows them.
#include <map>
#include <string>

namespace tarvisko {

struct ResponderName {
    std::wstring name;  // host name; empty when none was found
    std::wstring note;  // why there is no name; empty when there is one

    bool operator==(const ResponderName&) const = default;
};

// From the responder's address text (UTF-8, as the report stores it) to its entry.
using ResponderNameMap = std::map<std::string, ResponderName>;

// Names together with the session id of the route run they were resolved for.
struct SessionResponderNames {
    std::string session_id;
    ResponderNameMap names;

    bool operator==(const SessionResponderNames&) const = default;
};

}  // namespace tarvisko
