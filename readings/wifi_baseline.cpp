#include "readings/wifi_baseline.h"

#include <windows.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "engine/common/handle_guard.h"
#include "engine/common/json_document.h"
#include "engine/common/system.h"
#include "readings/wifi_channels.h"
#include "results/format.h"
#include "results/report_files.h"

namespace tarvisko {
namespace {

using nlohmann::json;

constexpr std::int64_t highest_mhz = 7115;
constexpr std::size_t most_plot_points = 1024;

// The file names bands as 24, 5 and 6; the program as 1, 2 and 3.
std::int32_t file_band(std::int32_t band) {
    switch (band) {
        case 1:
            return 24;
        case 2:
            return 5;
        default:
            return 6;
    }
}

std::int32_t band_of_file(std::int64_t band) {
    switch (band) {
        case 24:
            return 1;
        case 5:
            return 2;
        case 6:
            return 3;
        default:
            return 0;
    }
}

bool known_width(std::int64_t width) {
    return width == 20 || width == 40 || width == 80 || width == 160 || width == 320;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// YYYY-MM-DDTHH:MM:SSZ or YYYY-MM-DDTHH:MM:SS.mmmZ: separators where they belong, digits
// elsewhere; the values themselves are not checked.
bool utc_time_form(std::string_view text) {
    if (text.size() != 20 && text.size() != 24) return false;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const std::size_t position = i + 1;
        char expected = 0;
        if (position == 5 || position == 8) expected = '-';
        if (position == 11) expected = 'T';
        if (position == 14 || position == 17) expected = ':';
        if (position == 20 && text.size() == 24) expected = '.';
        if (expected != 0 ? text[i] != expected : !is_digit(text[i])) return false;
    }
    return text.back() == 'Z';
}

bool connection_id_form(std::string_view text) {
    if (text.size() != 64) return false;
    for (const char c : text) {
        if (!is_digit(c) && !(c >= 'a' && c <= 'f')) return false;
    }
    return true;
}

// Three decimal numbers joined by dots, at most 32 characters.
bool version_form(std::string_view text) {
    if (text.empty() || text.size() > 32 || text.front() == '.' || text.back() == '.') {
        return false;
    }
    int dots = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '.') {
            if (text[i - 1] == '.') return false;
            ++dots;
        } else if (!is_digit(text[i])) {
            return false;
        }
    }
    return dots == 2;
}

// A JSON integer within [low, high]; floating numbers never qualify.
std::optional<std::int32_t> integer_in(const json& value, std::int64_t low, std::int64_t high) {
    const std::optional<std::int64_t> n = json_int64(value);
    if (!n || *n < low || *n > high) return std::nullopt;
    return static_cast<std::int32_t>(*n);
}

// The frequency is a channel of the band.
bool in_band(std::int32_t mhz, std::int32_t band) { return mhz_to_channel(mhz, {}).band == band; }

std::optional<plot_point> read_plot_item(const json& item, std::int32_t band) {
    if (!item.is_array() || item.size() != 6 || !item[5].is_boolean()) return std::nullopt;
    std::array<std::int32_t, 4> mhz{};
    for (std::size_t i = 0; i < mhz.size(); ++i) {
        const std::optional<std::int32_t> n = integer_in(item[i], 0, highest_mhz);
        if (!n) return std::nullopt;
        mhz[i] = *n;
    }
    const std::optional<std::int32_t> rssi = integer_in(item[4], -127, 0);
    if (!rssi) return std::nullopt;
    const auto [primary, center, width, second] = mhz;
    if (!in_band(primary, band) || !in_band(center, band) ||
        (second != 0 && !in_band(second, band)) || (width != 0 && !known_width(width))) {
        return std::nullopt;
    }
    const wifi_channel channel = mhz_to_channel(primary, {});
    return plot_point{channel.band, channel.channel, primary, center,
                      width,        second,          *rssi,   item[5].get<bool>()};
}

