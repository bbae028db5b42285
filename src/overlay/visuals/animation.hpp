#pragma once
// Explicit animations of a layer property: basic (from, to), keyframe (values at key times) and group
// (children timed inside the group). What an animation shows is a pure function of the media time, so
// any moment can be sampled without playing the ones before it.

#include <QColor>
#include <QPointF>

#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "overlay/visuals/timing_function.hpp"

namespace pavo::overlay {

using ColorList = std::vector<QColor>;
using AnimatedValue = std::variant<double, QPointF, ColorList>;

// Key paths the layer model animates.
inline constexpr std::string_view kOpacity = "opacity";
inline constexpr std::string_view kScale = "transform.scale";
inline constexpr std::string_view kPosition = "position";
inline constexpr std::string_view kColors = "colors";

AnimatedValue interpolate(const AnimatedValue& from, const AnimatedValue& to, double fraction);

struct Animation {
    enum class Kind { basic, keyframe, group };

    static Animation basic(std::string_view keyPath, AnimatedValue from, AnimatedValue to, double duration,
                           TimingFunction function = TimingFunction::linear());
    // Key times default to evenly spaced; missing segment functions are linear.
    static Animation keyframes(std::string_view keyPath, std::vector<AnimatedValue> values, double duration,
                               std::vector<double> keyTimes = {}, std::vector<TimingFunction> functions = {});
    static Animation group(double duration, std::vector<Animation> animations);

    Kind kind = Kind::basic;
    std::string keyPath;
    std::vector<AnimatedValue> values;
    std::vector<double> keyTimes;
    std::vector<TimingFunction> functions;
    std::vector<Animation> animations;  // a group's children; their begin times count from the group's

    double beginTime = 0;  // media time (for a group's child: seconds into the group)
    double duration = 0;
    bool autoreverses = false;
    bool repeatsForever = false;
    bool fillsForwards = false;
    bool removedOnCompletion = true;

    // When the animation stops changing anything: begin + one (or, auto-reversing, two) durations.
    double activeEnd() const;
    bool finishedAt(double time) const { return !repeatsForever && time >= activeEnd(); }
    bool affects(std::string_view key) const;
    // The value shown for `key` at `time`, or nothing when the animation is not in effect then.
    std::optional<AnimatedValue> valueAt(std::string_view key, double time) const;

  private:
    std::optional<double> localTime(double time) const;
    AnimatedValue sample(double local) const;
};

}  // namespace pavo::overlay
