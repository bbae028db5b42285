#pragma once
// The transparent window over the primary screen: frameless, translucent, above other windows, never
// focused, out of the taskbar and window list, and transparent to input (its X11 input shape is empty,
// so every click reaches the application below).

#include <QWidget>

class QScreen;

namespace pavo::overlay {

class OverlayWindow : public QWidget {
  public:
    // Covers `screen`, follows its geometry, holds `contentView` over its whole area and shows itself.
    OverlayWindow(QScreen& screen, QWidget* contentView);

    static Qt::WindowFlags windowFlagsForOverlay();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    QWidget* contentView_;
};

}  // namespace pavo::overlay