// The rules of the file, in order; the first broken one names the refusal.
BaselineReading read_document(const json& doc) {
    const auto refuse = [](const char* rule) { return BaselineReading{std::nullopt, rule}; };
    const auto member = [&doc](const char* name) -> const json& {
        return json_member_or_null(doc, name);
    };

    const bool with_plot = doc.contains("plot");
    if (doc.size() != (with_plot ? 17u : 16u)) return refuse("members");
    if (json_int64(member("schema_version")) != 1) return refuse("schema_version");
    if (!member("observed_at").is_string()) return refuse("observed_at");
    if (!member("connection_id").is_string()) return refuse("connection_id");

    WifiSnapshot s;
    s.observed_at = member("observed_at").get<std::string>();
    s.connection_id = member("connection_id").get<std::string>();
    if (!utc_time_form(s.observed_at)) return refuse("observed_at");
    if (!connection_id_form(s.connection_id)) return refuse("connection_id");
    if (s.observed_at.size() == 20) s.observed_at.insert(19, ".000");

    static constexpr std::array<const char*, 10> integer_members{
        "schema_version",    "band",        "channel", "primary_mhz",  "center_mhz", "width_mhz",
        "second_center_mhz", "overlapping", "strong",  "unknown_width"};
    std::array<std::int32_t, integer_members.size()> n{};
    for (std::size_t i = 0; i < integer_members.size(); ++i) {
        const std::optional<std::int32_t> value =
            integer_in(member(integer_members[i]), 0, highest_mhz);
        if (!value) return refuse(integer_members[i]);
        n[i] = *value;
    }
    const auto [schema, file_band_value, channel, primary, center, width, second, overlapping,
                strong, unknown_width] = n;
    static_cast<void>(schema);

    const std::int32_t band = band_of_file(file_band_value);
    if (band == 0) return refuse("band");
    if (primary < 2412 || primary != channel_to_mhz(band, channel)) return refuse("primary_mhz");
    if (center < 2412) return refuse("center_mhz");
    if (!known_width(width)) return refuse("width_mhz");
    s.channel = {band, channel, primary, center, width, second};

    if (!member("score").is_number()) return refuse("score");
    const double score = member("score").get<double>();
    if (!std::isfinite(score) || score < 0 || score > 4096) return refuse("score");
    if (overlapping > 1024) return refuse("overlapping");
    if (strong > overlapping) return refuse("strong");
    if (unknown_width > overlapping) return refuse("unknown_width");
    s.overlap = {overlapping, strong, unknown_width, score};

    const json& rssi = member("rssi_dbm");
    if (!doc.contains("rssi_dbm")) return refuse("rssi_dbm");
    if (!rssi.is_null()) {
        const std::optional<std::int32_t> value = integer_in(rssi, -127, 0);
        if (!value) return refuse("rssi_dbm");
        s.rssi_dbm = value;
    }

    const json& client_version = member("client_version");
    if (!client_version.is_string() || !version_form(client_version.get<std::string>())) {
        return refuse("client_version");
    }
    s.client_version = client_version.get<std::string>();
    const json& os_version = member("os_version");
    if (!doc.contains("os_version")) return refuse("os_version");
    if (!os_version.is_null()) {
        if (!os_version.is_string() || os_version.get<std::string>().size() > 64) {
            return refuse("os_version");
        }
        s.os_version = os_version.get<std::string>();
    }

    if (with_plot) {
        const json& plot = member("plot");
        if (!plot.is_array() || plot.size() > most_plot_points) return refuse("plot");
        std::vector<plot_point> points;
        points.reserve(plot.size());
        for (const json& item : plot) {
            const std::optional<plot_point> point = read_plot_item(item, band);
            if (!point) return refuse("plot");
            points.push_back(*point);
        }
        s.plot = std::move(points);
    }
    return {std::move(s), ""};
}

void close_file(HANDLE file) { CloseHandle(file); }

}  // namespace

std::wstring wifi_baseline_path() {
    const std::wstring root = read_environment_variable(L"LOCALAPPDATA");
    if (root.empty()) return {};
    return (std::filesystem::path(root) / L"QUORVEL" / L"Sondaro" / L"wifi-baseline.json")
        .wstring();
}

