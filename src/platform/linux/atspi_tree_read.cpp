#include "platform/linux/atspi_tree_read.hpp"

#include <climits>
#include <cstdint>
#include <utility>

#include "platform/linux/role_names.hpp"
#include "platform/linux/tree_shape.hpp"

namespace pavo::platform::linux_desktop {

namespace {

// Only what is showing has a frame; an application has none at all.
bool hasFrame(AtspiRole role, std::uint64_t states) {
    return role != ATSPI_ROLE_APPLICATION && (states & stateBit(ATSPI_STATE_SHOWING));
}

// The reads of one tree in one batch: every id, on-screen extent and text, and whatever the item list
// lacks; and what they tell of each object's child count.
class TreeReadPlan {
  public:
    void add(const std::string& path, const BulkItems& items);
    const std::vector<BulkReadRequest>& reads() const { return reads_; }
    void take(std::size_t index, const BulkReadReply& reply, TreeRead& tree);
    std::optional<std::int32_t> childCount(const std::string& path) const;
    // Read in full, an object the item list lacked counts as listed from now on.
    void listReadInFull(BulkItems& items);

  private:
    std::vector<BulkReadRequest> reads_;
    std::unordered_map<std::string, std::int32_t> childCounts_;
    std::unordered_map<std::string, BulkItem> unlisted_;
    std::unordered_map<std::string, int> unlistedParts_;
};

void TreeReadPlan::add(const std::string& path, const BulkItems& items) {
    reads_.push_back({path, BulkRead::identifier});
    auto item = items.find(path);
    if (item == items.end()) {
        unlisted_[path].interfacesKnown = false;
        for (BulkRead read : {BulkRead::childCount, BulkRead::role, BulkRead::name, BulkRead::states,
                              BulkRead::extents, BulkRead::text}) {
            reads_.push_back({path, read});
        }
        return;
    }
    if (item->second.childCount < 0) {
        reads_.push_back({path, BulkRead::childCount});  // some objects list none
    } else {
        childCounts_[path] = item->second.childCount;
    }
    if (hasFrame(item->second.role, item->second.states)) reads_.push_back({path, BulkRead::extents});
    if (isTextRole(takeString(atspi_role_get_name(item->second.role))))
        reads_.push_back({path, BulkRead::text});
}

void TreeReadPlan::take(std::size_t index, const BulkReadReply& reply, TreeRead& tree) {
    const std::string& path = reads_[index].path;
    if (reply.identifier) tree.identifiers[path] = *reply.identifier;
    if (reply.extents) tree.frames[path] = onScreenFrame(*reply.extents);
    if (reply.text) tree.texts[path] = *reply.text;
    if (reply.childCount) childCounts_[path] = *reply.childCount;
    auto item = unlisted_.find(path);
    if (item == unlisted_.end()) return;
    if (reply.childCount) item->second.childCount = *reply.childCount;
    if (reply.role) item->second.role = *reply.role;
    if (reply.name) item->second.name = *reply.name;
    if (reply.states) item->second.states = *reply.states;
    if (reply.role || reply.name || reply.states) ++unlistedParts_[path];
}

std::optional<std::int32_t> TreeReadPlan::childCount(const std::string& path) const {
    auto count = childCounts_.find(path);
    if (count == childCounts_.end()) return std::nullopt;
    return count->second;
}

void TreeReadPlan::listReadInFull(BulkItems& items) {
    for (auto& [path, item] : unlisted_) {
        if (unlistedParts_[path] == 3) items.emplace(path, std::move(item));
    }
}

}  // namespace

std::optional<Frame> onScreenFrame(const ScreenRect& rect) {
    if (rect.x == INT_MIN || rect.y == INT_MIN || rect.width < 0 || rect.height < 0) return std::nullopt;
    return Frame{{static_cast<double>(rect.x), static_cast<double>(rect.y)},
                 {static_cast<double>(rect.width), static_cast<double>(rect.height)}};
}

DescendantQuery::DescendantQuery()
    : everything_(atspi_match_rule_new(nullptr, ATSPI_Collection_MATCH_ALL, nullptr,
                                       ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL,
                                       nullptr, ATSPI_Collection_MATCH_ALL, FALSE)) {}

std::optional<std::vector<GObjectPtr<AtspiAccessible>>> DescendantQuery::matches(AtspiCollection* collection,
                                                                                 std::size_t count,
                                                                                 bool traverse) const {
    CallError error;
    GArrayPtr found(
        atspi_collection_get_matches(collection, everything_.get(), ATSPI_Collection_SORT_ORDER_CANONICAL,
                                     static_cast<gint>(count), traverse ? TRUE : FALSE, error.out()));
    if (error.failed() || !found) return std::nullopt;
    return takeObjects(std::move(found));
}

// Every descendant comes from one Collection call, in tree order, and takes its place from the child
// counts; they must place every descendant exactly, or no tree is kept and the walk asks parent by parent.
// (The item list's parent is no check: GTK names a popover's relative widget there, not its container.)
std::optional<TreeRead> readTree(AtspiAccessible* root, const DescendantQuery& query, BulkItems& items) {
    auto rootItem = items.find(pathOf(root));
    AtspiApplication* app = root->parent.app;
    if (rootItem == items.end() || rootItem->second.role != ATSPI_ROLE_APPLICATION ||
        !rootItem->second.collection || !app || !app->bus || !app->bus_name) {
        return std::nullopt;
    }
    auto descendants = query.matches(ATSPI_COLLECTION(root), 0, true);
    if (!descendants) return std::nullopt;

    TreeReadPlan plan;
    plan.add(pathOf(root), items);
    for (const auto& d : *descendants) plan.add(pathOf(d.get()), items);
    TreeRead tree;
    pipelinedReads(app->bus, app->bus_name, plan.reads(),
                   [&](std::size_t index, const BulkReadReply& reply) { plan.take(index, reply, tree); });
    plan.listReadInFull(items);

    std::vector<std::string> preorder;
    preorder.reserve(descendants->size());
    for (const auto& d : *descendants) preorder.push_back(pathOf(d.get()));
    const auto shape =
        placeInTree(pathOf(root), preorder, [&](const std::string& path) { return plan.childCount(path); });
    if (!shape) return std::nullopt;
    for (const auto& [parent, indexes] : *shape) {
        auto& children = tree.children[parent];
        for (std::size_t index : indexes) children.push_back(std::move((*descendants)[index]));
    }
    return tree;
}

}  // namespace pavo::platform::linux_desktop
