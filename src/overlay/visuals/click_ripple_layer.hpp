#pragma once
// The ripple where the agent clicks: a disc that grows from a tenth to full size in 0.35 s, fades from
// 0.25 s and is removed at 0.55 s (with reduced motion: shown at full size, removed at 0.25 s).

#include "overlay/visuals/effect_layer.hpp"

namespace pavo::overlay {

class ClickRippleLayer : public EffectLayer {
  public:
    static constexpr double maxRadius = 35;

    ClickRippleLayer(EffectContext& context, const EffectStyle& style);
    void animate();
};

}  // namespace pavo::overlay
