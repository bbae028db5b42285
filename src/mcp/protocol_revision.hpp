#pragma once
// The MCP revisions this server speaks and the rules that differ between them.

#include <array>
#include <string>
#include <string_view>

namespace pavo::mcp {

// Newest first.
inline constexpr std::array<std::string_view, 2> kSupportedRevisions{"2025-11-25", "2025-06-18"};

// The revision to answer `initialize` with: the client's when this server speaks it, else the newest one
// it speaks (the client then decides whether it can go on).
std::string negotiateRevision(std::string_view requested);

struct RevisionRules {
    // Arguments that do not fit a tool's schema: a tool result with isError (so that the model can correct
    // itself) from 2025-11-25 on, a JSON-RPC "invalid params" error before.
    bool argumentErrorsAsToolResults = true;
    // Neither revision has JSON-RPC batches (2025-03-26 had them; 2025-06-18 took them out again).
    bool batches = false;
};

RevisionRules rulesFor(std::string_view revision);

}  // namespace pavo::mcp
