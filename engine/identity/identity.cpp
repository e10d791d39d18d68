#include "engine/identity/identity.h"

#include <bcrypt.h>
#include <objbase.h>
#include <wincrypt.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <stdexcept>
#include <vector>

#include "engine/common/hash.h"

namespace tarvisko {

namespace {

constexpr std::size_t max_protected_text = 8192;
static_assert(sizeof(GUID) == 16);
constexpr wchar_t key_description[] = L"QUORVEL MAC HMAC";

// Wipes the key buffer unless ownership passed to the caller.
struct KeyWiper {
    PrivacyKey& key;
    bool keep = false;
    ~KeyWiper() {
        if (!keep) SecureZeroMemory(key.data(), key.size());
    }
};

// Frees a DPAPI output buffer after overwriting it.
struct BlobGuard {
    DATA_BLOB blob{};
    ~BlobGuard() {
        if (blob.pbData != nullptr) {
            SecureZeroMemory(blob.pbData, blob.cbData);
            LocalFree(blob.pbData);
        }
    }
};

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<BYTE> decode_protected_text(const std::string& text) {
    if (text.empty() || text.size() % 2 != 0 || text.size() > max_protected_text) {
        throw std::runtime_error("invalid protected identity");
    }
    std::vector<BYTE> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = hex_digit(text[i]);
        const int low = hex_digit(text[i + 1]);
        if (high < 0 || low < 0) throw std::runtime_error("invalid protected identity");
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
    }
    return bytes;
}

nlohmann::json identity_document(const nlohmann::json& id, const char* method,
                                 const nlohmann::json& reason) {
    nlohmann::json document;
    document["id"] = id;
    document["method"] = method;
    document["reason"] = reason;
    return document;
}

}  // namespace

std::string device_hash_uuid(const std::string& label, const std::uint8_t* bytes,
                             std::size_t count) {
    std::string input = "QUORVEL/Melvora/device/v1/" + label + "/";
    if (count > 0) input.append(reinterpret_cast<const char*>(bytes), count);
    std::uint8_t digest[32]{};
    DWORD digest_size = sizeof digest;
    if (!CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr,
                               reinterpret_cast<const BYTE*>(input.data()),
                               static_cast<DWORD>(input.size()), digest, &digest_size) ||
        digest_size != sizeof digest) {
        throw std::runtime_error("device_hash_unavailable");
    }
    digest[6] = static_cast<std::uint8_t>((digest[6] & 0x0F) | 0x80);
    digest[8] = static_cast<std::uint8_t>((digest[8] & 0x3F) | 0x80);
    std::string text;
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text += hex_lower(std::span<const std::uint8_t>(digest + i, 1));
    }
    return text;
}

std::optional<std::wstring> read_machine_guid() {
    wchar_t buffer[64]{};
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, buffer,
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(buffer, wcsnlen(buffer, 64));
}

PrivacyKey load_privacy_key(UploadQueue& queue) {
    QueueTransaction transaction = begin_transaction(queue.db);
    PrivacyKey key{};
    KeyWiper wiper{key};
    bool found = false;
    std::string stored;
    {
        StatementGuard select =
            prepare_statement(queue.db, "SELECT protected FROM privacy_key WHERE k=1");
        found = step_row(select.get());
        if (found) stored = column_text(select.get(), 0);
    }
    if (found) {
        std::vector<BYTE> sealed = decode_protected_text(stored);
        DATA_BLOB in{static_cast<DWORD>(sealed.size()), sealed.data()};
        BlobGuard plain;
        if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                                &plain.blob)) {
            throw std::runtime_error(
                "identity belongs to a different Windows account or is unavailable");
        }
        if (plain.blob.cbData != key.size())
            throw std::runtime_error("invalid identity key length");
        std::memcpy(key.data(), plain.blob.pbData, key.size());
    } else {
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, key.data(), static_cast<ULONG>(key.size()),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            throw std::runtime_error("system randomness unavailable");
        }
        DATA_BLOB in{static_cast<DWORD>(key.size()), key.data()};
        std::string text;
        {
            BlobGuard sealed;
            if (!CryptProtectData(&in, key_description, nullptr, nullptr, nullptr,
                                  CRYPTPROTECT_UI_FORBIDDEN, &sealed.blob)) {
                throw std::runtime_error("could not protect installation identity");
            }
            text = hex_lower(std::span<const std::uint8_t>(sealed.blob.pbData, sealed.blob.cbData));
        }
        run_statement(queue.db, "INSERT INTO privacy_key(k,protected) VALUES(1,?)", {text});
    }
    commit_transaction(transaction);
    wiper.keep = true;
    return key;
}

nlohmann::json build_device_identity(UploadQueue& queue) {
    return build_device_identity(queue, read_machine_guid);
}

nlohmann::json build_device_identity(UploadQueue& queue, const MachineGuidReader& read_guid) {
    try {
        const std::optional<std::wstring> text = read_guid();
        GUID guid{};
        const bool have_guid = text && text->size() == 36 &&
                               SUCCEEDED(IIDFromString((L"{" + *text + L"}").c_str(), &guid));
        if (have_guid) {
            return identity_document(
                device_hash_uuid("installation", reinterpret_cast<const std::uint8_t*>(&guid),
                                 sizeof guid),
                "windows_installation_v1", nullptr);
        }
        PrivacyKey key = load_privacy_key(queue);
        KeyWiper wiper{key};
        return identity_document(device_hash_uuid("profile", key.data(), key.size()),
                                 "local_profile_v1", "machine_guid_unavailable");
    } catch (const std::exception&) {
        return identity_document(nullptr, "unavailable", "device_identity_unavailable");
    }
}

}  // namespace tarvisko
