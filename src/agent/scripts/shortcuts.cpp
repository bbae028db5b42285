#include "agent/scripts/shortcuts.hpp"

#include <algorithm>

#include "common/text.hpp"

namespace pavo::agent {

namespace {

using std::chrono::milliseconds;

// A limit asked for in milliseconds may be any 64-bit number, but a timer counts nanoseconds: beyond a
// century it waits a century, which is the same for any run.
constexpr milliseconds kLongestWait = std::chrono::hours(24 * 365 * 100);

AgentError exitFailure(common::ChildResult& run, bool withOutput) {
    AgentError error{ErrorCode::shortcutFailed};
    error.details = {{"exitCode", terminationStatus(run)},
                     {"stderr", common::utf8OrEmpty(std::move(run.standardError))}};
    if (withOutput) error.details["stdout"] = common::utf8OrEmpty(std::move(run.standardOutput));
    return error;
}

}  // namespace

milliseconds shortcutTimeLimit(std::optional<std::int64_t> timeoutMs) {
    if (!timeoutMs) return milliseconds(15000);
    return milliseconds(std::max<std::int64_t>(*timeoutMs, 1000));
}

boost::asio::awaitable<Result<std::string>> runShortcut(const ScriptTools& tools, ShortcutRequest request) {
    const milliseconds limit = shortcutTimeLimit(request.timeoutMs);
    common::ChildCommand command{
        tools.shortcuts, {"run", request.name}, std::move(request.input), std::min(limit, kLongestWait)};
    auto run = co_await common::runChild(std::move(command));
    if (!run.started()) co_return AgentError{ErrorCode::shortcutFailed, startFailure(tools.shortcuts, run)};
    if (run.timedOut) {
        co_return AgentError{
            ErrorCode::shortcutTimeout, {}, {}, {{"name", request.name}, {"elapsed_ms", limit.count()}}};
    }
    if (run.exitStatus != 0) co_return exitFailure(run, /*withOutput=*/true);
    co_return common::utf8OrEmpty(std::move(run.standardOutput));
}

boost::asio::awaitable<Result<std::vector<std::string>>> listShortcuts(const ScriptTools& tools) {
    common::ChildCommand command{tools.shortcuts, {"list"}, std::nullopt, std::nullopt};
    auto run = co_await common::runChild(std::move(command));
    if (!run.started()) co_return AgentError{ErrorCode::shortcutFailed, startFailure(tools.shortcuts, run)};
    if (run.exitStatus != 0) co_return exitFailure(run, /*withOutput=*/false);
    co_return parseShortcutList(common::utf8OrEmpty(std::move(run.standardOutput)));
}

std::vector<std::string> parseShortcutList(std::string_view output) {
    std::vector<std::string> names;
    while (!output.empty()) {
        const std::size_t end = std::min(output.find('\n'), output.size());
        const std::string_view name = common::trimWhitespaceAndNewlines(output.substr(0, end));
        if (!name.empty()) names.emplace_back(name);
        output.remove_prefix(std::min(end + 1, output.size()));
    }
    return names;
}

}  // namespace pavo::agent
