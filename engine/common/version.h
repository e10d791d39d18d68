#pragma once
// The program's version, as reports and recordings carry it.

namespace tarvisko {

inline constexpr const char* program_version = "1.1.18";

}  // namespace tarvisko
