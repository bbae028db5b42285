#include "agent/batch_manager.hpp"

#include "agent/ax_context.hpp"
#include "agent/ax_element.hpp"
#include "agent/ax_tree.hpp"
#include "agent/body_decoding.hpp"
#include "agent/json_response.hpp"

namespace pavo::agent {

void BatchManager::begin(const std::string& batchId, std::int32_t pid) {
    std::lock_guard lock(mutex_);
    pids_.insert_or_assign(batchId, pid);
}

void BatchManager::end(const std::string& batchId) {
    std::lock_guard lock(mutex_);
    pids_.erase(batchId);
}

std::optional<std::int32_t> BatchManager::pid(const std::string& batchId) const {
    std::lock_guard lock(mutex_);
    auto it = pids_.find(batchId);
    if (it == pids_.end()) return std::nullopt;
    return it->second;
}

std::string batchIdOfBody(const std::string& body) {
    auto fields = decodeStringFields(body);
    if (!fields) return "default";
    auto it = fields->find("batch_id");
    if (it == fields->end() || !it->second) return "default";
    return *it->second;
}

boost::asio::awaitable<http::HTTPResponse> batchBegin(AXContext& context, const http::HTTPRequest& request) {
    struct Front {
        bool trusted;
        std::optional<std::int32_t> pid;
    };
    const Front front = co_await onDesktop(context.desktop, [&desktop = context.desktop] {
        const bool trusted = desktop.accessibility().isProcessTrusted();
        return Front{trusted, trusted ? frontmostApplicationPid(desktop.workspace()) : std::nullopt};
    });
    if (!front.trusted) {
        co_return jsonResponse(403, axErrorResponse(AXErrorCode::permissionMissing, context.desktop.accessibilityPermissionHint()));
    }
    if (!front.pid) co_return errorResponse(500, "could_not_get_frontmost_app");
    const std::string batchId = batchIdOfBody(request.body);
    context.batches.begin(batchId, *front.pid);
    co_return jsonResponse(200, {{"ok", true}, {"batch_id", batchId}});
}

boost::asio::awaitable<http::HTTPResponse> batchEnd(AXContext& context, const http::HTTPRequest& request) {
    const std::string batchId = batchIdOfBody(request.body);
    context.batches.end(batchId);
    co_return jsonResponse(200, {{"ok", true}, {"batch_id", batchId}});
}

}  // namespace pavo::agent
