#include "overlay/visuals/click_ripple_layer.hpp"

namespace pavo::overlay {

ClickRippleLayer::ClickRippleLayer(EffectContext& context, const EffectStyle& style) : EffectLayer(context) {
    bounds = QRectF(0, 0, 2 * maxRadius, 2 * maxRadius);
    opacity = 0;
    shape.emplace();
    shape->path.addEllipse(bounds);
    shape->fill = withAlpha(style.accent, 0.6);
    shape->stroke = style.accent;
    shape->lineWidth = 1;
}

void ClickRippleLayer::animate() {
    opacity = 1;
    if (reducedMotion) {
        removeLater(0.25);
        return;
    }
    Animation grow = Animation::basic(kScale, 0.1, 1.0, 0.35, TimingFunction::cubic(0.2, 0.8, 0.2, 1.0));
    Animation ripple = Animation::group(0.35, {grow});
    ripple.beginTime = now();
    addAnimation("ripple", std::move(ripple));
    later(0.25, [](EffectLayer& layer) {
        static_cast<ClickRippleLayer&>(layer).fadeFromCurrent("fadeOut", 0.25, TimingFunction::easeOut());
    });
    removeLater(0.55);
}

}  // namespace pavo::overlay
