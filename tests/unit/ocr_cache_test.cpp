// The OCR cache: its capacity setting, its keys, least-recently-used eviction and the flush on a change of
// frontmost application. Its time buckets are seen through the OCR route, on virtual time.

#include <gtest/gtest.h>

#include "agent/vision/ocr_cache.hpp"

namespace pavo::agent {
namespace {

using Results = std::vector<OCRResult>;

Results lines(const std::string& text) {
    return {OCRResult{text, 0.5f, {1, 2, 3, 4}}};
}

OCRCacheKey key(const std::string& hash, std::int64_t bucket = 1, std::int32_t pid = 0,
                std::uint64_t window = 0) {
    return OCRCacheKey{pid, window, hash, bucket};
}

TEST(OCRCacheCapacity, IsAStrictSignedDecimalOfAtLeastOneElseFifty) {
    const std::pair<const char*, std::size_t> accepted[] = {{"2", 2}, {"+3", 3}, {"007", 7}};
    for (const auto& [value, capacity] : accepted) EXPECT_EQ(ocrCacheCapacity(value), capacity) << value;
    for (const char* value : {"", "0", "-1", " 2", "two", "2.0", "99999999999999999999"})
        EXPECT_EQ(ocrCacheCapacity(value), 50u) << value;
    EXPECT_EQ(ocrCacheCapacity(std::nullopt), 50u);
}

TEST(OCRCache, EvictsTheLeastRecentlyUsedEntryWhenFull) {
    OCRCache cache(2);
    cache.set(key("a"), lines("A"));
    cache.set(key("b"), lines("B"));
    EXPECT_TRUE(cache.get(key("a")));  // b is now the least recently used
    cache.set(key("c"), lines("C"));
    EXPECT_TRUE(cache.get(key("a")));
    EXPECT_FALSE(cache.get(key("b")));
    EXPECT_TRUE(cache.get(key("c")));

    cache.set(key("a"), lines("A2"));  // replacing evicts nothing
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.get(key("a")), lines("A2"));
    EXPECT_TRUE(cache.get(key("c")));
}

TEST(OCRCache, AChangeOfFrontmostApplicationEmptiesItButTheFirstLookNever) {
    using Front = std::optional<std::int32_t>;
    // What is in front at each request, the entry stored after the first; whether it is kept.
    const std::tuple<const char*, std::vector<Front>, bool> rows[] = {
        {"same application", {1, 1}, true},
        {"the application went away", {1, std::nullopt}, false},
        {"none, then one", {std::nullopt, 3}, true},
    };
    for (const auto& [name, seen, kept] : rows) {
        OCRCache cache;
        cache.evictOnFrontmostChange(seen.front());
        cache.set(key("a"), lines("A"));
        for (std::size_t i = 1; i < seen.size(); ++i) cache.evictOnFrontmostChange(seen[i]);
        EXPECT_EQ(cache.get(key("a")).has_value(), kept) << name;
    }
}

}  // namespace
}  // namespace pavo::agent
