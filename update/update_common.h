#pragma once
// Small pieces shared by the staging and the runner of the self-update.
#include <windows.h>

#include <string>

#include "engine/common/handle_guard.h"

namespace tarvisko::update_detail {

using Handle = HandleGuard<HANDLE>;

// Every failure of the self-update is a run-time error whose message is a sentence for the user.
[[noreturn]] void fail(const char* sentence);

// Owners of a handle that is null, or INVALID_HANDLE_VALUE for files, when nothing was opened.
Handle owned_handle(HANDLE handle);
Handle owned_file(HANDLE handle);

// A new GUID in braces (38 characters, upper case); throws "Nie można przygotować aktualizacji.".
std::wstring new_guid_text();

}  // namespace tarvisko::update_detail
