#pragma once

#include <string>
#include <string_view>

namespace pavo::mcp {

// Standard alphabet with padding, no line breaks: what MCP image content and the agent's imageBase64 take.
std::string base64Encode(std::string_view bytes);

}  // namespace pavo::mcp
