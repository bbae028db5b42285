#pragma once
// The generic body shapes routes decode before their handlers run.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace pavo::agent {

// The body as JSON; nothing when it is empty or not JSON (including text that is not UTF-8).
std::optional<nlohmann::json> parseJsonBody(std::string_view body);

// A JSON integer that fits in 64 signed bits; floats such as 1.0 are not integers.
std::optional<std::int64_t> strictInteger(const nlohmann::json& value);

// An object whose values are all integers or null.
using IntegerFields = std::map<std::string, std::optional<std::int64_t>>;
std::optional<IntegerFields> decodeIntegerFields(std::string_view body);

// An object whose values are all strings or null.
using StringFields = std::map<std::string, std::optional<std::string>>;
std::optional<StringFields> decodeStringFields(std::string_view body);

}  // namespace pavo::agent
