#include "agent/scripts/scripts_routes.hpp"

#include "agent/consent/consent_gate.hpp"
#include "agent/scripts/apple_script.hpp"
#include "agent/scripts/script_requests.hpp"
#include "agent/scripts/shortcuts.hpp"
#include "agent/server/replies.hpp"

namespace pavo::agent {

namespace {

namespace asio = boost::asio;
using http::HTTPRequest;
using Reply = Result<http::HTTPResponse>;

// The operator is asked before the body is read: a script can drive any application.
asio::awaitable<Reply> appleScript(const ScriptTools& tools, const ConsentGate& gate,
                                   const HTTPRequest& request) {
    if (auto refusal = co_await gate.checkDestructiveConsent(request, "run_applescript", "System"))
        co_return *refusal;
    auto script = decodeAppleScriptRequest(request.body);
    if (!script) co_return script.error();
    const auto output = co_await runAppleScript(tools, std::move(*script));
    if (!output) co_return output.error();
    co_return jsonResponse(200, {{"ok", true}, {"output", *output}});
}

asio::awaitable<Reply> shortcut(const ScriptTools& tools, const ConsentGate& gate,
                                const HTTPRequest& request) {
    auto body = decodeShortcutRequest(request.body);
    if (!body) co_return body.error();
    if (auto refusal = co_await gate.checkDestructiveConsent(request, "run_shortcut", body->name))
        co_return *refusal;
    const auto output = co_await runShortcut(tools, std::move(*body));
    if (!output) co_return output.error();
    co_return jsonResponse(200, {{"ok", true}, {"output", *output}});
}

asio::awaitable<Reply> shortcutList(const ScriptTools& tools) {
    const auto names = co_await listShortcuts(tools);
    if (!names) co_return names.error();
    co_return jsonResponse(200, {{"ok", true}, {"shortcuts", *names}});
}

}  // namespace

ScriptRoutes scriptRoutes(const ScriptTools& tools, const ConsentGate& gate) {
    return ScriptRoutes{
        .appleScript = [&tools, &gate](const HTTPRequest& r) { return appleScript(tools, gate, r); },
        .shortcut = [&tools, &gate](const HTTPRequest& r) { return shortcut(tools, gate, r); },
        .shortcutList = [&tools](const HTTPRequest&) { return shortcutList(tools); },
    };
}

}  // namespace pavo::agent
