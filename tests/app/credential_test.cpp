// A client token registered at the simulator's portal and kept in the credential store; the
// store refusing to keep it.
#include <gtest/gtest.h>

#include "app/config.h"
#include "engine/common/text.h"
#include "support/simulator_client.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using test::error_text;
using test::simulator_control;
using test::simulator_origin;
using test::simulator_requests;

class CredentialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::simulator_reset();
        CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0);
    }
    void TearDown() override {
        credential_store_calls() = CredentialStoreCalls{};
        CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0);
    }

    const std::wstring origin = to_wide(simulator_origin());
    const std::wstring target = credential_target(origin);
};

TEST_F(CredentialTest, CreateRegistersOnceAndStoresTheToken) {
    const std::wstring token = token_credential(origin, true);
    ASSERT_FALSE(token.empty());
    EXPECT_EQ(to_wide(simulator_control("GET", "portal/stats")["tokens"][0].get<std::string>()),
              token);

    PCREDENTIALW stored = nullptr;
    ASSERT_TRUE(CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &stored)) << GetLastError();
    EXPECT_EQ(std::wstring(stored->TargetName), L"QUORVEL/Diagnostics/" + origin);
    EXPECT_EQ(stored->Type, static_cast<DWORD>(CRED_TYPE_GENERIC));
    EXPECT_EQ(stored->Persist, static_cast<DWORD>(CRED_PERSIST_LOCAL_MACHINE));
    EXPECT_EQ(stored->Flags, 0u);
    EXPECT_EQ(stored->AttributeCount, 0u);
    EXPECT_TRUE(stored->Comment == nullptr || *stored->Comment == L'\0');
    EXPECT_TRUE(stored->UserName == nullptr || *stored->UserName == L'\0');
    ASSERT_EQ(stored->CredentialBlobSize, 2 * token.size());
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(stored->CredentialBlob), token.size()),
              token);
    CredFree(stored);

    // Found now: the same token, and the portal is not asked again.
    EXPECT_EQ(token_credential(origin, true), token);
    EXPECT_EQ(token_credential(origin, false), token);
    EXPECT_EQ(simulator_requests("/api/v1/portal/clients").size(), 1u);
}

BOOL WINAPI refused_write(PCREDENTIALW, DWORD) {
    SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
    return FALSE;
}

TEST_F(CredentialTest, RefusedWriteFailsAndKeepsNothing) {
    credential_store_calls().write = refused_write;
    EXPECT_EQ(error_text([&] { token_credential(origin, true); }),
              "windows_credential_write_failed");
    credential_store_calls() = CredentialStoreCalls{};
    EXPECT_EQ(token_credential(origin, false), L"");
}

TEST_F(CredentialTest, RegistrationFailurePassesThrough) {
    test::simulator_add_fault({{"path", "/api/v1/portal/clients"}, {"status", 503}});
    EXPECT_EQ(error_text([&] { token_credential(origin, true); }), "node_http_503");
    EXPECT_EQ(token_credential(origin, false), L"");
}

}  // namespace
}  // namespace tarvisko
