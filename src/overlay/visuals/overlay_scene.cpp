#include "overlay/visuals/overlay_scene.hpp"

#include <QPainter>

#include "overlay/visuals/layer_painter.hpp"

namespace pavo::overlay {

namespace {

// Shadows and strokes reach a little past a layer's frame.
constexpr double kPaintMargin = 12;

}  // namespace

OverlayScene::OverlayScene(Clock& clock, EffectStyle style, bool reducedMotion, TextMeasure measure)
    : style_(std::move(style)),
      reducedMotion_(reducedMotion),
      measure_(std::move(measure)),
      context_{clock, [this] { changed(); }},
      root_(std::make_shared<Layer>()),
      glassRelay_(std::make_shared<GlassRelayLayer>(context_)) {
    root_->anchorPoint = QPointF(0, 0);
    glassRelay_->anchorPoint = QPointF(0, 0);
    glassRelay_->reducedMotion = reducedMotion_;
    root_->insertSublayer(glassRelay_, 0);
}

void OverlayScene::changed() const {
    if (onChange) onChange();
}

void OverlayScene::setSize(QSizeF size) {
    const QRectF bounds(QPointF(0, 0), size);
    root_->setFrame(bounds);
    root_->bounds = bounds;
    glassRelay_->setFrame(bounds);
    glassRelay_->bounds = bounds;
    glassRelay_->layoutSublayers();
    if (destructiveBorder_) {
        destructiveBorder_->setFrame(bounds);
        destructiveBorder_->bounds = bounds;
        destructiveBorder_->setupBorders();
    }
    changed();
}

QPointF OverlayScene::mapPoint(QPointF p) const {
    const QRectF w = windowGeometry_.value_or(QRectF(QPointF(0, 0), size()));
    return QPointF(p.x() - w.x(), w.y() + w.height() - p.y());
}

QRectF OverlayScene::mapRect(const QRectF& r) const {
    const QRectF w = windowGeometry_.value_or(QRectF(QPointF(0, 0), size()));
    return QRectF(r.x() - w.x(), w.y() + w.height() - r.y() - r.height(), r.width(), r.height());
}

template <typename L>
L& OverlayScene::adopt(std::shared_ptr<L>& slot, std::shared_ptr<L> layer) {
    if (slot) slot->removeFromSuperlayer();
    layer->reducedMotion = reducedMotion_;
    root_->addSublayer(layer);
    slot = std::move(layer);
    return *slot;
}

void OverlayScene::showCursorHalo(QPointF screenPoint) {
    if (!cursorHalo_) {
        cursorHalo_ = std::make_shared<CursorHaloLayer>(context_, style_);
        cursorHalo_->reducedMotion = reducedMotion_;
        root_->addSublayer(cursorHalo_);
    }
    cursorHalo_->moveTo(mapPoint(screenPoint));
    changed();
}

void OverlayScene::showClickRipple(QPointF screenPoint) {
    auto& ripple = adopt(currentRipple_, std::make_shared<ClickRippleLayer>(context_, style_));
    ripple.position = mapPoint(screenPoint);
    ripple.animate();
    changed();
}

void OverlayScene::showKeyChordPill(const QString& chord) {
    auto& pill = adopt(currentPill_, std::make_shared<KeyChordPillLayer>(context_, style_, chord, measure_));
    pill.position = QPointF(size().width() / 2, 80);
    pill.animate();
    changed();
}

void OverlayScene::showElementBBox(const QRectF& screenRect) {
    auto& box =
        adopt(currentBBox_, std::make_shared<ElementBBoxLayer>(context_, style_, mapRect(screenRect)));
    box.animate();
    changed();
}

void OverlayScene::showDestructiveBorder() {
    const QRectF bounds(QPointF(0, 0), size());
    auto& border =
        adopt(destructiveBorder_, std::make_shared<DestructiveBorderLayer>(context_, style_, bounds));
    border.animate();
    changed();
}

void OverlayScene::paint(QPainter& painter, double time) const {
    paintLayerTree(painter, *root_, time, size().height());
}

QRegion OverlayScene::visibleRegion(double time) const {
    const double height = size().height();
    auto device = [height](const QRectF& r) {
        return QRectF(r.x(), height - r.y() - r.height(), r.width(), r.height()).toAlignedRect();
    };
    QRegion region;
    if (root_->presentedOpacity(time) <= 0) return region;
    for (const auto& layer : root_->sublayers()) {
        if (layer->presentedOpacity(time) <= 0) continue;
        // The perimeter and the border only draw along the edges; the middle of the screen stays untouched.
        if (layer == glassRelay_ || layer == destructiveBorder_) {
            for (const auto& edge : layer->sublayers()) region += device(edge->frame());
            continue;
        }
        const QRectF frame = layer->presentedFrame(time);
        region += device(frame.adjusted(-kPaintMargin, -kPaintMargin, kPaintMargin, kPaintMargin));
    }
    return region;
}

}  // namespace pavo::overlay
