#include "engine/common/system.h"

#include <windows.h>

#include <stdexcept>
#include <vector>

namespace tarvisko {

namespace {
// RTL_OSVERSIONINFOW as ntdll expects it: 276 bytes with the size in the first field.
struct OsVersionInfo {
    ULONG size;
    ULONG major;
    ULONG minor;
    ULONG build;
    ULONG platform;
    WCHAR service_pack[128];
};
static_assert(sizeof(OsVersionInfo) == 276);
using RtlGetVersionFn = LONG(WINAPI*)(OsVersionInfo*);
}  // namespace

std::string windows_version_text() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return {};
    auto rtl_get_version =
        reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (rtl_get_version == nullptr) return {};
    OsVersionInfo info{};
    info.size = sizeof info;
    if (rtl_get_version(&info) != 0) return {};
    return std::to_string(info.major) + "." + std::to_string(info.minor) + "." +
           std::to_string(info.build);
}

std::wstring read_environment_variable(const std::wstring& name) {
    const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size == 0) return {};
    std::vector<wchar_t> buffer(size);
    SetLastError(ERROR_SUCCESS);
    const DWORD read = GetEnvironmentVariableW(name.c_str(), buffer.data(), size);
    // A variable set to the empty text answers the size query with 1 (the terminator) and the
    // read with 0 and no error: that is the empty value, not a failure.
    if (read == 0 && size == 1 && GetLastError() == ERROR_SUCCESS) return {};
    if (read == 0 || read >= size) throw std::runtime_error("environment variable unavailable");
    return std::wstring(buffer.data(), read);
}

}  // namespace tarvisko
