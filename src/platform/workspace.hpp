#pragma once
// What the agent needs from the window system about applications: which one is in front, and bringing
// one to the front by bundle identifier or name.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pavo::platform {

struct RunningApplication {
    std::int32_t pid = 0;
    std::string name;
    std::string bundleId;
};

class Workspace {
public:
    virtual ~Workspace() = default;

    virtual std::optional<std::int32_t> frontmostPid() = 0;
    // The first running application with exactly this bundle identifier.
    virtual std::optional<RunningApplication> runningApplication(std::string_view bundleId) = 0;
    // Brings a running application's windows to the front; false when it is not running.
    virtual bool activate(std::int32_t pid) = 0;
    // Whether an application with this bundle identifier is installed (running or not).
    virtual bool isInstalled(std::string_view bundleId) = 0;
    // Launches an installed application and brings it to the front; its pid once it runs.
    virtual std::optional<RunningApplication> launch(std::string_view bundleId) = 0;
    // Activates an application found by its display name; false when there is none.
    virtual bool activateByName(std::string_view name) = 0;
};

}  // namespace pavo::platform
