#include "overlay/visuals/timing_function.hpp"

#include <QPointF>

#include <algorithm>

namespace pavo::overlay {

TimingFunction TimingFunction::cubic(double x1, double y1, double x2, double y2) {
    TimingFunction function;
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(x1, y1), QPointF(x2, y2), QPointF(1, 1));
    function.curve_ = curve;
    return function;
}

double TimingFunction::operator()(double progress) const {
    progress = std::clamp(progress, 0.0, 1.0);
    return curve_ ? curve_->valueForProgress(progress) : progress;
}

}  // namespace pavo::overlay
