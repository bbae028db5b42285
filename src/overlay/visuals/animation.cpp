#include "overlay/visuals/animation.hpp"

#include <algorithm>
#include <cmath>

namespace pavo::overlay {

namespace {

QColor mix(const QColor& a, const QColor& b, double f) {
    return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * f),
                            static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * f),
                            static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * f),
                            static_cast<float>(a.alphaF() + (b.alphaF() - a.alphaF()) * f));
}

}  // namespace

AnimatedValue interpolate(const AnimatedValue& from, const AnimatedValue& to, double f) {
    if (from.index() != to.index()) return f < 1 ? from : to;
    if (const auto* a = std::get_if<double>(&from)) return *a + (std::get<double>(to) - *a) * f;
    if (const auto* a = std::get_if<QPointF>(&from)) return *a + (std::get<QPointF>(to) - *a) * f;
    const auto& a = std::get<ColorList>(from);
    const auto& b = std::get<ColorList>(to);
    ColorList mixed(std::min(a.size(), b.size()));
    for (std::size_t i = 0; i < mixed.size(); ++i) mixed[i] = mix(a[i], b[i], f);
    return mixed;
}

Animation Animation::basic(std::string_view keyPath, AnimatedValue from, AnimatedValue to, double duration,
                           TimingFunction function) {
    Animation a;
    a.keyPath = keyPath;
    a.values = {std::move(from), std::move(to)};
    a.functions = {std::move(function)};
    a.duration = duration;
    return a;
}

Animation Animation::keyframes(std::string_view keyPath, std::vector<AnimatedValue> values, double duration,
                               std::vector<double> keyTimes, std::vector<TimingFunction> functions) {
    Animation a;
    a.kind = Kind::keyframe;
    a.keyPath = keyPath;
    a.values = std::move(values);
    a.keyTimes = std::move(keyTimes);
    a.functions = std::move(functions);
    a.duration = duration;
    return a;
}

Animation Animation::group(double duration, std::vector<Animation> animations) {
    Animation a;
    a.kind = Kind::group;
    a.animations = std::move(animations);
    a.duration = duration;
    return a;
}

double Animation::activeEnd() const {
    if (repeatsForever) return std::numeric_limits<double>::infinity();
    return beginTime + std::max(duration, 0.0) * (autoreverses ? 2 : 1);
}

bool Animation::affects(std::string_view key) const {
    if (kind != Kind::group) return keyPath == key;
    return std::any_of(animations.begin(), animations.end(),
                       [key](const Animation& a) { return a.affects(key); });
}

std::optional<double> Animation::localTime(double time) const {
    const double elapsed = time - beginTime;
    if (elapsed < 0) return std::nullopt;
    if (duration <= 0) {
        if (removedOnCompletion || !fillsForwards) return std::nullopt;
        return 0.0;
    }
    const double cycle = duration * (autoreverses ? 2 : 1);
    if (!repeatsForever && elapsed >= cycle) {
        if (removedOnCompletion || !fillsForwards) return std::nullopt;
        return autoreverses ? 0.0 : duration;
    }
    double local = std::fmod(elapsed, cycle);
    if (autoreverses && local > duration) local = cycle - local;
    return local;
}

AnimatedValue Animation::sample(double local) const {
    const double progress = duration > 0 ? local / duration : 1.0;
    if (values.size() == 1) return values.front();
    if (kind == Kind::basic) {
        const double eased = functions.empty() ? progress : functions.front()(progress);
        return interpolate(values[0], values[1], eased);
    }
    const std::size_t segments = values.size() - 1;
    auto keyTime = [&](std::size_t i) {
        return keyTimes.size() == values.size() ? keyTimes[i] : static_cast<double>(i) / segments;
    };
    std::size_t segment = 0;
    while (segment + 1 < segments && progress >= keyTime(segment + 1)) ++segment;
    const double span = keyTime(segment + 1) - keyTime(segment);
    const double within = span > 0 ? std::clamp((progress - keyTime(segment)) / span, 0.0, 1.0) : 1.0;
    const double eased = segment < functions.size() ? functions[segment](within) : within;
    return interpolate(values[segment], values[segment + 1], eased);
}

std::optional<AnimatedValue> Animation::valueAt(std::string_view key, double time) const {
    if (!affects(key)) return std::nullopt;
    const std::optional<double> local = localTime(time);
    if (!local) return std::nullopt;
    if (kind != Kind::group) {
        if (values.empty()) return std::nullopt;
        return sample(*local);
    }
    std::optional<AnimatedValue> shown;
    for (const Animation& child : animations) {
        if (auto value = child.valueAt(key, *local)) shown = std::move(value);
    }
    return shown;
}

}  // namespace pavo::overlay
