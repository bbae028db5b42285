#include "overlay/ui/indicator_look.hpp"

namespace pavo::overlay {

IndicatorLook indicatorLook(IndicatorState state) {
    using S = IndicatorSymbol;
    switch (state) {
        case IndicatorState::idle:
            return {S::circleFill, "Pavo idle \u2014 guardian alive", true, Heartbeat{2.6, 0.95, 0.55},
                    false};
        case IndicatorState::active:
            return {S::circleFill, "Pavo active \u2014 guardian watching", true, Heartbeat{1.6, 1.0, 0.65},
                    false};
        case IndicatorState::destructive:
            return {S::circleFill, "Pavo destructive consent pending", true, std::nullopt, true};
        case IndicatorState::paused:
            return {S::pauseCircleFill, "Pavo paused", false, std::nullopt, false};
        case IndicatorState::blocked:
            return {S::circleFill, "Pavo blocked by operator", true, Heartbeat{2.0, 1.0, 0.7}, false};
    }
    return {};
}

}  // namespace pavo::overlay
