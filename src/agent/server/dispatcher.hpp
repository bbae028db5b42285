#pragma once
// The agent's front door: the health check, the token check (on a request's head, before its body is
// read), the bounds on bodies, the ordered route table, and the mapping of every failure to a reply.
// Sockets are the listener's business.

#include <boost/asio/awaitable.hpp>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/server/agent_error.hpp"
#include "http/message.hpp"
#include "http/server.hpp"

namespace pavo::agent {

// A handler answers with a reply or an expected failure. The request outlives the handler's coroutine:
// the dispatcher owns it while it awaits.
using RouteHandler =
    std::function<boost::asio::awaitable<Result<http::HTTPResponse>>(const http::HTTPRequest&)>;

struct Route {
    std::string method;
    std::string path;
    RouteHandler handler;
};

// Room for a base64 screenshot of a 5K display.
inline constexpr std::size_t kMaxBodyBytes = std::size_t{64} << 20;
// A refused request's body up to this size is read and dropped, so its connection stays usable.
inline constexpr std::size_t kMaxDrainedBodyBytes = std::size_t{1} << 20;

class Dispatcher {
  public:
    explicit Dispatcher(std::string token);

    // Routes are matched in the order they were added; the table is filled before serving starts.
    void addRoute(std::string method, std::string path, RouteHandler handler);

    // A request that lacks the token (401) or declares a body over kMaxBodyBytes (413), judged from its
    // head alone; nothing for one that may go on.
    std::optional<http::HeadRefusal> checkHead(const http::HTTPRequest& head, std::size_t bodyLength) const;

    // Never throws: a failure of any kind becomes a JSON error reply.
    boost::asio::awaitable<http::HTTPResponse> dispatch(http::HTTPRequest request) const;

    // What a listener serves: the head check and dispatch of this object, which must outlive it.
    http::Service service() const;

  private:
    static bool isHealthCheck(const http::HTTPRequest& request);
    bool verifyToken(const http::HTTPRequest& request) const;

    std::string token_;
    std::vector<Route> routes_;
};

}  // namespace pavo::agent
