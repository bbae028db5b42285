#include "overlay/visuals/destructive_border_layer.hpp"

#include <memory>

namespace pavo::overlay {

DestructiveBorderLayer::DestructiveBorderLayer(EffectContext& context, const EffectStyle& style,
                                               const QRectF& viewBounds)
    : EffectLayer(context), red_(style.red) {
    setFrame(viewBounds);
    bounds = QRectF(0, 0, viewBounds.width(), viewBounds.height());
    opacity = 0;
    masksToBounds = true;
    setupBorders();
}

void DestructiveBorderLayer::setupBorders() {
    removeAllSublayers();
    const double w = bounds.width();
    const double h = bounds.height();
    const double t = edgeThickness;
    for (const QRectF& edge :
         {QRectF(0, h - t, w, t), QRectF(0, 0, w, t), QRectF(0, 0, t, h), QRectF(w - t, 0, t, h)}) {
        auto layer = std::make_shared<Layer>();
        layer->setFrame(edge);
        layer->bounds.moveTo(0, 0);
        layer->backgroundColor = red_;
        addSublayer(layer);
    }
}

void DestructiveBorderLayer::animate() {
    opacity = 1;
    if (reducedMotion) {
        removeLater(0.2);
        return;
    }
    addAnimation("fadeIn", opacityAnimation(0, 1, 0.02));
    Animation fadeOut = opacityAnimation(1, 0, 0.15, 0.2);
    fadeOut.fillsForwards = true;
    fadeOut.removedOnCompletion = false;
    addAnimation("fadeOut", std::move(fadeOut));
    removeLater(0.4);
}

}  // namespace pavo::overlay
