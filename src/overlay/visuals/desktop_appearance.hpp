#pragma once
// What the desktop says about the overlay's looks, read once at start-up: the effect colours from the
// Qt palette, and whether animations are off.

#include <QString>

#include "overlay/visuals/effect_layer.hpp"

namespace pavo::overlay {

// The accent is the palette's highlight (Qt 6.4 has no accent role), the shadow the palette's shadow
// (black when the style's is not dark);
// the red is a fixed system red; the pill's font the monospaced system font, 14 pixels, medium weight.
EffectStyle desktopEffectStyle();
QColor systemRed();

// GTK's `gtk-enable-animations` in the [Settings] group of a settings.ini: true when it turns them off.
bool animationsDisabledIn(const QString& settingsFile);
// Reads $XDG_CONFIG_HOME/gtk-3.0/settings.ini (by default ~/.config/gtk-3.0/settings.ini).
bool desktopWantsReducedMotion();

}  // namespace pavo::overlay
