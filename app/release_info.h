#pragma once
// A verified release description: what the update check found and the installation acts on.
#include <cstdint>
#include <string>

namespace tarvisko {

struct ReleaseInfo {
    std::string version;  // "version" unchanged: three dot-separated numbers
    std::string sha256;   // 64 lower-case hexadecimal digits of the new executable
    std::uint32_t size = 0;

    bool operator==(const ReleaseInfo&) const = default;
};

}  // namespace tarvisko
