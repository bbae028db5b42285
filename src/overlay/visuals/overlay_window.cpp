#include "overlay/visuals/overlay_window.hpp"

#include <QScreen>

namespace pavo::overlay {

Qt::WindowFlags OverlayWindow::windowFlagsForOverlay() {
    // Tool + bypassing the window manager keeps it out of the taskbar and the window list and unfocused;
    // TransparentForInput gives it an empty input shape.
    return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput |
           Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint | Qt::NoDropShadowWindowHint;
}

OverlayWindow::OverlayWindow(QScreen& screen, QWidget* contentView)
    : QWidget(nullptr, windowFlagsForOverlay()), contentView_(contentView) {
    setWindowTitle(QStringLiteral("pavo-overlay"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setFocusPolicy(Qt::NoFocus);
    if (contentView_) {
        contentView_->setParent(this);
        contentView_->show();
    }
    setScreen(&screen);
    setGeometry(screen.geometry());
    connect(&screen, &QScreen::geometryChanged, this,
            [this](const QRect& geometry) { setGeometry(geometry); });
    show();
}

void OverlayWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (contentView_) contentView_->setGeometry(rect());
}

}  // namespace pavo::overlay
