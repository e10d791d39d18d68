#pragma once
// Text at the Windows boundary: UTF-8 inside the program, UTF-16 at Windows calls.
#include <string>
#include <string_view>

namespace tarvisko {

// Never fails: invalid UTF-8 becomes replacement characters.
std::wstring to_wide(std::string_view text);
// Throws std::runtime_error("invalid Windows Unicode string") on an unpaired surrogate.
std::string to_utf8(std::wstring_view text);
// For texts Windows reads out of drivers, the registry or the WLAN service (an adapter's
// description or driver version, the processor name, a Wi-Fi profile name), which a faulty
// driver can leave in broken UTF-16: each unpaired surrogate becomes U+FFFD, so one bad name
// never costs the whole reading. Never fails.
std::string reading_to_utf8(std::wstring_view text);

}  // namespace tarvisko
