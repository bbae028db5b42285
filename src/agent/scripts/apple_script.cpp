#include "agent/scripts/apple_script.hpp"

#include "common/text.hpp"

namespace pavo::agent {

boost::asio::awaitable<OsaResult> runOsa(const ScriptTools& tools, std::string script) {
    std::vector<std::string> arguments{"-"};  // named: gcc 12 mishandles temporaries in co_await operands
    auto run = co_await runOsascript(tools, std::move(arguments), std::move(script));
    if (!run.started()) co_return OsaResult{-1, "", startFailure(tools.osascript, run)};
    co_return OsaResult{terminationStatus(run), common::utf8OrEmpty(std::move(run.standardOutput)),
                        common::utf8OrEmpty(std::move(run.standardError))};
}

boost::asio::awaitable<Result<std::string>> runAppleScript(const ScriptTools& tools, std::string script) {
    std::vector<std::string> arguments{"-"};
    auto run = co_await runOsascript(tools, std::move(arguments), std::move(script));
    if (!run.started())
        co_return AgentError{ErrorCode::appleScriptFailed, startFailure(tools.osascript, run)};
    std::string output = common::utf8OrEmpty(std::move(run.standardOutput));
    if (run.exitStatus == 0) co_return std::string(common::trimWhitespaceAndNewlines(output));
    co_return AgentError{ErrorCode::appleScriptFailed,
                         {},
                         {},
                         {{"exitCode", terminationStatus(run)},
                          {"stderr", common::utf8OrEmpty(std::move(run.standardError))},
                          {"stdout", std::move(output)}}};
}

}  // namespace pavo::agent
