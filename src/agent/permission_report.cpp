#include "agent/permission_report.hpp"

namespace pavo::agent {

PermissionReport permissionReport(const std::string& executable, const platform::PermissionState& state) {
    PermissionReport report;
    report.lines.push_back("executable=" + (executable.empty() ? std::string("unknown") : executable));
    report.lines.push_back(std::string("accessibility=") + (state.accessibility ? "granted" : "missing"));
    report.lines.push_back(std::string("screen_recording=") +
                           (state.screenRecording ? "granted" : "missing"));
    if (!state.accessibility) report.lines.push_back("hint_accessibility=" + state.accessibilityHint);
    if (!state.screenRecording) report.lines.push_back("hint_screen_recording=" + state.screenRecordingHint);
    report.granted = state.accessibility && state.screenRecording;
    return report;
}

}  // namespace pavo::agent
