// The one-second tree cache, driven by a clock the test sets.

#include <gtest/gtest.h>

#include <chrono>

#include "agent/ax/ax_tree_cache.hpp"

namespace pavo::agent {
namespace {

using namespace std::chrono_literals;

class TreeCache : public ::testing::Test {
  protected:
    AXTreeCache::TimePoint now{};
    AXTreeCache cache{[this] { return now; }};

    std::shared_ptr<const AXSnapshot> snapshot(const std::string& role) {
        return std::make_shared<const AXSnapshot>(AXElementInfo{.id = "0000000000000000", .role = role});
    }
    void store(std::int32_t key, std::shared_ptr<const AXSnapshot> s) {
        cache.store(key, s, cache.generation());
    }
};

TEST_F(TreeCache, AnEntryIsFreshUpToExactlyOneSecondAndAHitDoesNotRefreshIt) {
    auto tree = snapshot("A");
    EXPECT_FALSE(cache.get(7, 7));
    store(7, tree);
    now += 400ms;
    EXPECT_EQ(cache.get(7, 7), tree);
    now += 600ms;
    EXPECT_EQ(cache.get(7, 7), tree) << "an age of exactly one second is still fresh";
    now += 1ns;
    EXPECT_FALSE(cache.get(7, 7));
    EXPECT_EQ(cache.size(), 0u) << "a stale lookup removes the entry";
}

TEST_F(TreeCache, TheKeyIsTheRootPidElseTheFrontmostPidElseZero) {
    auto front = snapshot("front");
    auto none = snapshot("none");
    store(7, front);
    store(0, none);
    EXPECT_EQ(cache.get(std::nullopt, 7), front);
    EXPECT_EQ(cache.get(7, 7), front);
    EXPECT_FALSE(cache.get(8, 7));
    // No application in front: flushes (one was in front before), so key 0 is gone too.
    EXPECT_FALSE(cache.get(std::nullopt, std::nullopt));
    store(0, none);
    EXPECT_EQ(cache.get(std::nullopt, std::nullopt), none) << "still none in front: no flush";
}

TEST_F(TreeCache, AChangeOfFrontmostApplicationFlushesEvenAnExplicitRoot) {
    EXPECT_FALSE(cache.get(std::nullopt, 7));
    store(9, snapshot("background"));
    store(7, snapshot("front"));
    EXPECT_TRUE(cache.get(9, 7));
    EXPECT_FALSE(cache.get(9, 8)) << "frontmost went from 7 to 8";
    EXPECT_EQ(cache.size(), 0u);
    store(9, snapshot("background"));
    EXPECT_TRUE(cache.get(9, 8));
}

TEST_F(TreeCache, TheFirstLookupNeverFlushes) {
    store(9, snapshot("stored before any lookup"));
    EXPECT_TRUE(cache.get(9, 3));
}

TEST_F(TreeCache, ABumpForgetsEverythingAndDropsWalksBegunBeforeIt) {
    store(7, snapshot("A"));
    store(9, snapshot("B"));
    const auto generation = cache.generation();
    cache.bump();
    EXPECT_FALSE(cache.get(7, 7));
    EXPECT_FALSE(cache.get(9, 7));
    cache.store(7, snapshot("walked before the action"), generation);
    EXPECT_FALSE(cache.get(7, 7));
    store(7, snapshot("walked after"));
    EXPECT_TRUE(cache.get(7, 7));
}

TEST_F(TreeCache, ALaterStoreUnderTheSameKeyReplacesTheEntryAndItsTime) {
    store(7, snapshot("old"));
    now += 900ms;
    auto fresh = snapshot("new");
    store(7, fresh);
    now += 900ms;
    EXPECT_EQ(cache.get(7, 7), fresh);
}

TEST_F(TreeCache, WalksAreRememberedPastActionsAndTimeForTheLastEightApplications) {
    AXElementInfo root{.id = "root", .role = "AXApplication"};
    AXElementInfo window{.id = "window", .role = "AXWindow"};
    window.children = std::vector<AXElementInfo>{AXElementInfo{.id = "a"}, AXElementInfo{.id = "b"}};
    root.children = std::vector<AXElementInfo>{window};
    cache.rememberWalk(1, std::make_shared<const AXSnapshot>(root));
    cache.bump();
    now += 1h;
    EXPECT_EQ(cache.knownPath(1, "b"), "0/0/1");
    EXPECT_EQ(cache.knownPath(1, "root"), "0");
    EXPECT_EQ(cache.knownPath(1, "c"), std::nullopt);
    EXPECT_EQ(cache.knownPath(2, "b"), std::nullopt);

    for (std::int32_t pid = 2; pid <= 9; ++pid) cache.rememberWalk(pid, snapshot("other"));
    EXPECT_EQ(cache.knownPath(1, "b"), std::nullopt) << "the oldest of nine is forgotten";
    EXPECT_EQ(cache.knownPath(2, "0000000000000000"), "0");
}

TEST(Snapshot, SerialisesItsTreeOnceAsTheReplyBody) {
    AXSnapshot snapshot(AXElementInfo{.id = "0123456789abcdef", .role = "AXApplication", .label = "Mail"});
    const std::string& body = snapshot.treeResponseBody();
    EXPECT_EQ(body, R"({"tree":{"id":"0123456789abcdef","role":"AXApplication","label":"Mail"}})");
    EXPECT_EQ(&snapshot.treeResponseBody(), &body);
}

}  // namespace
}  // namespace pavo::agent
