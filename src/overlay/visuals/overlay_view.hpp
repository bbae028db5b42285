#pragma once
// The overlay's content view: draws an OverlayScene and repaints only while something in it animates,
// only where something is or was visible. An idle overlay has no timer running and uses no CPU.

#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <functional>

#include "overlay/visuals/overlay_scene.hpp"

namespace pavo::overlay {

class OverlayView : public QWidget {
  public:
    OverlayView(Clock& clock, EffectStyle style, bool reducedMotion, QWidget* parent = nullptr);

    OverlayScene& scene() { return scene_; }
    GlassRelayLayer& glassRelay() { return scene_.glassRelay(); }

    // Points and rectangles in the agent's screen space.
    void showCursorHalo(QPointF point);
    void showClickRipple(QPointF point);
    void showKeyChordPill(const QString& chord);
    void showElementBBox(const QRectF& rect);
    void showDestructiveBorder();

    // Called at the end of every paint with the media time drawn (benchmarks watch for frames).
    std::function<void(double time)> framePainted;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void followWindow();
    void kick();
    void tick();

    Clock& clock_;
    OverlayScene scene_;
    QTimer frameTimer_;
    QTimer wakeTimer_;
    QRegion shownRegion_;
};

}  // namespace pavo::overlay
