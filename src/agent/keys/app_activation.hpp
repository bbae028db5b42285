#pragma once
// Bringing the application keystrokes are meant for to the front: by bundle identifier (on Linux a
// desktop-entry id), launching it when it is installed but not running, or by name.

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <optional>
#include <string>

#include "agent/scripts/script_tools.hpp"
#include "platform/desktop.hpp"

namespace pavo::agent {

struct Activation {
    bool ok = true;
    std::optional<std::string> resolvedBundle = std::nullopt;
};

// How long a running application activated by identifier or name is given to take the keyboard focus.
inline constexpr std::chrono::milliseconds kActivationSettle{250};

// By a non-empty `bundleId`: a running application is brought forward (ok whether or not it came), an
// installed one is launched (ok when it started), anything else fails. Otherwise by a non-empty
// `appName`: the workspace's application of that name is brought forward, and a name the workspace does
// not know goes to the script runner (failing when it cannot start or the script fails). Neither: ok.
boost::asio::awaitable<Activation> activateApp(platform::Desktop& desktop, const ScriptTools& tools,
                                               const std::optional<std::string>& bundleId,
                                               const std::optional<std::string>& appName);

}  // namespace pavo::agent
