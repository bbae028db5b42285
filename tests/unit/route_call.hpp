#pragma once
// Runs one route handler to completion in this thread, as the dispatcher would, and reads its JSON reply.

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <nlohmann/json.hpp>

#include <exception>
#include <optional>
#include <string>

#include "agent/server/dispatcher.hpp"
#include "agent/server/replies.hpp"

namespace pavo::agent {

struct RouteReply {
    int status = 0;
    nlohmann::json body;
};

inline RouteReply callRoute(const RouteHandler& route, std::string body,
                            std::map<std::string, std::string> headers = {}) {
    http::HTTPRequest request;
    request.method = "POST";
    request.body = std::move(body);
    request.headers = std::move(headers);
    boost::asio::io_context io;
    std::optional<Result<http::HTTPResponse>> result;
    std::exception_ptr failure;
    boost::asio::co_spawn(io, route(request), [&](std::exception_ptr e, Result<http::HTTPResponse> r) {
        failure = e;
        result = std::move(r);
    });
    io.run();
    if (failure) std::rethrow_exception(failure);
    const http::HTTPResponse response = *result ? **result : errorReply(result->error());
    return {response.status, nlohmann::json::parse(response.body)};
}

}  // namespace pavo::agent
