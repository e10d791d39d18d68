#pragma once
// Names the maker of a network device from the OUI (first three bytes) of its hardware address,
// using a vendor list file named by QUORVEL_OUI_FILE. The program carries no list of its own.
#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

namespace tarvisko {

// A vendor file above this size is refused whole: the public vendor list in this form is
// about 1.5 MiB, and the file is read while a test or a page waits for it.
inline constexpr std::uint64_t kOuiFileLimit = 4u * 1024 * 1024;

struct OuiRegistry {
    // Six upper-case hexadecimal digits -> vendor name, the rest of the line as stored (a CR
    // before the LF stays part of it).
    std::map<std::string, std::string> vendors;
    // True when the file named by the variable could be opened.
    bool file_opened = false;
    // True when the file was larger than kOuiFileLimit; then no vendor is taken from it.
    bool too_large = false;
};

// The registry of the file named by QUORVEL_OUI_FILE, read once per run and path (concurrent
// first callers wait for the one read) and shared by every later caller.
std::shared_ptr<const OuiRegistry> load_oui_registry();

// Reads one vendor file. Lines of 8 to 400 bytes whose seventh byte is a TAB and whose first six
// bytes are upper-case hexadecimal digits give prefix -> vendor; the first line of a prefix
// wins; every other line is ignored, and so is a line whose vendor name is not valid UTF-8 (it
// would make the inventory unserialisable). An unopenable file or a read error give an empty or
// partial registry, a file above kOuiFileLimit an empty one marked too_large; never an error.
OuiRegistry read_oui_registry(const std::wstring& path);

// Envelope naming the maker of a hardware address: ok with the vendor text, or unavailable with
// "invalid_hardware_address", "locally_administered_address", "oui_unknown",
// "oui_registry_too_large" or "oui_registry_missing".
nlohmann::json describe_hardware_address(const OuiRegistry& registry,
                                         std::span<const std::uint8_t> address);

}  // namespace tarvisko
