// Server origin, settings file, stored client token and data directory, against the real
// Windows calls under the test prefix: unique credential targets, a temporary LOCALAPPDATA and a
// settings file beside this executable (which has a folder of its own).
#include "app/config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "engine/common/ids.h"
#include "engine/common/text.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using test::error_text;
using test::ScopedEnv;
using test::TempDir;

std::filesystem::path settings_path() {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), 32768);
    return std::filesystem::path(std::wstring(buffer.data(), length)).parent_path() /
           L"Tarvisko.ini";
}

// A Tarvisko.ini beside the executable for the scope of the object, written as UTF-16 with a
// byte-order mark, the form in which the profile functions read any text.
class SettingsFile {
  public:
    explicit SettingsFile(const std::wstring& body) {
        std::ofstream out(settings_path(), std::ios::binary | std::ios::trunc);
        const std::wstring text = L"\xFEFF" + body;
        for (wchar_t unit : text) {
            out.put(static_cast<char>(unit & 0xFF));
            out.put(static_cast<char>(unit >> 8));
        }
    }
    ~SettingsFile() { std::filesystem::remove(settings_path()); }
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;
};

std::wstring unique_origin() { return L"https://t" + to_wide(new_uuid_text()) + L".invalid"; }

// Stores a generic credential the way the program does, so reading can be tested without a
// server; removed when the object ends.
class StoredToken {
  public:
    StoredToken(const std::wstring& origin, std::wstring token)
        : target_(credential_target(origin)) {
        CREDENTIALW credential{};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = target_.data();
        credential.CredentialBlobSize = static_cast<DWORD>(token.size() * sizeof(wchar_t));
        credential.CredentialBlob = reinterpret_cast<BYTE*>(token.data());
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        EXPECT_TRUE(CredWriteW(&credential, 0)) << GetLastError();
    }
    ~StoredToken() { CredDeleteW(target_.c_str(), CRED_TYPE_GENERIC, 0); }
    StoredToken(const StoredToken&) = delete;
    StoredToken& operator=(const StoredToken&) = delete;

  private:
    std::wstring target_;
};

bool credential_exists(const std::wstring& origin) {
    PCREDENTIALW found = nullptr;
    if (!CredReadW(credential_target(origin).c_str(), CRED_TYPE_GENERIC, 0, &found)) return false;
    CredFree(found);
    return true;
}

TEST(ServerOrigin, Precedence) {
    struct Case {
        const wchar_t* variable;  // null: unset
        const wchar_t* settings;  // null: no settings file
        std::wstring expected;
    };
    const std::wstring file_server = L"https://plik.example:9443";
    const Case cases[] = {
        {L"https://zmienna.example", L"[Tarvisko]\r\nServer=https://plik.example:9443\r\n",
         L"https://zmienna.example"},
        {L"", L"[Tarvisko]\r\nServer=https://plik.example:9443\r\n", file_server},
        {nullptr, L"[Tarvisko]\r\nServer=https://plik.example:9443\r\n", file_server},
        {nullptr, L"[Inna]\r\nServer=https://obca.example\r\n", built_in_origin},
        {nullptr, L"[Tarvisko]\r\nOperator=Światłonet\r\n", built_in_origin},
        {L"", nullptr, built_in_origin},
        {nullptr, nullptr, built_in_origin},
    };
    for (const Case& c : cases) {
        std::optional<std::wstring> value;
        if (c.variable != nullptr) value = c.variable;
        ScopedEnv env(L"QUORVEL_DESKTOP_ORIGIN", value ? &*value : nullptr);
        std::optional<SettingsFile> settings;
        if (c.settings != nullptr) settings.emplace(c.settings);
        EXPECT_EQ(server_origin(), c.expected)
            << (c.variable ? to_utf8(c.variable) : "(unset)") << " / "
            << (c.settings ? to_utf8(c.settings) : "(no file)");
    }
}

TEST(ServerOrigin, ValueThatFillsTheReadBufferGivesNoOrigin) {
    ScopedEnv env(L"QUORVEL_DESKTOP_ORIGIN", nullptr);
    const std::wstring host = L"https://" + std::wstring(2038, L'a');  // 2046 characters
    {
        SettingsFile settings(L"[Tarvisko]\r\nServer=" + host + L"\r\n");
        EXPECT_EQ(server_origin(), host);
        EXPECT_EQ(server_origin_setting().origin, host);
        EXPECT_EQ(shown_server_origin(), host);
    }
    // 2047 characters fill the buffer exactly, so a longer value cannot be told from them.
    for (const std::size_t extra : {1u, 2u, 5000u}) {
        SettingsFile settings(L"[Tarvisko]\r\nServer=" + host + std::wstring(extra, L'b') +
                              L"\r\n");
        EXPECT_EQ(error_text([] { server_origin(); }), "server_origin_too_long") << extra;
        const OriginSetting setting = server_origin_setting();
        EXPECT_EQ(setting.origin, L"") << extra;
        EXPECT_EQ(setting.problem, origin_too_long_text) << extra;
        EXPECT_EQ(shown_server_origin(), origin_too_long_text) << extra;
        // The environment variable still wins over the file.
        ScopedEnv set(L"QUORVEL_DESKTOP_ORIGIN", std::wstring(L"https://zmienna.example"));
        EXPECT_EQ(server_origin(), L"https://zmienna.example");
    }
}

