#include "agent/server/dispatcher.hpp"

#include "agent/server/replies.hpp"
#include "common/secure_compare.hpp"
#include "common/version.hpp"

namespace pavo::agent {

Dispatcher::Dispatcher(std::string token) : token_(std::move(token)) {}

void Dispatcher::addRoute(std::string method, std::string path, RouteHandler handler) {
    routes_.push_back(Route{std::move(method), std::move(path), std::move(handler)});
}

bool Dispatcher::isHealthCheck(const http::HTTPRequest& request) {
    return request.method == "GET" && request.path == "/health";
}

bool Dispatcher::verifyToken(const http::HTTPRequest& request) const {
    const std::string* presented = request.header("x-pavo-token");
    return presented && common::constantTimeEquals(*presented, token_);
}

std::optional<http::HeadRefusal> Dispatcher::checkHead(const http::HTTPRequest& head,
                                                       std::size_t bodyLength) const {
    if (!isHealthCheck(head) && !verifyToken(head)) {
        // Nobody without the token gets a byte buffered: a large body closes the connection instead.
        return http::HeadRefusal{errorReply({ErrorCode::unauthorized}), bodyLength <= kMaxDrainedBodyBytes};
    }
    if (bodyLength > kMaxBodyBytes) {
        return http::HeadRefusal{errorReply({ErrorCode::payloadTooLarge}), false};
    }
    return std::nullopt;
}

boost::asio::awaitable<http::HTTPResponse> Dispatcher::dispatch(http::HTTPRequest request) const {
    if (isHealthCheck(request)) co_return jsonResponse(200, {{"ok", true}, {"version", common::kVersion}});
    if (!verifyToken(request)) co_return errorReply({ErrorCode::unauthorized});

    for (const Route& route : routes_) {
        if (route.method != request.method || route.path != request.path) continue;
        try {
            Result<http::HTTPResponse> reply = co_await route.handler(request);
            co_return reply ? std::move(*reply) : errorReply(reply.error());
        } catch (const std::exception& error) {
            co_return errorReply({ErrorCode::internal, error.what()});
        } catch (...) {
            co_return errorReply({ErrorCode::internal, "unknown error"});
        }
    }
    co_return errorReply({ErrorCode::notFound});
}

http::Service Dispatcher::service() const {
    return http::Service{
        [this](http::HTTPRequest request) { return dispatch(std::move(request)); },
        [this](const http::HTTPRequest& head, std::size_t bodyLength) { return checkHead(head, bodyLength); },
    };
}

}  // namespace pavo::agent
