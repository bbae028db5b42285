#pragma once
// The report of the `permissions` command: which permissions the system grants and how to get the rest.

#include <string>
#include <vector>

#include "platform/permissions.hpp"

namespace pavo::agent {

struct PermissionReport {
    std::vector<std::string> lines;
    bool granted = false;  // both granted; otherwise the command exits with status 3
};

PermissionReport permissionReport(const std::string& executable, const platform::PermissionState& state);

}  // namespace pavo::agent
