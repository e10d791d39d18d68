#pragma once
// What the user reads when an update check or installation fails. The self-update throws
// sentences written for the user; what reaches it from below (the HTTPS client's codes, the JSON
// library, the file system) is turned into a sentence here, and the code is kept beside it as the
// technical detail.
#include <exception>
#include <string>
#include <string_view>

namespace tarvisko {

struct UpdateFailureText {
    std::wstring sentence;  // Polish, for the status line
    std::string code;       // the technical detail; empty when the sentence is the update's own
};

// The sentence of a code of the HTTPS client, by its family ("node_http_302" belongs to
// "node_http_"); a code of no known family gets the sentence of an unexpected fault.
std::wstring update_code_sentence(std::string_view code);

UpdateFailureText update_failure_text(const std::exception& error);

// The status line after "Nie udało się ukończyć aktualizacji. ": the sentence, then the code in
// parentheses when there is one.
std::wstring update_failure_line(const std::exception& error);

}  // namespace tarvisko
