#pragma once
// The AppleScript and Shortcuts routes.

#include "agent/server/dispatcher.hpp"

namespace pavo::agent {

struct ScriptTools;
class ConsentGate;

struct ScriptRoutes {
    RouteHandler appleScript, shortcut, shortcutList;
};

// The handlers refer to `tools` and `gate`, which must outlive them.
ScriptRoutes scriptRoutes(const ScriptTools& tools, const ConsentGate& gate);

}  // namespace pavo::agent
