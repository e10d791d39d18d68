#include "engine/common/hash.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace tarvisko {

std::string hex_lower(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

std::wstring sha256_hex(std::wstring_view text) {
    std::vector<BYTE> bytes;
    bytes.reserve(text.size() * 2);
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>((unit >> 8) & 0xFF));
    }
    std::uint8_t digest[32]{};
    DWORD digest_size = sizeof digest;
    static const BYTE empty = 0;
    if (!CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr,
                               bytes.empty() ? &empty : bytes.data(),
                               static_cast<DWORD>(bytes.size()), digest, &digest_size) ||
        digest_size != sizeof digest) {
        throw std::runtime_error("windows_hash_failed");
    }
    const std::string hex = hex_lower(digest);
    return std::wstring(hex.begin(), hex.end());
}

std::string hmac_sha256(std::span<const std::uint8_t> address, std::span<const std::uint8_t> key) {
    const bool individual = address.size() == 6 && (address[0] & 0x01) == 0 &&
                            std::any_of(address.begin(), address.end(),
                                        [](std::uint8_t b) { return b != 0; });
    if (!individual) return {};
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
        throw std::runtime_error("HMAC provider unavailable");
    }
    std::uint8_t digest[32]{};
    const NTSTATUS status =
        BCryptHash(provider, const_cast<PUCHAR>(key.data()), static_cast<ULONG>(key.size()),
                   const_cast<PUCHAR>(address.data()), static_cast<ULONG>(address.size()), digest,
                   sizeof digest);
    BCryptCloseAlgorithmProvider(provider, 0);
    if (!BCRYPT_SUCCESS(status)) throw std::runtime_error("HMAC calculation failed");
    return hex_lower(digest);
}

}  // namespace tarvisko
