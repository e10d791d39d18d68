#include "update/failure_text.h"

#include <filesystem>
#include <ios>
#include <new>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <typeinfo>

#include "engine/common/text.h"

namespace tarvisko {
namespace {

constexpr std::wstring_view kServerReplyWrong = L"Serwer aktualizacji odpowiedział nieprawidłowo.";
constexpr std::wstring_view kServerUnreachable =
    L"Nie udało się połączyć z serwerem aktualizacji. Sprawdź połączenie z internetem.";
constexpr std::wstring_view kOriginInvalid =
    L"Adres serwera aktualizacji w konfiguracji jest nieprawidłowy.";
constexpr std::wstring_view kDescriptionInvalid = L"Niepoprawny opis wydania Windows.";
constexpr std::wstring_view kFilesFailed =
    L"Nie można przygotować plików aktualizacji na tym komputerze.";
constexpr std::wstring_view kUnexpected = L"Wystąpił nieoczekiwany błąd aktualizacji.";

struct CodeFamily {
    std::string_view code;  // a whole code, or a family when it ends with '_'
    std::wstring_view sentence;
};

// Every code the HTTPS client can raise on the way to the update files.
constexpr CodeFamily kFamilies[] = {
    {"node_http_", kServerReplyWrong},
    {"node_reply_too_large", kServerReplyWrong},
    {"invalid_node_reply", kServerReplyWrong},
    {"node_credential_required", kServerReplyWrong},
    {"winhttp_", kServerUnreachable},
    {"peer_address_unavailable", kServerUnreachable},
    {"node_address_changed", kServerUnreachable},
    {"node_https_origin_required", kOriginInvalid},
    {"server_origin_too_long", kOriginInvalid},
};

// The lower-case code form of the program's own errors.
bool is_code(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
    }
    return true;
}

// The self-update's sentences begin with a capital letter (Polish ones included) and end with a
// full stop; a library's run-time texts do not.
bool is_sentence(std::string_view text) {
    if (text.size() < 2 || text.back() != '.') return false;
    const unsigned char first = static_cast<unsigned char>(text.front());
    return (first >= 'A' && first <= 'Z') || first >= 0xC3;
}

}  // namespace

std::wstring update_code_sentence(std::string_view code) {
    for (const CodeFamily& family : kFamilies) {
        const bool whole = family.code.back() != '_';
        if (whole ? code == family.code : code.starts_with(family.code)) {
            return std::wstring(family.sentence);
        }
    }
    return std::wstring(kUnexpected);
}

UpdateFailureText update_failure_text(const std::exception& error) {
    // The JSON library's own texts name its internals; a release description it cannot read is
    // simply not a valid one.
    if (const auto* json = dynamic_cast<const nlohmann::json::exception*>(&error)) {
        return {std::wstring(kDescriptionInvalid), "json_" + std::to_string(json->id)};
    }
    if (const auto* file = dynamic_cast<const std::filesystem::filesystem_error*>(&error)) {
        return {std::wstring(kFilesFailed), "file_system_" + std::to_string(file->code().value())};
    }
    if (dynamic_cast<const std::ios_base::failure*>(&error) != nullptr) {
        return {std::wstring(kFilesFailed), "file_stream"};
    }
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
        return {std::wstring(kUnexpected), "out_of_memory"};
    }
    // Only the program raises a plain run-time error: either a code of the HTTPS client or a
    // sentence of the self-update, which is already written for the user.
    if (typeid(error) == typeid(std::runtime_error)) {
        const std::string_view text = error.what();
        if (is_code(text)) return {update_code_sentence(text), std::string(text)};
        if (is_sentence(text)) {
            try {
                return {to_wide(std::string(text)), {}};
            } catch (const std::exception&) {
            }
        }
    }
    return {std::wstring(kUnexpected), "unexpected"};
}

std::wstring update_failure_line(const std::exception& error) {
    const UpdateFailureText text = update_failure_text(error);
    if (text.code.empty()) return text.sentence;
    return text.sentence + L" (kod: " + to_wide(text.code) + L")";
}

}  // namespace tarvisko
