#include "app/config.h"

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/common/hash.h"
#include "engine/common/system.h"
#include "engine/http/portal.h"

#define TARVISKO_WIDEN_TEXT(text) L##text
#define TARVISKO_WIDEN(text) TARVISKO_WIDEN_TEXT(text)

namespace tarvisko {

const wchar_t* const built_in_origin = TARVISKO_WIDEN(TARVISKO_DEFAULT_ORIGIN);

namespace {

// The running executable's full path; empty when Windows cannot give it.
std::wstring executable_path() {
    std::vector<wchar_t> buffer(32768);
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), length);
}

}  // namespace

std::wstring server_origin() {
    std::wstring origin = read_environment_variable(L"QUORVEL_DESKTOP_ORIGIN");
    if (!origin.empty()) return origin;
    origin = read_ini_setting(L"Server", built_in_origin);
    // The profile function cuts a longer value silently; the cut text is no address to send
    // reports to.
    if (origin.size() >= ini_value_limit) throw std::runtime_error("server_origin_too_long");
    return origin;
}

OriginSetting server_origin_setting() {
    try {
        return {server_origin(), {}};
    } catch (const std::exception& error) {
        const std::string_view code = error.what();
        if (code == "server_origin_too_long") return {{}, origin_too_long_text};
        return {{}, L"Nie można odczytać adresu serwera z konfiguracji."};
    }
}

std::wstring shown_server_origin() {
    OriginSetting setting = server_origin_setting();
    return setting.problem.empty() ? std::move(setting.origin) : std::move(setting.problem);
}

std::wstring read_ini_setting(const std::wstring& key, const std::wstring& fallback) {
    const std::filesystem::path settings =
        std::filesystem::path(executable_path()).parent_path() / L"Tarvisko.ini";
    std::vector<wchar_t> buffer(2048);
    const DWORD length =
        GetPrivateProfileStringW(L"Tarvisko", key.c_str(), fallback.c_str(), buffer.data(),
                                 static_cast<DWORD>(buffer.size()), settings.c_str());
    return std::wstring(buffer.data(), length);
}

CredentialStoreCalls& credential_store_calls() {
    static CredentialStoreCalls calls;
    return calls;
}

std::wstring credential_target(const std::wstring& origin) {
    return L"QUORVEL/Diagnostics/" + origin;
}

std::wstring token_credential(const std::wstring& origin, bool create) {
    const CredentialStoreCalls& store = credential_store_calls();
    const std::wstring target = credential_target(origin);
    PCREDENTIALW found = nullptr;
    if (store.read(target.c_str(), CRED_TYPE_GENERIC, 0, &found)) {
        std::wstring token;
        if (found->CredentialBlob != nullptr) {
            token.resize(found->CredentialBlobSize / sizeof(wchar_t));
            std::memcpy(token.data(), found->CredentialBlob, token.size() * sizeof(wchar_t));
        }
        store.free(found);
        return token;
    }
    if (GetLastError() != ERROR_NOT_FOUND) {
        throw std::runtime_error("windows_credential_read_failed");
    }
    if (!create) return {};

    std::wstring token = register_client(origin);
    CREDENTIALW credential{};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = const_cast<wchar_t*>(target.c_str());
    credential.CredentialBlobSize = static_cast<DWORD>(token.size() * sizeof(wchar_t));
    credential.CredentialBlob = reinterpret_cast<BYTE*>(token.data());
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    if (!store.write(&credential, 0)) throw std::runtime_error("windows_credential_write_failed");
    return token;
}

std::wstring data_directory(const std::wstring& origin, const std::wstring& token) {
    const std::wstring local = read_environment_variable(L"LOCALAPPDATA");
    if (local.empty()) throw std::runtime_error("local_app_data_unavailable");
    const std::wstring digest = sha256_hex(origin + L'\n' + token);
    return (std::filesystem::path(local) / L"QUORVEL" / L"Sondaro" / digest).wstring();
}

void save_window_placement(HWND window) {
    WINDOWPLACEMENT placement{};
    static_assert(sizeof placement == 44);
    placement.length = sizeof placement;
    if (!GetWindowPlacement(window, &placement)) return;
    placement.showCmd = placement.showCmd == SW_SHOWMAXIMIZED ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    RegSetKeyValueW(HKEY_CURRENT_USER, placement_key, placement_value, REG_BINARY, &placement,
                    sizeof placement);
}

}  // namespace tarvisko
