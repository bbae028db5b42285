#include "agent/vision/vision_routes.hpp"

#include "agent/ax/ax_tree_cache.hpp"
#include "agent/server/replies.hpp"
#include "agent/vision/ocr.hpp"
#include "agent/vision/tree_and_ocr.hpp"
#include "agent/vision/vision_json.hpp"
#include "agent/vision/visual_find.hpp"
#include "http/json_reply.hpp"

namespace pavo::agent {

namespace {

namespace asio = boost::asio;
using http::HTTPRequest;
using http::HTTPResponse;
using Reply = Result<HTTPResponse>;

const char* hitOrMiss(bool hit) {
    return hit ? "HIT" : "MISS";
}

// The combined request answers every failure of either part with one table of its own: the permission
// reply, else "internal_error" naming what went wrong.
AgentError treeAndOCRError(const AgentError& error) {
    switch (error.code) {
        case ErrorCode::permissionMissing:
            return error;
        case ErrorCode::badRequest:
            return {ErrorCode::internal, "badRequest"};
        case ErrorCode::noFrontmostApp:
            return {ErrorCode::internal, "invalidRequest"};
        default:
            return {ErrorCode::internal, error.message};
    }
}

asio::awaitable<Reply> treeAndOCRRoute(AXContext& ax, VisionContext& vision, const HTTPRequest& request) {
    auto body = decodeTreeAndOCRRequest(request.body);
    if (!body) co_return body.error();
    Result<TreeAndOCR> both = AgentError{};
    try {
        both = co_await treeAndOCR(ax, vision, std::move(*body));
    } catch (const std::exception& error) {
        co_return AgentError{ErrorCode::internal, error.what()};
    }
    if (!both) co_return treeAndOCRError(both.error());
    // The snapshot's body is {"tree":...} already: the results go in before its closing brace.
    std::string json = both->tree.snapshot->treeResponseBody();
    json.pop_back();
    json += ",\"ocr\":" + nlohmann::json(both->ocr.results).dump() + "}";
    HTTPResponse reply = http::jsonReply(200, std::move(json));
    reply.headers["X-Pavo-Cache"] = hitOrMiss(both->tree.cached && both->ocr.cached);
    reply.headers["X-Pavo-AX-Cache"] = hitOrMiss(both->tree.cached);
    reply.headers["X-Pavo-OCR-Cache"] = hitOrMiss(both->ocr.cached);
    co_return reply;
}

asio::awaitable<Reply> ocrRoute(VisionContext& vision, const HTTPRequest& request) {
    auto options = decodeOCROptions(request.body);
    if (!options) co_return options.error();
    Result<OCROutput> output = AgentError{};
    try {
        output = co_await performOCR(vision, std::move(*options));
    } catch (const std::exception& error) {
        co_return AgentError{ErrorCode::ocrFailed, error.what()};
    }
    if (!output) co_return output.error();
    HTTPResponse reply = jsonResponse(200, {{"results", output->results}});
    reply.headers["X-Pavo-Cache"] = hitOrMiss(output->cached);
    co_return reply;
}

asio::awaitable<Reply> visualFindRoute(VisionContext& vision, const HTTPRequest& request) {
    auto options = decodeVisualFindOptions(request.body);
    if (!options) co_return options.error();
    Result<std::vector<VisualFindResult>> results = AgentError{};
    try {
        results = co_await performVisualFind(vision, std::move(*options));
    } catch (const std::exception& error) {
        co_return AgentError{ErrorCode::visualFindFailed, error.what()};
    }
    if (!results) co_return results.error();
    co_return jsonResponse(200, {{"results", *results}});
}

}  // namespace

VisionRoutes visionRoutes(AXContext& ax, VisionContext& vision) {
    return VisionRoutes{
        .treeAndOCR = [&ax, &vision](const HTTPRequest& r) { return treeAndOCRRoute(ax, vision, r); },
        .ocr = [&vision](const HTTPRequest& r) { return ocrRoute(vision, r); },
        .visualFind = [&vision](const HTTPRequest& r) { return visualFindRoute(vision, r); },
    };
}

}  // namespace pavo::agent
