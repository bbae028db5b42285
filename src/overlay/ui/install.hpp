#pragma once
// `pavo-overlay install`: the overlay as the user's service, started at log-in with the configured port
// and token. Unlike the agent's it waits for no permission and has no executable override.

#include <ostream>

#include "overlay/service/command_line.hpp"
#include "platform/service_installer.hpp"

namespace pavo::overlay {

// Prints the installer's lines and the outcome; returns the exit status (0 installed, 1 failed).
int installOverlay(const CLIConfig& config, platform::ServiceInstaller& installer, std::ostream& out);

}  // namespace pavo::overlay
