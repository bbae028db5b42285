#pragma once
// What the agent needs from the window system about applications: which one is in front, and bringing
// one to the front by bundle identifier or name. Every operation answers at once; where the window system
// takes its time (a window manager handing focus over, an application mapping its first window), the
// caller asks again later rather than the desktop thread waiting.

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

struct Frontmost {
    std::optional<std::int32_t> pid;
    // The window system is between two active windows (one just closed, the next not focused yet): asking
    // again shortly gives the real answer; `pid` is then only a fallback's guess.
    bool settling = false;
};

enum class ActivationRequest {
    requested,    // the window system was asked to bring the application's window to the front
    noWindowYet,  // it runs but has no window that could be brought forward (yet)
    notRunning,
};

class Workspace {
  public:
    virtual ~Workspace() = default;

    virtual Frontmost frontmost() = 0;
    // The first running application with exactly this bundle identifier.
    virtual std::optional<RunningApplication> runningApplication(std::string_view bundleId) = 0;
    // The first running application whose display name is this one.
    virtual std::optional<RunningApplication> applicationNamed(std::string_view name) = 0;
    // Asks for the application to come to the front; whether it did shows in frontmost() later.
    virtual ActivationRequest requestActivation(std::int32_t pid) = 0;
    // Whether an application with this bundle identifier is installed (running or not).
    virtual bool isInstalled(std::string_view bundleId) = 0;
    // Starts an installed application; its process once started, before it has any window.
    virtual std::optional<RunningApplication> startApplication(std::string_view bundleId) = 0;
};

}  // namespace pavo::platform
