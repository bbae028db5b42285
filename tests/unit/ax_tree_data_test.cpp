// Which application a snapshot comes from: root pid, batch, frontmost application, and the cache.

#include <gtest/gtest.h>

#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>
#include <nlohmann/json.hpp>

#include <thread>

#include "agent/ax/ax_context.hpp"
#include "agent/ax/ax_tree_cache.hpp"
#include "agent/ax/ax_tree_data.hpp"
#include "agent/ax/batch_manager.hpp"
#include "agent/server/on_desktop.hpp"
#include "platform/simulated/simulated_desktop.hpp"

namespace pavo::agent {
namespace {

using nlohmann::json;
using platform::simulated::parseScene;
using platform::simulated::SimulatedDesktop;

json app(std::int32_t pid, const std::string& name) {
    return {{"pid", pid}, {"name", name}, {"tree", {{"role", "AXApplication"}, {"title", name}}}};
}

class TreeData : public ::testing::Test {
  protected:
    SimulatedDesktop desktop{
        parseScene({{"frontmost", 1}, {"applications", {app(1, "One"), app(2, "Two"), app(3, "Three")}}})};
    AXTreeCache::TimePoint now{};
    AXTreeCache cache{[this] { return now; }};
    BatchManager batches;
    AXContext context{desktop, cache, batches};

    Result<AXTreeResult> treeData(std::optional<std::int32_t> rootPid, std::optional<std::string> batchId) {
        boost::asio::io_context io;
        auto future = boost::asio::co_spawn(io, axTreeData(context, rootPid, std::move(batchId)),
                                            boost::asio::use_future);
        io.run();
        return future.get();
    }
    std::string titleOf(std::optional<std::int32_t> rootPid,
                        std::optional<std::string> batchId = std::nullopt, bool* cached = nullptr) {
        auto result = treeData(rootPid, std::move(batchId));
        if (!result) {
            ADD_FAILURE() << "failed";
            return "";
        }
        if (cached) *cached = result->cached;
        return result->snapshot->root().label.value_or("");
    }
    ErrorCode failureOf(std::optional<std::int32_t> rootPid) {
        auto result = treeData(rootPid, std::nullopt);
        if (result) ADD_FAILURE() << "no failure";
        return result ? ErrorCode::internal : result.error().code;
    }
};

TEST_F(TreeData, WalksTheRootPidElseTheFrontmostApplicationAndCachesIt) {
    bool cached = true;
    EXPECT_EQ(titleOf(std::nullopt, std::nullopt, &cached), "One");
    EXPECT_FALSE(cached);
    EXPECT_EQ(titleOf(std::nullopt, std::nullopt, &cached), "One");
    EXPECT_TRUE(cached);
    EXPECT_EQ(titleOf(2, std::nullopt, &cached), "Two");
    EXPECT_FALSE(cached);
    EXPECT_EQ(titleOf(2, std::nullopt, &cached), "Two");
    EXPECT_TRUE(cached);
}

TEST_F(TreeData, ABatchChoosesTheWalkedProcessOnAMissOnly) {
    batches.begin("b", 3);
    // A fresh snapshot of the frontmost application is served even for a batch.
    EXPECT_EQ(titleOf(std::nullopt), "One");
    EXPECT_EQ(titleOf(std::nullopt, "b"), "One");

    cache.bump();
    bool cached = true;
    EXPECT_EQ(titleOf(std::nullopt, "b", &cached), "Three");
    EXPECT_FALSE(cached);
    // ...and it was stored under the frontmost application's pid, not the batch's.
    EXPECT_EQ(titleOf(std::nullopt, std::nullopt, &cached), "Three");
    EXPECT_TRUE(cached);

    cache.bump();
    EXPECT_EQ(titleOf(2, "b"), "Three") << "the batch beats the root pid when walking";
    EXPECT_EQ(titleOf(2), "Three") << "stored under the requested root";

    cache.bump();
    EXPECT_EQ(titleOf(std::nullopt, "unknown"), "One") << "an unknown batch is ignored";
    batches.end("b");
    cache.bump();
    EXPECT_EQ(titleOf(std::nullopt, "b"), "One") << "an ended batch is ignored";
}

TEST_F(TreeData, FailsWithoutPermissionOrWithoutAFrontmostApplication) {
    desktop.setFrontmost(std::nullopt);
    EXPECT_EQ(failureOf(std::nullopt), ErrorCode::noFrontmostApp);
    EXPECT_EQ(titleOf(2), "Two") << "a root pid needs no frontmost application";
    desktop.setTrusted(false);
    EXPECT_EQ(failureOf(2), ErrorCode::permissionMissing);
}

TEST_F(TreeData, DesktopWorkRunsOffTheCallersThreadAndResumesOnIt) {
    boost::asio::io_context io;
    std::thread::id workThread, resumedOn;
    std::string failure;
    boost::asio::co_spawn(
        io,
        [&]() -> boost::asio::awaitable<void> {
            workThread = co_await onDesktop(desktop, [] { return std::this_thread::get_id(); });
            resumedOn = std::this_thread::get_id();
            try {
                co_await onDesktop(desktop, []() -> int { throw std::runtime_error("desktop failed"); });
            } catch (const std::runtime_error& error) {
                failure = error.what();
            }
        },
        boost::asio::detached);
    io.run();
    EXPECT_NE(workThread, std::this_thread::get_id());
    EXPECT_EQ(resumedOn, std::this_thread::get_id());
    EXPECT_EQ(failure, "desktop failed");
}

}  // namespace
}  // namespace pavo::agent
