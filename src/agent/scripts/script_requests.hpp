#pragma once
// The script and shortcut routes' request bodies. A body that does not decode is "bad_request" with the
// message "Invalid JSON body"; null counts as absent, unknown keys are ignored, an empty body never decodes.

#include <string>
#include <string_view>

#include "agent/scripts/shortcuts.hpp"
#include "agent/server/agent_error.hpp"

namespace pavo::agent {

// The source of {"script": string}.
Result<std::string> decodeAppleScriptRequest(std::string_view body);

// {"name": string, "input"?: string, "timeoutMs"?: integer}
Result<ShortcutRequest> decodeShortcutRequest(std::string_view body);

}  // namespace pavo::agent
