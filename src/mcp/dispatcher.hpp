#pragma once
// One MCP session over one stream: the lifecycle (initialize, version negotiation, initialized), ping,
// tools/list, tools/call and cancellation. It answers everything it can at once and hands each tool call
// to `start`, which finishes it later (or never, once it is cancelled). It knows no I/O.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "mcp/json_rpc.hpp"
#include "mcp/tool_catalog.hpp"
#include "mcp/tool_result.hpp"

namespace pavo::mcp {

struct ToolCall {
    const ToolDefinition* tool = nullptr;
    nlohmann::json arguments;  // an object that fits the tool's schema
};

// Called once with the CallToolResult (as JSON text); a call that was cancelled may still call it, and is not
// answered.
using FinishCall = std::function<void(ToolResultText result)>;
using CancelCall = std::function<void()>;
using StartCall = std::function<CancelCall(ToolCall call, FinishCall finish)>;

class Dispatcher {
  public:
    // `send` gets each outgoing message as one line without its newline.
    Dispatcher(std::function<void(std::string)> send, StartCall start);

    void onLine(std::string_view line);
    void onOverlong(std::size_t limit);

    // The client went away: every call still running is cancelled and will not be answered.
    void cancelAll();

    const std::optional<std::string>& revision() const { return revision_; }
    std::size_t callsInFlight() const { return inFlight_.size(); }

  private:
    void handle(const rpc::Request& request);
    void handleNotification(const rpc::Notification& notification);
    void initialize(const rpc::Request& request);
    void callTool(const rpc::Request& request);
    void cancel(const nlohmann::json& params);
    void replyError(const nlohmann::json& id, int code, const std::string& message);

    struct InFlight {
        std::uint64_t serial = 0;
        CancelCall cancel;
    };

    std::function<void(std::string)> send_;
    StartCall start_;
    std::optional<std::string> revision_;  // set once initialize has been answered
    std::map<std::string, InFlight> inFlight_;
    std::uint64_t nextSerial_ = 0;
};

}  // namespace pavo::mcp
