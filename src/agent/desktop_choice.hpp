#pragma once
// Which desktop the agent drives, chosen once at start-up from the environment. Only the pavo-agent
// program links this, and with it the real Linux desktop.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/desktop.hpp"

namespace pavo::agent {

using EnvironmentLookup = std::function<std::optional<std::string>(const char*)>;

// VEXLO_PAVO_DESKTOP "simulated": the scene file named by VEXLO_PAVO_DESKTOP_SCENE (and, when set, a journal
// of everything done to it in VEXLO_PAVO_DESKTOP_JOURNAL). "linux" or unset: the real desktop (AT-SPI, X11).
// Throws std::runtime_error for any other value or an unusable scene.
std::unique_ptr<platform::Desktop> openDesktop(const EnvironmentLookup& getenv);

}  // namespace pavo::agent
