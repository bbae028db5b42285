#include "common/json_fields.hpp"

#include <limits>

namespace pavo::common {

using nlohmann::json;

std::optional<json> parseJson(std::string_view text) {
    if (text.empty()) return std::nullopt;
    json parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded()) return std::nullopt;
    return parsed;
}

std::optional<json> parseJsonObject(std::string_view text) {
    auto parsed = parseJson(text);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    return parsed;
}

std::optional<std::int64_t> strictInteger(const json& value) {
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    return std::nullopt;
}

namespace {

bool convert(const json& value, std::string& out) {
    if (!value.is_string()) return false;
    out = value.get<std::string>();
    return true;
}

bool convert(const json& value, bool& out) {
    if (!value.is_boolean()) return false;
    out = value.get<bool>();
    return true;
}

bool convert(const json& value, double& out) {
    if (!value.is_number()) return false;
    out = value.get<double>();
    return true;
}

bool convert(const json& value, std::int64_t& out) {
    auto integer = strictInteger(value);
    if (integer) out = *integer;
    return integer.has_value();
}

}  // namespace

template <typename T>
FieldRead readField(const json& object, std::string_view key, T& out) {
    if (!object.is_object()) return FieldRead::absent;
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return FieldRead::absent;
    return convert(*it, out) ? FieldRead::present : FieldRead::wrongType;
}

template <typename T>
std::optional<std::map<std::string, std::optional<T>>> uniformObject(std::string_view text) {
    auto parsed = parseJsonObject(text);
    if (!parsed) return std::nullopt;
    std::map<std::string, std::optional<T>> fields;
    for (const auto& [key, value] : parsed->items()) {
        if (value.is_null()) {
            fields[key] = std::nullopt;
            continue;
        }
        T converted{};
        if (!convert(value, converted)) return std::nullopt;
        fields[key] = std::move(converted);
    }
    return fields;
}

template FieldRead readField<std::string>(const json&, std::string_view, std::string&);
template FieldRead readField<bool>(const json&, std::string_view, bool&);
template FieldRead readField<double>(const json&, std::string_view, double&);
template FieldRead readField<std::int64_t>(const json&, std::string_view, std::int64_t&);
template std::optional<std::map<std::string, std::optional<std::string>>> uniformObject<std::string>(
    std::string_view);
template std::optional<std::map<std::string, std::optional<std::int64_t>>> uniformObject<std::int64_t>(
    std::string_view);

}  // namespace pavo::common
