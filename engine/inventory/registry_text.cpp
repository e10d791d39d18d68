#include "engine/inventory/registry_text.h"

#include <cwchar>

namespace tarvisko {

std::wstring read_registry_text(HKEY key, const wchar_t* subkey, const wchar_t* value) {
    constexpr DWORD kBufferBytes = 1024;
    wchar_t buffer[kBufferBytes / sizeof(wchar_t)]{};
    DWORD size = kBufferBytes;
    if (RegGetValueW(key, subkey, value, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
        return {};
    }
    return std::wstring(buffer, wcsnlen(buffer, kBufferBytes / sizeof(wchar_t)));
}

}  // namespace tarvisko
