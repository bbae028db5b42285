#pragma once
// The tools pavo-mcp offers: one per agent route, plus the screenshot it takes itself. Each has the input
// schema it is checked against, a description an assistant can act on, and the agent request it becomes.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace pavo::mcp {

struct AgentRoute {
    std::string method;  // "POST" sends the arguments as the JSON body; "GET" sends none
    std::string path;
};

struct ToolDefinition {
    std::string name;
    std::string title;
    std::string description;
    nlohmann::json inputSchema;
    bool readOnly = true;
    std::optional<AgentRoute> route;  // none: the tool is done here (the screenshot)
};

const std::vector<ToolDefinition>& toolCatalog();

const ToolDefinition* findTool(const std::string& name);

// The "tools" array of a tools/list result.
nlohmann::json toolListing();

}  // namespace pavo::mcp
