#pragma once
// The pill that shows a key chord: faded in over 0.15 s, out from 0.8 s, removed at 1.0 s (with reduced
// motion: shown at once, removed at 0.8 s). The text is shown as given, not parsed.

#include <QFont>
#include <QString>

#include <functional>

#include "overlay/visuals/effect_layer.hpp"

namespace pavo::overlay {

// The width of a text in a font; the view measures with QFontMetricsF, tests with anything.
using TextMeasure = std::function<double(const QString& text, const QFont& font)>;

class KeyChordPillLayer : public EffectLayer {
  public:
    static constexpr double pillHeight = 32;
    static constexpr double pillPadding = 16;

    KeyChordPillLayer(EffectContext& context, const EffectStyle& style, QString chord,
                      const TextMeasure& measure);
    void animate();

    const QString chord;
};

}  // namespace pavo::overlay
