#pragma once
// Short registry texts read the way the inventory reads them.
#include <windows.h>

#include <string>

namespace tarvisko {

// A REG_SZ value read with RegGetValueW into a zeroed 1024-byte buffer (511 characters and the
// terminator). Missing, another type, too long or any other failure give the empty text.
std::wstring read_registry_text(HKEY key, const wchar_t* subkey, const wchar_t* value);

}  // namespace tarvisko
