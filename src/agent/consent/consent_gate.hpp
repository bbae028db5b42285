#pragma once
// The destructive-action consent gate: before an action that changes the machine, the operator is asked
// through the overlay, unless the caller vouches for their consent with the overlay's own token.

#include <boost/asio/awaitable.hpp>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "agent/consent/overlay_client.hpp"
#include "agent/server/agent_error.hpp"
#include "http/message.hpp"

namespace pavo::agent {

class ConsentGate {
  public:
    // Without an overlay (none was found at start-up) nothing is gated.
    explicit ConsentGate(std::shared_ptr<const OverlayClient> overlay) : overlay_(std::move(overlay)) {}

    // Nothing when the action may run (no overlay, consent given by the caller, or granted by the operator
    // in time); otherwise "consent_denied". `request` is read before the first suspension only.
    // The views are read before the first suspension only, so temporaries are never held across a wait.
    boost::asio::awaitable<std::optional<AgentError>> checkDestructiveConsent(
        const http::HTTPRequest& request, std::string_view action,
        std::optional<std::string_view> target) const;

  private:
    std::shared_ptr<const OverlayClient> overlay_;
};

}  // namespace pavo::agent
