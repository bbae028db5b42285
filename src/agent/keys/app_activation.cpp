#include "agent/keys/app_activation.hpp"

#include "agent/keys/terminal_scripts.hpp"
#include "agent/server/desktop_waits.hpp"
#include "agent/server/on_desktop.hpp"

namespace pavo::agent {

namespace {

namespace asio = boost::asio;

asio::awaitable<Activation> byBundleId(platform::Desktop& desktop, const std::string& bundleId) {
    const auto running = co_await onDesktop(
        desktop, [&desktop, &bundleId] { return desktop.workspace().runningApplication(bundleId); });
    if (running) {
        co_await activateApplication(desktop, running->pid);
        co_await pause(kActivationSettle);
        co_return Activation{true, bundleId};
    }
    const bool installed = co_await onDesktop(
        desktop, [&desktop, &bundleId] { return desktop.workspace().isInstalled(bundleId); });
    if (!installed) co_return Activation{false, bundleId};
    const auto launched = co_await launchApplication(desktop, bundleId);
    co_return Activation{launched.has_value(), bundleId};
}

asio::awaitable<Activation> byName(platform::Desktop& desktop, const ScriptTools& tools,
                                   const std::string& name) {
    const auto named =
        co_await onDesktop(desktop, [&desktop, &name] { return desktop.workspace().applicationNamed(name); });
    bool ok = false;
    if (named) {
        ok = co_await activateApplication(desktop, named->pid);
    } else {
        std::vector<std::string> arguments{"-e", activationScript(name)};
        const auto run = co_await runOsascript(tools, std::move(arguments), std::nullopt);
        if (!run.started()) co_return Activation{false};
        ok = run.exitStatus == 0;
    }
    co_await pause(kActivationSettle);
    co_return Activation{ok};
}

}  // namespace

asio::awaitable<Activation> activateApp(platform::Desktop& desktop, const ScriptTools& tools,
                                        const std::optional<std::string>& bundleId,
                                        const std::optional<std::string>& appName) {
    if (bundleId && !bundleId->empty()) co_return co_await byBundleId(desktop, *bundleId);
    if (appName && !appName->empty()) co_return co_await byName(desktop, tools, *appName);
    co_return Activation{};
}

}  // namespace pavo::agent
