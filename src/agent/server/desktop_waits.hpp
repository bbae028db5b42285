#pragma once
// What takes the window system a while (a focus hand-over, an activation, a launch) as waits of the
// request: the port answers at once and these poll it on timers, so the desktop thread serves other
// requests in between and never sleeps.

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "agent/server/agent_error.hpp"
#include "platform/desktop.hpp"

namespace pavo::agent {

struct WaitTimes {
    // openbox focuses the next window within one 50 ms poll of a dialog closing; this leaves room for a
    // busy machine without holding a request long when nothing is active at all.
    std::chrono::milliseconds focusHandOver{300};
    std::chrono::milliseconds activation{2000};
    std::chrono::milliseconds launch{15000};
    std::chrono::milliseconds poll{20};
};

// Waits on a timer of the calling coroutine's executor; a cancelled wait simply ends early.
boost::asio::awaitable<void> pause(std::chrono::steady_clock::duration duration);

// The frontmost application's pid, if any; a focus hand-over in progress is waited out.
boost::asio::awaitable<std::optional<std::int32_t>> frontmostApplication(platform::Desktop& desktop,
                                                                         WaitTimes times = {});

// The frontmost application's pid (or none) once the desktop has been found to grant accessibility; the
// permission reply (403 with the desktop's hint) otherwise.
boost::asio::awaitable<Result<std::optional<std::int32_t>>> trustedFrontmost(platform::Desktop& desktop,
                                                                             WaitTimes times = {});

// The permission failure with this desktop's hint.
AgentError permissionMissing(const platform::Desktop& desktop);

// Brings a running application to the front: true once it is frontmost, false when it is not running or
// does not come forward in time (a window it maps meanwhile counts).
boost::asio::awaitable<bool> activateApplication(platform::Desktop& desktop, std::int32_t pid,
                                                 WaitTimes times = {});

// Starts an installed application and brings its first window to the front (a process that hands over to
// another counts by the window that matches it). Nothing when it could not be started; its process when it
// started but showed no window in time.
boost::asio::awaitable<std::optional<platform::RunningApplication>> launchApplication(
    platform::Desktop& desktop, std::string bundleId, WaitTimes times = {});

}  // namespace pavo::agent
