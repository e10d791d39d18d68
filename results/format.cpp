#include "results/format.h"

#include <limits>
#include <locale>
#include <sstream>

#include "engine/common/text.h"

namespace tarvisko {

namespace {

// Fixed notation with one digit in the classic locale, a trailing ".0" dropped, "." -> ",".
template <typename Char>
std::basic_string<Char> one_decimal(double value) {
    std::basic_ostringstream<Char> stream;
    stream.imbue(std::locale::classic());
    stream.setf(std::ios::fixed, std::ios::floatfield);
    stream.precision(1);
    stream << value;
    std::basic_string<Char> text = stream.str();
    if (text.size() >= 2 && text[text.size() - 2] == Char('.') && text.back() == Char('0')) {
        text.resize(text.size() - 2);
    }
    for (Char& c : text) {
        if (c == Char('.')) c = Char(',');
    }
    return text;
}

}  // namespace

std::wstring format_decimal(double value) { return one_decimal<wchar_t>(value); }

std::string format_decimal_comma(double value) { return one_decimal<char>(value); }

std::wstring format_icmp_ms(double value) {
    const std::wstring text = format_decimal(value);
    return text == L"0" ? L"<1" : text;
}

std::string format_icmp_ms_comma(double value) {
    const std::string text = format_decimal_comma(value);
    return text == "0" ? "<1" : text;
}

std::wstring format_rtt_ms(std::optional<double> value) {
    if (!value) return L"Brak odpowiedzi";
    return format_icmp_ms(*value) + L" ms";
}

const nlohmann::json& json_member_or_null(const nlohmann::json& json, std::string_view name) {
    static const nlohmann::json null_value;
    if (!json.is_object()) return null_value;
    const auto found = json.find(name);
    return found == json.end() ? null_value : *found;
}

const nlohmann::json& json_value_of(const nlohmann::json& json, std::string_view name) {
    return json_member_or_null(json_member_or_null(json, name), "value");
}

bool json_text_equals(const nlohmann::json& value, std::string_view text) {
    return value.is_string() && value.get_ref<const std::string&>() == text;
}

bool json_member_is(const nlohmann::json& json, std::string_view name, std::string_view text) {
    return json_text_equals(json_member_or_null(json, name), text);
}

std::string json_string_or_empty(const nlohmann::json& value) {
    return value.is_string() ? value.get<std::string>() : std::string();
}

std::optional<std::int64_t> json_int64(const nlohmann::json& value) {
    if (!value.is_number_integer()) return std::nullopt;
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() >
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::nullopt;
    }
    return value.get<std::int64_t>();
}

std::wstring json_display_text(const nlohmann::json& json) {
    if (json.is_string()) return to_wide(json.get_ref<const std::string&>());
    if (json.is_number()) return format_decimal(json.get<double>());
    return L"Brak odczytu";
}

std::wstring phase_display_name(const nlohmann::json& phase) {
    if (phase.is_string()) {
        const auto& name = phase.get_ref<const std::string&>();
        if (name == "baseline") return L"Spoczynek";
        if (name == "download") return L"Pobieranie";
        if (name == "upload") return L"Wysyłanie";
        if (name == "recovery") return L"Po transferze";
    }
    return json_display_text(phase);
}

}  // namespace tarvisko
