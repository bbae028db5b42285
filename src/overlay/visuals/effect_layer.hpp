#pragma once
// What the self-animating layers share: the clock they animate and schedule by, the colours they are
// drawn in, the reduce-motion flag, and delayed steps that do nothing once their layer is gone.

#include <QColor>
#include <QFont>

#include <functional>
#include <string>

#include "overlay/visuals/clock.hpp"
#include "overlay/visuals/layer.hpp"

namespace pavo::overlay {

// The desktop's colours, read once: the accent (Qt palette's highlight), a system red and the shadow;
// and the key-chord pill's font.
struct EffectStyle {
    QColor accent;
    QColor red;
    QColor shadow;
    QFont chordFont;
};

struct EffectContext {
    Clock& clock;
    // Called after a delayed step changed a layer, so that whoever shows the tree draws again.
    std::function<void()> needsDisplay;
};

QColor withAlpha(QColor color, double alpha);

class EffectLayer : public Layer {
  public:
    explicit EffectLayer(EffectContext& context) : context_(context) {}

    bool reducedMotion = false;

  protected:
    double now() const { return context_.clock.now(); }
    Clock& clock() const { return context_.clock; }

    // Runs `step` on this layer `delay` seconds from now, unless the layer no longer exists then.
    Clock::TimerId later(double delay, std::function<void(EffectLayer&)> step);
    // Fades from the opacity on screen now to 0 under `key`; the model opacity becomes 0 at once, so the
    // layer stays hidden when the animation ends.
    void fadeFromCurrent(const std::string& key, double duration, TimingFunction function);
    // An opacity animation starting `delay` seconds from now.
    Animation opacityAnimation(double from, double to, double duration, double delay = 0,
                               TimingFunction function = TimingFunction::linear()) const;
    void removeLater(double delay);
    // Tells whoever shows the tree that this layer changed outside a delayed step.
    void needsDisplay() const;

  private:
    EffectContext& context_;
};

}  // namespace pavo::overlay
