#include "overlay/ui/indicator_animator.hpp"

#include <algorithm>
#include <array>

#include "overlay/visuals/timing_function.hpp"

namespace pavo::overlay {

IndicatorAnimator::~IndicatorAnimator() {
    for (auto timer : {heartbeatTimer_, pulseTimer_, tweenTimer_}) {
        if (timer) clock_.cancel(*timer);
    }
}

void IndicatorAnimator::show(const IndicatorLook& look) {
    stop();
    if (look.heartbeat) startHeartbeat(*look.heartbeat);
    if (look.pulse) startPulse();
}

void IndicatorAnimator::stop() {
    stopPulse();
    stopHeartbeat();
    setOpacity(1.0);
}

void IndicatorAnimator::stopPulse() {
    if (pulseTimer_) clock_.cancel(*pulseTimer_);
    pulseTimer_.reset();
}

void IndicatorAnimator::stopHeartbeat() {
    ++generation_;
    if (heartbeatTimer_) clock_.cancel(*heartbeatTimer_);
    heartbeatTimer_.reset();
}

void IndicatorAnimator::setOpacity(double value) {
    // A direct set ends any tween in flight; its completion still comes, and finds nothing to do.
    tween_ = Tween{value, value, clock_.now(), 0};
}

double IndicatorAnimator::opacity(double time) const {
    if (tween_.duration <= 0 || time >= tween_.begin + tween_.duration) return tween_.to;
    if (time <= tween_.begin) return tween_.from;
    static const TimingFunction easing = TimingFunction::easeInEaseOut();
    return tween_.from + (tween_.to - tween_.from) * easing((time - tween_.begin) / tween_.duration);
}

void IndicatorAnimator::animateTo(double target, double duration, std::function<void()> completion) {
    const double now = clock_.now();
    tween_ = Tween{opacity(now), target, now, duration};
    // A completion still pending belongs to a tween this one replaces; it would find nothing to do.
    if (tweenTimer_) clock_.cancel(*tweenTimer_);
    tweenTimer_ = clock_.after(duration, [this, completion = std::move(completion)] {
        tweenTimer_.reset();
        completion();
    });
    if (onTween) onTween();
}

void IndicatorAnimator::startHeartbeat(const Heartbeat& heartbeat) {
    stopHeartbeat();
    const std::int64_t generation = ++generation_;
    playBeat(heartbeat, generation, 0);
    scheduleBeat(heartbeat, generation);
}

void IndicatorAnimator::scheduleBeat(const Heartbeat& heartbeat, std::int64_t generation) {
    heartbeatTimer_ = clock_.after(heartbeat.period, [this, heartbeat, generation] {
        heartbeatTimer_.reset();
        if (generation_ != generation) return;
        playBeat(heartbeat, generation, 0);
        scheduleBeat(heartbeat, generation);
    });
}

void IndicatorAnimator::playBeat(const Heartbeat& heartbeat, std::int64_t generation, int phase) {
    struct Phase {
        double duration;
        double target;
    };
    const std::array<Phase, 4> phases{{{0.09, heartbeat.peak},
                                       {0.18, std::max(heartbeat.rest * 0.85, 0.0)},
                                       {0.09, heartbeat.peak * 0.92},
                                       {0.45, heartbeat.rest}}};
    if (generation_ != generation || phase >= static_cast<int>(phases.size())) return;
    const Phase& step = phases[static_cast<std::size_t>(phase)];
    animateTo(step.target, step.duration,
              [this, heartbeat, generation, phase] { playBeat(heartbeat, generation, phase + 1); });
}

void IndicatorAnimator::startPulse() {
    stopPulse();
    schedulePulse();
}

void IndicatorAnimator::schedulePulse() {
    pulseTimer_ = clock_.after(0.5, [this] {
        animateTo(targetOpacity() < 1.0 ? 1.0 : 0.5, 0.25, [] {});
        schedulePulse();
    });
}

}  // namespace pavo::overlay
