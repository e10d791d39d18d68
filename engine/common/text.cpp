#include "engine/common/text.h"

#include <windows.h>

#include <stdexcept>

namespace tarvisko {

std::wstring to_wide(std::string_view text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
    if (size <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string to_utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length,
                                         nullptr, 0, nullptr, nullptr);
    if (size <= 0) throw std::runtime_error("invalid Windows Unicode string");
    std::string narrow(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, narrow.data(),
                            size, nullptr, nullptr) != size) {
        throw std::runtime_error("Unicode conversion failed");
    }
    return narrow;
}

std::string reading_to_utf8(std::wstring_view text) {
    std::wstring repaired(text);
    for (std::size_t i = 0; i < repaired.size(); ++i) {
        const wchar_t unit = repaired[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < repaired.size() && repaired[i + 1] >= 0xDC00 &&
            repaired[i + 1] <= 0xDFFF) {
            ++i;  // a pair: both halves stay
        } else if (high || low) {
            repaired[i] = 0xFFFD;
        }
    }
    return to_utf8(repaired);
}

}  // namespace tarvisko
