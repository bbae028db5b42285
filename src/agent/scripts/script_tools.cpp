#include "agent/scripts/script_tools.hpp"

namespace pavo::agent {

ScriptTools scriptToolsFromEnvironment(
    const std::function<std::optional<std::string>(const char*)>& environment) {
    ScriptTools tools;
    if (auto path = environment("VEXLO_PAVO_OSASCRIPT"); path && !path->empty()) tools.osascript = *path;
    if (auto path = environment("VEXLO_PAVO_SHORTCUTS"); path && !path->empty()) tools.shortcuts = *path;
    return tools;
}

boost::asio::awaitable<common::ChildResult> runOsascript(const ScriptTools& tools,
                                                         std::vector<std::string> arguments,
                                                         std::optional<std::string> input) {
    common::ChildCommand command{tools.osascript, std::move(arguments), std::move(input), std::nullopt};
    co_return co_await common::runChild(std::move(command));
}

std::int32_t terminationStatus(const common::ChildResult& result) {
    if (result.exitStatus) return *result.exitStatus;
    return result.signal.value_or(-1);
}

std::string startFailure(const std::string& executable, const common::ChildResult& result) {
    return "cannot start " + executable + ": " + result.startError.message();
}

}  // namespace pavo::agent
