#pragma once
// The files of a systemd user service: its unit and the environment file that alone holds its token.

#include <functional>
#include <optional>
#include <string>

#include "platform/service_installer.hpp"

namespace pavo::platform::systemd_user {

using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// $XDG_CONFIG_HOME when it is an absolute path, else <home>/.config.
std::string configHome(const EnvironmentLookup& getenv, const std::string& homeDirectory);

std::string unitName(const std::string& program);  // "<program>.service"
std::string unitPath(const std::string& configHome, const std::string& program);
std::string environmentFilePath(const std::string& configHome, const std::string& program);

// Started as `<executable> --port <port>` whenever the user's manager starts (default.target), restarted
// whenever it exits, ordered after `startsAfter`'s unit, with the token from `environmentFile`.
// Throws std::invalid_argument for a path a unit file cannot hold (not UTF-8, control characters, or
// quotes and backslashes in the executable's path).
std::string unitText(const ServiceDefinition& service, const std::string& environmentFile);

// `<tokenVariable>="<token>"`, quoted so that the token comes back unchanged whatever it holds.
// Throws std::invalid_argument for a token that is not UTF-8.
std::string environmentFileText(const ServiceDefinition& service);

}  // namespace pavo::platform::systemd_user
