#include "overlay/visuals/cursor_halo_layer.hpp"

#include <memory>

namespace pavo::overlay {

namespace {

std::shared_ptr<Layer> disc(const QRectF& frame, const QRectF& ellipse) {
    auto layer = std::make_shared<Layer>();
    layer->setFrame(frame);
    layer->bounds.moveTo(0, 0);
    layer->shape.emplace();
    layer->shape->path.addEllipse(ellipse);
    return layer;
}

}  // namespace

CursorHaloLayer::CursorHaloLayer(EffectContext& context, const EffectStyle& style) : EffectLayer(context) {
    bounds = QRectF(0, 0, 2 * haloRadius, 2 * haloRadius);
    opacity = 0;

    auto halo = disc(bounds, bounds);
    halo->shape->fill = withAlpha(style.accent, 0.25);
    halo->shape->shadow = Shadow{style.accent, 8, 0.6, QPointF(0, 0)};
    addSublayer(halo);

    auto core = disc(
        bounds, QRectF(haloRadius - coreRadius, haloRadius - coreRadius, 2 * coreRadius, 2 * coreRadius));
    core->shape->fill = QColor(Qt::white);
    core->shape->stroke = style.accent;
    core->shape->lineWidth = 1;
    core->shape->shadow = Shadow{QColor(Qt::black), 2, 0.2, QPointF(0, -1)};
    addSublayer(core);
}

void CursorHaloLayer::moveTo(QPointF point) {
    if (hideWorkItem_) clock().cancel(*hideWorkItem_);
    const double t = now();
    if (reducedMotion) {
        position = point;
        opacity = 1;
    } else {
        if (opacity < 1) {
            // A fade-out still in progress would show again once the fade-in ends; the move ends it.
            const double shown = presentedOpacity(t);
            removeAnimation("fadeOut");
            addAnimation("fadeIn", opacityAnimation(shown, 1, 0.15));
            opacity = 1;
        }
        if (placed_) {
            Animation glide =
                Animation::basic(kPosition, presentedPosition(t), point, 0.12, TimingFunction::easeOut());
            glide.beginTime = t;
            addAnimation(std::string(kPosition), std::move(glide));
        }
        position = point;
    }
    placed_ = true;
    hideWorkItem_ = later(1.5, [](EffectLayer& layer) { static_cast<CursorHaloLayer&>(layer).fadeOut(); });
}

void CursorHaloLayer::fadeOut() {
    hideWorkItem_.reset();
    if (reducedMotion) {
        opacity = 0;
        return;
    }
    fadeFromCurrent("fadeOut", 0.4, TimingFunction::linear());
}

}  // namespace pavo::overlay
