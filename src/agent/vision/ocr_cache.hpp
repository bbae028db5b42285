#pragma once
// Recognised lines kept per image, caller's window and 100-millisecond time bucket, least recently used
// first out, forgotten whenever the frontmost application changes.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "agent/ax/ax_element.hpp"

namespace pavo::agent {

// One recognised text line, in pixels of the image with the origin at its top-left corner.
struct OCRResult {
    std::string text;
    float confidence = 0;
    AXFrame boundingBox;
    bool operator==(const OCRResult&) const = default;
};

struct OCRCacheKey {
    std::int32_t pid = 0;
    std::uint64_t windowId = 0;
    std::string frameHash;
    std::int64_t timeBucket = 0;
    auto tie() const { return std::tie(pid, windowId, frameHash, timeBucket); }
    bool operator==(const OCRCacheKey& other) const { return tie() == other.tie(); }
    bool operator<(const OCRCacheKey& other) const { return tie() < other.tie(); }
};

// The capacity "VEXLO_PAVO_OCR_CACHE_SIZE" asks for: a decimal integer with an optional sign and nothing
// else, at least 1; 50 when it is absent or anything else.
std::size_t ocrCacheCapacity(const std::optional<std::string>& environmentValue);

class OCRCache {
  public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    static constexpr std::size_t kDefaultCapacity = 50;

    explicit OCRCache(
        std::size_t capacity = kDefaultCapacity,
        Clock clock = [] { return std::chrono::system_clock::now(); });

    // Tenths of a second since 1970, truncated: entries are only ever found within the bucket they were
    // stored in.
    std::int64_t timeBucket() const;

    // Empties the cache when the frontmost application differs from the one the previous call saw (one
    // that was there and is gone counts); the first call never does.
    void evictOnFrontmostChange(std::optional<std::int32_t> frontmost);

    // A hit makes the entry the most recently used.
    std::optional<std::vector<OCRResult>> get(const OCRCacheKey& key);

    // Replaces an entry under the key, or adds one, first evicting the least recently used entry when full.
    void set(const OCRCacheKey& key, std::vector<OCRResult> results);

    std::size_t size() const;
    std::size_t capacity() const { return capacity_; }

  private:
    void forget(const OCRCacheKey& key);  // from the recency order

    const std::size_t capacity_;
    const Clock clock_;
    mutable std::mutex mutex_;
    std::map<OCRCacheKey, std::vector<OCRResult>> cache_;
    std::vector<OCRCacheKey> order_;  // least recently used first
    std::optional<std::int32_t> lastFrontmostPid_;
};

}  // namespace pavo::agent
