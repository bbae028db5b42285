#pragma once
// The halo that follows the agent's cursor: shown (faded in) on each move, gliding to the new point,
// and faded out 1.5 s after the last one. It is never removed; the next move brings it back.

#include <optional>

#include "overlay/visuals/effect_layer.hpp"

namespace pavo::overlay {

class CursorHaloLayer : public EffectLayer {
  public:
    static constexpr double haloRadius = 20;
    static constexpr double coreRadius = 5;

    CursorHaloLayer(EffectContext& context, const EffectStyle& style);

    // `point` is in the superlayer's coordinates.
    void moveTo(QPointF point);

  private:
    void fadeOut();

    std::optional<Clock::TimerId> hideWorkItem_;
    bool placed_ = false;
};

}  // namespace pavo::overlay
