#include "overlay/ui/mode_menu.hpp"

#include <cmath>
#include <cstdio>

namespace pavo::overlay {

std::string remainingText(long long seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

ModeMenuState modeMenuState(OperatorMode mode, std::optional<double> allowExpiry, double now) {
    ModeMenuState state;
    state.blockOn = mode == OperatorMode::block;
    state.allowOn = mode == OperatorMode::allow && !allowExpiry;
    state.requireApprovalOn = mode == OperatorMode::requireApproval;
    if (!allowExpiry) return state;
    const double left = std::trunc(*allowExpiry - now);
    const long long remaining = left > 0 ? static_cast<long long>(left) : 0;
    const std::string countdown = "  (" + remainingText(remaining) + " left)";
    if (remaining > 900) {
        state.allow60On = true;
        state.allow60Title += countdown;
    } else {
        state.allow15On = true;
        state.allow15Title += countdown;
    }
    return state;
}

}  // namespace pavo::overlay
