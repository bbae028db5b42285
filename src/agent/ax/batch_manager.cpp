#include "agent/ax/batch_manager.hpp"

#include "agent/ax/ax_context.hpp"
#include "agent/server/desktop_waits.hpp"

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

boost::asio::awaitable<Result<std::string>> batchBegin(AXContext& context, std::string batchId) {
    const auto frontmost = co_await trustedFrontmost(context.desktop);
    if (!frontmost) co_return frontmost.error();
    if (!*frontmost) co_return AgentError{ErrorCode::noFrontmostApp};
    context.batches.begin(batchId, **frontmost);
    co_return std::move(batchId);
}

}  // namespace pavo::agent
