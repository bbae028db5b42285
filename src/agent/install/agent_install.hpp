#pragma once
// `pavo-agent install`: wait for accessibility, then install the agent as the user's service with its
// port and token, ordered after the overlay's so that it finds overlay.sock.

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "agent/install/accessibility_gate.hpp"
#include "platform/service_installer.hpp"

namespace pavo::agent {

struct AgentInstallRequest {
    std::int64_t port = 0;
    std::string token;  // empty: the token file's trimmed content
    std::string tokenFile;
    std::optional<std::string> executablePath;  // empty: the running program
};

// What installing needs from outside the installer, so tests can stand in for each.
struct InstallEnvironment {
    std::function<std::optional<std::string>(const std::string& path)> readFile;
    std::optional<std::string> runningExecutable;
    AccessibilityProbe accessibility;
    WaitClock clock;
};

// The real ones: files on disk, /proc/self/exe, `<this program> permissions` run afresh for every check
// (a process connects to the accessibility bus once, so only a new one sees a bus started later), and
// the steady clock.
InstallEnvironment systemInstallEnvironment();

// Throws std::exception (reported as a fatal error) when the token file cannot be read, accessibility is
// never granted, or the installer fails.
void installAgent(const AgentInstallRequest& request, platform::ServiceInstaller& installer,
                  const InstallEnvironment& environment, std::ostream& out);

}  // namespace pavo::agent
