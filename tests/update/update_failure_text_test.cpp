// The status line of a failed update: every fault the update path can raise reads as a Polish
// sentence, with the program's code kept beside it and no library text.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ios>
#include <new>
#include <stdexcept>
#include <string>

#include "engine/common/text.h"
#include "engine/http/portal.h"
#include "support/test_support.h"
#include "update/failure_text.h"
#include "update/release.h"
#include "update/staging.h"

namespace tarvisko {
namespace {

const std::wstring kUnexpected = L"Wystąpił nieoczekiwany błąd aktualizacji.";

std::wstring line_of(const std::function<void()>& failing) {
    try {
        failing();
    } catch (const std::exception& error) {
        return update_failure_line(error);
    }
    ADD_FAILURE() << "no failure";
    return {};
}

// A sentence, then at most the code in parentheses: nothing of a library's message.
void expect_user_line(const std::wstring& line, const std::string& what) {
    const std::wstring sentence = line.substr(0, line.find(L" (kod: "));
    EXPECT_FALSE(sentence.empty()) << what;
    EXPECT_EQ(sentence.back(), L'.') << what;
    for (const wchar_t* library : {L"json", L"exception", L"filesystem", L"[", L"_", L"::"}) {
        EXPECT_EQ(sentence.find(library), std::wstring::npos) << what << " " << to_utf8(line);
    }
}

TEST(UpdateFailureText, EveryCodeOfTheHttpsClientHasASentence) {
    for (const char* code :
         {"node_http_302", "node_http_404", "node_http_500", "winhttp_12152", "winhttp_12029",
          "winhttp_12175", "node_https_origin_required", "node_credential_required",
          "peer_address_unavailable", "node_address_changed", "node_reply_too_large",
          "invalid_node_reply", "server_origin_too_long"}) {
        const std::wstring line = line_of([code] { throw std::runtime_error(code); });
        expect_user_line(line, code);
        EXPECT_NE(line.find(L" (kod: " + to_wide(code) + L")"), std::wstring::npos) << code;
        EXPECT_NE(update_code_sentence(code), kUnexpected) << code;
    }
    EXPECT_EQ(update_code_sentence("node_http_302"),
              L"Serwer aktualizacji odpowiedział nieprawidłowo.");
    EXPECT_EQ(update_code_sentence("something_new"), kUnexpected);
}

TEST(UpdateFailureText, RealFaultsOfTheUpdatePath) {
    test::TempDir temp;
    const struct {
        const char* what;
        std::function<void()> failing;
        std::wstring sentence;
    } cases[] = {
        {"closed port", [] { download_update_file(L"https://localhost:1", false); },
         L"Nie udało się połączyć z serwerem aktualizacji. Sprawdź połączenie z internetem."},
        {"no origin", [] { download_update_file(L"", false); },
         L"Adres serwera aktualizacji w konfiguracji jest nieprawidłowy."},
        {"not JSON", [] { verify_release_description("{\"version\":"); },
         L"Niepoprawny opis wydania Windows."},
        {"no proof",
         [] {
             verify_release_description(R"({"version":"1.2.0","sha256":")" + std::string(64, 'a') +
                                        R"(","platform":"windows-x64","size":10})");
         },
         L"Niepoprawny opis wydania Windows."},
        {"version a number", [] { verify_release_description(R"({"version":1})"); },
         L"Niepoprawny opis wydania Windows."},
        {"missing file", [&] { read_file_limited(temp.path() / L"missing.bin", 100); },
         L"Nie można przygotować plików aktualizacji na tym komputerze."},
        {"stream", [] { throw std::ios_base::failure("basic_ios::clear: iostream error"); },
         L"Nie można przygotować plików aktualizacji na tym komputerze."},
        {"memory", [] { throw std::bad_alloc(); }, kUnexpected},
        {"library text", [] { throw std::runtime_error("environment variable unavailable"); },
         kUnexpected},
        {"logic", [] { throw std::out_of_range("vector::_M_range_check"); }, kUnexpected},
    };
    for (const auto& c : cases) {
        const std::wstring line = line_of(c.failing);
        expect_user_line(line, c.what);
        EXPECT_EQ(line.substr(0, c.sentence.size()), c.sentence) << c.what << " " << to_utf8(line);
        EXPECT_NE(line.find(L" (kod: "), std::wstring::npos) << c.what;
    }
}

TEST(UpdateFailureText, TheUpdatesOwnSentencesStandAlone) {
    for (const char* sentence :
         {"Podpis opisu wydania jest nieprawidłowy.", "Niepoprawny numer wersji.",
          "Przekroczono limit pobierania aktualizacji.",
          "Otwórz aplikację jako zwykły użytkownik, aby ją zaktualizować."}) {
        EXPECT_EQ(line_of([sentence] { throw std::runtime_error(sentence); }), to_wide(sentence));
    }
    EXPECT_EQ(line_of([] { verify_release_description(R"({"version":"1.01.0","sha256":"x"})"); }),
              L"Niepoprawny numer wersji.");
}

}  // namespace
}  // namespace tarvisko
