#pragma once
// The destructive-action consent gate, and the two shapes of a route that passes through it: decode the
// body, ask, act; or ask before anything reads the body, then act.

#include <boost/asio/awaitable.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "agent/http_server.hpp"
#include "agent/json_response.hpp"
#include "agent/overlay_client.hpp"
#include "http/message.hpp"

namespace pavo::agent {

// Absent when no overlay was found at start-up: then nothing is gated.
using OverlayClientPtr = std::shared_ptr<const OverlayClient>;

// Nothing when the action may run (no overlay, consent given by the caller, or granted by the operator in
// time); otherwise the reply to send instead of running it, 403 "consent_denied". `request` is read before
// the first suspension only.
boost::asio::awaitable<std::optional<http::HTTPResponse>> checkDestructiveConsent(
    const http::HTTPRequest& request, OverlayClientPtr overlay, std::string action,
    std::optional<std::string> target);

// A route that asks before anything reads its body; its handler decodes the body once consent is given.
RouteHandler gatedRoute(OverlayClientPtr overlay, std::string action, std::optional<std::string> target,
                        RouteHandler handler);

// A route that decodes its body first. A body that does not decode is answered with `undecodable` at once
// and the operator is never asked; a decoded one names the prompt's target.
template <typename Body>
struct DecodedGatedRoute {
    std::string action;
    std::function<std::optional<Body>(const http::HTTPRequest&)> decode;
    std::function<std::optional<std::string>(const Body&)> target;
    std::function<boost::asio::awaitable<http::HTTPResponse>(const http::HTTPRequest&, const Body&)> handler;
    http::HTTPResponse undecodable = errorResponse(400, "bad_request");
};

template <typename Body>
boost::asio::awaitable<http::HTTPResponse> runDecodedGatedRoute(
    const http::HTTPRequest& request, OverlayClientPtr overlay,
    std::shared_ptr<const DecodedGatedRoute<Body>> route) {
    const std::optional<Body> body = route->decode(request);
    if (!body) co_return route->undecodable;
    std::optional<std::string> target = route->target ? route->target(*body) : std::nullopt;
    auto refusal =
        co_await checkDestructiveConsent(request, std::move(overlay), route->action, std::move(target));
    if (refusal) co_return std::move(*refusal);
    co_return co_await route->handler(request, *body);
}

template <typename Body>
RouteHandler gatedRoute(OverlayClientPtr overlay, DecodedGatedRoute<Body> route) {
    auto shared = std::make_shared<const DecodedGatedRoute<Body>>(std::move(route));
    return [overlay = std::move(overlay), shared = std::move(shared)](const http::HTTPRequest& request) {
        return runDecodedGatedRoute<Body>(request, overlay, shared);
    };
}

}  // namespace pavo::agent
