#include "agent/consent_gate.hpp"

#include <openssl/crypto.h>

#include "common/uuid.hpp"

namespace pavo::agent {

namespace asio = boost::asio;

namespace {

// The caller may vouch for the operator's consent by presenting the overlay's own token.
bool consentGivenByCaller(const http::HTTPRequest& request, const std::string& overlayToken) {
    const std::string* consent = request.header("x-pavo-mcp-consent");
    if (!consent || *consent != "granted") return false;
    // A wrong x-pavo-overlay-token does not fall back to x-overlay-token.
    const std::string* presented = request.header("x-pavo-overlay-token");
    if (!presented) presented = request.header("x-overlay-token");
    // An empty token proves nothing: an empty header would match it.
    if (!presented || overlayToken.empty() || presented->size() != overlayToken.size()) return false;
    return CRYPTO_memcmp(presented->data(), overlayToken.data(), overlayToken.size()) == 0;
}

asio::awaitable<http::HTTPResponse> runGatedRoute(const http::HTTPRequest& request, OverlayClientPtr overlay,
                                                  std::string action, std::optional<std::string> target,
                                                  std::shared_ptr<const RouteHandler> handler) {
    auto refusal =
        co_await checkDestructiveConsent(request, std::move(overlay), std::move(action), std::move(target));
    if (refusal) co_return std::move(*refusal);
    co_return co_await (*handler)(request);
}

}  // namespace

asio::awaitable<std::optional<http::HTTPResponse>> checkDestructiveConsent(
    const http::HTTPRequest& request, OverlayClientPtr overlay, std::string action,
    std::optional<std::string> target) {
    if (!overlay) co_return std::nullopt;
    if (consentGivenByCaller(request, overlay->token())) co_return std::nullopt;

    // A fresh id for every prompt, so an answer given to an earlier one can never admit this request.
    const std::string id = common::randomUUID();
    nlohmann::json::object_t payload{{"id", id}, {"action", std::move(action)}};
    if (target) payload.emplace("target", std::move(*target));
    std::string type = "destructive_prompt";  // named: gcc 12 mishandles temporaries in co_await operands
    co_await overlay->emitEvent(std::move(type), std::move(payload));
    if (co_await overlay->checkConsent(id)) co_return std::nullopt;
    co_return errorResponse(403, "consent_denied");
}

RouteHandler gatedRoute(OverlayClientPtr overlay, std::string action, std::optional<std::string> target,
                        RouteHandler handler) {
    auto shared = std::make_shared<const RouteHandler>(std::move(handler));
    return [overlay = std::move(overlay), action = std::move(action), target = std::move(target),
            shared = std::move(shared)](const http::HTTPRequest& request) {
        return runGatedRoute(request, overlay, action, target, shared);
    };
}

}  // namespace pavo::agent
