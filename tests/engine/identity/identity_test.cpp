#include "engine/identity/identity.h"

#include <gtest/gtest.h>
#include <wincrypt.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/hash.h"
#include "engine/queue/queue.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using test::error_text;

using test::QueueDir;

MachineGuidReader guid_text(std::optional<std::wstring> text) {
    return [text] { return text; };
}

std::string stored_key(UploadQueue& queue) {
    const auto rows = query_strings(queue.db, "SELECT protected FROM privacy_key");
    return rows.empty() ? std::string() : rows.front();
}

TEST(DeviceHash, KnownAnswers) {
    const std::uint8_t guid[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                   0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    const std::uint8_t zeros[32]{};
    EXPECT_EQ(device_hash_uuid("installation", guid, 16), "03eb09bd-a135-8ef3-8587-111494f7ee2b");
    EXPECT_EQ(device_hash_uuid("profile", zeros, 32), "64d7bf9a-d086-8394-8f37-58a85349c2df");
}

TEST(DeviceHash, AlwaysVersionEightAndRfcVariant) {
    const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-8[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    for (int seed = 0; seed < 64; ++seed) {
        const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(seed), 0xA5};
        EXPECT_TRUE(std::regex_match(device_hash_uuid("profile", bytes, 2), form));
    }
    EXPECT_TRUE(std::regex_match(device_hash_uuid("installation", nullptr, 0), form));
}

TEST(DeviceIdentity, FromTheRealMachineGuid) {
    QueueDir where;
    UploadQueue queue = open_queue();
    const std::optional<std::wstring> text = read_machine_guid();
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->size(), 36u);
    const nlohmann::json identity = build_device_identity(queue);
    EXPECT_EQ(identity, build_device_identity(queue, read_machine_guid));
    EXPECT_EQ(identity["method"], "windows_installation_v1");
    // Nothing stored when the machine GUID serves.
    EXPECT_EQ(stored_key(queue), "");
    // The same computer's profile id is another one.
    EXPECT_NE(build_device_identity(queue, guid_text(std::nullopt))["id"], identity["id"]);
}

TEST(DeviceIdentity, MachineGuidTextsAndTheirFallback) {
    QueueDir where;
    UploadQueue queue = open_queue();
    const std::wstring guid = L"00112233-4455-6677-8899-AABBCCDDEEFF";
    const std::string installation =
        R"({"id":"03eb09bd-a135-8ef3-8587-111494f7ee2b","method":"windows_installation_v1","reason":null})";
    EXPECT_EQ(build_device_identity(queue, guid_text(guid)).dump(), installation);
    EXPECT_EQ(
        build_device_identity(queue, guid_text(L"00112233-4455-6677-8899-aabbccddeeff")).dump(),
        installation);

    const PrivacyKey key = load_privacy_key(queue);
    const std::string profile =
        R"({"id":")" + device_hash_uuid("profile", key.data(), key.size()) +
        R"(","method":"local_profile_v1","reason":"machine_guid_unavailable"})";
    const std::optional<std::wstring> fallbacks[] = {
        std::nullopt,
        L"",
        guid.substr(1),                            // 35 characters
        guid + L"0",                               // 37 characters
        L"0011223344556677-8899-AABBCCDDEEFF-",    // 36 characters, not a GUID
        L"{0112233-4455-6677-8899-AABBCCDDEEFF}",  // braces already inside
    };
    for (const auto& text : fallbacks) {
        EXPECT_EQ(build_device_identity(queue, guid_text(text)).dump(), profile);
    }
}

