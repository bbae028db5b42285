#include "overlay/visuals/glass_relay_layer.hpp"

#include <algorithm>

namespace pavo::overlay {

namespace palettes {

namespace {
QColor rgba(double r, double g, double b, double a) {
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b),
                            static_cast<float>(a));
}
}  // namespace

Palette base() {
    return {rgba(0.36, 0.66, 1.0, 0.85), rgba(0.44, 0.81, 1.0, 0.85), rgba(0.62, 0.55, 1.0, 0.85),
            rgba(0.49, 0.63, 1.0, 0.85)};
}
Palette warm() {
    return {rgba(1.0, 0.66, 0.30, 0.95), rgba(1.0, 0.78, 0.45, 0.95), rgba(1.0, 0.84, 0.50, 0.95),
            rgba(1.0, 0.72, 0.40, 0.95)};
}
Palette approved() {
    return {rgba(0.62, 1.0, 0.85, 0.95), rgba(0.55, 1.0, 0.78, 0.95), rgba(0.62, 1.0, 0.85, 0.95),
            rgba(0.55, 1.0, 0.78, 0.95)};
}
Palette blocked() {
    const QColor grey = rgba(0.58, 0.55, 0.72, 0.85);
    return {grey, grey, grey, grey};
}

}  // namespace palettes

namespace {

// A band runs from its colour at the screen edge to fully transparent towards the centre.
ColorList edgeToClear(const QColor& color) {
    return {color, withAlpha(color, 0)};
}

}  // namespace

GlassRelayLayer::GlassRelayLayer(EffectContext& context) : EffectLayer(context) {
    opacity = 0;
    for (auto& band : bands_) {
        band = std::make_shared<Layer>();
        band->opacity = 0;
        band->gradient = GradientContent{{}, {0.0, 1.0}};
        addSublayer(band);
    }
    setBandsToStaticPalette(palettes::base());
}

double GlassRelayLayer::bandThickness() const {
    return std::min(0.25 * std::min(bounds.width(), bounds.height()), edgeThickness);
}

void GlassRelayLayer::layoutSublayers() {
    const double w = bounds.width();
    const double h = bounds.height();
    const double t = bandThickness();
    const std::array<QRectF, 4> frames{QRectF(0, h - t, w, t), QRectF(w - t, 0, t, h), QRectF(0, 0, w, t),
                                       QRectF(0, 0, t, h)};
    const std::array<std::pair<QPointF, QPointF>, 4> directions{
        std::pair{QPointF(0.5, 1.0), QPointF(0.5, 0.0)}, std::pair{QPointF(1.0, 0.5), QPointF(0.0, 0.5)},
        std::pair{QPointF(0.5, 0.0), QPointF(0.5, 1.0)}, std::pair{QPointF(0.0, 0.5), QPointF(1.0, 0.5)}};
    for (std::size_t i = 0; i < bands_.size(); ++i) {
        bands_[i]->setFrame(frames[i]);
        bands_[i]->bounds.moveTo(0, 0);
        bands_[i]->gradient->startPoint = directions[i].first;
        bands_[i]->gradient->endPoint = directions[i].second;
    }
}

void GlassRelayLayer::setBandsToStaticPalette(const Palette& palette) {
    for (std::size_t i = 0; i < bands_.size(); ++i) {
        bands_[i]->gradient->colors = edgeToClear(palette[i % palette.size()]);
    }
}

void GlassRelayLayer::stopBandAnimations() {
    for (auto& band : bands_) {
        band->removeAnimation("iridescence");
        band->removeAnimation("breath");
    }
}

void GlassRelayLayer::fadeParent(double target, double duration) {
    if (!reducedMotion) {
        Animation fade = opacityAnimation(opacity, target, duration, 0, TimingFunction::easeInEaseOut());
        fade.fillsForwards = true;
        addAnimation("fadeParent", std::move(fade));
    }
    opacity = target;
}

