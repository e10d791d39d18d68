#include "update/update_common.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <stdexcept>

namespace tarvisko::update_detail {

void fail(const char* sentence) { throw std::runtime_error(sentence); }

Handle owned_handle(HANDLE handle) {
    return {handle, [](HANDLE h) { CloseHandle(h); }};
}

Handle owned_file(HANDLE handle) {
    return {handle, [](HANDLE h) { CloseHandle(h); }, INVALID_HANDLE_VALUE};
}

std::wstring new_guid_text() {
    GUID guid{};
    wchar_t text[40]{};
    if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, text, 40) == 0) {
        fail("Nie można przygotować aktualizacji.");
    }
    return text;
}

}  // namespace tarvisko::update_detail
