#pragma once
// The first step of `install`: the agent is useless without accessibility, so it waits for it, telling the
// user what to start, rather than installing a service that cannot work.

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

namespace pavo::agent {

struct AccessibilityCheck {
    bool granted = false;
    std::string hint;  // what the user starts or sets to grant it
};

using AccessibilityProbe = std::function<AccessibilityCheck()>;

struct WaitClock {
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::steady_clock::duration)> sleep;
};

inline constexpr std::chrono::seconds kAccessibilityPollInterval{2};
inline constexpr std::chrono::seconds kAccessibilityWaitLimit{300};

// Returns at once when accessibility is granted; otherwise prints what to start and checks again every
// 2 s. Throws std::runtime_error when 300 s pass without it.
void passAccessibilityGate(const AccessibilityProbe& probe, const WaitClock& clock, std::ostream& out);

}  // namespace pavo::agent