void GlassRelayLayer::startLivePerimeter(const Palette& palette, double cycleDuration, double breathDuration,
                                         float breathLow, float breathHigh) {
    if (reducedMotion) {
        stopBandAnimations();
        setBandsToStaticPalette(palette);
        for (auto& band : bands_) band->opacity = breathHigh * 0.85;
        return;
    }
    const double t = now();
    const std::size_t n = palette.size();
    for (std::size_t i = 0; i < bands_.size(); ++i) {
        std::vector<AnimatedValue> keyframes;
        for (std::size_t k = 0; k < n; ++k) keyframes.emplace_back(edgeToClear(palette[(i + k) % n]));
        keyframes.push_back(keyframes.front());  // the cycle closes
        std::vector<TimingFunction> easing(std::max<std::size_t>(keyframes.size(), 2) - 1,
                                           TimingFunction::easeInEaseOut());
        Animation iridescence =
            Animation::keyframes(kColors, std::move(keyframes), cycleDuration, {}, std::move(easing));
        iridescence.repeatsForever = true;
        // Each band starts i steps along the palette, back-dated by i/n of a period: the colours travel.
        iridescence.beginTime = t - (cycleDuration / n) * i;
        bands_[i]->addAnimation("iridescence", std::move(iridescence));

        Animation breath = Animation::basic(kOpacity, double(breathLow), double(breathHigh), breathDuration,
                                            TimingFunction::easeInEaseOut());
        breath.autoreverses = true;
        breath.repeatsForever = true;
        breath.beginTime = t - (breathDuration / n) * i;
        bands_[i]->addAnimation("breath", std::move(breath));
        bands_[i]->opacity = (breathLow + breathHigh) * 0.5;
    }
}

void GlassRelayLayer::startCoolPerimeter() {
    startLivePerimeter(palettes::base(), 6.5, 3.0, 0.45f, 0.95f);
}

void GlassRelayLayer::playApprovedSweep(RelayState previous) {
    // Back to the working look after the flash, when the agent was working or waiting before; otherwise
    // the layer stays green. A state chosen during the flash (blocked, idle) is not overwritten.
    auto completion = [previous](EffectLayer& layer) {
        auto& relay = static_cast<GlassRelayLayer&>(layer);
        if (relay.currentState_ != RelayState::approved) return;
        if (previous != RelayState::active && previous != RelayState::destructivePending) return;
        relay.currentState_ = RelayState::active;
        relay.startCoolPerimeter();
    };
    if (reducedMotion) {
        completion(*this);
        return;
    }
    const double t = now();
    for (std::size_t i = 0; i < bands_.size(); ++i) {
        Layer& band = *bands_[i];
        band.removeAnimation("breath");
        Animation sweep = Animation::keyframes(kOpacity, {band.opacity, 1.0, 0.55}, 0.6, {0.0, 0.4, 1.0},
                                               {TimingFunction::easeOut(), TimingFunction::easeIn()});
        sweep.beginTime = t + 0.05 * static_cast<double>(i);
        band.addAnimation("approvedSweep", std::move(sweep));
    }
    later(0.85, completion);
}

void GlassRelayLayer::setState(RelayState state) {
    if (state == currentState_) return;
    const RelayState previous = std::exchange(currentState_, state);
    switch (state) {
        case RelayState::idle:
            stopBandAnimations();
            setBandsToStaticPalette(palettes::base());
            fadeParent(0, 0.6);
            break;
        case RelayState::active:
            fadeParent(1, 0.5);
            startCoolPerimeter();
            break;
        case RelayState::destructivePending:
            fadeParent(1, 0.25);
            startLivePerimeter(palettes::warm(), 3.0, 1.2, 0.55f, 1.0f);
            break;
        case RelayState::approved:
            stopBandAnimations();
            setBandsToStaticPalette(palettes::approved());
            playApprovedSweep(previous);
            break;
        case RelayState::blocked:
            stopBandAnimations();
            setBandsToStaticPalette(palettes::blocked());
            fadeParent(1, 0.4);
            for (auto& band : bands_) band->opacity = 0.55;
            break;
    }
    needsDisplay();
}

}  // namespace pavo::overlay
