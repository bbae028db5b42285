#pragma once
// How the tray indicator shows each state: the symbol, its description, whether it is tinted red, and
// its animation (a heartbeat of a given period, peak and rest opacity, or a pulse).

#include <optional>
#include <string_view>

namespace pavo::overlay {

enum class IndicatorState { idle, active, destructive, paused, blocked };

enum class IndicatorSymbol { circleFill, pauseCircleFill };

struct Heartbeat {
    double period = 0;
    double peak = 1;
    double rest = 1;
};

struct IndicatorLook {
    IndicatorSymbol symbol = IndicatorSymbol::circleFill;
    std::string_view description;
    bool tinted = false;  // system red; otherwise the desktop's text colour
    std::optional<Heartbeat> heartbeat;
    bool pulse = false;
};

IndicatorLook indicatorLook(IndicatorState state);

}  // namespace pavo::overlay
