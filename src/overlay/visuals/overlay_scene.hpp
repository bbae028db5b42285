#pragma once
// What the overlay view shows, without the widget: the root layer with the glass relay at the bottom,
// the one persistent cursor halo and at most one ripple, pill, element box and destructive border, each
// replacing the previous at once. Points and rectangles come in the agent's screen space (origin at the
// top left of the main display, y down) and are mapped into the view's layer space (origin bottom left).

#include <QPointF>
#include <QRectF>
#include <QRegion>
#include <QSizeF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "overlay/visuals/click_ripple_layer.hpp"
#include "overlay/visuals/cursor_halo_layer.hpp"
#include "overlay/visuals/destructive_border_layer.hpp"
#include "overlay/visuals/element_bbox_layer.hpp"
#include "overlay/visuals/glass_relay_layer.hpp"
#include "overlay/visuals/key_chord_pill_layer.hpp"

class QPainter;

namespace pavo::overlay {

class OverlayScene {
  public:
    OverlayScene(Clock& clock, EffectStyle style, bool reducedMotion, TextMeasure measure);
    OverlayScene(const OverlayScene&) = delete;
    OverlayScene& operator=(const OverlayScene&) = delete;

    bool wantsReducedMotion() const { return reducedMotion_; }
    const Layer& layer() const { return *root_; }
    Layer& layer() { return *root_; }
    GlassRelayLayer& glassRelay() { return *glassRelay_; }

    // The view's size; keeps the root, the relay and a border covering it.
    void setSize(QSizeF size);
    QSizeF size() const { return root_->bounds.size(); }
    // The window's frame in screen coordinates (top-left origin); none: the view's own bounds.
    void setWindowGeometry(std::optional<QRectF> geometry) { windowGeometry_ = geometry; }

    QPointF mapPoint(QPointF screenPoint) const;
    QRectF mapRect(const QRectF& screenRect) const;

    void showCursorHalo(QPointF screenPoint);
    void showClickRipple(QPointF screenPoint);
    void showKeyChordPill(const QString& chord);  // centred, 80 points above the bottom edge
    void showElementBBox(const QRectF& screenRect);
    void showDestructiveBorder();

    const std::shared_ptr<CursorHaloLayer>& cursorHalo() const { return cursorHalo_; }
    const std::shared_ptr<ClickRippleLayer>& currentRipple() const { return currentRipple_; }
    const std::shared_ptr<KeyChordPillLayer>& currentPill() const { return currentPill_; }
    const std::shared_ptr<ElementBBoxLayer>& currentBBox() const { return currentBBox_; }
    const std::shared_ptr<DestructiveBorderLayer>& destructiveBorder() const { return destructiveBorder_; }

    // Called after every change, made now or by a delayed step.
    std::function<void()> onChange;

    void paint(QPainter& painter, double time) const;
    // Where something is visible at `time`, in device coordinates (top-left origin).
    QRegion visibleRegion(double time) const;

  private:
    template <typename L>
    L& adopt(std::shared_ptr<L>& slot, std::shared_ptr<L> layer);
    void changed() const;

    const EffectStyle style_;
    const bool reducedMotion_;
    TextMeasure measure_;
    EffectContext context_;
    std::optional<QRectF> windowGeometry_;

    std::shared_ptr<Layer> root_;
    std::shared_ptr<GlassRelayLayer> glassRelay_;
    std::shared_ptr<CursorHaloLayer> cursorHalo_;
    std::shared_ptr<ClickRippleLayer> currentRipple_;
    std::shared_ptr<KeyChordPillLayer> currentPill_;
    std::shared_ptr<ElementBBoxLayer> currentBBox_;
    std::shared_ptr<DestructiveBorderLayer> destructiveBorder_;
};

}  // namespace pavo::overlay
