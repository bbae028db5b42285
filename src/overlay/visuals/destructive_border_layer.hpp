#pragma once
// The short red flash along the screen's four edges before a destructive action: in over 0.02 s, out
// from 0.2 s, removed at 0.4 s (with reduced motion: shown at once, removed at 0.2 s).

#include "overlay/visuals/effect_layer.hpp"

namespace pavo::overlay {

class DestructiveBorderLayer : public EffectLayer {
  public:
    static constexpr double edgeThickness = 4;

    // Covers `viewBounds` (the view's bounds, in the view's layer coordinates).
    DestructiveBorderLayer(EffectContext& context, const EffectStyle& style, const QRectF& viewBounds);
    // Rebuilds the four edges for the current bounds: top, bottom, left, right.
    void setupBorders();
    void animate();

  private:
    QColor red_;
};

}  // namespace pavo::overlay
