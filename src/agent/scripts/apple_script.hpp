#pragma once
// Running AppleScript source with the system's script runner, which reads it from standard input.

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <string>

#include "agent/scripts/script_tools.hpp"
#include "agent/server/agent_error.hpp"

namespace pavo::agent {

struct OsaResult {
    std::int32_t status = -1;  // -1 when the runner could not be started, `standardError` then says why
    std::string standardOutput;
    std::string standardError;
};

// Outputs as they came (empty when not UTF-8).
boost::asio::awaitable<OsaResult> runOsa(const ScriptTools& tools, std::string script);

// The script's output trimmed of white space and line breaks at both ends when it exits with 0;
// "applescript_failed" with the start failure's "message", or with "exitCode" and the untrimmed
// "stderr" and "stdout", otherwise. No time limit: a script may run as long as its request waits.
boost::asio::awaitable<Result<std::string>> runAppleScript(const ScriptTools& tools, std::string script);

}  // namespace pavo::agent
