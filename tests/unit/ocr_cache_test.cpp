// The OCR cache: its capacity setting, 100 ms buckets, least-recently-used eviction and the flush on a
// change of frontmost application.

#include <gtest/gtest.h>

#include "agent/vision/ocr_cache.hpp"

namespace pavo::agent {
namespace {

using namespace std::chrono_literals;
using Results = std::vector<OCRResult>;

Results lines(const std::string& text) {
    return {OCRResult{text, 0.5f, {1, 2, 3, 4}}};
}

OCRCacheKey key(const std::string& hash, std::int64_t bucket = 1, std::int32_t pid = 0,
                std::uint64_t window = 0) {
    return OCRCacheKey{pid, window, hash, bucket};
}

TEST(OCRCacheCapacity, IsAStrictSignedDecimalOfAtLeastOneElseFifty) {
    const std::pair<std::optional<std::string>, std::size_t> rows[] = {
        {std::nullopt, 50},
        {"", 50},
        {"2", 2},
        {"+3", 3},
        {"1", 1},
        {"0", 50},
        {"-1", 50},
        {"-0", 50},
        {" 2", 50},
        {"2 ", 50},
        {"two", 50},
        {"2.0", 50},
        {"0x10", 50},
        {"007", 7},
        {"+", 50},
        {"1e3", 50},
        {"99999999999999999999", 50},
    };
    for (const auto& [value, capacity] : rows)
        EXPECT_EQ(ocrCacheCapacity(value), capacity) << value.value_or("(unset)");
}

TEST(OCRCache, BucketsAreTenthsOfASecondOfTheClock) {
    std::chrono::system_clock::time_point now{1'700'000'000'000ms};
    const OCRCache cache(50, [&] { return now; });
    const std::int64_t first = cache.timeBucket();
    EXPECT_EQ(first, 17'000'000'000);
    now += 99ms;
    EXPECT_EQ(cache.timeBucket(), first);
    now += 1ms;
    EXPECT_EQ(cache.timeBucket(), first + 1);
    now += 1s;
    EXPECT_EQ(cache.timeBucket(), first + 11);
}

TEST(OCRCache, FindsOnlyTheSameImageWindowAndBucket) {
    OCRCache cache;
    cache.set(key("a", 1, 7, 9), lines("A"));
    EXPECT_EQ(cache.get(key("a", 1, 7, 9)), lines("A"));
    for (const OCRCacheKey& other :
         {key("b", 1, 7, 9), key("a", 2, 7, 9), key("a", 1, 8, 9), key("a", 1, 7, 10)})
        EXPECT_FALSE(cache.get(other)) << other.frameHash << " " << other.timeBucket << " " << other.pid;
    cache.set(key("a", 1, 7, 9), {});
    EXPECT_EQ(cache.get(key("a", 1, 7, 9)), Results{}) << "nothing recognised is cached too";
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
    struct Row {
        const char* name;
        std::vector<Front>
            seen;  // frontmost applications of successive requests, the entry stored after the first
        bool kept;
    } rows[] = {
        {"first request", {1}, true},
        {"same application", {1, 1}, true},
        {"another application", {1, 2}, false},
        {"the application went away", {1, std::nullopt}, false},
        {"none, then still none", {std::nullopt, std::nullopt}, true},
        {"none, then one", {std::nullopt, 3}, true},
        {"away and back", {1, 2, 1}, false},
    };
    for (const Row& row : rows) {
        OCRCache cache;
        cache.evictOnFrontmostChange(row.seen.front());
        cache.set(key("a"), lines("A"));
        for (std::size_t i = 1; i < row.seen.size(); ++i) cache.evictOnFrontmostChange(row.seen[i]);
        EXPECT_EQ(cache.get(key("a")).has_value(), row.kept) << row.name;
    }
}

}  // namespace
}  // namespace pavo::agent
