#include "agent/http_server.hpp"

#include <openssl/crypto.h>

#include "agent/http_error.hpp"
#include "agent/json_response.hpp"

namespace pavo::agent {

namespace {

const http::HTTPResponse& healthResponse() {
    static const http::HTTPResponse response = jsonResponse(200, {{"ok", true}, {"version", kVersion}});
    return response;
}

http::HTTPResponse replyForHTTPError(HTTPErrorKind kind) {
    switch (kind) {
        case HTTPErrorKind::invalidRequest: return errorResponse(500, "internal_error");
        case HTTPErrorKind::notFound: return errorResponse(404, "not_found");
        case HTTPErrorKind::methodNotAllowed: return errorResponse(405, "method_not_allowed");
        case HTTPErrorKind::badRequest: return errorResponse(400, "bad_request");
        case HTTPErrorKind::unauthorized: return errorResponse(401, "unauthorized");
    }
    return errorResponse(500, "internal_error");
}

}  // namespace

HTTPServer::HTTPServer(std::string token) : token_(std::move(token)) {}

void HTTPServer::addRoute(std::string method, std::string path, RouteHandler handler) {
    routes_.push_back(Route{std::move(method), std::move(path), std::move(handler)});
}

bool HTTPServer::verifyToken(const http::HTTPRequest& request) const {
    const std::string* presented = request.header("x-pavo-token");
    if (!presented || presented->size() != token_.size()) return false;
    // Constant time, so response timing does not reveal how much of a guess was right.
    return CRYPTO_memcmp(presented->data(), token_.data(), token_.size()) == 0;
}

boost::asio::awaitable<http::HTTPResponse> HTTPServer::dispatch(http::HTTPRequest request) const {
    if (request.method == "GET" && request.path == "/health") co_return healthResponse();
    if (!verifyToken(request)) co_return errorResponse(401, "unauthorized");

    for (const Route& route : routes_) {
        if (route.method != request.method || route.path != request.path) continue;
        try {
            co_return co_await route.handler(request);
        } catch (const HTTPError& error) {
            co_return replyForHTTPError(error.kind());
        } catch (const std::exception& error) {
            co_return errorResponse(500, "internal_error", std::string(error.what()));
        } catch (...) {
            co_return errorResponse(500, "internal_error", std::string("unknown error"));
        }
    }
    co_return errorResponse(404, "not_found");
}

}  // namespace pavo::agent
