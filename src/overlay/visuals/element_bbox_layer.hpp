#pragma once
// The box around the element the agent works on: faded in over 0.1 s, out from 0.9 s, removed at
// 1.25 s (with reduced motion: shown at once, removed at 1.2 s).

#include "overlay/visuals/effect_layer.hpp"

namespace pavo::overlay {

class ElementBBoxLayer : public EffectLayer {
  public:
    static constexpr double cornerRadius = 6;

    // `rect` in the superlayer's coordinates.
    ElementBBoxLayer(EffectContext& context, const EffectStyle& style, const QRectF& rect);
    void animate();
};

}  // namespace pavo::overlay
