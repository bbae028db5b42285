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

#include "agent/ax_element.hpp"

namespace pavo::agent {

// An immutable snapshot. Its reply body is made on first use and kept, so a cache hit costs a copy of
// bytes, not another serialisation of thousands of elements.
class AXSnapshot {
public:
    explicit AXSnapshot(AXElementInfo root) : root_(std::move(root)) {}
    const AXElementInfo& root() const { return root_; }
    // {"tree": <root>}, compact.
    const std::string& treeResponseBody() const;

private:
    AXElementInfo root_;
    mutable std::once_flag once_;
    mutable std::string body_;
};

class AXTreeCache {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;

    explicit AXTreeCache(Clock clock = [] { return std::chrono::steady_clock::now(); });

    // `frontmost` is the frontmost application's pid as just asked. Keyed by the root pid, else the
    // frontmost pid, else 0. A change of frontmost application since the previous lookup empties the
    // cache; an entry is fresh up to exactly one second after it was stored and is dropped after that.
    std::shared_ptr<const AXSnapshot> get(std::optional<std::int32_t> rootPid, std::optional<std::int32_t> frontmost);

    // Read before walking; pass it to store.
    std::uint64_t generation() const;

    // Replaces any entry under the key, unless the screen was reported changed since `generation` was read:
    // a walk that began before an action must not be served after it.
    void store(std::int32_t key, std::shared_ptr<const AXSnapshot> snapshot, std::uint64_t generation);

    // An action changed the screen: forget every snapshot.
    void bump();

    std::size_t size() const;

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
};

}  // namespace pavo::agent
