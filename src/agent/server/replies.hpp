#pragma once
// How the agent's replies are made: JSON bodies, and the one mapping of a failure to its reply.

#include <nlohmann/json.hpp>

#include "agent/server/agent_error.hpp"
#include "http/message.hpp"

namespace pavo::agent {

// A compact JSON body with exactly "Content-Type" and "Content-Length". Text that cannot be written as
// JSON (not UTF-8) gives the body {"error": "json_serialization_failed"} with the same status.
http::HTTPResponse jsonResponse(int status, const nlohmann::json& body);

// {"error": code} plus "message" and "hint" when the error carries them and its details, with the code's
// status.
http::HTTPResponse errorReply(const AgentError& error);

}  // namespace pavo::agent
