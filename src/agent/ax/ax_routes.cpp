#include "agent/ax/ax_routes.hpp"

#include "agent/ax/ax_actions.hpp"
#include "agent/ax/ax_context.hpp"
#include "agent/ax/ax_find.hpp"
#include "agent/ax/ax_requests.hpp"
#include "agent/ax/ax_tree_cache.hpp"
#include "agent/ax/ax_tree_data.hpp"
#include "agent/ax/batch_manager.hpp"
#include "agent/consent/consent_gate.hpp"
#include "agent/server/replies.hpp"
#include "http/json_reply.hpp"

namespace pavo::agent {

namespace {

namespace asio = boost::asio;
using http::HTTPRequest;
using http::HTTPResponse;
using Reply = Result<HTTPResponse>;

HTTPResponse actionReply(const ActionDone& done) {
    nlohmann::json body = {{"ok", true}, {"method", done.method}};
    if (done.at) {
        body["x"] = done.at->x;
        body["y"] = done.at->y;
    }
    return jsonResponse(200, body);
}

asio::awaitable<Reply> tree(AXContext& ax, const HTTPRequest& request) {
    const auto body = decodeAXTreeRequest(request.body);
    if (!body) co_return body.error();
    const auto tree = co_await axTreeData(ax, body->rootPid, std::nullopt, /*withBody=*/true);
    if (!tree) co_return tree.error();
    HTTPResponse reply = http::jsonReply(200, tree->snapshot->treeResponseBody());
    reply.headers["X-Pavo-Cache"] = tree->cached ? "HIT" : "MISS";
    co_return reply;
}

asio::awaitable<Reply> find(AXContext& ax, const HTTPRequest& request) {
    const auto query = decodeAXQuery(request.body);
    if (!query) co_return query.error();
    auto matches = co_await axFind(ax, *query);
    if (!matches) co_return matches.error();
    co_return http::jsonReply(200, std::move(*matches));
}

asio::awaitable<Reply> click(AXContext& ax, const ConsentGate& gate, const HTTPRequest& request) {
    const auto body = decodeAXClickRequest(request.body);
    if (!body) co_return body.error();
    if (auto refusal = co_await gate.checkDestructiveConsent(request, "click", body->elementId))
        co_return *refusal;
    const auto done = co_await axClick(ax, *body);
    if (!done) co_return done.error();
    co_return actionReply(*done);
}

asio::awaitable<Reply> type(AXContext& ax, const ConsentGate& gate, const HTTPRequest& request) {
    const auto body = decodeAXTypeRequest(request.body);
    if (!body) co_return body.error();
    if (auto refusal = co_await gate.checkDestructiveConsent(request, "type", body->elementId))
        co_return *refusal;
    const auto done = co_await axType(ax, *body);
    if (!done) co_return done.error();
    co_return actionReply(*done);
}

asio::awaitable<Reply> scroll(AXContext& ax, const ConsentGate& gate, const HTTPRequest& request) {
    const auto body = decodeAXScrollRequest(request.body);
    if (!body) co_return body.error();
    if (auto refusal = co_await gate.checkDestructiveConsent(request, "scroll", body->elementId))
        co_return *refusal;
    const auto done = co_await axScroll(ax, *body);
    if (!done) co_return done.error();
    co_return actionReply(*done);
}

asio::awaitable<Reply> batchBeginRoute(AXContext& ax, const HTTPRequest& request) {
    const auto batchId = co_await batchBegin(ax, batchIdOfBody(request.body));
    if (!batchId) co_return batchId.error();
    co_return jsonResponse(200, {{"ok", true}, {"batch_id", *batchId}});
}

asio::awaitable<Reply> batchEndRoute(AXContext& ax, const HTTPRequest& request) {
    const std::string batchId = batchIdOfBody(request.body);
    ax.batches.end(batchId);
    co_return jsonResponse(200, {{"ok", true}, {"batch_id", batchId}});
}

}  // namespace

AXRoutes axRoutes(AXContext& ax, const ConsentGate& gate) {
    return AXRoutes{
        .tree = [&ax](const HTTPRequest& r) { return tree(ax, r); },
        .find = [&ax](const HTTPRequest& r) { return find(ax, r); },
        .click = [&ax, &gate](const HTTPRequest& r) { return click(ax, gate, r); },
        .type = [&ax, &gate](const HTTPRequest& r) { return type(ax, gate, r); },
        .scroll = [&ax, &gate](const HTTPRequest& r) { return scroll(ax, gate, r); },
        .batchBegin = [&ax](const HTTPRequest& r) { return batchBeginRoute(ax, r); },
        .batchEnd = [&ax](const HTTPRequest& r) { return batchEndRoute(ax, r); },
    };
}

}  // namespace pavo::agent
