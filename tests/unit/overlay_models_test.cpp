// The overlay's models with a manual clock and no display: the layer model and its animations, what each
// effect shows over time, the glass relay, the activity log and the tray indicator's logic.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>

#include "overlay/ui/activity_log_model.hpp"
#include "overlay/ui/activity_log_table.hpp"
#include "overlay/ui/indicator_animator.hpp"
#include "overlay/ui/mode_menu.hpp"
#include "overlay/visuals/click_ripple_layer.hpp"
#include "overlay/visuals/desktop_appearance.hpp"
#include "overlay/visuals/glass_relay_layer.hpp"
#include "overlay/visuals/overlay_scene.hpp"

namespace pavo::overlay {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();  // "the model value shows"

// ---- layer model -------------------------------------------------------------------------------------

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
    reversing.autoreverses = reversing.repeatsForever = true;
    const Animation keyframes = Animation::keyframes(kOpacity, {0.0, 1.0, 0.5}, 1.0, {0.0, 0.4, 1.0});
    const std::tuple<const char*, Animation, double, double> rows[] = {
        {"before its begin time", fade(1, 1), 0.5, kNaN},
        {"half way", fade(1, 1), 1.5, 0.5},
        {"ended and removed", fade(1, 1), 2.5, kNaN},
        {"ended, filled forwards", filled, 2.5, 1.0},
        {"auto-reversing, on the way back", reversing, 1.25, 0.75},
        {"auto-reversing, repeating", reversing, 10.25, 0.25},
        {"keyframes, second segment", keyframes, 0.7, 0.75},
    };
    for (const auto& [name, animation, time, shown] : rows) {
        Layer layer;
        layer.opacity = 0.2;
        layer.addAnimation("a", animation);
        EXPECT_NEAR(layer.presentedOpacity(time), std::isnan(shown) ? 0.2 : shown, 1e-9) << name;
    }
}

TEST(Layer, TheLaterAnimationWinsAKeyHoldsOneAndFinishedOnesArePruned) {
    Layer layer;
    auto to = [](double value) { return Animation::basic(kOpacity, value, value, 10); };
    layer.addAnimation("first", to(0.3));
    layer.addAnimation("second", to(0.6));
    EXPECT_DOUBLE_EQ(layer.presentedOpacity(1), 0.6);
    layer.addAnimation("first", to(0.9));  // replaces the old "first" and goes in front
    EXPECT_DOUBLE_EQ(layer.presentedOpacity(1), 0.9);
    layer.removeAnimation("first");
    EXPECT_DOUBLE_EQ(layer.presentedOpacity(1), 0.6);

    auto root = std::make_shared<Layer>();
    auto child = std::make_shared<Layer>();
    root->addSublayer(child);
    Animation now = Animation::basic(kOpacity, 0.0, 1.0, 1), later = now, kept = now;
    later.beginTime = 5;
    kept.fillsForwards = true;
    kept.removedOnCompletion = false;
    child->addAnimation("now", now);
    child->addAnimation("later", later);
    root->addAnimation("kept", kept);
    EXPECT_TRUE(root->activity(0.5).running);
    EXPECT_EQ(root->activity(2).running, false);
    EXPECT_EQ(root->activity(2).nextStart, 5.0);
    root->pruneFinished(2);
    EXPECT_EQ(child->animationKeys(), std::vector<std::string>{"later"});
    EXPECT_EQ(root->animationKeys(), std::vector<std::string>{"kept"});
    EXPECT_FALSE(root->activity(7).running || root->activity(7).nextStart);
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
}

// ---- effects -----------------------------------------------------------------------------------------

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

// Each effect is shown in full, then leaves by itself (the halo fades out, the others are removed too);
// with reduced motion nothing fades: an effect is at full opacity for as long as it shows at all.
TEST(EffectTimelines, EachEffectShowsInFullThenGoesByItself) {
    for (Effect effect : {Effect::halo, Effect::ripple, Effect::pill, Effect::box, Effect::border}) {
        for (bool reduced : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "effect " << int(effect) << (reduced ? " reduced" : ""));
            Scene s(reduced);
            const auto layer = effectLayer(s.scene, effect, true);
            double peak = 0;
            for (int step = 0; step <= 300; ++step) {
                const double time = step / 100.0;
                s.clock.advanceTo(time);
                const double shown = layer->superlayer() ? layer->presentedOpacity(time) : 0.0;
                peak = std::max(peak, shown);
                EXPECT_TRUE(!reduced || shown == 0 || shown == 1.0) << shown << " at " << time;
            }
            EXPECT_NEAR(peak, 1.0, 1e-9);
            EXPECT_EQ(layer->superlayer() != nullptr, effect == Effect::halo);  // the halo is reused
            EXPECT_DOUBLE_EQ(layer->superlayer() ? layer->presentedOpacity(3) : 0.0, 0.0);
        }
    }
}

