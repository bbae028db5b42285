#pragma once
// Applications as the window manager sees them: the active window's pid (_NET_ACTIVE_WINDOW,
// _NET_WM_PID), client windows (_NET_CLIENT_LIST, WM_CLASS), activation through the window manager,
// and launching installed applications from their desktop entries.
//
// A "bundle id" on Linux is a desktop-entry id ("gtk3-widget-factory", "org.gnome.Calculator"; a
// trailing ".desktop" is ignored). A running application matches it when its WM_CLASS (instance or
// class) or its executable's name equals the id, or equals the StartupWMClass or executable of that
// desktop entry, ignoring case.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/workspace.hpp"

namespace pavo::platform::linux_desktop {

// One mapped client window of the window manager.
struct ClientWindow {
    unsigned long window = 0;
    std::int32_t pid = 0;
    std::string instance;  // WM_CLASS
    std::string className;
    std::string title;
    std::string executable;  // the name of the process's program
};

class X11Workspace final : public Workspace {
  public:
    // `fallbackFrontmost` answers when the window manager does not (AT-SPI's active toplevel).
    explicit X11Workspace(std::function<std::optional<std::int32_t>()> fallbackFrontmost);
    ~X11Workspace() override;
    X11Workspace(const X11Workspace&) = delete;
    X11Workspace& operator=(const X11Workspace&) = delete;

    bool hasDisplay() const;

    Frontmost frontmost() override;
    std::optional<RunningApplication> runningApplication(std::string_view bundleId) override;
    std::optional<RunningApplication> applicationNamed(std::string_view name) override;
    ActivationRequest requestActivation(std::int32_t pid) override;
    bool isInstalled(std::string_view bundleId) override;
    std::optional<RunningApplication> startApplication(std::string_view bundleId) override;

    std::vector<ClientWindow> clientWindows();

    struct Connection;

  private:
    // `betweenWindows`: the window manager keeps an active window but names none that has a pid.
    std::optional<std::int32_t> activePidLocked(bool* betweenWindows = nullptr);
    std::vector<ClientWindow> clientWindowsLocked();

    std::mutex mutex_;
    std::unique_ptr<Connection> connection_;
    std::function<std::optional<std::int32_t>()> fallbackFrontmost_;
};

}  // namespace pavo::platform::linux_desktop
