#pragma once
// systemd user services: a unit under $XDG_CONFIG_HOME/systemd/user, its token in an owner-only
// environment file, then `systemctl --user daemon-reload`, `enable` and `restart`.

#include <memory>
#include <string>

#include "platform/service_installer.hpp"

namespace pavo::platform::systemd_user {

// `systemctl` without a slash is looked up in PATH when it runs.
std::unique_ptr<ServiceInstaller> makeSystemdUserInstaller(const std::string& configHome,
                                                           const std::string& systemctl = "systemctl");

}  // namespace pavo::platform::systemd_user
