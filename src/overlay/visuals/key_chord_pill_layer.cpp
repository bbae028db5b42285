#include "overlay/visuals/key_chord_pill_layer.hpp"

#include <memory>

namespace pavo::overlay {

KeyChordPillLayer::KeyChordPillLayer(EffectContext& context, const EffectStyle& style, QString text,
                                     const TextMeasure& measure)
    : EffectLayer(context), chord(std::move(text)) {
    opacity = 0;
    masksToBounds = true;
    const QFont& font = style.chordFont;
    const double width = (chord.isEmpty() || !measure) ? 0.0 : measure(chord, font);
    bounds = QRectF(0, 0, width + 2 * pillPadding, pillHeight);
    cornerRadius = pillHeight / 2;
    backgroundColor = withAlpha(style.shadow, 0.75);

    auto label = std::make_shared<Layer>();
    label->setFrame(QRectF(0, 7, bounds.width(), 18));
    label->bounds.moveTo(0, 0);
    label->text = TextContent{chord, font, QColor(Qt::white)};
    addSublayer(label);
}

void KeyChordPillLayer::animate() {
    opacity = 1;
    if (reducedMotion) {
        removeLater(0.8);
        return;
    }
    addAnimation("fadeIn", opacityAnimation(0, 1, 0.15));
    Animation fadeOut = opacityAnimation(1, 0, 0.15, 0.8);
    fadeOut.fillsForwards = true;
    fadeOut.removedOnCompletion = false;
    addAnimation("fadeOut", std::move(fadeOut));
    removeLater(1.0);
}

}  // namespace pavo::overlay
