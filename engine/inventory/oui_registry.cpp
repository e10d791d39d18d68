#include "engine/inventory/oui_registry.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "engine/common/envelope.h"
#include "engine/common/handle_guard.h"
#include "engine/common/system.h"

namespace tarvisko {

namespace {

constexpr std::size_t kShortestLine = 8;
constexpr std::size_t kLongestLine = 400;

// Strict UTF-8 as the JSON serialiser checks it: no overlong forms, no surrogates, nothing past
// U+10FFFF, no truncated sequences.
bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 3;
            if (byte == 0xE0) low = 0xA0;
            if (byte == 0xED) high = 0x9F;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4;
            if (byte == 0xF0) low = 0x90;
            if (byte == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (n - i < length) return false;
        const auto second = static_cast<unsigned char>(text[i + 1]);
        if (second < low || second > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < 0x80 || next > 0xBF) return false;
        }
        i += length;
    }
    return true;
}

bool upper_case_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

void add_line(OuiRegistry& registry, std::string_view line) {
    if (line.size() < kShortestLine || line.size() > kLongestLine || line[6] != '\t') return;
    // Lookups print the prefix in upper-case hexadecimal: any other key could never match.
    const std::string_view prefix = line.substr(0, 6);
    if (!std::all_of(prefix.begin(), prefix.end(), upper_case_hex)) return;
    const std::string_view vendor = line.substr(7);
    if (!is_valid_utf8(vendor)) return;
    registry.vendors.emplace(std::string(prefix), std::string(vendor));
}

void close_file(HANDLE file) { CloseHandle(file); }

}  // namespace

OuiRegistry read_oui_registry(const std::wstring& path) {
    OuiRegistry registry;
    HandleGuard<HANDLE> file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
        close_file, INVALID_HANDLE_VALUE);
    if (!file) return registry;
    registry.file_opened = true;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size) &&
        static_cast<std::uint64_t>(size.QuadPart) > kOuiFileLimit) {
        registry.too_large = true;
        return registry;
    }

    // Whole lines are handed on; a line longer than the longest usable one is only tracked until
    // its LF so that a hostile file cannot make the pending text grow without bound.
    std::vector<char> chunk(64 * 1024);
    std::string pending;
    std::uint64_t total = 0;
    bool skipping_long_line = false;
    bool reached_end = false;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
            break;
        }
        if (read == 0) {
            reached_end = true;
            break;
        }
        total += read;
        if (total > kOuiFileLimit) {  // the file grew while it was read
            registry.vendors.clear();
            registry.too_large = true;
            return registry;
        }
        std::string_view data(chunk.data(), read);
        while (!data.empty()) {
            const std::size_t lf = data.find('\n');
            const std::string_view piece = data.substr(0, lf);
            if (!skipping_long_line) {
                pending.append(piece);
                if (pending.size() > kLongestLine) {
                    pending.clear();
                    skipping_long_line = true;
                }
            }
            if (lf == std::string_view::npos) break;
            if (!skipping_long_line) add_line(registry, pending);
            pending.clear();
            skipping_long_line = false;
            data.remove_prefix(lf + 1);
        }
    }
    // The last line may lack its LF; a line cut short by a read error is not used.
    if (reached_end && !skipping_long_line && !pending.empty()) add_line(registry, pending);
    return registry;
}

std::shared_ptr<const OuiRegistry> load_oui_registry() {
    const std::wstring path = read_environment_variable(L"QUORVEL_OUI_FILE");
    if (path.empty()) {
        static const auto none = std::make_shared<const OuiRegistry>();
        return none;
    }
    // Every LAN reading and every full test asks; the file is read once per path and run. The
    // lock is held during the read, so callers that come meanwhile wait for its result.
    static std::mutex lock;
    static std::map<std::wstring, std::shared_ptr<const OuiRegistry>> cache;
    const std::lock_guard guard(lock);
    std::shared_ptr<const OuiRegistry>& registry = cache[path];
    if (!registry) registry = std::make_shared<const OuiRegistry>(read_oui_registry(path));
    return registry;
}

nlohmann::json describe_hardware_address(const OuiRegistry& registry,
                                         std::span<const std::uint8_t> address) {
    if (address.size() != 6) return json_unavailable("invalid_hardware_address");
    if ((address[0] & 0x02) != 0) return json_unavailable("locally_administered_address");
    char prefix[8]{};
    std::snprintf(prefix, sizeof prefix, "%02X%02X%02X", address[0], address[1], address[2]);
    const auto found = registry.vendors.find(prefix);
    if (found != registry.vendors.end()) return json_value_ok(found->second);
    if (registry.too_large) return json_unavailable("oui_registry_too_large");
    return json_unavailable(registry.file_opened ? "oui_unknown" : "oui_registry_missing");
}

}  // namespace tarvisko
