// The glass relay: band geometry, the look of each state at chosen times, and the approval flash that
// returns to the working look or stays green.

#include <gtest/gtest.h>

#include "overlay/visuals/glass_relay_layer.hpp"

namespace pavo::overlay {
namespace {

struct Relay {
    explicit Relay(bool reducedMotion = false) {
        relay->reducedMotion = reducedMotion;
        relay->bounds = QRectF(0, 0, 1000, 600);
        relay->layoutSublayers();
    }
    // Moves the clock and applies the state.
    void set(double time, RelayState state) {
        clock.advanceTo(time);
        relay->setState(state);
    }
    QColor edgeColor(std::size_t band, double time) const {
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

TEST(GlassRelay, BandsAreAQuarterOfTheShortSideAtMost56Points) {
    const struct {
        double width, height, thickness;
    } rows[] = {{1000, 600, 56}, {100, 80, 20}, {1920, 1080, 56}, {200, 200, 50}};
    for (const auto& row : rows) {
        Relay r;
        r.relay->bounds = QRectF(0, 0, row.width, row.height);
        r.relay->layoutSublayers();
        const auto& bands = r.relay->bands();
        EXPECT_EQ(bands[0]->frame(), QRectF(0, row.height - row.thickness, row.width, row.thickness));  // top
        EXPECT_EQ(bands[1]->frame(),
                  QRectF(row.width - row.thickness, 0, row.thickness, row.height));  // right
        EXPECT_EQ(bands[2]->frame(), QRectF(0, 0, row.width, row.thickness));        // bottom
        EXPECT_EQ(bands[3]->frame(), QRectF(0, 0, row.thickness, row.height));       // left
        // Each band is coloured at the screen edge and clear towards the middle.
        EXPECT_EQ(bands[0]->gradient->startPoint, QPointF(0.5, 1.0));
        EXPECT_EQ(bands[3]->gradient->endPoint, QPointF(1.0, 0.5));
    }
}

TEST(GlassRelay, EachStateHasItsLook) {
    const struct {
        RelayState state;
        double parentOpacity;  // one second after the change
        QColor edge;  // top band, one second after the change (live palettes: somewhere on their cycle)
    } rows[] = {
        {RelayState::active, 1.0, palettes::base()[0]},
        {RelayState::destructivePending, 1.0, palettes::warm()[0]},
        {RelayState::blocked, 1.0, palettes::blocked()[0]},
    };
    for (const auto& row : rows) {
        Relay r;
        r.set(1, row.state);
        EXPECT_NEAR(r.relay->presentedOpacity(2), row.parentOpacity, 1e-9) << int(row.state);
        const QColor shown = r.edgeColor(0, 2);
        const bool warm = shown.redF() > shown.blueF();
        EXPECT_EQ(warm, row.edge.redF() > row.edge.blueF()) << int(row.state);
    }
    Relay blocked;
    blocked.set(1, RelayState::blocked);
    for (const auto& band : blocked.relay->bands()) EXPECT_DOUBLE_EQ(band->presentedOpacity(2), 0.55);
    EXPECT_TRUE(near(blocked.edgeColor(2, 2), palettes::blocked()[0]));

    Relay idle;  // fades out over 0.6 s
    idle.set(0, RelayState::active);
    idle.set(1, RelayState::idle);
    EXPECT_GT(idle.relay->presentedOpacity(1.3), 0.1);
    EXPECT_LT(idle.relay->presentedOpacity(1.3), 0.9);
    EXPECT_DOUBLE_EQ(idle.relay->presentedOpacity(1.6), 0.0);
}

TEST(GlassRelay, TheLivePerimeterBreathesAndTravels) {
    Relay r;
    r.set(0, RelayState::active);
    const auto& top = *r.relay->bands()[0];
    EXPECT_NEAR(top.presentedOpacity(0), 0.45, 1e-6);  // breathing from low ...
    EXPECT_NEAR(top.presentedOpacity(3), 0.95, 1e-6);  // ... to high in 3 s ...
    EXPECT_NEAR(top.presentedOpacity(6), 0.45, 1e-6);  // ... and back
    // The colours travel through the palette in 6.5 s, and the bands are not in step.
    EXPECT_TRUE(near(r.edgeColor(0, 0), palettes::base()[0]));
    EXPECT_TRUE(near(r.edgeColor(0, 6.5 / 4), palettes::base()[1]));
    EXPECT_TRUE(near(r.edgeColor(0, 6.5), palettes::base()[0]));
    EXPECT_FALSE(near(r.edgeColor(1, 0), r.edgeColor(0, 0)));

    const Animation* started = top.animation("iridescence");
    r.set(2, RelayState::active);  // the same state again changes nothing
    EXPECT_EQ(top.animation("iridescence"), started);
    EXPECT_EQ(started->beginTime, 0);
}

TEST(GlassRelay, ApprovalFlashesGreenThenReturnsOrStays) {
    const struct {
        const char* name;
        RelayState before;
        std::optional<RelayState> during;  // chosen 0.3 s into the flash
        RelayState after;                  // 2 s into it
        QColor edge;
    } rows[] = {
        {"from pending back to work", RelayState::destructivePending, std::nullopt, RelayState::active,
         palettes::base()[0]},
        {"from active back to work", RelayState::active, std::nullopt, RelayState::active,
         palettes::base()[0]},
        {"from blocked stays green", RelayState::blocked, std::nullopt, RelayState::approved,
         palettes::approved()[0]},
        {"blocked during the flash stays blocked", RelayState::active, RelayState::blocked,
         RelayState::blocked, palettes::blocked()[0]},
    };
    for (const auto& row : rows) {
        Relay r;
        r.set(0, row.before);
        r.set(1, RelayState::approved);
        EXPECT_TRUE(near(r.edgeColor(0, 1.5), palettes::approved()[0])) << row.name;
        if (row.during) r.set(1.3, *row.during);
        r.clock.advanceTo(1.84);
        EXPECT_EQ(r.relay->currentState(), row.during.value_or(RelayState::approved)) << row.name;
        r.clock.advanceTo(3);
        EXPECT_EQ(r.relay->currentState(), row.after) << row.name;
        if (row.after == RelayState::active) {
            // The cool cycle runs again from the flash's end.
            EXPECT_TRUE(near(r.edgeColor(0, 1.85), row.edge)) << row.name;
        } else {
            EXPECT_TRUE(near(r.edgeColor(0, 3), row.edge)) << row.name;
        }
    }
    Relay r;  // the flash itself: up to full, down to 0.55, then back to the band's own opacity
    r.set(0, RelayState::blocked);
    r.set(1, RelayState::approved);
    const auto& top = *r.relay->bands()[0];
    EXPECT_NEAR(top.presentedOpacity(1.24), 1.0, 1e-6);
    EXPECT_NEAR(top.presentedOpacity(1.5999), 0.55, 1e-3);
    const auto& left = *r.relay->bands()[3];  // 0.15 s behind the top band
    EXPECT_NEAR(left.presentedOpacity(1.39), 1.0, 1e-6);
}

TEST(GlassRelay, ReducedMotionShowsStaticLooks) {
    Relay r(true);
    r.set(0, RelayState::active);
    EXPECT_DOUBLE_EQ(r.relay->presentedOpacity(0), 1.0);
    for (std::size_t band = 0; band < 4; ++band) {
        EXPECT_NEAR(r.relay->bands()[band]->presentedOpacity(5), 0.95 * 0.85, 1e-6);
        EXPECT_TRUE(near(r.edgeColor(band, 5), palettes::base()[band]));
    }
    r.set(1, RelayState::destructivePending);
    r.set(2, RelayState::approved);
    EXPECT_EQ(r.relay->currentState(), RelayState::active);  // the flash is skipped, the return is at once
    r.set(3, RelayState::idle);
    EXPECT_DOUBLE_EQ(r.relay->presentedOpacity(3), 0.0);
}

}  // namespace
}  // namespace pavo::overlay