TEST(DeviceIdentity, AnyFailureGivesTheUnavailableDocument) {
    QueueDir where;
    UploadQueue queue = open_queue();
    run_statement(queue.db, "INSERT INTO privacy_key(k,protected) VALUES(1,'zz')");
    EXPECT_EQ(build_device_identity(queue, guid_text(std::nullopt)).dump(),
              R"({"id":null,"method":"unavailable","reason":"device_identity_unavailable"})");
    EXPECT_EQ(build_device_identity(queue,
                                    []() -> std::optional<std::wstring> {
                                        throw std::runtime_error("registry gone");
                                    })
                  .dump(),
              R"({"id":null,"method":"unavailable","reason":"device_identity_unavailable"})");
}

TEST(PrivacyKey, CreatedOnceStoredProtectedAndReadBack) {
    QueueDir where;
    UploadQueue queue = open_queue();
    const PrivacyKey first = load_privacy_key(queue);
    const std::string stored = stored_key(queue);
    EXPECT_TRUE(std::regex_match(stored, std::regex("([0-9a-f]{2})+")));
    EXPECT_EQ(load_privacy_key(queue), first);
    EXPECT_EQ(stored_key(queue), stored);

    // The stored blob is DPAPI's for this user, with the key's description, and holds the key.
    std::vector<BYTE> blob;
    for (std::size_t i = 0; i < stored.size(); i += 2) {
        blob.push_back(static_cast<BYTE>(std::stoi(stored.substr(i, 2), nullptr, 16)));
    }
    DATA_BLOB in{static_cast<DWORD>(blob.size()), blob.data()};
    DATA_BLOB out{};
    LPWSTR description = nullptr;
    ASSERT_TRUE(CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out));
    EXPECT_STREQ(description, L"QUORVEL MAC HMAC");
    ASSERT_EQ(out.cbData, 32u);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), out.pbData));
    LocalFree(description);
    LocalFree(out.pbData);

    // A new key after the row is removed, and with it a new profile id.
    const std::string old_profile = build_device_identity(queue, guid_text(std::nullopt))["id"];
    run_statement(queue.db, "DELETE FROM privacy_key");
    EXPECT_NE(load_privacy_key(queue), first);
    EXPECT_NE(build_device_identity(queue, guid_text(std::nullopt))["id"], old_profile);
}

std::string protect_hex(std::size_t plain_size) {
    std::vector<BYTE> plain(plain_size, 0x42);
    DATA_BLOB in{static_cast<DWORD>(plain.size()), plain.data()};
    DATA_BLOB out{};
    if (!CryptProtectData(&in, L"QUORVEL MAC HMAC", nullptr, nullptr, nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        throw std::runtime_error("protect failed");
    }
    std::string text = hex_lower(std::span<const std::uint8_t>(out.pbData, out.cbData));
    LocalFree(out.pbData);
    return text;
}

TEST(PrivacyKey, MalformedStoredKeysAreRefusedAndKept) {
    const std::string other_account =
        "identity belongs to a different Windows account or is unavailable";
    const struct {
        std::string stored;
        std::string error;
    } cases[] = {
        {"", "invalid protected identity"},
        {"abc", "invalid protected identity"},
        {std::string(8193, 'a'), "invalid protected identity"},
        {std::string(8194, 'a'), "invalid protected identity"},
        {"zz00", "invalid protected identity"},
        {"0g", "invalid protected identity"},
        {std::string(8192, 'a'), other_account},  // accepted for decoding, not a DPAPI blob
        {"00ff", other_account},
        {protect_hex(16), "invalid identity key length"},
        {protect_hex(33), "invalid identity key length"},
    };
    QueueDir where;
    UploadQueue queue = open_queue();
    for (const auto& c : cases) {
        run_statement(queue.db, "INSERT OR REPLACE INTO privacy_key(k,protected) VALUES(1,?)",
                      {c.stored});
        EXPECT_EQ(error_text([&] { load_privacy_key(queue); }), c.error) << c.stored.substr(0, 16);
        EXPECT_EQ(stored_key(queue), c.stored);
        // The failed call left no transaction open.
        EXPECT_TRUE(sqlite3_get_autocommit(queue.db));
    }
}

}  // namespace
}  // namespace tarvisko