std::string write_wifi_baseline(const WifiSnapshot& s) {
    json doc = json::object();
    doc["band"] = file_band(s.channel.band);
    doc["center_mhz"] = s.channel.center_mhz;
    doc["channel"] = s.channel.channel;
    doc["client_version"] = s.client_version;
    doc["connection_id"] = s.connection_id;
    doc["observed_at"] = s.observed_at;
    doc["os_version"] = s.os_version.empty() ? json(nullptr) : json(s.os_version);
    doc["overlapping"] = s.overlap.overlapping;
    if (s.plot) {
        json plot = json::array();
        for (const plot_point& p : *s.plot) {
            plot.push_back(json::array({p.primary_mhz, p.center_mhz, p.width_mhz,
                                        p.second_center_mhz, p.rssi_dbm, p.own}));
        }
        doc["plot"] = std::move(plot);
    }
    doc["primary_mhz"] = s.channel.primary_mhz;
    doc["rssi_dbm"] = s.rssi_dbm ? json(*s.rssi_dbm) : json(nullptr);
    doc["schema_version"] = 1;
    doc["score"] = s.overlap.score;
    doc["second_center_mhz"] = s.channel.second_center_mhz;
    doc["strong"] = s.overlap.strong;
    doc["unknown_width"] = s.overlap.unknown_width;
    doc["width_mhz"] = s.channel.width_mhz;
    return doc.dump(-1, ' ', false, json::error_handler_t::strict);
}

BaselineReading read_wifi_baseline(std::string_view bytes) {
    if (bytes.size() > wifi_baseline_max_bytes) return {std::nullopt, "size"};
    // The JSON library would skip a byte-order mark; the writer never writes one.
    if (bytes.starts_with("\xEF\xBB\xBF")) return {std::nullopt, "json"};
    try {
        const std::optional<json> doc = parse_json_document(bytes);
        if (!doc) return {std::nullopt, "json"};
        if (!doc->is_object()) return {std::nullopt, "members"};
        return read_document(*doc);
    } catch (const std::exception&) {
        return {std::nullopt, "json"};
    }
}

std::optional<WifiSnapshot> parse_wifi_baseline(const char* bytes, std::size_t length) {
    return read_wifi_baseline(std::string_view(bytes, length)).snapshot;
}

void save_wifi_baseline(const WifiSnapshot& snapshot) {
    const std::filesystem::path path = wifi_baseline_path();
    if (path.empty()) throw std::runtime_error("wifi_profile_missing");
    std::filesystem::create_directories(path.parent_path());
    write_file_atomically(path, write_wifi_baseline(snapshot));
}

void load_wifi_baseline_once(const WifiComparisonState& state) {
    if (state.baseline_loaded) return;
    state.baseline_loaded = true;
    try {
        const std::wstring path = wifi_baseline_path();
        if (path.empty()) return;
        const HandleGuard<HANDLE> file(
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            close_file, INVALID_HANDLE_VALUE);
        if (!file) return;
        // One byte more than accepted, so that a longer file is refused rather than cut.
        std::string bytes(wifi_baseline_max_bytes + 1, '\0');
        std::size_t filled = 0;
        while (filled < bytes.size()) {
            DWORD read = 0;
            if (!ReadFile(file.get(), bytes.data() + filled,
                          static_cast<DWORD>(bytes.size() - filled), &read, nullptr)) {
                return;
            }
            if (read == 0) break;
            filled += read;
        }
        bytes.resize(filled);
        std::optional<WifiSnapshot> snapshot = parse_wifi_baseline(bytes.data(), bytes.size());
        if (!snapshot) return;
        state.baseline = std::move(snapshot);
        state.card = describe_saved_baseline(*state.baseline);
    } catch (const std::exception&) {
        // A file that cannot be read is no file: the page says nothing of it.
    }
}

}  // namespace tarvisko
