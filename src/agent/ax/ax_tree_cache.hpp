#pragma once
// Tree snapshots kept for one second, so a tree request followed by a search pays for one walk.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "agent/ax/ax_element.hpp"

namespace pavo::agent {

// An immutable snapshot. Its reply body is made on first use and kept, so a cache hit costs a copy of
// bytes, not another serialisation of thousands of elements.
class AXSnapshot {
  public:
    explicit AXSnapshot(AXElementInfo root) : root_(std::move(root)) {}
    const AXElementInfo& root() const { return root_; }
    // {"tree": <root>}, compact.
    const std::string& treeResponseBody() const;
    // Where the element with this id stood ("0/2/1"), if it is in the snapshot.
    std::optional<std::string> pathOf(const std::string& id) const;

  private:
    AXElementInfo root_;
    mutable std::once_flag once_;
    mutable std::string body_;
    mutable std::once_flag indexOnce_;
    mutable std::unordered_map<std::string, std::string> pathsById_;
};

class AXTreeCache {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;

    explicit AXTreeCache(Clock clock = [] { return std::chrono::steady_clock::now(); });

    // `frontmost` is the frontmost application's pid as just asked. Keyed by the root pid, else the
    // frontmost pid, else 0. A change of frontmost application since the previous lookup empties the
    // cache; an entry is fresh up to exactly one second after it was stored and is dropped after that.
    std::shared_ptr<const AXSnapshot> get(std::optional<std::int32_t> rootPid,
                                          std::optional<std::int32_t> frontmost);

    // Read before walking; pass it to store.
    std::uint64_t generation() const;

    // Replaces any entry under the key, unless the screen was reported changed since `generation` was read:
    // a walk that began before an action must not be served after it.
    void store(std::int32_t key, std::shared_ptr<const AXSnapshot> snapshot, std::uint64_t generation);

    // An action changed the screen: forget every snapshot.
    void bump();

    std::size_t size() const;

    // The latest snapshot walked of an application, kept past its second and past actions: an action
    // looks there for the path of the element it is about and walks that one branch, checking the id it
    // finds, instead of the whole tree. Only the last few applications are remembered.
    void rememberWalk(std::int32_t pid, std::shared_ptr<const AXSnapshot> snapshot);
    std::optional<std::string> knownPath(std::int32_t pid, const std::string& id) const;

  private:
    struct Entry {
        std::shared_ptr<const AXSnapshot> snapshot;
        TimePoint timestamp;
    };

    static constexpr std::chrono::seconds kTimeToLive{1};

    Clock clock_;
    mutable std::mutex mutex_;
    std::map<std::int32_t, Entry> cache_;
    std::optional<std::int32_t> lastFrontmostPid_;
    std::uint64_t generation_ = 0;

    static constexpr std::size_t kRememberedWalks = 8;
    std::map<std::int32_t, std::pair<std::uint64_t, std::shared_ptr<const AXSnapshot>>> walks_;  // by recency
    std::uint64_t walkCount_ = 0;
};

}  // namespace pavo::agent
