#pragma once
// Checks a tool's arguments against the input schema the tool advertises, so that what the client is told
// and what is enforced cannot drift apart. It knows the keywords this server's schemas use: type,
// properties, required, additionalProperties (false), enum, items, minimum, maximum, minLength.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace pavo::mcp {

// Nothing when the arguments fit; otherwise what is wrong, worded for the model that sent them.
std::optional<std::string> checkArguments(const nlohmann::json& schema, const nlohmann::json& arguments);

}  // namespace pavo::mcp
