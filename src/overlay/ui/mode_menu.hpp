#pragma once
// The checkmarks and titles of the indicator's five operator-mode items, from the operator mode and
// the end of a timed allow. Recomputed only when asked; nothing ticks the countdown.

#include <optional>
#include <string>

#include "overlay/service/consent_manager.hpp"

namespace pavo::overlay {

inline constexpr const char* kAllow15Title = "Allow for 15 min";
inline constexpr const char* kAllow60Title = "Allow for 60 min";

struct ModeMenuState {
    bool blockOn = false;
    bool allowOn = false;
    bool allow15On = false;
    bool allow60On = false;
    bool requireApprovalOn = false;
    std::string allow15Title = kAllow15Title;
    std::string allow60Title = kAllow60Title;
    bool operator==(const ModeMenuState&) const = default;
};

// `allowExpiry` and `now` are times of the same clock, in seconds.
ModeMenuState modeMenuState(OperatorMode mode, std::optional<double> allowExpiry, double now);

// Whole seconds as minutes and two-digit seconds: 3599 -> "59:59".
std::string remainingText(long long seconds);

}  // namespace pavo::overlay
