#pragma once
// Text that comes from outside the program (Wi-Fi names, device and vendor names, process names,
// DNS names) as the window may show it. Such text can carry control characters that break a
// cell or a copied line, and invisible or direction-changing marks that make one name look like
// another ("\u202Egpj.exe" reads as "exe.jpg"); every page model takes foreign text through
// these functions, so the list, the details panel and every export show the same.
#include <cstddef>
#include <string>
#include <string_view>

namespace tarvisko {

// The longest foreign text a view shows, in UTF-16 units, the ellipsis included.
inline constexpr std::size_t kDisplayTextUnits = 120;

// True for a code point the window must not show as such: the Unicode categories Cc (control),
// Cf (format: soft hyphen, zero-width and bidirectional marks, BOM, tags), Zl and Zp (line and
// paragraph separators), and surrogate code points.
bool is_hidden_code_point(char32_t code_point);

// Every hidden character (a pair counts as one) and every unpaired surrogate becomes one blank;
// a text longer than `max_units` keeps its first units and ends in "…" so that it is at most
// `max_units` long, never splitting a surrogate pair; a text of blanks only becomes empty.
// The result always converts to UTF-8.
std::wstring sanitize_display_text(std::wstring_view text,
                                   std::size_t max_units = kDisplayTextUnits);
// The same for UTF-8 text; invalid bytes become U+FFFD first.
std::string sanitize_display_utf8(std::string_view text, std::size_t max_units = kDisplayTextUnits);

// A DNS host name: 1 to 253 characters, each an ASCII letter or digit, "-", "_" or "." (an
// internationalised name travels in its punycode form, "xn--…"). A trailing dot is the caller's
// business.
bool is_host_name(std::wstring_view name);

}  // namespace tarvisko
