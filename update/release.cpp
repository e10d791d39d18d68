#include "update/release.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>
// clang-format on

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "engine/common/handle_guard.h"
#include "engine/common/json_document.h"
#include "engine/common/hash.h"
#include "engine/http/portal.h"
#include "update/update_common.h"
#include "update/update_system.h"

namespace tarvisko {
namespace {

using namespace update_detail;

bool is_lower_hex(std::string_view text) {
    return text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// The RSA public key of the release-signing certificate, as a BCrypt key handle.
HandleGuard<BCRYPT_KEY_HANDLE> release_signing_key() {
    const std::string der = decode_base64(update_system().release_certificate);
    HandleGuard<PCCERT_CONTEXT> certificate(
        CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                     static_cast<DWORD>(der.size())),
        [](PCCERT_CONTEXT context) { CertFreeCertificateContext(context); });
    if (!certificate) fail("Nie można odczytać klucza projektu.");
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING,
                                     &certificate.get()->pCertInfo->SubjectPublicKeyInfo, 0,
                                     nullptr, &key)) {
        fail("Nie można odczytać klucza projektu.");
    }
    return {key, [](BCRYPT_KEY_HANDLE handle) { BCryptDestroyKey(handle); }};
}

// The bytes the proof signs: a fixed line, then version, size and hash, each ending in LF.
std::string signed_message(const std::string& version, std::uint32_t size,
                           const std::string& sha256) {
    return "QUORVEL Windows x64\n" + version + "\n" + std::to_string(size) + "\n" + sha256 + "\n";
}

}  // namespace

ReleaseInfo load_release_description(const std::wstring& origin) {
    return verify_release_description(download_update_file(origin, false));
}

ReleaseInfo verify_release_description(std::string_view text) {
    // Through the depth gate: a few kilobytes of brackets would otherwise overflow the stack of
    // whatever copies the value. Text that is no JSON at all keeps the library's own message.
    const std::optional<nlohmann::json> parsed = parse_json_document(text);
    if (!parsed) {
        // Only for its exception: text that the gate refused but that parses is no release
        // description either, and the value is dropped unused.
        [[maybe_unused]] const nlohmann::json unused = nlohmann::json::parse(text);
        fail("Niepoprawny opis wydania Windows.");
    }
    const nlohmann::json& document = *parsed;
    ReleaseInfo info;
    info.version = document.at("version").get<std::string>();
    info.sha256 = document.at("sha256").get<std::string>();
    parse_version(info.version);

    const nlohmann::json& platform = document.at("platform");
    if (!platform.is_string() || platform.get<std::string>() != "windows-x64") {
        fail("Niepoprawny opis wydania Windows.");
    }
    // Only a number stored as unsigned passes: 1048576.0, "1048576" and -1 do not.
    const auto size = document.find("size");
    if (size == document.end() || !size->is_number_unsigned() || *size == 0u ||
        size->get<std::uint64_t>() > update_size_limit || info.sha256.size() != 64 ||
        !is_lower_hex(info.sha256)) {
        fail("Niepoprawny opis wydania Windows.");
    }
    info.size = size->get<std::uint32_t>();

    const HandleGuard<BCRYPT_KEY_HANDLE> key = release_signing_key();
    std::string proof = decode_base64(document.at("proof").get<std::string>());
    auto digest = sha256_bytes(signed_message(info.version, info.size, info.sha256));
    BCRYPT_PKCS1_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM};
    const NTSTATUS status = BCryptVerifySignature(
        key.get(), &padding, digest.data(), static_cast<ULONG>(digest.size()),
        reinterpret_cast<PUCHAR>(proof.data()), static_cast<ULONG>(proof.size()), BCRYPT_PAD_PKCS1);
    if (status != 0) fail("Podpis opisu wydania jest nieprawidłowy.");
    return info;
}

VersionNumber parse_version(std::string_view text) {
    std::uint32_t parts[3]{};
    std::size_t at = 0;
    for (int index = 0; index < 3; ++index) {
        if (index > 0) {
            if (at >= text.size() || text[at] != '.') fail("Niepoprawny numer wersji.");
            ++at;
        }
        const std::size_t start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        const std::size_t digits = at - start;
        if (digits == 0 || digits > 5 || (digits > 1 && text[start] == '0')) {
            fail("Niepoprawny numer wersji.");
        }
        for (std::size_t i = start; i < at; ++i) {
            parts[index] = parts[index] * 10 + static_cast<std::uint32_t>(text[i] - '0');
        }
    }
    if (at != text.size()) fail("Niepoprawny numer wersji.");
    return {parts[0], parts[1], parts[2]};
}

bool is_newer_version(const ReleaseInfo& info, std::string_view current) {
    return parse_version(info.version) > parse_version(current);
}

VersionNumber read_file_version(const std::filesystem::path& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0 || size > 1048576) fail("Nie można odczytać wersji aplikacji na dysku.");
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        fail("Nie można sprawdzić wersji pliku.");
    }
    void* root = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", &root, &length) || root == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO) ||
        static_cast<const VS_FIXEDFILEINFO*>(root)->dwSignature != 0xFEEF04BD) {
        fail("Brak wersji pliku Windows.");
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(root);
    return {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
            HIWORD(fixed->dwFileVersionLS)};
}

std::string decode_base64(std::string_view text) {
    if (text.empty() || text.size() > 8191) fail("Niepoprawne kodowanie podpisu.");
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                              nullptr, &size, nullptr, nullptr)) {
        fail("Niepoprawne kodowanie podpisu.");
    }
    std::string bytes(size, '\0');
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                              reinterpret_cast<BYTE*>(bytes.data()), &size, nullptr, nullptr)) {
        fail("Niepoprawny podpis.");
    }
    bytes.resize(size);
    return bytes;
}

std::array<std::uint8_t, 32> sha256_bytes(std::string_view bytes) {
    std::array<std::uint8_t, 32> digest{};
    DWORD digest_size = static_cast<DWORD>(digest.size());
    static const BYTE empty = 0;
    if (bytes.size() > MAXDWORD ||
        !CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr,
                               bytes.empty() ? &empty : reinterpret_cast<const BYTE*>(bytes.data()),
                               static_cast<DWORD>(bytes.size()), digest.data(), &digest_size) ||
        digest_size != digest.size()) {
        fail("Nie można sprawdzić sumy pliku.");
    }
    return digest;
}

std::string sha256_hex_of_bytes(std::string_view bytes) { return hex_lower(sha256_bytes(bytes)); }

}  // namespace tarvisko
