#include "agent/routes.hpp"

#include <limits>
#include <stdexcept>

#include "agent/ax_actions.hpp"
#include "agent/ax_context.hpp"
#include "agent/ax_find.hpp"
#include "agent/ax_tree_endpoint.hpp"
#include "agent/batch_manager.hpp"
#include "agent/body_decoding.hpp"
#include "agent/consent_gate.hpp"
#include "agent/http_server.hpp"
#include "agent/json_response.hpp"

namespace pavo::agent {

namespace {

namespace asio = boost::asio;
using http::HTTPRequest;
using http::HTTPResponse;

asio::awaitable<HTTPResponse> treeRoute(AXContext& ax, const HTTPRequest& request) {
    auto fields = decodeIntegerFields(request.body);
    if (!fields) co_return errorResponse(400, "bad_request");
    std::optional<std::int32_t> rootPid;
    if (auto it = fields->find("root_pid"); it != fields->end() && it->second) {
        if (*it->second < std::numeric_limits<std::int32_t>::min() ||
            *it->second > std::numeric_limits<std::int32_t>::max()) {
            co_return errorResponse(400, "bad_request");
        }
        rootPid = static_cast<std::int32_t>(*it->second);
    }
    co_return co_await axTree(ax, rootPid, std::nullopt);
}

asio::awaitable<HTTPResponse> findRoute(AXContext& ax, const HTTPRequest& request) {
    AXQuery query;
    try {
        query = decodeAXQuery(request.body);
    } catch (const std::invalid_argument& error) {
        co_return errorResponse(400, "bad_request", std::string(error.what()));
    }
    auto batchId = query.batchId;
    co_return co_await axFind(ax, std::move(query), std::move(batchId));
}

// An element action: decode, ask the operator about that element, then act with the body's batch.
template <typename Body>
RouteHandler elementActionRoute(
    const RouteContext& context, std::string action, std::optional<Body> (*decode)(std::string_view),
    asio::awaitable<HTTPResponse> (*act)(AXContext&, Body, std::optional<std::string>)) {
    AXContext& ax = context.accessibility;
    DecodedGatedRoute<Body> route;
    route.action = std::move(action);
    route.decode = [decode](const HTTPRequest& request) { return decode(request.body); };
    route.target = [](const Body& body) -> std::optional<std::string> { return body.elementId; };
    route.handler = [&ax, act](const HTTPRequest&, const Body& body) { return act(ax, body, body.batchId); };
    return gatedRoute<Body>(context.overlay, std::move(route));
}

}  // namespace

void registerRoutes(HTTPServer& server, const RouteContext& context) {
    AXContext& ax = context.accessibility;
    server.addRoute("POST", "/ax/tree", [&ax](const HTTPRequest& r) { return treeRoute(ax, r); });
    server.addRoute("POST", "/ax/find", [&ax](const HTTPRequest& r) { return findRoute(ax, r); });
    server.addRoute("POST", "/ax/click", elementActionRoute<AXClickRequest>(context, "click", decodeAXClickRequest, axClick));
    server.addRoute("POST", "/ax/type", elementActionRoute<AXTypeRequest>(context, "type", decodeAXTypeRequest, axType));
    server.addRoute("POST", "/ax/scroll",
                    elementActionRoute<AXScrollRequest>(context, "scroll", decodeAXScrollRequest, axScroll));
    server.addRoute("POST", "/batch/begin", [&ax](const HTTPRequest& r) { return batchBegin(ax, r); });
    server.addRoute("POST", "/batch/end", [&ax](const HTTPRequest& r) { return batchEnd(ax, r); });
}

}  // namespace pavo::agent
