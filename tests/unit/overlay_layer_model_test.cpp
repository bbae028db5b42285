// The layer model: what an animation shows at a given media time, which of several wins, when they
// end, and delayed steps that outlive their layer.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "overlay/visuals/click_ripple_layer.hpp"
#include "overlay/visuals/layer.hpp"

namespace pavo::overlay {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();  // "the model value shows"

TEST(TimingFunction, TheRippleCurveRisesFastAndSettles) {
    const TimingFunction curve = TimingFunction::cubic(0.2, 0.8, 0.2, 1.0);
    const struct {
        double progress, eased;
    } rows[] = {{0.0, 0.0}, {0.1, 0.3967}, {0.25, 0.7673}, {0.5, 0.9461}, {0.75, 0.9911}, {1.0, 1.0}};
    for (const auto& row : rows) EXPECT_NEAR(curve(row.progress), row.eased, 0.002) << row.progress;

    EXPECT_NEAR(TimingFunction::easeInEaseOut()(0.5), 0.5, 0.001);
    EXPECT_GT(TimingFunction::easeOut()(0.3), 0.3);
    EXPECT_LT(TimingFunction::easeIn()(0.3), 0.3);
    EXPECT_DOUBLE_EQ(TimingFunction::linear()(0.3), 0.3);
}

// One opacity animation on a layer whose model opacity is 0.2, sampled at several times.
TEST(Animation, OpacitySampledOverTime) {
    auto fade = [](double begin, double duration) {
        Animation a = Animation::basic(kOpacity, 0.0, 1.0, duration);
        a.beginTime = begin;
        return a;
    };
    Animation filled = fade(1, 1);
    filled.fillsForwards = true;
    filled.removedOnCompletion = false;
    Animation reversing = fade(0, 1);
    reversing.autoreverses = true;
    reversing.repeatsForever = true;
    Animation keyframes = Animation::keyframes(kOpacity, {0.0, 1.0, 0.5}, 1.0, {0.0, 0.4, 1.0});
    Animation group = Animation::group(0.5, {fade(0.25, 0.5)});  // the child starts 0.25 s into the group
    group.beginTime = 1;

    const struct {
        const char* name;
        Animation animation;
        double time, shown;
    } rows[] = {
        {"before its begin time", fade(1, 1), 0.5, kNaN},
        {"half way", fade(1, 1), 1.5, 0.5},
        {"ended and removed", fade(1, 1), 2.5, kNaN},
        {"ended, filled forwards", filled, 2.5, 1.0},
        {"auto-reversing, on the way back", reversing, 1.25, 0.75},
        {"auto-reversing, repeating", reversing, 10.25, 0.25},
        {"keyframes, first segment", keyframes, 0.2, 0.5},
        {"keyframes, second segment", keyframes, 0.7, 0.75},
        {"group child before its start", group, 1.1, kNaN},
        {"group child inside the group", group, 1.45, 0.4},
        {"group cut off at its duration", group, 1.6, kNaN},
    };
    for (const auto& row : rows) {
        Layer layer;
        layer.opacity = 0.2;
        layer.addAnimation("a", row.animation);
        const double expected = std::isnan(row.shown) ? 0.2 : row.shown;
        EXPECT_NEAR(layer.presentedOpacity(row.time), expected, 1e-9) << row.name;
    }
}

TEST(Layer, TheLaterAnimationWinsAndAKeyHoldsOne) {
    Layer layer;
    auto to = [](double value) { return Animation::basic(kOpacity, value, value, 10); };
    layer.addAnimation("first", to(0.3));
    layer.addAnimation("second", to(0.6));
    EXPECT_DOUBLE_EQ(layer.presentedOpacity(1), 0.6);
    layer.addAnimation("first", to(0.9));  // replaces the old "first" and goes in front
    EXPECT_DOUBLE_EQ(layer.presentedOpacity(1), 0.9);
    EXPECT_EQ(layer.animationKeys(), (std::vector<std::string>{"second", "first"}));
    layer.removeAnimation("first");
    EXPECT_DOUBLE_EQ(layer.presentedOpacity(1), 0.6);
}

TEST(Layer, FinishedAnimationsArePrunedAndActivityReportsWhatIsLeft) {
    auto root = std::make_shared<Layer>();
    auto child = std::make_shared<Layer>();
    root->addSublayer(child);
    Animation now = Animation::basic(kOpacity, 0.0, 1.0, 1);
    Animation later = now;
    later.beginTime = 5;
    Animation kept = now;
    kept.fillsForwards = true;
    kept.removedOnCompletion = false;
    child->addAnimation("now", now);
    child->addAnimation("later", later);
    root->addAnimation("kept", kept);

    EXPECT_TRUE(root->activity(0.5).running);
    const Activity waiting = root->activity(2);
    EXPECT_FALSE(waiting.running);
    EXPECT_EQ(waiting.nextStart, 5.0);
    root->pruneFinished(2);
    EXPECT_EQ(child->animationKeys(), std::vector<std::string>{"later"});
    EXPECT_EQ(root->animationKeys(), std::vector<std::string>{"kept"});
    const Activity done = root->activity(7);
    EXPECT_FALSE(done.running);
    EXPECT_FALSE(done.nextStart);
}

TEST(Layer, FrameFollowsPositionAndAnchor) {
    Layer layer;
    layer.bounds = QRectF(0, 0, 40, 20);
    layer.position = QPointF(100, 100);
    EXPECT_EQ(layer.frame(), QRectF(80, 90, 40, 20));
    layer.anchorPoint = QPointF(0, 0);
    layer.setFrame(QRectF(10, 20, 30, 40));
    EXPECT_EQ(layer.position, QPointF(10, 20));
    EXPECT_EQ(layer.bounds.size(), QSizeF(30, 40));
}

TEST(DelayedSteps, DoNothingOnceTheirLayerIsGone) {
    ManualClock clock;
    int redraws = 0;
    EffectContext context{clock, [&redraws] { ++redraws; }};
    auto root = std::make_shared<Layer>();
    auto kept = std::make_shared<ClickRippleLayer>(context, EffectStyle{});
    root->addSublayer(kept);
    kept->animate();
    {
        auto dropped = std::make_shared<ClickRippleLayer>(context, EffectStyle{});
        root->addSublayer(dropped);
        dropped->animate();
        dropped->removeFromSuperlayer();
    }
    clock.advance(1);
    EXPECT_EQ(redraws, 2);  // the kept ripple's fade and removal; nothing for the dropped one
    EXPECT_TRUE(root->sublayers().empty());
}

}  // namespace
}  // namespace pavo::overlay
