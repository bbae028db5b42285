#pragma once
// The agent's front door: the health check, the token check, the ordered route table and the mapping
// of handler failures to JSON error replies. Sockets are the listener's business, not this class's.

#include <boost/asio/awaitable.hpp>

#include <functional>
#include <string>
#include <vector>

#include "http/message.hpp"

namespace pavo::agent {

// The request outlives the handler's coroutine: the dispatcher owns it while it awaits.
using RouteHandler = std::function<boost::asio::awaitable<http::HTTPResponse>(const http::HTTPRequest&)>;

struct Route {
    std::string method;
    std::string path;
    RouteHandler handler;
};

inline constexpr const char* kVersion = "0.2.0";

class HTTPServer {
public:
    explicit HTTPServer(std::string token);

    // Routes are matched in the order they were added; the table is filled before serving starts.
    void addRoute(std::string method, std::string path, RouteHandler handler);
    const std::vector<Route>& routes() const { return routes_; }

    bool verifyToken(const http::HTTPRequest& request) const;

    // Never throws: every failure becomes a JSON error reply.
    boost::asio::awaitable<http::HTTPResponse> dispatch(http::HTTPRequest request) const;

private:
    std::string token_;
    std::vector<Route> routes_;
};

}  // namespace pavo::agent
