// The consent state: mode defaults, the pause machine with its single waiter, clients and answers.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "overlay/service/consent_manager.hpp"

namespace pavo::overlay {
namespace {

// Counts how often each waiter was released.
struct Waiter {
    int released = 0;
    std::function<void()> callback() {
        return [this] { ++released; };
    }
};

TEST(ConsentManager, InitialOperatorModeFollowsTheConsentMode) {
    ConsentManager off(ConsentMode::off);
    EXPECT_EQ(off.operatorMode(), OperatorMode::allow);
    EXPECT_FALSE(off.shouldBlockForDestructive());
    for (ConsentMode mode : {ConsentMode::destructive_only, ConsentMode::manual}) {
        ConsentManager manager(mode);
        EXPECT_EQ(manager.operatorMode(), OperatorMode::requireApproval);
        EXPECT_TRUE(manager.shouldBlockForDestructive());
        EXPECT_FALSE(manager.isPaused());
    }
}

TEST(ConsentManager, FromRunning) {
    {
        ConsentManager m(ConsentMode::off);
        Waiter w;
        m.waitForConsent(w.callback());
        EXPECT_TRUE(m.isPaused());
        EXPECT_EQ(w.released, 0);
    }
    {
        ConsentManager m(ConsentMode::off);
        m.setOperatorMode(OperatorMode::block);
        EXPECT_TRUE(m.isPaused());
        EXPECT_EQ(m.operatorMode(), OperatorMode::block);
    }
    for (OperatorMode mode : {OperatorMode::allow, OperatorMode::requireApproval}) {
        ConsentManager m(ConsentMode::off);
        m.setOperatorMode(mode);
        EXPECT_FALSE(m.isPaused());
        EXPECT_EQ(m.operatorMode(), mode);
    }
}

TEST(ConsentManager, FromWaiting) {
    for (OperatorMode mode : {OperatorMode::allow, OperatorMode::requireApproval}) {
        ConsentManager m(ConsentMode::destructive_only);
        Waiter first, second;
        m.waitForConsent(first.callback());
        m.waitForConsent(second.callback());  // a second caller does not wait
        EXPECT_EQ(second.released, 1);
        EXPECT_EQ(first.released, 0);
        EXPECT_TRUE(m.isPaused());
        m.setOperatorMode(mode);  // choosing the mode it already had still releases
        EXPECT_EQ(first.released, 1);
        EXPECT_FALSE(m.isPaused());
        m.setOperatorMode(mode);
        EXPECT_EQ(first.released, 1);  // released once only
    }
    {
        ConsentManager m(ConsentMode::destructive_only);
        Waiter w;
        m.waitForConsent(w.callback());
        m.setOperatorMode(OperatorMode::block);  // waiting-and-blocked
        EXPECT_EQ(w.released, 0);
        EXPECT_TRUE(m.isPaused());
        m.setOperatorMode(OperatorMode::block);
        EXPECT_EQ(w.released, 0);
        m.setOperatorMode(OperatorMode::allow);
        EXPECT_EQ(w.released, 1);
        EXPECT_FALSE(m.isPaused());
    }
}

TEST(ConsentManager, FromBlocked) {
    {
        ConsentManager m(ConsentMode::off);
        m.setOperatorMode(OperatorMode::block);
        m.setOperatorMode(OperatorMode::block);
        EXPECT_TRUE(m.isPaused());
        m.setOperatorMode(OperatorMode::allow);
        EXPECT_FALSE(m.isPaused());
        EXPECT_EQ(m.operatorMode(), OperatorMode::allow);
    }
    {
        // A blocked manager has no waiter yet, so the first caller stores one and waits.
        ConsentManager m(ConsentMode::off);
        m.setOperatorMode(OperatorMode::block);
        Waiter w;
        m.waitForConsent(w.callback());
        EXPECT_EQ(w.released, 0);
        m.setOperatorMode(OperatorMode::requireApproval);
        EXPECT_EQ(w.released, 1);
        EXPECT_FALSE(m.isPaused());
    }
}

TEST(ConsentManager, ReleaseFromAnotherThread) {
    ConsentManager m(ConsentMode::destructive_only);
    std::atomic<bool> released{false};
    std::thread::id releasedOn;
    m.waitForConsent([&] {
        releasedOn = std::this_thread::get_id();
        released = true;
    });
    std::thread chooser([&] { m.setOperatorMode(OperatorMode::requireApproval); });
    const auto chooserId = chooser.get_id();
    chooser.join();
    EXPECT_TRUE(released);
    EXPECT_EQ(releasedOn, chooserId);
}

TEST(ConsentManager, ActiveClientsUseDefaultForAMissingId) {
    ConsentManager m(ConsentMode::off);
    m.registerAgentState(std::nullopt, AgentState::active);
    m.registerAgentState("a", AgentState::paused);
    m.registerAgentState("b", AgentState::destructive);
    EXPECT_EQ(m.activeClientCount(), 3u);
    m.registerAgentState("default", AgentState::idle);
    m.registerAgentState("never-seen", AgentState::idle);
    m.registerAgentState("a", AgentState::idle);
    EXPECT_EQ(m.activeClientCount(), 1u);
    m.registerAgentState("b", AgentState::active);  // still one client
    EXPECT_EQ(m.activeClientCount(), 1u);
}

TEST(ConsentManager, ResolutionsAreStoredReplacedAndRemoved) {
    ConsentManager m(ConsentMode::off);
    EXPECT_FALSE(m.resolution("p"));
    m.storeResolution("p", {true, std::nullopt});
    EXPECT_EQ(m.resolution("p"), (Resolution{true, std::nullopt}));
    m.storeResolution("p", {false, "consent_denied"});
    EXPECT_EQ(m.resolution("p"), (Resolution{false, "consent_denied"}));
    EXPECT_EQ(m.resolution("p"), (Resolution{false, "consent_denied"}));  // reading does not consume
    m.removeResolution("p");
    EXPECT_FALSE(m.resolution("p"));
    m.removeResolution("absent");
}

TEST(ConsentManager, ModeNames) {
    EXPECT_EQ(toString(OperatorMode::requireApproval), "require_approval");
    EXPECT_EQ(toString(OperatorMode::block), "block");
    EXPECT_EQ(consentModeFromString("destructive_only"), ConsentMode::destructive_only);
    EXPECT_FALSE(consentModeFromString("Manual"));
}

}  // namespace
}  // namespace pavo::overlay
