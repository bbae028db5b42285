#include "agent/server/desktop_waits.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "agent/server/on_desktop.hpp"

namespace pavo::agent {

namespace asio = boost::asio;
using Clock = std::chrono::steady_clock;

asio::awaitable<void> pause(std::chrono::steady_clock::duration duration) {
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    co_await timer.async_wait(asio::as_tuple(asio::use_awaitable));
}

namespace {

// Polls until the application is frontmost or the deadline passes.
asio::awaitable<bool> becomesFrontmost(platform::Desktop& desktop, std::int32_t pid,
                                       Clock::time_point deadline, std::chrono::milliseconds poll) {
    while (true) {
        const auto front =
            co_await onDesktop(desktop, [&desktop] { return desktop.workspace().frontmost(); });
        if (front.pid == pid) co_return true;
        if (Clock::now() >= deadline) co_return false;
        co_await pause(poll);
    }
}

// Asks for the application until the window system takes the request, then waits for it to be in front.
asio::awaitable<bool> activateBefore(platform::Desktop& desktop, std::int32_t pid, Clock::time_point deadline,
                                     std::chrono::milliseconds poll) {
    while (true) {
        const auto request = co_await onDesktop(
            desktop, [&desktop, pid] { return desktop.workspace().requestActivation(pid); });
        if (request == platform::ActivationRequest::notRunning) co_return false;
        if (request == platform::ActivationRequest::requested) {
            co_return co_await becomesFrontmost(desktop, pid, deadline, poll);
        }
        if (Clock::now() >= deadline) co_return false;
        co_await pause(poll);
    }
}

}  // namespace

asio::awaitable<std::optional<std::int32_t>> frontmostApplication(platform::Desktop& desktop,
                                                                  WaitTimes times) {
    const auto deadline = Clock::now() + times.focusHandOver;
    while (true) {
        const auto front =
            co_await onDesktop(desktop, [&desktop] { return desktop.workspace().frontmost(); });
        if (!front.settling || Clock::now() >= deadline) co_return front.pid;
        co_await pause(times.poll);
    }
}

AgentError permissionMissing(const platform::Desktop& desktop) {
    return AgentError{ErrorCode::permissionMissing, {}, desktop.accessibilityPermissionHint()};
}

asio::awaitable<Result<std::optional<std::int32_t>>> trustedFrontmost(platform::Desktop& desktop,
                                                                      WaitTimes times) {
    // One visit answers both in the usual case; only a focus hand-over costs more.
    const auto first = co_await onDesktop(desktop, [&desktop]() -> std::optional<platform::Frontmost> {
        if (!desktop.accessibility().isProcessTrusted()) return std::nullopt;
        return desktop.workspace().frontmost();
    });
    if (!first) co_return permissionMissing(desktop);
    if (!first->settling) co_return first->pid;
    co_return co_await frontmostApplication(desktop, times);
}

asio::awaitable<bool> activateApplication(platform::Desktop& desktop, std::int32_t pid, WaitTimes times) {
    co_return co_await activateBefore(desktop, pid, Clock::now() + times.activation, times.poll);
}

asio::awaitable<std::optional<platform::RunningApplication>> launchApplication(platform::Desktop& desktop,
                                                                               std::string bundleId,
                                                                               WaitTimes times) {
    const auto started = co_await onDesktop(
        desktop, [&desktop, &bundleId] { return desktop.workspace().startApplication(bundleId); });
    if (!started) co_return std::nullopt;
    const auto deadline = Clock::now() + times.launch;
    const auto poll = times.poll * 5;
    while (Clock::now() < deadline) {
        const auto request = co_await onDesktop(
            desktop, [&desktop, pid = started->pid] { return desktop.workspace().requestActivation(pid); });
        if (request == platform::ActivationRequest::requested) {
            co_await becomesFrontmost(desktop, started->pid,
                                      std::min(deadline, Clock::now() + times.activation), poll);
            co_return started;
        }
        // Some programs hand the start over to another process: then the window that matches the entry
        // counts.
        const auto other = co_await onDesktop(
            desktop, [&desktop, &bundleId] { return desktop.workspace().runningApplication(bundleId); });
        if (other) {
            co_await activateBefore(desktop, other->pid, std::min(deadline, Clock::now() + times.activation),
                                    poll);
            co_return platform::RunningApplication{other->pid, started->name, started->bundleId};
        }
        co_await pause(poll);
    }
    co_return started;
}

}  // namespace pavo::agent
