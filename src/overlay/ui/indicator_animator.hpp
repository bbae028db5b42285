#pragma once
// The tray icon's opacity: a heartbeat (four chained tweens per beat, one beat per period) or a pulse
// (a tween every 0.5 s between full and half). Every stop or start of the heartbeat bumps a generation
// counter, and a beat or tween completion of an older generation does nothing, so a late timer can
// never disturb the animation that replaced it.

#include <cstdint>
#include <functional>
#include <optional>

#include "overlay/ui/indicator_look.hpp"
#include "overlay/visuals/clock.hpp"

namespace pavo::overlay {

class IndicatorAnimator {
  public:
    explicit IndicatorAnimator(Clock& clock) : clock_(clock) {}
    ~IndicatorAnimator();
    IndicatorAnimator(const IndicatorAnimator&) = delete;
    IndicatorAnimator& operator=(const IndicatorAnimator&) = delete;

    // Stops everything and starts what `look` asks for.
    void show(const IndicatorLook& look);
    // Stops both animations and sets full opacity.
    void stop();
    void startHeartbeat(const Heartbeat& heartbeat);
    void startPulse();

    // The icon's opacity on screen at `time`.
    double opacity(double time) const;
    // The value the current tween ends at (what a reader of the button's opacity sees).
    double targetOpacity() const { return tween_.to; }
    bool tweening(double time) const { return time < tween_.begin + tween_.duration; }
    std::int64_t heartbeatGeneration() const { return generation_; }

    // Called whenever a tween starts, so the icon can be redrawn while it runs.
    std::function<void()> onTween;

  private:
    struct Tween {
        double from = 1;
        double to = 1;
        double begin = 0;
        double duration = 0;
    };

    void stopHeartbeat();
    void stopPulse();
    void setOpacity(double value);
    void animateTo(double target, double duration, std::function<void()> completion);
    void playBeat(const Heartbeat& heartbeat, std::int64_t generation, int phase);
    void scheduleBeat(const Heartbeat& heartbeat, std::int64_t generation);
    void schedulePulse();

    Clock& clock_;
    Tween tween_;
    std::int64_t generation_ = 0;
    std::optional<Clock::TimerId> heartbeatTimer_;
    std::optional<Clock::TimerId> pulseTimer_;
    std::optional<Clock::TimerId> tweenTimer_;
};

}  // namespace pavo::overlay
