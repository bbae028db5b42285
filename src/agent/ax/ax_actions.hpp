#pragma once
// Acting on an element a caller saw in a tree or search reply, in the frontmost application or a batch's:
// click it, type into it, scroll it. Every action that is done flushes the tree cache.

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "agent/ax/ax_requests.hpp"
#include "agent/server/agent_error.hpp"
#include "platform/accessibility.hpp"

namespace pavo::agent {

struct AXContext;

// How an action was done: "ax_press", "synthesized_click" (at `at`), "ax_value", "cg_event", "ax_scroll".
struct ActionDone {
    std::string method;
    std::optional<platform::AXPoint> at = std::nullopt;
};

// "AXScrollUp" and so on for a direction in any letter case; nothing for another word.
std::optional<std::string> scrollActionName(std::string_view direction);

// How many scroll actions an amount asks for: 50 units a step, 2 steps without an amount, at least 1.
// Nothing when the step count is not a finite number that fits in 64 bits.
std::optional<std::int64_t> scrollActionCount(std::optional<double> amount);

inline constexpr std::chrono::milliseconds kKeystrokePause{10};

boost::asio::awaitable<Result<ActionDone>> axClick(AXContext& context, const AXClickRequest& request);
boost::asio::awaitable<Result<ActionDone>> axType(AXContext& context, const AXTypeRequest& request);
boost::asio::awaitable<Result<ActionDone>> axScroll(AXContext& context, const AXScrollRequest& request);

}  // namespace pavo::agent
