#include "agent/ax/ax_tree_cache.hpp"

namespace pavo::agent {

const std::string& AXSnapshot::treeResponseBody() const {
    std::call_once(once_, [this] {
        body_ = "{\"tree\":";
        appendJson(body_, root_);
        body_ += '}';
    });
    return body_;
}

std::optional<std::string> AXSnapshot::pathOf(const std::string& id) const {
    std::call_once(indexOnce_, [this] {
        auto index = [this](auto& self, const AXElementInfo& element, const std::string& path) -> void {
            pathsById_.emplace(element.id, path);
            if (!element.children) return;
            for (std::size_t i = 0; i < element.children->size(); ++i) {
                self(self, (*element.children)[i], childPath(path, i));
            }
        };
        index(index, root_, "0");
    });
    auto it = pathsById_.find(id);
    if (it == pathsById_.end()) return std::nullopt;
    return it->second;
}

AXTreeCache::AXTreeCache(Clock clock) : clock_(std::move(clock)) {}

std::shared_ptr<const AXSnapshot> AXTreeCache::get(std::optional<std::int32_t> rootPid,
                                                   std::optional<std::int32_t> frontmost) {
    const std::int32_t key = rootPid.value_or(frontmost.value_or(0));
    const TimePoint now = clock_();
    std::lock_guard lock(mutex_);
    if (lastFrontmostPid_ && frontmost != lastFrontmostPid_) cache_.clear();
    lastFrontmostPid_ = frontmost;

    auto it = cache_.find(key);
    if (it == cache_.end()) return nullptr;
    if (now - it->second.timestamp <= kTimeToLive) return it->second.snapshot;
    cache_.erase(it);
    return nullptr;
}

std::uint64_t AXTreeCache::generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

void AXTreeCache::store(std::int32_t key, std::shared_ptr<const AXSnapshot> snapshot,
                        std::uint64_t generation) {
    const TimePoint now = clock_();
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
    cache_.insert_or_assign(key, Entry{std::move(snapshot), now});
}

void AXTreeCache::bump() {
    std::lock_guard lock(mutex_);
    cache_.clear();
    ++generation_;
}

void AXTreeCache::rememberWalk(std::int32_t pid, std::shared_ptr<const AXSnapshot> snapshot) {
    std::lock_guard lock(mutex_);
    walks_.insert_or_assign(pid, std::pair{++walkCount_, std::move(snapshot)});
    if (walks_.size() <= kRememberedWalks) return;
    auto oldest = walks_.begin();
    for (auto it = walks_.begin(); it != walks_.end(); ++it) {
        if (it->second.first < oldest->second.first) oldest = it;
    }
    walks_.erase(oldest);
}

std::optional<std::string> AXTreeCache::knownPath(std::int32_t pid, const std::string& id) const {
    std::shared_ptr<const AXSnapshot> snapshot;
    {
        std::lock_guard lock(mutex_);
        auto it = walks_.find(pid);
        if (it == walks_.end()) return std::nullopt;
        snapshot = it->second.second;
    }
    return snapshot->pathOf(id);
}

std::size_t AXTreeCache::size() const {
    std::lock_guard lock(mutex_);
    return cache_.size();
}

}  // namespace pavo::agent