TEST(ServerOrigin, BuiltInDefault) { EXPECT_STREQ(built_in_origin, L"https://localhost:8443"); }

TEST(Settings, OperatorAsWritten) {
    EXPECT_EQ(read_ini_setting(L"Operator", L"Tarvisko"), L"Tarvisko");
    SettingsFile settings(L"[Tarvisko]\r\nOperator=Światłonet Łódź\r\nServer=\r\n");
    EXPECT_EQ(read_ini_setting(L"Operator", L"Tarvisko"), L"Światłonet Łódź");
    // A key that stands empty in the file is empty, not the default.
    EXPECT_EQ(read_ini_setting(L"Server", L"domyślny"), L"");
    EXPECT_EQ(read_ini_setting(L"Brak", L"domyślny"), L"domyślny");
}

TEST(Settings, LongValueIsCutAt2047Characters) {
    SettingsFile settings(L"[Tarvisko]\r\nOperator=" + std::wstring(3000, L'x') + L"\r\n");
    EXPECT_EQ(read_ini_setting(L"Operator", L"Tarvisko"), std::wstring(2047, L'x'));
}

TEST(TokenCredential, StoredTokenIsReadBackWhole) {
    for (const std::wstring& token : {std::wstring(L"a"), std::wstring(48, L'T'),
                                      std::wstring(L"Ab-_09") + std::wstring(122, L'z')}) {
        const std::wstring origin = unique_origin();
        StoredToken stored(origin, token);
        EXPECT_EQ(token_credential(origin, false), token);
        EXPECT_EQ(token_credential(origin, true), token);  // found: nothing is registered
    }
}

TEST(TokenCredential, OriginsHaveTheirOwnCredentials) {
    const std::wstring first = unique_origin();
    const std::wstring second = unique_origin();
    StoredToken stored(first, L"token-of-the-first-origin-0123456789");
    EXPECT_EQ(token_credential(second, false), L"");
    EXPECT_EQ(credential_target(first), L"QUORVEL/Diagnostics/" + first);
}

TEST(TokenCredential, MissingWithoutCreateStoresNothing) {
    const std::wstring origin = unique_origin();
    EXPECT_EQ(token_credential(origin, false), L"");
    EXPECT_FALSE(credential_exists(origin));
}

BOOL WINAPI refused_read(LPCWSTR, DWORD, DWORD, PCREDENTIALW*) {
    SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
    return FALSE;
}

TEST(TokenCredential, RefusedReadFails) {
    CredentialStoreCalls& calls = credential_store_calls();
    const CredentialStoreCalls real = calls;
    calls.read = refused_read;
    const std::wstring origin = unique_origin();
    EXPECT_EQ(error_text([&] { token_credential(origin, false); }),
              "windows_credential_read_failed");
    EXPECT_EQ(error_text([&] { token_credential(origin, true); }),
              "windows_credential_read_failed");
    calls = real;
}

TEST(DataDirectory, KnownAnswerAndNothingCreated) {
    TempDir local;
    ScopedEnv env(L"LOCALAPPDATA", local.path().wstring());
    const std::wstring path =
        data_directory(L"https://localhost:8443", L"0123456789abcdef0123456789abcdef");
    EXPECT_EQ(path, (local.path() / L"QUORVEL" / L"Sondaro" /
                     L"30121773c3c5c47d6a24d1268923b5b3f87b5ddf4bdb19852a155b79580f1cac")
                        .wstring());
    EXPECT_TRUE(std::filesystem::is_empty(local.path()));
}

TEST(DataDirectory, OneFolderPerOriginAndToken) {
    TempDir local;
    ScopedEnv env(L"LOCALAPPDATA", local.path().wstring());
    const std::wstring base = data_directory(L"https://a.example", L"token-1");
    EXPECT_NE(data_directory(L"https://b.example", L"token-1"), base);
    EXPECT_NE(data_directory(L"https://a.example", L"token-2"), base);
    EXPECT_EQ(data_directory(L"https://a.example", L"token-1"), base);
}

TEST(DataDirectory, NeedsLocalAppData) {
    const std::wstring empty;
    for (const std::wstring* value : {&empty, static_cast<const std::wstring*>(nullptr)}) {
        ScopedEnv env(L"LOCALAPPDATA", value);
        EXPECT_EQ(error_text([] { data_directory(L"https://localhost:8443", L"t"); }),
                  "local_app_data_unavailable");
    }
}

}  // namespace
}  // namespace tarvisko
