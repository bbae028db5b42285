#pragma once
// Pacing of an animation: maps linear progress 0..1 to eased progress along a cubic Bezier curve from
// (0,0) to (1,1), as the usual named curves and custom control points define it.

#include <QEasingCurve>

#include <optional>

namespace pavo::overlay {

class TimingFunction {
  public:
    static TimingFunction linear() { return TimingFunction(); }
    static TimingFunction easeIn() { return cubic(0.42, 0.0, 1.0, 1.0); }
    static TimingFunction easeOut() { return cubic(0.0, 0.0, 0.58, 1.0); }
    static TimingFunction easeInEaseOut() { return cubic(0.42, 0.0, 0.58, 1.0); }
    static TimingFunction cubic(double x1, double y1, double x2, double y2);

    double operator()(double progress) const;

  private:
    TimingFunction() = default;
    std::optional<QEasingCurve> curve_;  // none: linear
};

}  // namespace pavo::overlay
