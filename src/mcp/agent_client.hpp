#pragma once
// pavo-mcp's requests to pavo-agent. They carry the agent's token and nothing else: never the pre-grant
// headers with which a caller may approve an action in the operator's place, so every action goes through
// the operator's consent in the overlay.

#include <boost/asio/awaitable.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "mcp/tool_catalog.hpp"
#include "mcp/tool_result.hpp"

namespace pavo::mcp {

class AgentClient {
  public:
    AgentClient(std::uint16_t port, std::string token) : port_(port), token_(std::move(token)) {}

    std::uint16_t port() const { return port_; }

    // One request on a fresh loopback connection; nothing when the agent cannot be reached, does not
    // answer within `timeout`, or the awaiting coroutine is cancelled (its connection is then closed).
    // Parameters are taken by value: a coroutine must not hold references to its caller's temporaries.
    boost::asio::awaitable<std::optional<AgentAnswer>> send(AgentRoute route, nlohmann::json arguments,
                                                            std::chrono::milliseconds timeout) const;

  private:
    std::uint16_t port_;
    std::string token_;
};

// How long a tool's request may take: a shortcut gets its own limit and a margin, everything else (typing
// a long text key by key, a consent dialog) a generous bound that a cancellation can always cut short.
std::chrono::milliseconds requestTimeout(const std::string& tool, const nlohmann::json& arguments);

}  // namespace pavo::mcp
