#pragma once
// Polls for what another process or thread does in its own time.

#include <chrono>
#include <functional>
#include <thread>

namespace pavo::testing {

// Polls until the condition holds; false when it never did within the timeout.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return condition();
}

}  // namespace pavo::testing
