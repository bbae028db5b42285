#pragma once
// Running the user's shortcuts and listing them with the system's Shortcuts tool.

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/scripts/script_tools.hpp"
#include "agent/server/agent_error.hpp"

namespace pavo::agent {

struct ShortcutRequest {
    std::string name;
    std::optional<std::string> input = std::nullopt;       // fed on standard input when present
    std::optional<std::int64_t> timeoutMs = std::nullopt;  // "timeoutMs"
};

// 15 s when none is asked for, otherwise what is asked but at least one second; no upper bound.
std::chrono::milliseconds shortcutTimeLimit(std::optional<std::int64_t> timeoutMs);

// The shortcut's standard output as it came; "shortcut_failed" when the tool cannot start ("message")
// or exits otherwise than with 0 ("exitCode", "stderr", "stdout"); "shortcut_timeout" with "name" and
// "elapsed_ms" (the limit, not the time measured) once its process group has been stopped and reaped.
boost::asio::awaitable<Result<std::string>> runShortcut(const ScriptTools& tools, ShortcutRequest request);

// The names the tool lists, in its order; failures as for a run, without "stdout". No time limit.
boost::asio::awaitable<Result<std::vector<std::string>>> listShortcuts(const ScriptTools& tools);

// One name per line, each trimmed of white space; blank lines dropped, duplicates kept.
std::vector<std::string> parseShortcutList(std::string_view output);

}  // namespace pavo::agent
