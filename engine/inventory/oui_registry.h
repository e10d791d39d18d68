#pragma once
// Names the maker of a network device from the OUI (first three bytes) of its hardware address,
// using a vendor list file named by QUORVEL_OUI_FILE. The program carries no list of its own.
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

namespace tarvisko {

struct OuiRegistry {
    // Six-character prefix as written in the file (usable ones are upper-case hex) -> vendor
    // name, the rest of the line as stored (a CR before the LF stays part of it).
    std::map<std::string, std::string> vendors;
    // True when the file named by the variable could be opened.
    bool file_opened = false;
};

// Reads the file named by QUORVEL_OUI_FILE. Lines of 8 to 400 bytes whose seventh byte is a TAB
// give prefix -> vendor; the first line of a prefix wins; every other line is ignored, and so is
// a line whose vendor name is not valid UTF-8 (it would make the inventory unserialisable).
// A missing variable, an unopenable file or a read error give an empty or partial registry,
// never an error.
OuiRegistry load_oui_registry();

// Envelope naming the maker of a hardware address: ok with the vendor text, or unavailable with
// "invalid_hardware_address", "locally_administered_address", "oui_unknown" or
// "oui_registry_missing".
nlohmann::json describe_hardware_address(const OuiRegistry& registry,
                                         std::span<const std::uint8_t> address);

}  // namespace tarvisko
