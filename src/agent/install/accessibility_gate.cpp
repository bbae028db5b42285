#include "agent/install/accessibility_gate.hpp"

#include <stdexcept>

namespace pavo::agent {

void passAccessibilityGate(const AccessibilityProbe& probe, const WaitClock& clock, std::ostream& out) {
    const AccessibilityCheck first = probe();
    if (first.granted) return;
    out << "Accessibility permission is required for pavo-agent." << std::endl;
    out << "Waiting for accessibility (up to " << kAccessibilityWaitLimit.count() << " s): " << first.hint
        << std::endl;
    const auto start = clock.now();
    while (clock.now() - start < kAccessibilityWaitLimit) {
        clock.sleep(kAccessibilityPollInterval);
        if (probe().granted) {
            out << "Accessibility permission granted." << std::endl;
            return;
        }
    }
    throw std::runtime_error("ax_permission_missing: accessibility was not granted within " +
                             std::to_string(kAccessibilityWaitLimit.count()) + " s");
}

}  // namespace pavo::agent
