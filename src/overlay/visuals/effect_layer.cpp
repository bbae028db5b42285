#include "overlay/visuals/effect_layer.hpp"

#include <memory>

namespace pavo::overlay {

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

Clock::TimerId EffectLayer::later(double delay, std::function<void(EffectLayer&)> step) {
    std::weak_ptr<Layer> weak = weak_from_this();
    return context_.clock.after(delay, [weak, step = std::move(step)] {
        const std::shared_ptr<Layer> layer = weak.lock();
        if (!layer) return;
        auto& self = static_cast<EffectLayer&>(*layer);
        step(self);
        self.needsDisplay();
    });
}

Animation EffectLayer::opacityAnimation(double from, double to, double duration, double delay,
                                        TimingFunction function) const {
    Animation animation = Animation::basic(kOpacity, from, to, duration, std::move(function));
    animation.beginTime = now() + delay;
    return animation;
}

void EffectLayer::fadeFromCurrent(const std::string& key, double duration, TimingFunction function) {
    addAnimation(key, opacityAnimation(presentedOpacity(now()), 0, duration, 0, std::move(function)));
    opacity = 0;
}

void EffectLayer::needsDisplay() const {
    if (context_.needsDisplay) context_.needsDisplay();
}

void EffectLayer::removeLater(double delay) {
    later(delay, [](EffectLayer& layer) { layer.removeFromSuperlayer(); });
}

}  // namespace pavo::overlay
