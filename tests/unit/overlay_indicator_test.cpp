// The tray indicator's logic: the mode items' checkmarks and countdown titles at fixed clock times, and
// the icon's heartbeat and pulse opacity over time.

#include <gtest/gtest.h>

#include "overlay/ui/indicator_animator.hpp"
#include "overlay/ui/mode_menu.hpp"

namespace pavo::overlay {
namespace {

TEST(ModeMenu, CheckmarksAndCountdownTitles) {
    // The checked item (b: block, a: allow, 15, 60, r: require approval) and the countdown in its title.
    const struct {
        OperatorMode mode;
        std::optional<double> expiry;
        double now;
        std::string checked, left;
    } rows[] = {
        {OperatorMode::block, std::nullopt, 0, "b", ""},
        {OperatorMode::allow, std::nullopt, 0, "a", ""},
        {OperatorMode::requireApproval, std::nullopt, 0, "r", ""},
        {OperatorMode::allow, 3600.0, 0, "60", "60:00"},
        {OperatorMode::allow, 3600.0, 1, "60", "59:59"},
        {OperatorMode::allow, 3600.0, 2699.5, "15", "15:00"},  // 900.5 s left
        {OperatorMode::allow, 1000.0, 100.0, "15", "15:00"},   // 15 minutes or less left
        {OperatorMode::allow, 1000.0, 990.7, "15", "0:09"},    // seconds are truncated
        {OperatorMode::allow, 1000.0, 2000.0, "15", "0:00"},   // past the end
    };
    for (const auto& row : rows) {
        auto title = [&row](const std::string& minutes) {
            return "Allow for " + minutes + " min" +
                   (row.checked == minutes ? "  (" + row.left + " left)" : "");
        };
        const ModeMenuState shown{row.checked == "b",  row.checked == "a", row.checked == "15",
                                  row.checked == "60", row.checked == "r", title("15"),
                                  title("60")};
        EXPECT_EQ(modeMenuState(row.mode, row.expiry, row.now), shown) << row.checked << " at " << row.now;
    }
}

// Opacity of the icon at chosen times after the state was shown at t = 0.
TEST(IndicatorAnimator, HeartbeatPhases) {
    const Heartbeat active{1.6, 1.0, 0.65};
    const struct {
        double time, opacity;
    } rows[] = {
        {0.0, 1.0},                        // starts from full
        {0.09, 1.0},                       // up to the peak
        {0.27, 0.65 * 0.85},               // down below rest
        {0.36, 0.92},                      // the second, smaller beat
        {0.81, 0.65},                      // at rest until the next period
        {1.5, 0.65},         {1.69, 1.0},  // the next beat
        {1.87, 0.65 * 0.85},
    };
    for (const auto& row : rows) {
        ManualClock clock;
        IndicatorAnimator animator(clock);
        animator.show(IndicatorLook{IndicatorSymbol::circleFill, "", true, active, false});
        clock.advanceTo(row.time);
        EXPECT_NEAR(animator.opacity(row.time), row.opacity, 1e-6) << row.time;
    }
}

TEST(IndicatorAnimator, ANewStateEndsTheOldBeatAtOnce) {
    ManualClock clock;
    IndicatorAnimator animator(clock);
    animator.show(indicatorLook(IndicatorState::active));
    const auto generation = animator.heartbeatGeneration();
    clock.advanceTo(0.1);
    animator.show(indicatorLook(IndicatorState::idle));  // peak 0.95, rest 0.55, period 2.6
    EXPECT_GT(animator.heartbeatGeneration(), generation);
    EXPECT_DOUBLE_EQ(animator.opacity(0.1), 1.0);
    clock.advanceTo(0.19);
    EXPECT_NEAR(animator.opacity(0.19), 0.95, 1e-6);  // the new beat runs from the switch
    clock.advanceTo(0.37);
    EXPECT_NEAR(animator.opacity(0.37), 0.55 * 0.85, 1e-6);
    clock.advanceTo(2.0);
    EXPECT_NEAR(animator.opacity(2.0), 0.55, 1e-6);  // the old 1.6 s period left no beat behind

    animator.show(indicatorLook(IndicatorState::paused));
    clock.advanceTo(10);
    EXPECT_DOUBLE_EQ(animator.opacity(10), 1.0);
    EXPECT_EQ(clock.pendingTimers(), 0u);
}

TEST(IndicatorAnimator, PulseAlternatesEveryHalfSecond) {
    ManualClock clock;
    IndicatorAnimator animator(clock);
    animator.show(indicatorLook(IndicatorState::destructive));
    const struct {
        double time, opacity;
    } rows[] = {{0.4, 1.0}, {0.625, 0.75}, {0.9, 0.5}, {1.125, 0.75}, {1.5, 1.0}, {1.75, 0.5}, {2.25, 1.0}};
    for (const auto& row : rows) {
        clock.advanceTo(row.time);
        EXPECT_NEAR(animator.opacity(row.time), row.opacity, 1e-6) << row.time;
    }
}

}  // namespace
}  // namespace pavo::overlay
