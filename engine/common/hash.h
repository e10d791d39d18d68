#pragma once
// SHA-256 of wide text and the keyed pseudonym of hardware addresses.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvisko {

// 64 lower-case hex digits of SHA-256 over the UTF-16LE bytes; throws "windows_hash_failed".
std::wstring sha256_hex(std::wstring_view text);
// HMAC-SHA-256 of a 6-byte individual hardware address under the key, as 64 lower-case hex
// digits; empty for anything that is not a usable individual address (group bit, all zero,
// wrong length). Throws "HMAC provider unavailable" or "HMAC calculation failed".
std::string hmac_sha256(std::span<const std::uint8_t> address, std::span<const std::uint8_t> key);

// Lower-case hexadecimal of raw bytes.
std::string hex_lower(std::span<const std::uint8_t> bytes);

}  // namespace tarvisko
