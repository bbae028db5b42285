#include "overlay/visuals/overlay_view.hpp"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace pavo::overlay {

namespace {

constexpr int kFrameMilliseconds = 16;

double measureText(const QString& text, const QFont& font) {
    return QFontMetricsF(font).horizontalAdvance(text);
}

}  // namespace

OverlayView::OverlayView(Clock& clock, EffectStyle style, bool reducedMotion, QWidget* parent)
    : QWidget(parent), clock_(clock), scene_(clock, std::move(style), reducedMotion, &measureText) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    frameTimer_.setTimerType(Qt::PreciseTimer);
    frameTimer_.setInterval(kFrameMilliseconds);
    connect(&frameTimer_, &QTimer::timeout, this, [this] { tick(); });
    wakeTimer_.setSingleShot(true);
    wakeTimer_.setTimerType(Qt::PreciseTimer);
    connect(&wakeTimer_, &QTimer::timeout, this, [this] { kick(); });
    scene_.onChange = [this] { kick(); };
}

void OverlayView::followWindow() {
    if (parentWidget()) {
        scene_.setWindowGeometry(QRectF(window()->geometry()));
    } else {
        scene_.setWindowGeometry(std::nullopt);
    }
}

void OverlayView::showCursorHalo(QPointF point) {
    followWindow();
    scene_.showCursorHalo(point);
}

void OverlayView::showClickRipple(QPointF point) {
    followWindow();
    scene_.showClickRipple(point);
}

void OverlayView::showKeyChordPill(const QString& chord) {
    scene_.showKeyChordPill(chord);
}

void OverlayView::showElementBBox(const QRectF& rect) {
    followWindow();
    scene_.showElementBBox(rect);
}

void OverlayView::showDestructiveBorder() {
    scene_.showDestructiveBorder();
}

void OverlayView::kick() {
    wakeTimer_.stop();
    tick();
}

void OverlayView::tick() {
    const double now = clock_.now();
    scene_.layer().pruneFinished(now);
    const Activity activity = scene_.layer().activity(now);
    const QRegion region = scene_.visibleRegion(now);
    // What was shown last frame must be cleared where nothing is now.
    update(region + shownRegion_);
    shownRegion_ = region;
    if (activity.running) {
        if (!frameTimer_.isActive()) frameTimer_.start();
        return;
    }
    frameTimer_.stop();
    if (activity.nextStart) {
        const double wait = std::max(0.0, *activity.nextStart - now);
        wakeTimer_.start(static_cast<int>(std::ceil(wait * 1000)));
    }
}

void OverlayView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const double now = clock_.now();
    scene_.paint(painter, now);
    painter.end();
    if (framePainted) framePainted(now);
}

void OverlayView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    scene_.setSize(QSizeF(size()));
}

}  // namespace pavo::overlay
