#pragma once
// JSON replies of the agent: compact bodies with exactly the Content-Type and Content-Length headers.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

#include "http/message.hpp"

namespace pavo::agent {

http::HTTPResponse jsonResponse(int status, const nlohmann::json& body);

// The agent's error body: "error", and "message" / "hint" only when given.
http::HTTPResponse errorResponse(int status, const std::string& error,
                                 const std::optional<std::string>& message = std::nullopt,
                                 const std::optional<std::string>& hint = std::nullopt);

}  // namespace pavo::agent
