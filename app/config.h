#pragma once
// Where the application learns about its surroundings: the server origin (environment variable,
// settings file beside the program, built-in default), the client credential in the Windows
// credential store, the per-server data directory and the saved window placement.
// clang-format off
#include <windows.h>
#include <wincred.h>
// clang-format on

#include <cstddef>
#include <string>

namespace tarvisko {

// The origin compiled into the program (CMake cache variable TARVISKO_DEFAULT_ORIGIN).
extern const wchar_t* const built_in_origin;

// QUORVEL_DESKTOP_ORIGIN when set and not empty, else the settings file's "Server", else the
// built-in origin. Read anew at every call. A "Server" value that fills the whole read buffer
// may have been cut: no origin is taken from it, and this throws "server_origin_too_long".
std::wstring server_origin();

// The origin for showing the configuration: the one server_origin gives, or, when it gives none,
// an empty origin and a Polish sentence saying why. Never throws.
struct OriginSetting {
    std::wstring origin;
    std::wstring problem;
};
OriginSetting server_origin_setting();
// The origin, or the sentence saying why there is none: the text of the window's status line.
std::wstring shown_server_origin();
inline constexpr const wchar_t* origin_too_long_text =
    L"Wartość Server w Tarvisko.ini jest za długa (2047 znaków lub więcej) i nie jest używana.";

// The value of `key` in section "Tarvisko" of "Tarvisko.ini" in the executable's folder, or
// `fallback` when the file or the key is missing. At most 2047 characters: a value that long
// fills the buffer and may have been cut.
inline constexpr std::size_t ini_value_limit = 2047;
std::wstring read_ini_setting(const std::wstring& key, const std::wstring& fallback);

// The calls through which the credential store is reached. They default to the real ones;
// tests put failing calls in place to reach the store's error paths.
struct CredentialStoreCalls {
    decltype(&CredReadW) read = CredReadW;
    decltype(&CredWriteW) write = CredWriteW;
    decltype(&CredFree) free = CredFree;
};
CredentialStoreCalls& credential_store_calls();

// "QUORVEL/Diagnostics/" + origin: the generic credential that holds the origin's client token.
std::wstring credential_target(const std::wstring& origin);
// The stored client token of the origin. When none is stored: with `create`, a token from
// register_client(origin), stored before it is returned; without, the empty text.
// Throws "windows_credential_read_failed" or "windows_credential_write_failed"; failures of the
// registration pass through.
std::wstring token_credential(const std::wstring& origin, bool create);

// %LOCALAPPDATA%\QUORVEL\Sondaro\<sha256_hex(origin + "\n" + token)>; creates nothing.
// Throws "local_app_data_unavailable" or "windows_hash_failed".
std::wstring data_directory(const std::wstring& origin, const std::wstring& token);

// Stores the window's placement as value "Window" of HKCU "Software\Tarvisko\Portable": the
// 44-byte WINDOWPLACEMENT with show command 3 when maximized, 1 otherwise (also when minimized).
// Failures are ignored.
void save_window_placement(HWND window);

inline constexpr const wchar_t* placement_key = L"Software\\Tarvisko\\Portable";
inline constexpr const wchar_t* placement_value = L"Window";

}  // namespace tarvisko
