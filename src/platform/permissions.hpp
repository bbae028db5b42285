#pragma once
// What the system grants the agent, and what to tell a user about whatever is missing.

#include <string>

namespace pavo::platform {

struct PermissionState {
    bool accessibility = false;
    bool screenRecording = false;
    std::string accessibilityHint;  // what a user does to grant it
    std::string screenRecordingHint;
};

}  // namespace pavo::platform
