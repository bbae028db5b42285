// What the overlay shows at chosen times after each kind of event, with and without reduced motion;
// which effect replaces which; and where screen coordinates land.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <functional>

#include "overlay/visuals/desktop_appearance.hpp"
#include "overlay/visuals/overlay_scene.hpp"

namespace pavo::overlay {
namespace {

// Every character is 10 points wide.
double tenPerCharacter(const QString& text, const QFont&) {
    return 10.0 * text.size();
}

struct Scene {
    explicit Scene(bool reducedMotion = false)
        : scene(clock, EffectStyle{Qt::blue, Qt::red, Qt::black, QFont()}, reducedMotion, &tenPerCharacter) {
        scene.setSize(QSizeF(1600, 1000));
    }
    ManualClock clock;
    OverlayScene scene;
};

enum class Effect { halo, ripple, pill, box, border };

// Shows the effect (when asked to) and returns the layer that shows it.
std::shared_ptr<Layer> effectLayer(OverlayScene& scene, Effect effect, bool show) {
    switch (effect) {
        case Effect::halo:
            if (show) scene.showCursorHalo(QPointF(300, 400));
            return scene.cursorHalo();
        case Effect::ripple:
            if (show) scene.showClickRipple(QPointF(300, 400));
            return scene.currentRipple();
        case Effect::pill:
            if (show) scene.showKeyChordPill("cmd+s");
            return scene.currentPill();
        case Effect::box:
            if (show) scene.showElementBBox(QRectF(100, 200, 50, 20));
            return scene.currentBBox();
        case Effect::border:
            if (show) scene.showDestructiveBorder();
            return scene.destructiveBorder();
    }
    return nullptr;
}

constexpr double kGone = -1;  // removed from the view

TEST(EffectTimelines, OpacityAtChosenTimes) {
    const struct {
        Effect effect;
        bool reducedMotion;
        double time, opacity;
    } rows[] = {
        // halo: fades in over 0.15 s, fades out linearly over 0.4 s from 1.5 s, is never removed
        {Effect::halo, false, 0.075, 0.5},
        {Effect::halo, false, 1.0, 1.0},
        {Effect::halo, false, 1.7, 0.5},
        {Effect::halo, false, 10, 0.0},
        {Effect::halo, true, 0.0, 1.0},
        {Effect::halo, true, 1.49, 1.0},
        {Effect::halo, true, 1.5, 0.0},
        // ripple: full opacity until 0.25 s, eased out to 0 by 0.5 s, removed at 0.55 s
        {Effect::ripple, false, 0.2, 1.0},
        {Effect::ripple, false, 0.3, 0.69},
        {Effect::ripple, false, 0.54, 0.0},
        {Effect::ripple, false, 0.55, kGone},
        {Effect::ripple, true, 0.24, 1.0},
        {Effect::ripple, true, 0.25, kGone},
        // box: in over 0.1 s, out linearly over 0.3 s from 0.9 s, removed at 1.25 s
        {Effect::box, false, 0.05, 0.5},
        {Effect::box, false, 0.5, 1.0},
        {Effect::box, false, 1.05, 0.5},
        {Effect::box, false, 1.24, 0.0},
        {Effect::box, false, 1.25, kGone},
        {Effect::box, true, 0.0, 1.0},
        {Effect::box, true, 1.19, 1.0},
        {Effect::box, true, 1.2, kGone},
        // pill: in over 0.15 s, out over 0.15 s from 0.8 s and held out, removed at 1.0 s
        {Effect::pill, false, 0.075, 0.5},
        {Effect::pill, false, 0.875, 0.5},
        {Effect::pill, false, 0.97, 0.0},
        {Effect::pill, false, 1.0, kGone},
        {Effect::pill, true, 0.79, 1.0},
        {Effect::pill, true, 0.8, kGone},
        // border: in over 0.02 s, out over 0.15 s from 0.2 s, removed at 0.4 s
        {Effect::border, false, 0.01, 0.5},
        {Effect::border, false, 0.1, 1.0},
        {Effect::border, false, 0.275, 0.5},
        {Effect::border, false, 0.39, 0.0},
        {Effect::border, false, 0.4, kGone},
        {Effect::border, true, 0.19, 1.0},
        {Effect::border, true, 0.2, kGone},
    };
    for (const auto& row : rows) {
        Scene s(row.reducedMotion);
        effectLayer(s.scene, row.effect, true);
        s.clock.advanceTo(row.time);
        const auto layer = effectLayer(s.scene, row.effect, false);
        SCOPED_TRACE(testing::Message() << "effect " << int(row.effect)
                                        << (row.reducedMotion ? " reduced" : "") << " at " << row.time);
        ASSERT_TRUE(layer);
        if (row.opacity == kGone) {
            EXPECT_EQ(layer->superlayer(), nullptr);
        } else {
            EXPECT_EQ(layer->superlayer(), &s.scene.layer());
            EXPECT_NEAR(layer->presentedOpacity(row.time), row.opacity, 0.02);
        }
    }
}

TEST(EffectTimelines, TheRippleGrowsFromATenthWithTheClickCurve) {
    const struct {
        double time, scale;
    } rows[] = {{0.0, 0.1}, {0.035, 0.457}, {0.175, 0.951}, {0.35, 1.0}, {0.45, 1.0}};
    for (const auto& row : rows) {
        Scene s;
        s.scene.showClickRipple(QPointF(300, 400));
        s.clock.advanceTo(row.time);
        EXPECT_NEAR(s.scene.currentRipple()->presentedScale(row.time), row.scale, 0.005) << row.time;
    }
    Scene reduced(true);
    reduced.scene.showClickRipple(QPointF(300, 400));
    EXPECT_DOUBLE_EQ(reduced.scene.currentRipple()->presentedScale(0), 1.0);
}

TEST(CursorHalo, FollowsMovesAndFadesOnlyAfterSilence) {
    const QPointF first(0, 0), second(100, 0);
    const QPointF firstLayer(0, 1000), secondLayer(100, 1000);
    {  // a second move glides the halo there in 0.12 s
        Scene s;
        s.scene.showCursorHalo(first);
        s.clock.advanceTo(1);
        s.scene.showCursorHalo(second);
        const auto halo = s.scene.cursorHalo();
        EXPECT_EQ(halo->presentedPosition(1), firstLayer);
        EXPECT_GT(halo->presentedPosition(1.06).x(), 50);  // eased out: more than half way at half time
        EXPECT_EQ(halo->presentedPosition(1.12), secondLayer);
    }
    {  // moves a second apart keep it visible; the next move after a fade starts from where it got to
        Scene s;
        for (double t : {0.0, 1.0, 2.0, 3.0}) {
            s.clock.advanceTo(t);
            s.scene.showCursorHalo(first);
        }
        s.clock.advanceTo(4.4);
        EXPECT_DOUBLE_EQ(s.scene.cursorHalo()->presentedOpacity(4.4), 1.0);
        s.clock.advanceTo(4.7);  // half way out
        s.scene.showCursorHalo(first);
        EXPECT_NEAR(s.scene.cursorHalo()->presentedOpacity(4.775), 0.75, 0.01);
        EXPECT_DOUBLE_EQ(s.scene.cursorHalo()->presentedOpacity(4.9), 1.0);  // the old fade-out is over too
    }
}

TEST(OverlayScene, EachNewEffectReplacesTheLastAndTheHaloIsReused) {
    for (Effect effect : {Effect::ripple, Effect::pill, Effect::box, Effect::border}) {
        Scene s;
        const auto first = effectLayer(s.scene, effect, true);
        s.clock.advance(0.05);
        const auto second = effectLayer(s.scene, effect, true);
        EXPECT_NE(first, second);
        EXPECT_EQ(first->superlayer(), nullptr) << int(effect);
        EXPECT_EQ(second->superlayer(), &s.scene.layer()) << int(effect);
        s.clock.advance(0.2);  // the first one's delayed steps change nothing now
        EXPECT_EQ(first->superlayer(), nullptr);
    }
    Scene s;
    s.scene.showCursorHalo(QPointF(1, 1));
    const auto halo = s.scene.cursorHalo();
    s.scene.showClickRipple(QPointF(1, 1));
    s.scene.showCursorHalo(QPointF(2, 2));
    EXPECT_EQ(s.scene.cursorHalo(), halo);
    EXPECT_EQ(s.scene.layer().sublayers().front().get(), &s.scene.glassRelay());  // always at the bottom
}

TEST(OverlayScene, MapsScreenCoordinatesToLayerCoordinates) {
    Scene s;
    s.scene.setSize(QSizeF(1400, 1000));
    EXPECT_EQ(s.scene.mapPoint(QPointF(0, 0)), QPointF(0, 1000));
    EXPECT_EQ(s.scene.mapRect(QRectF(100, 200, 50, 20)), QRectF(100, 780, 50, 20));
    s.scene.setWindowGeometry(QRectF(0, 0, 1400, 1000));
    EXPECT_EQ(s.scene.mapPoint(QPointF(700, 250)), QPointF(700, 750));
    EXPECT_FALSE(QRectF(0, 0, 1400, 1000).contains(s.scene.mapPoint(QPointF(1500, 250))));  // another display
    s.scene.setWindowGeometry(QRectF(1920, 1080, 1400, 1000));  // a primary screen away from the origin
    EXPECT_EQ(s.scene.mapPoint(QPointF(1930, 1100)), QPointF(10, 980));
    EXPECT_EQ(s.scene.mapRect(QRectF(2020, 1280, 50, 20)), QRectF(100, 780, 50, 20));
    s.scene.setWindowGeometry(std::nullopt);

    s.scene.showElementBBox(QRectF(100, 200, 50, 20));
    EXPECT_EQ(s.scene.currentBBox()->frame(), QRectF(100, 780, 50, 20));
    s.scene.showKeyChordPill("ctrl+c");
    EXPECT_EQ(s.scene.currentPill()->frame(), QRectF(700 - 46, 80 - 16, 92, 32));  // 60 of text, 16 each side
    s.scene.showKeyChordPill("");
    EXPECT_EQ(s.scene.currentPill()->bounds.size(), QSizeF(32, 32));
}

TEST(DesktopAppearance, GtkAnimationSettingDecidesReducedMotion) {
    const struct {
        const char* content;
        bool disabled;
    } rows[] = {
        {"[Settings]\ngtk-enable-animations=false\n", true},
        {"[Settings]\ngtk-enable-animations = 0\n", true},
        {"[Settings]\ngtk-enable-animations=true\n", false},
        {"[Settings]\ngtk-theme-name=Adwaita\n", false},
        {"[Other]\ngtk-enable-animations=false\n", false},
    };
    QTemporaryDir dir;
    for (const auto& row : rows) {
        const QString path = dir.filePath(QStringLiteral("settings.ini"));
        std::ofstream(path.toStdString()) << row.content;
        EXPECT_EQ(animationsDisabledIn(path), row.disabled) << row.content;
    }
    EXPECT_FALSE(animationsDisabledIn(dir.filePath(QStringLiteral("missing.ini"))));
}

}  // namespace
}  // namespace pavo::overlay
