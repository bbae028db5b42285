#include "agent/body_decoding.hpp"

#include <limits>

namespace pavo::agent {

std::optional<nlohmann::json> parseJsonBody(std::string_view body) {
    if (body.empty()) return std::nullopt;
    nlohmann::json parsed = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded()) return std::nullopt;
    return parsed;
}

std::optional<std::int64_t> strictInteger(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    return std::nullopt;
}

namespace {

template <typename Value, typename Convert>
std::optional<std::map<std::string, std::optional<Value>>> decodeFields(std::string_view body, Convert convert) {
    auto parsed = parseJsonBody(body);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    std::map<std::string, std::optional<Value>> fields;
    for (const auto& [key, value] : parsed->items()) {
        if (value.is_null()) {
            fields[key] = std::nullopt;
            continue;
        }
        auto converted = convert(value);
        if (!converted) return std::nullopt;
        fields[key] = std::move(*converted);
    }
    return fields;
}

}  // namespace

std::optional<IntegerFields> decodeIntegerFields(std::string_view body) {
    return decodeFields<std::int64_t>(body, strictInteger);
}

std::optional<StringFields> decodeStringFields(std::string_view body) {
    return decodeFields<std::string>(body, [](const nlohmann::json& value) -> std::optional<std::string> {
        if (!value.is_string()) return std::nullopt;
        return value.get<std::string>();
    });
}

}  // namespace pavo::agent
