#pragma once
// The signed release description: what a new version is, its verification against the built-in
// release-signing certificate, version numbers, and the hashing and decoding helpers of the
// self-update. Every failure is a std::runtime_error whose message is a Polish sentence for the
// user, or the JSON library's error for a document of the wrong shape.
#include <array>
#include <compare>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarvisko {

// A verified release description.
struct ReleaseInfo {
    std::string version;     // "version", unchanged (three dot-separated numbers)
    std::string sha256;      // 64 lower-case hexadecimal digits of the new executable
    std::uint32_t size = 0;  // its size in bytes, 1 to 33,554,432
};

// Compared part by part from the left.
struct VersionNumber {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;
    auto operator<=>(const VersionNumber&) const = default;
};

// The largest executable an update may bring.
inline constexpr std::uint32_t update_size_limit = 33554432;

// Downloads the release description under the server origin and verifies it.
ReleaseInfo load_release_description(const std::wstring& origin);
// Parses and checks the description text and its "proof" against the release-signing key.
ReleaseInfo verify_release_description(std::string_view text);
// Three parts of 1 to 5 digits, without leading zeros; throws "Niepoprawny numer wersji.".
VersionNumber parse_version(std::string_view text);
// Whether the release is newer than the version text given (the program's own).
bool is_newer_version(const ReleaseInfo& info, std::string_view current);
// The first three numbers of an executable's fixed file version.
VersionNumber read_file_version(const std::filesystem::path& path);

// Base64 without header lines, 1 to 8,191 characters.
std::string decode_base64(std::string_view text);
// SHA-256 of the bytes as they are.
std::array<std::uint8_t, 32> sha256_bytes(std::string_view bytes);
std::string sha256_hex_of_bytes(std::string_view bytes);

}  // namespace tarvisko
