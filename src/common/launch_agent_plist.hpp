#pragma once
// The launch-agent property list a per-user launchd service is defined by, as the system's XML property
// list writer lays it out (version 1.0, keys sorted, tab indentation), so the file is the same byte for byte
// whichever way it was written.

#include <string>
#include <utility>
#include <vector>

namespace pavo::common {

struct LaunchAgentDefinition {
    std::string label;
    std::vector<std::string> programArguments;
    std::string standardOutPath;
    std::string standardErrorPath;
    std::vector<std::pair<std::string, std::string>> environmentVariables;
};

// RunAtLoad and KeepAlive are always true. Throws std::invalid_argument for text a property list cannot
// carry (not UTF-8, or control characters other than tab and line breaks).
std::string launchAgentPlist(const LaunchAgentDefinition& definition);

}  // namespace pavo::common
