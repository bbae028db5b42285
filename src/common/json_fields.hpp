#pragma once
// Strict readers for JSON text that arrives from outside (request bodies, files another program wrote):
// a value of the wrong type is an error, never converted.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace pavo::common {

// Nothing when the text is empty or not JSON (text that is not UTF-8 included).
std::optional<nlohmann::json> parseJson(std::string_view text);

// As parseJson, but only a JSON object.
std::optional<nlohmann::json> parseJsonObject(std::string_view text);

// A JSON integer that fits in 64 signed bits; floats such as 1.0 are not integers.
std::optional<std::int64_t> strictInteger(const nlohmann::json& value);

// One key of an object read as the type a record gives it: std::string, bool, double (any number) or
// std::int64_t (an integer in 64 bits). A missing key and null both count as absent.
enum class FieldRead { absent, present, wrongType };

template <typename T>
FieldRead readField(const nlohmann::json& object, std::string_view key, T& out);

template <typename T>
bool requiredField(const nlohmann::json& object, std::string_view key, T& out) {
    return readField(object, key, out) == FieldRead::present;
}

template <typename T>
bool optionalField(const nlohmann::json& object, std::string_view key, std::optional<T>& out) {
    T value{};
    switch (readField(object, key, value)) {
        case FieldRead::absent:
            return true;
        case FieldRead::present:
            out = std::move(value);
            return true;
        case FieldRead::wrongType:
            return false;
    }
    return false;
}

// An object whose values are all of one type or null (null kept as nothing); nothing for any other text.
template <typename T>
std::optional<std::map<std::string, std::optional<T>>> uniformObject(std::string_view text);

}  // namespace pavo::common
