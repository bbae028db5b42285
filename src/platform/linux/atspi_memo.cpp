#include "platform/linux/atspi_memo.hpp"

#include <chrono>
#include <utility>

namespace pavo::platform::linux_desktop {

namespace {

// The item list and the tree read are used for this long, unless anything is done or posted meanwhile:
// one walk reads them once, and the action that follows a search reuses them.
constexpr auto kBulkReadLifetime = std::chrono::seconds(1);
// More than this many are mostly long-gone applications.
constexpr std::size_t kMaxApplications = 64;

}  // namespace

const BulkItem* ApplicationMemo::listedItem(const ReadClock& clock, AtspiAccessible* object) {
    refresh(clock, object);
    auto it = items_.find(pathOf(object));
    return it == items_.end() ? nullptr : &it->second;
}

const TreeRead* ApplicationMemo::tree(const ReadClock& clock, AtspiAccessible* object) {
    refresh(clock, object);
    return tree_ ? &*tree_ : nullptr;
}

void ApplicationMemo::readTree(const ReadClock& clock, AtspiAccessible* root, const DescendantQuery& query) {
    refresh(clock, root);
    if (tree_ || treeTried_ || unresponsive_) return;
    treeTried_ = true;
    tree_ = linux_desktop::readTree(root, query, items_);
}

void ApplicationMemo::dropExpiredTree(const ReadClock& clock) {
    if (tree_ && clock.expired(itemsRead_, kBulkReadLifetime)) tree_.reset();
}

void ApplicationMemo::refresh(const ReadClock& clock, AtspiAccessible* object) {
    if (clock.usable(itemsRead_, kBulkReadLifetime)) return;
    itemsRead_ = clock.stamp();
    items_.clear();
    tree_.reset();
    treeTried_ = false;
    AtspiApplication* app = object->parent.app;
    if (unresponsive_ || !app || !app->bus || !app->bus_name) return;
    BulkFailure failure = BulkFailure::none;
    if (auto items = fetchBulkItems(app->bus, app->bus_name, failure)) items_ = std::move(*items);
    if (failure == BulkFailure::unanswered) unresponsive_ = true;
}

std::shared_ptr<ApplicationMemo> ApplicationMemos::lookup(const ReadClock& clock, std::int32_t pid,
                                                          const std::string& busName) {
    if (byBusName_.size() > kMaxApplications) byBusName_.clear();
    for (auto& [name, kept] : byBusName_) kept->dropExpiredTree(clock);
    auto& kept = byBusName_[busName];
    if (!kept || kept->pid() != pid) kept = std::make_shared<ApplicationMemo>(pid);
    // Each request gives an application that once did not answer another chance.
    kept->giveAnotherChance();
    return kept;
}

}  // namespace pavo::platform::linux_desktop
