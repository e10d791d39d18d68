#pragma once
// Windows version and process environment.
#include <string>

namespace tarvisko {

// "major.minor.build" from RtlGetVersion; empty when it is missing or fails.
std::string windows_version_text();
// The variable's value; empty when unset or set to the empty text. Throws
// "environment variable unavailable" when the value changed between the size query and the read.
std::wstring read_environment_variable(const std::wstring& name);

}  // namespace tarvisko
