#pragma once
// Where pavo-overlay publishes its port and token and pavo-agent reads them. Both programs take the
// path from here: if they drifted apart, the agent would silently run with no consent gate.

#include <string>

namespace pavo::common {

// <home>/Library/Application Support/Vexlo/Pavo
inline std::string overlaySocketDirectory(const std::string& homeDirectory) {
    return homeDirectory + "/Library/Application Support/Vexlo/Pavo";
}

// overlay.sock: an ordinary file despite its name, one compact JSON object {"port":…,"token":…}.
inline std::string overlaySocketPath(const std::string& homeDirectory) {
    return overlaySocketDirectory(homeDirectory) + "/overlay.sock";
}

}  // namespace pavo::common
