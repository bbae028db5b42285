#pragma once
// Per-user launch agents: a property list under ~/Library/LaunchAgents loaded with launchctl.

#include <memory>
#include <string>

#include "common/launch_agent_plist.hpp"
#include "platform/service_installer.hpp"

namespace pavo::platform::launchd {

inline constexpr const char* kLaunchctl = "/bin/launchctl";

// Whether this system has launchctl to load launch agents with.
bool launchctlAvailable();

// "com.vexlo.<program>", the output files under /tmp and the token as the one environment entry.
common::LaunchAgentDefinition launchAgentDefinition(const ServiceDefinition& service);

std::unique_ptr<ServiceInstaller> makeLaunchdInstaller(const std::string& homeDirectory,
                                                       const std::string& launchctl = kLaunchctl);

}  // namespace pavo::platform::launchd
