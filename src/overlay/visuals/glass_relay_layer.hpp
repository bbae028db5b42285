#pragma once
// The ambient status light: a soft glow along the four screen edges. Invisible while idle, breathing
// cool blue and violet while the agent works, pulsing warm amber while a destructive action waits,
// flashing green when one is approved and a still grey while agents are blocked.

#include <array>
#include <memory>

#include "overlay/visuals/effect_layer.hpp"

namespace pavo::overlay {

enum class RelayState { idle, active, destructivePending, approved, blocked };

using Palette = std::array<QColor, 4>;

namespace palettes {
Palette base();
Palette warm();
Palette approved();
Palette blocked();
}  // namespace palettes

class GlassRelayLayer : public EffectLayer {
  public:
    static constexpr double edgeThickness = 56;

    explicit GlassRelayLayer(EffectContext& context);

    RelayState currentState() const { return currentState_; }
    void setState(RelayState state);

    // Recomputes the bands for the current bounds; call after changing them.
    void layoutSublayers();
    double bandThickness() const;

    // Top, right, bottom, left.
    const std::array<std::shared_ptr<Layer>, 4>& bands() const { return bands_; }

  private:
    void setBandsToStaticPalette(const Palette& palette);
    void startLivePerimeter(const Palette& palette, double cycleDuration, double breathDuration,
                            float breathLow, float breathHigh);
    void startCoolPerimeter();
    void stopBandAnimations();
    void fadeParent(double target, double duration);
    void playApprovedSweep(RelayState previous);

    RelayState currentState_ = RelayState::idle;
    std::array<std::shared_ptr<Layer>, 4> bands_;
};

}  // namespace pavo::overlay
