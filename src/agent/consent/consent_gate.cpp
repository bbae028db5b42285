#include "agent/consent/consent_gate.hpp"

#include "common/secure_compare.hpp"
#include "common/uuid.hpp"

namespace pavo::agent {

namespace {

// The caller may vouch for the operator's consent by presenting the overlay's own token.
bool consentGivenByCaller(const http::HTTPRequest& request, const std::string& overlayToken) {
    const std::string* consent = request.header("x-pavo-mcp-consent");
    if (!consent || *consent != "granted") return false;
    // A wrong x-pavo-overlay-token does not fall back to x-overlay-token.
    const std::string* presented = request.header("x-pavo-overlay-token");
    if (!presented) presented = request.header("x-overlay-token");
    // An empty token proves nothing: an empty header would match it.
    return presented && !overlayToken.empty() && common::constantTimeEquals(*presented, overlayToken);
}

}  // namespace

boost::asio::awaitable<std::optional<AgentError>> ConsentGate::checkDestructiveConsent(
    const http::HTTPRequest& request, std::string_view action, std::optional<std::string_view> target) const {
    if (!overlay_) co_return std::nullopt;
    if (consentGivenByCaller(request, overlay_->token())) co_return std::nullopt;

    // A fresh id for every prompt, so an answer given to an earlier one can never admit this request.
    const std::string id = common::randomUUID();
    nlohmann::json::object_t payload{{"id", id}, {"action", action}};
    if (target) payload.emplace("target", *target);
    std::string type = "destructive_prompt";  // named: gcc 12 mishandles temporaries in co_await operands
    co_await overlay_->emitEvent(std::move(type), std::move(payload));
    if (co_await overlay_->checkConsent(id)) co_return std::nullopt;
    co_return AgentError{ErrorCode::consentDenied};
}

}  // namespace pavo::agent
