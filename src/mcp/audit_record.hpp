#pragma once
// The activity-log record of one tool call. Arguments are never sent in clear (they can hold typed
// secrets): only a SHA-256 over them, salted with a secret of this process, so that a short secret such as
// a PIN cannot be found again by hashing guesses.

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <string>

#include "mcp/tool_result.hpp"

namespace pavo::mcp {

std::string argumentsHash(const nlohmann::json& arguments, const std::string& salt);

// ISO 8601 in UTC with milliseconds, e.g. 2026-12-06T23:26:50.123Z.
std::string utcTimestamp(std::chrono::system_clock::time_point at);

nlohmann::json auditEvent(const std::string& tool, const nlohmann::json& arguments, const std::string& salt,
                          std::chrono::system_clock::time_point at, std::int64_t elapsedMs,
                          const CallOutcome& outcome);

}  // namespace pavo::mcp
