#pragma once
// Turns the agent's answer to a tool's request into the MCP tool result: the reply as structured content,
// a short text for the model (followed by the same JSON, for clients that read only text), and isError
// with the agent's error body when the agent refused or failed.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

#include "mcp/tool_catalog.hpp"

namespace pavo::mcp {

struct AgentAnswer {
    int status = 0;
    std::string body;
};

// What the audit log records: "ok", "error" or "denied", and why when it was not ok.
struct CallOutcome {
    std::string result = "ok";
    std::string reason;
};

// A CallToolResult as the JSON text that goes to the client (one line).
using ToolResultText = std::string;

struct InterpretedAnswer {
    ToolResultText toolResult;
    std::string message;  // the text the model reads, for callers that put it beside something else
    CallOutcome outcome;
    nlohmann::json reply;  // the agent's JSON body; null when it had none
    bool succeeded = false;
};

// `answer` is nothing when the agent could not be reached or did not answer in time.
InterpretedAnswer interpretAnswer(const ToolDefinition& tool, const std::optional<AgentAnswer>& answer,
                                  std::uint16_t agentPort);

// A result with only a text, for failures that never reached the agent.
ToolResultText errorResult(const std::string& text, const nlohmann::json& structured = nullptr);

// Any result built as a value.
ToolResultText resultText(const nlohmann::json& result);

}  // namespace pavo::mcp
