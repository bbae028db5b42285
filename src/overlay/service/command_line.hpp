#pragma once
// pavo-overlay's command line and environment, read into one record. Pure: the environment comes in as
// a lookup function, so tests need not touch the process environment.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "overlay/service/consent_manager.hpp"

namespace pavo::overlay {

struct CLIConfig {
    std::int64_t port = 47825;
    std::string token;
    ConsentMode consent = ConsentMode::off;
    bool showMenuBar = true;
    bool shouldInstall = false;
};

using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// Never fails and prints nothing: unknown arguments and unusable values are ignored.
// `arguments` excludes the program name.
CLIConfig parseCLI(const std::vector<std::string>& arguments, const EnvironmentLookup& environment);

// The port must fit the listener; the parser accepts any 64-bit integer.
bool isUsablePort(std::int64_t port);

}  // namespace pavo::overlay
