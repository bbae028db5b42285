#pragma once
// Runs tool calls: each one is its own coroutine on the I/O thread, which tells the overlay what it does,
// asks the agent (or captures the screen), and finishes with the tool result. Cancelling a call closes its
// agent connection through the coroutine's cancellation slot; the call is then audited as cancelled and
// never answered.

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>

#include <cstddef>
#include <string>

#include "mcp/agent_client.hpp"
#include "mcp/dispatcher.hpp"
#include "mcp/element_frames.hpp"
#include "mcp/overlay_link.hpp"
#include "mcp/tool_result.hpp"
#include "platform/screen_capture.hpp"

namespace pavo::mcp {

struct RunnerParts {
    boost::asio::any_io_executor io;
    boost::asio::any_io_executor worker;  // for work that blocks: capturing and encoding pictures
    const AgentClient& agent;
    OverlayLink& overlay;
    platform::ScreenCapture* capture = nullptr;  // none: the screenshot tool reports that it cannot capture
    std::string clientId;                        // this server's "client_id" in the overlay's agent states
    std::string auditSalt;
};

class ToolRunner {
  public:
    explicit ToolRunner(RunnerParts parts) : parts_(std::move(parts)) {}

    CancelCall start(ToolCall call, FinishCall finish);

    std::size_t running() const { return running_; }

  private:
    struct Output {
        ToolResultText result;
        CallOutcome outcome;
    };

    boost::asio::awaitable<Output> run(ToolCall call);
    boost::asio::awaitable<Output> screenshot(nlohmann::json arguments);
    void ended(const ToolCall& call, const CallOutcome& outcome, std::int64_t elapsedMs);

    RunnerParts parts_;
    ElementFrames frames_;
    std::size_t running_ = 0;
};

}  // namespace pavo::mcp
