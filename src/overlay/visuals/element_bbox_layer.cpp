#include "overlay/visuals/element_bbox_layer.hpp"

#include <algorithm>
#include <memory>

namespace pavo::overlay {

ElementBBoxLayer::ElementBBoxLayer(EffectContext& context, const EffectStyle& style, const QRectF& rect)
    : EffectLayer(context) {
    setFrame(rect);
    bounds.moveTo(0, 0);
    opacity = 0;
    auto outline = std::make_shared<Layer>();
    outline->setFrame(bounds);
    outline->bounds.moveTo(0, 0);
    outline->shape.emplace();
    // A box smaller than two corners gets corners that fit it, so it stays a box.
    const double radius = std::min({cornerRadius, bounds.width() / 2, bounds.height() / 2});
    outline->shape->path.addRoundedRect(bounds, radius, radius);
    outline->shape->lineWidth = 2.5;
    outline->shape->stroke = style.accent;
    outline->shape->fill = withAlpha(style.accent, 0.15);
    outline->shape->shadow = Shadow{style.accent, 6, 0.4, QPointF(0, 0)};
    addSublayer(outline);
}

void ElementBBoxLayer::animate() {
    opacity = 1;
    if (reducedMotion) {
        removeLater(1.2);
        return;
    }
    addAnimation("fadeIn", opacityAnimation(0, 1, 0.1));
    later(0.9, [](EffectLayer& layer) {
        static_cast<ElementBBoxLayer&>(layer).fadeFromCurrent("fadeOut", 0.3, TimingFunction::linear());
    });
    removeLater(1.25);
}

}  // namespace pavo::overlay
