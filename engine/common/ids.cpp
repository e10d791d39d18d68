#include "engine/common/ids.h"

#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <stdexcept>

namespace tarvisko {

std::string new_uuid_text() {
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) throw std::runtime_error("UUID failed");
    wchar_t buffer[39]{};
    if (StringFromGUID2(guid, buffer, 39) != 39) throw std::runtime_error("UUID failed");
    std::string text;
    text.reserve(36);
    for (int i = 1; i <= 36; ++i) text.push_back(static_cast<char>(buffer[i]));
    return text;
}

std::string utc_timestamp_now() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char buffer[32]{};
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ",
                  static_cast<unsigned>(now.wYear), static_cast<unsigned>(now.wMonth),
                  static_cast<unsigned>(now.wDay), static_cast<unsigned>(now.wHour),
                  static_cast<unsigned>(now.wMinute), static_cast<unsigned>(now.wSecond),
                  static_cast<unsigned>(now.wMilliseconds));
    return buffer;
}

}  // namespace tarvisko
