#include "agent/ax/ax_tree_data.hpp"

#include "agent/ax/ax_context.hpp"
#include "agent/ax/ax_tree.hpp"
#include "agent/ax/ax_tree_cache.hpp"
#include "agent/ax/batch_manager.hpp"
#include "agent/server/desktop_waits.hpp"
#include "agent/server/on_desktop.hpp"

namespace pavo::agent {

Result<AXTreeResult> axTreeDataOnDesktop(AXContext& context, std::optional<std::int32_t> rootPid,
                                         std::optional<std::int32_t> batchPid,
                                         std::optional<std::int32_t> frontmost) {
    if (auto hit = context.treeCache.get(rootPid, frontmost)) return AXTreeResult{std::move(hit), true};

    const std::uint64_t generation = context.treeCache.generation();
    const std::optional<std::int32_t> target = batchPid ? batchPid : rootPid ? rootPid : frontmost;
    if (!target) return AgentError{ErrorCode::noFrontmostApp};

    platform::Accessibility& ax = context.desktop.accessibility();
    auto snapshot = std::make_shared<const AXSnapshot>(buildTree(ax, ax.applicationElement(*target), "0"));
    context.treeCache.store(rootPid.value_or(frontmost.value_or(0)), snapshot, generation);
    context.treeCache.rememberWalk(*target, snapshot);
    return AXTreeResult{std::move(snapshot), false};
}

boost::asio::awaitable<Result<AXTreeResult>> axTreeData(AXContext& context,
                                                        std::optional<std::int32_t> rootPid,
                                                        std::optional<std::string> batchId, bool withBody) {
    const auto frontmost = co_await trustedFrontmost(context.desktop);
    if (!frontmost) co_return frontmost.error();
    const auto batchPid = batchId ? context.batches.pid(*batchId) : std::nullopt;
    co_return co_await onDesktop(context.desktop, [&context, rootPid, batchPid, &frontmost, withBody] {
        Result<AXTreeResult> result = axTreeDataOnDesktop(context, rootPid, batchPid, *frontmost);
        if (result && withBody) result->snapshot->treeResponseBody();
        return result;
    });
}

}  // namespace pavo::agent
