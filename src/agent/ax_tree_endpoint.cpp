#include "agent/ax_tree_endpoint.hpp"

#include "agent/ax_context.hpp"
#include "agent/ax_tree.hpp"
#include "agent/ax_tree_cache.hpp"
#include "agent/batch_manager.hpp"
#include "agent/http_error.hpp"
#include "agent/json_response.hpp"

namespace pavo::agent {

AXTreeResult axTreeDataOnDesktop(AXContext& context, std::optional<std::int32_t> rootPid,
                                 const std::optional<std::string>& batchId) {
    platform::Accessibility& ax = context.desktop.accessibility();
    platform::Workspace& workspace = context.desktop.workspace();
    if (!ax.isProcessTrusted()) throw HTTPError(HTTPErrorKind::unauthorized);

    const auto frontmost = frontmostApplicationPid(workspace);
    if (auto hit = context.treeCache.get(rootPid, frontmost)) return {std::move(hit), true};

    const std::uint64_t generation = context.treeCache.generation();
    std::optional<std::int32_t> target = batchId ? context.batches.pid(*batchId) : std::nullopt;
    if (!target) target = rootPid;
    if (!target) target = frontmostApplicationPid(workspace);
    if (!target) throw HTTPError(HTTPErrorKind::invalidRequest);

    auto snapshot = std::make_shared<const AXSnapshot>(buildTree(ax, ax.applicationElement(*target), "0"));
    const std::int32_t key = rootPid ? *rootPid : frontmostApplicationPid(workspace).value_or(0);
    context.treeCache.store(key, snapshot, generation);
    context.treeCache.rememberWalk(*target, snapshot);
    return {std::move(snapshot), false};
}

boost::asio::awaitable<AXTreeResult> axTreeData(AXContext& context, std::optional<std::int32_t> rootPid,
                                                std::optional<std::string> batchId) {
    co_return co_await onDesktop(context.desktop, [&context, rootPid, &batchId] {
        return axTreeDataOnDesktop(context, rootPid, batchId);
    });
}

http::HTTPResponse axTreeErrorResponse(std::exception_ptr error, const std::string& permissionHint) {
    try {
        std::rethrow_exception(error);
    } catch (const HTTPError& e) {
        if (e.kind() == HTTPErrorKind::unauthorized) {
            return jsonResponse(403, axErrorResponse(AXErrorCode::permissionMissing, permissionHint));
        }
        if (e.kind() == HTTPErrorKind::invalidRequest) return errorResponse(500, "could_not_get_frontmost_app");
        return errorResponse(500, "internal_error");
    } catch (const std::exception& e) {
        return errorResponse(500, "internal_error", std::string(e.what()));
    } catch (...) {
        return errorResponse(500, "internal_error", std::string("unknown error"));
    }
}

boost::asio::awaitable<http::HTTPResponse> axTree(AXContext& context, std::optional<std::int32_t> rootPid,
                                                  std::optional<std::string> batchId) {
    std::exception_ptr failure;
    AXTreeResult result;
    try {
        // The body is made on the desktop thread too: serialising a large tree must not stall the I/O thread.
        result = co_await onDesktop(context.desktop, [&context, rootPid, &batchId] {
            AXTreeResult r = axTreeDataOnDesktop(context, rootPid, batchId);
            r.snapshot->treeResponseBody();
            return r;
        });
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) co_return axTreeErrorResponse(failure, context.desktop.accessibilityPermissionHint());

    http::HTTPResponse response;
    response.status = 200;
    response.body = result.snapshot->treeResponseBody();
    response.headers["Content-Type"] = "application/json";
    response.headers["Content-Length"] = std::to_string(response.body.size());
    response.headers["X-Pavo-Cache"] = result.cached ? "HIT" : "MISS";
    co_return response;
}

void axBumpChangeCounter(AXContext& context) { context.treeCache.bump(); }

}  // namespace pavo::agent
