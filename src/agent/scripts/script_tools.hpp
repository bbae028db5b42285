#pragma once
// The system's script tools the agent runs as child processes, where they are, and how their runs are
// reported.

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/child_process.hpp"

namespace pavo::agent {

struct ScriptTools {
    std::string osascript = "/usr/bin/osascript";
    std::string shortcuts = "/usr/bin/shortcuts";
};

// VEXLO_PAVO_OSASCRIPT and VEXLO_PAVO_SHORTCUTS name other executables (empty: the default).
ScriptTools scriptToolsFromEnvironment(
    const std::function<std::optional<std::string>(const char*)>& environment);

// The script runner with these arguments, the script on its standard input when one is given.
boost::asio::awaitable<common::ChildResult> runOsascript(const ScriptTools& tools,
                                                         std::vector<std::string> arguments,
                                                         std::optional<std::string> input);

// The status a finished run reports: its exit status, or the number of the signal that ended it.
std::int32_t terminationStatus(const common::ChildResult& result);

// Why `executable` did not start, for a reply's "message" or "stderr".
std::string startFailure(const std::string& executable, const common::ChildResult& result);

}  // namespace pavo::agent