TEST(CursorHalo, GlidesToEachMove) {
    Scene s;  // in 0.12 s, eased out
    s.scene.showCursorHalo(QPointF(0, 0));
    s.clock.advanceTo(1);
    s.scene.showCursorHalo(QPointF(100, 0));
    const auto halo = s.scene.cursorHalo();
    EXPECT_EQ(halo->presentedPosition(1.12), QPointF(100, 1000));
    s.clock.advanceTo(2.9);  // moves a second apart keep it visible
    s.scene.showCursorHalo(QPointF(0, 0));
    EXPECT_DOUBLE_EQ(halo->presentedOpacity(4.3), 1.0);
}

TEST(OverlayScene, EachNewEffectReplacesTheLastAndTheHaloIsReused) {
    for (Effect effect : {Effect::ripple, Effect::pill, Effect::box, Effect::border}) {
        Scene s;
        const auto first = effectLayer(s.scene, effect, true);
        s.clock.advance(0.05);
        const auto second = effectLayer(s.scene, effect, true);
        EXPECT_EQ(second->superlayer(), &s.scene.layer()) << int(effect);
        s.clock.advance(0.2);  // the first one's delayed steps change nothing now
        EXPECT_EQ(first->superlayer(), nullptr) << int(effect);
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
    s.scene.setWindowGeometry(QRectF(1920, 1080, 1600, 1000));  // a primary screen away from the origin
    EXPECT_EQ(s.scene.mapPoint(QPointF(1930, 1100)), QPointF(10, 980));
    EXPECT_EQ(s.scene.mapRect(QRectF(2020, 1280, 50, 20)), QRectF(100, 780, 50, 20));
    s.scene.setWindowGeometry(std::nullopt);
    s.scene.showElementBBox(QRectF(100, 200, 50, 20));
    EXPECT_EQ(s.scene.currentBBox()->frame(), QRectF(100, 780, 50, 20));
    s.scene.showKeyChordPill("ctrl+c");
    EXPECT_EQ(s.scene.currentPill()->frame(), QRectF(800 - 46, 80 - 16, 92, 32));  // 60 of text, 16 each side
}

TEST(DesktopAppearance, GtkAnimationSettingDecidesReducedMotion) {
    const std::pair<const char*, bool> rows[] = {
        {"[Settings]\ngtk-enable-animations=false\n", true},
        {"[Settings]\ngtk-enable-animations=true\n", false},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.ini"));
    EXPECT_FALSE(animationsDisabledIn(path));  // no file yet
    for (const auto& [content, disabled] : rows) {
        std::ofstream(path.toStdString()) << content;
        EXPECT_EQ(animationsDisabledIn(path), disabled) << content;
    }
}

// ---- glass relay -------------------------------------------------------------------------------------

struct Relay {
    explicit Relay(bool reducedMotion = false, QSizeF size = {1000, 600}) {
        relay->reducedMotion = reducedMotion;
        relay->bounds = QRectF(QPointF(), size);
        relay->layoutSublayers();
    }
    void set(double time, RelayState state) {
        clock.advanceTo(time);
        relay->setState(state);
    }
    QColor edge(std::size_t band, double time) const {
        return relay->bands()[band]->presentedColors(time).front();
    }

    ManualClock clock;
    EffectContext context{clock, nullptr};
    std::shared_ptr<GlassRelayLayer> relay = std::make_shared<GlassRelayLayer>(context);
};

bool near(const QColor& a, const QColor& b) {
    return std::abs(a.redF() - b.redF()) < 0.01 && std::abs(a.greenF() - b.greenF()) < 0.01 &&
           std::abs(a.blueF() - b.blueF()) < 0.01 && std::abs(a.alphaF() - b.alphaF()) < 0.01;
}

TEST(GlassRelay, BandsLieAlongTheScreenEdges) {
    const double w = 1920, h = 1080, t = 56;
    Relay r(false, {w, h});
    const auto& bands = r.relay->bands();
    EXPECT_EQ(bands[0]->frame(), QRectF(0, h - t, w, t));  // top
    EXPECT_EQ(bands[1]->frame(), QRectF(w - t, 0, t, h));  // right
    EXPECT_EQ(bands[2]->frame(), QRectF(0, 0, w, t));      // bottom
    EXPECT_EQ(bands[3]->frame(), QRectF(0, 0, t, h));      // left
    // Each band is coloured at the screen edge and clear towards the middle.
    EXPECT_EQ(bands[3]->gradient->endPoint, QPointF(1.0, 0.5));
}

TEST(GlassRelay, EachStateHasItsLook) {
    for (auto [state, warm] :
         {std::pair{RelayState::active, false}, {RelayState::destructivePending, true}}) {
        Relay r;
        r.set(1, state);
        EXPECT_NEAR(r.relay->presentedOpacity(2), 1.0, 1e-9) << int(state);
        EXPECT_EQ(r.edge(0, 2).redF() > r.edge(0, 2).blueF(), warm) << int(state);
    }
    Relay blocked;  // still grey
    blocked.set(1, RelayState::blocked);
    for (const auto& band : blocked.relay->bands()) EXPECT_DOUBLE_EQ(band->presentedOpacity(2), 0.55);
    EXPECT_TRUE(near(blocked.edge(2, 2), palettes::blocked()[0]));

    Relay idle;  // fades out over 0.6 s; the same state again restarts nothing
    idle.set(0, RelayState::active);
    const Animation* started = idle.relay->bands()[0]->animation("iridescence");
    idle.set(0.5, RelayState::active);
    EXPECT_EQ(idle.relay->bands()[0]->animation("iridescence"), started);
    idle.set(1, RelayState::idle);
    EXPECT_DOUBLE_EQ(idle.relay->presentedOpacity(1.6), 0.0);
}

TEST(GlassRelay, ApprovalFlashesGreenThenReturnsOrStays) {
    using enum RelayState;
    const std::tuple<const char*, RelayState, std::optional<RelayState>, RelayState, QColor> rows[] = {
        // the state before, one chosen 0.3 s into the flash, the state 2 s into it and its colour
        {"from pending back to work", destructivePending, std::nullopt, active, palettes::base()[0]},
        {"from blocked stays green", blocked, std::nullopt, approved, palettes::approved()[0]},
        {"blocked during the flash stays blocked", active, blocked, blocked, palettes::blocked()[0]},
    };
    for (const auto& [name, before, during, after, edge] : rows) {
        SCOPED_TRACE(name);
        Relay r;
        r.set(0, before);
        r.set(1, approved);
        EXPECT_TRUE(near(r.edge(0, 1.5), palettes::approved()[0]));
        if (during) r.set(1.3, *during);
        r.clock.advanceTo(1.84);
        EXPECT_EQ(r.relay->currentState(), during.value_or(approved));
        r.clock.advanceTo(3);
        EXPECT_EQ(r.relay->currentState(), after);
        // Back at work, the cool cycle runs again from the flash's end.
        EXPECT_TRUE(near(r.edge(0, after == active ? 1.85 : 3), edge));
    }
}

TEST(GlassRelay, ReducedMotionShowsStaticLooks) {
    Relay r(true);
    r.set(0, RelayState::active);
    EXPECT_DOUBLE_EQ(r.relay->presentedOpacity(0), 1.0);
    EXPECT_NEAR(r.relay->bands()[0]->presentedOpacity(5), 0.95 * 0.85, 1e-6);  // no breathing
    EXPECT_TRUE(near(r.edge(0, 5), palettes::base()[0]));                      // no travelling colours
    r.set(1, RelayState::destructivePending);
    r.set(2, RelayState::approved);
    EXPECT_EQ(r.relay->currentState(), RelayState::active);  // the flash is skipped, the return is at once
    r.set(3, RelayState::idle);
    EXPECT_DOUBLE_EQ(r.relay->presentedOpacity(3), 0.0);
}

// ---- activity log ------------------------------------------------------------------------------------

ActivityLogEntry entry(std::string tool, std::string result = "ok", std::optional<std::string> reason = {}) {
    return {"2026-01-01T10:00:00Z", std::move(tool), "h", std::move(result), 12, std::move(reason)};
}

std::vector<std::string> tools(const std::vector<ActivityLogEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.tool);
    return names;
}

TEST(ActivityLog, KeepsTheNewestHundredColoursResultsAndFiltersOnToolResultOrReasonInAnyCase) {
    ActivityLogModel log;
    for (int i = 1; i <= 150; ++i) log.append(entry(std::to_string(i)));
    EXPECT_EQ(std::pair(log.entries().front().tool, log.entries().size()),
              std::pair(std::string("51"), 100ul));
    log.clear();
    for (const auto& e : {entry("ax_click"), entry("ax_type", "err", "Timeout"), entry("LOOKup", "denied"),
                          entry("ocr", "OK"), entry("2026", "err")})
        log.append(e);  // a time stamp or hash never matches: only the tool, result and reason do
    ActivityLogTable table(log);
    auto cell = [&table](int row, int column, int role = Qt::DisplayRole) {
        return table.data(table.index(row, column), role);
    };
    ASSERT_EQ(table.rowCount(), 5);
    EXPECT_EQ(cell(1, ActivityLogTable::elapsed).toString(), "12");
    EXPECT_EQ(cell(1, ActivityLogTable::reason).toString(), "Timeout");
    const QColor green = cell(0, ActivityLogTable::result, Qt::ForegroundRole).value<QColor>();
    const QColor orange = cell(1, ActivityLogTable::result, Qt::ForegroundRole).value<QColor>();
    const QColor red = cell(2, ActivityLogTable::result, Qt::ForegroundRole).value<QColor>();
    EXPECT_TRUE(green.green() > green.red() && red.red() > red.green());
    EXPECT_TRUE(orange.red() > orange.blue() && orange.green() > red.green());
    EXPECT_FALSE(cell(3, ActivityLogTable::result, Qt::ForegroundRole).isValid());  // "OK" is not "ok"
    const std::pair<const char*, std::vector<std::string>> rows[] = {
        {"  OK \n", {"ax_click", "LOOKup", "ocr"}},
        {"timeout", {"ax_type"}},
        {"h", {}},
    };
    for (const auto& [filter, shown] : rows) {
        log.setFilter(filter);
        EXPECT_EQ(tools(log.filteredEntries()), shown) << '"' << filter << '"';
    }
    log.clear();
    EXPECT_EQ(log.filterText(), "h");
}

// ---- tray indicator ----------------------------------------------------------------------------------

// Which timed item counts down follows the time left, not the item chosen (the tray tests choose them).
TEST(ModeMenu, TheTimeLeftDecidesWhichTimedAllowCountsDown) {
    const ModeMenuState quarter = modeMenuState(OperatorMode::allow, 3600.0, 2699.5);  // 900.5 s left
    EXPECT_TRUE(quarter.allow15On && !quarter.allow60On);
    EXPECT_EQ(quarter.allow15Title, "Allow for 15 min  (15:00 left)");
    EXPECT_EQ(modeMenuState(OperatorMode::allow, 3600.0, 2699).allow60Title,
              "Allow for 60 min  (15:01 left)");
}

// The icon's opacity at chosen times, after showing a state's look at some of them.
TEST(IndicatorAnimator, BeatsPulsesAndANewStateEndsTheOldBeatAtOnce) {
    using enum IndicatorState;
    using Step = std::tuple<double, std::optional<IndicatorState>, double>;
    const std::vector<Step> rows[] = {
        // full, below rest, the second smaller beat, at rest, the next beat
        {{0, active, 1.0}, {0.27, {}, 0.65 * 0.85}, {0.36, {}, 0.92}, {0.81, {}, 0.65}, {1.69, {}, 1.0}},
        // a pulse every half second
        {{0, destructive, 1.0}, {0.625, {}, 0.75}, {0.9, {}, 0.5}, {1.5, {}, 1.0}},
        // idle beats from the switch, with no beat left of the old 1.6 s period; paused stands still
        {{0, active, 1.0}, {0.1, idle, 1.0}, {0.19, {}, 0.95}, {2.0, {}, 0.55}},
        {{0, idle, 1.0}, {2.1, paused, 1.0}, {10, {}, 1.0}},
    };
    for (const auto& steps : rows) {
        ManualClock clock;
        IndicatorAnimator animator(clock);
        for (const auto& [time, shown, opacity] : steps) {
            clock.advanceTo(time);
            if (shown) animator.show(indicatorLook(*shown));
            EXPECT_NEAR(animator.opacity(time), opacity, 1e-6)
                << int(std::get<1>(steps[0]).value()) << " at " << time;
        }
        EXPECT_EQ(clock.pendingTimers() == 0, &steps == &rows[3]);  // only the paused look stands still
    }
}

}  // namespace
}  // namespace pavo::overlay
