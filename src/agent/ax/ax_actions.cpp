#include "agent/ax/ax_actions.hpp"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <algorithm>
#include <cmath>

#include "agent/ax/ax_context.hpp"
#include "agent/ax/ax_tree.hpp"
#include "agent/ax/ax_tree_cache.hpp"
#include "agent/ax/batch_manager.hpp"
#include "agent/ax/element_lookup.hpp"
#include "agent/keys/key_events.hpp"
#include "agent/server/desktop_waits.hpp"
#include "agent/server/on_desktop.hpp"
#include "common/text.hpp"

namespace pavo::agent {

namespace {

namespace asio = boost::asio;
using platform::AXElement;

// Scroll actions performed per visit to the desktop thread: a request that asks for very many yields the
// thread to other requests between chunks instead of holding it to the end.
constexpr std::int64_t kScrollChunk = 64;

// The application an element action is about: the batch's, else the frontmost. Asked even when a batch
// names the target: no frontmost application means no usable session.
asio::awaitable<Result<std::int32_t>> actionTarget(AXContext& context,
                                                   const std::optional<std::string>& batchId) {
    const auto frontmost = co_await trustedFrontmost(context.desktop);
    if (!frontmost) co_return frontmost.error();
    if (!*frontmost) co_return AgentError{ErrorCode::noFrontmostApp};
    const auto batchPid = batchId ? context.batches.pid(*batchId) : std::nullopt;
    co_return batchPid.value_or(**frontmost);
}

}  // namespace

std::optional<std::string> scrollActionName(std::string_view direction) {
    const std::string lower = common::toLower(direction);
    if (lower == "up") return "AXScrollUp";
    if (lower == "down") return "AXScrollDown";
    if (lower == "left") return "AXScrollLeft";
    if (lower == "right") return "AXScrollRight";
    return std::nullopt;
}

std::optional<std::int64_t> scrollActionCount(std::optional<double> amount) {
    const double steps = amount ? *amount / 50.0 : 2.0;
    // 2^63 is exact in a double; anything at or beyond it (or NaN) has no 64-bit truncation.
    constexpr double kLimit = 9223372036854775808.0;
    if (!std::isfinite(steps) || steps >= kLimit || steps <= -kLimit) return std::nullopt;
    const auto truncated = static_cast<std::int64_t>(steps);
    return truncated >= 2 ? truncated : 1;
}

asio::awaitable<Result<ActionDone>> axClick(AXContext& context, const AXClickRequest& request) {
    const auto pid = co_await actionTarget(context, request.batchId);
    if (!pid) co_return pid.error();
    co_return co_await onDesktop(context.desktop, [&context, &request, &pid]() -> Result<ActionDone> {
        const auto element = resolveElement(context, request.elementId, *pid);
        if (!element) return element.error();
        platform::Accessibility& ax = context.desktop.accessibility();
        if (ax.performAction(*element, "AXPress")) {
            context.treeCache.bump();
            return ActionDone{"ax_press"};
        }
        const auto frame = getFrame(ax, *element);
        if (!frame) return AgentError{ErrorCode::actionFailed, {}, "no frame for synthesized click"};
        const platform::AXPoint centre{frame->x + frame->width * 0.5, frame->y + frame->height * 0.5};
        for (auto type : {platform::MouseEventType::mouseMoved, platform::MouseEventType::leftMouseDown,
                          platform::MouseEventType::leftMouseUp}) {
            context.desktop.input().postMouseEvent({type, centre.x, centre.y, 0});
        }
        context.treeCache.bump();
        return ActionDone{"synthesized_click", centre};
    });
}

asio::awaitable<Result<ActionDone>> axType(AXContext& context, const AXTypeRequest& request) {
    const auto pid = co_await actionTarget(context, request.batchId);
    if (!pid) co_return pid.error();
    // The element never leaves the desktop thread: the value write and the focus request happen in one
    // visit, and the keystrokes that follow go to whatever then has the keyboard focus.
    const auto written = co_await onDesktop(context.desktop, [&context, &request, &pid]() -> Result<bool> {
        const auto element = resolveElement(context, request.elementId, *pid);
        if (!element) return element.error();
        platform::Accessibility& ax = context.desktop.accessibility();
        if (ax.setAttribute(*element, "AXValue", request.text)) return true;
        ax.setAttribute(*element, "AXFocused", true);
        return false;
    });
    if (!written) co_return written.error();
    if (*written) {
        context.treeCache.bump();
        co_return ActionDone{"ax_value"};
    }

    asio::steady_timer pause(co_await asio::this_coro::executor);
    for (const std::string& character : common::splitCharacters(request.text)) {
        platform::KeyEvent down = keyDownForCharacter(character);
        platform::KeyEvent up = down;
        up.keyDown = false;
        co_await postKeyEvent(context.desktop, down);
        co_await postKeyEvent(context.desktop, up);
        // Lets the receiving application keep up; a suspension, so no thread is held meanwhile. A
        // cancelled wait throws, ending the request without flushing the cache.
        pause.expires_after(kKeystrokePause);
        co_await pause.async_wait(asio::use_awaitable);
    }
    context.treeCache.bump();
    co_return ActionDone{"cg_event"};
}

asio::awaitable<Result<ActionDone>> axScroll(AXContext& context, const AXScrollRequest& request) {
    const auto pid = co_await actionTarget(context, request.batchId);
    if (!pid) co_return pid.error();
    struct Plan {
        AXElement element;
        std::string action;
        std::int64_t count = 0;
    };
    const auto plan = co_await onDesktop(context.desktop, [&context, &request, &pid]() -> Result<Plan> {
        auto element = resolveElement(context, request.elementId, *pid);
        if (!element) return element.error();
        // Checked only once the element is known: an unknown element answers 404 whatever the direction.
        auto action = scrollActionName(request.direction);
        if (!action) {
            return AgentError{ErrorCode::invalidInput, {}, "direction must be up, down, left, or right"};
        }
        auto count = scrollActionCount(request.amount);
        if (!count) {
            return AgentError{
                ErrorCode::invalidInput, {}, "amount / 50 must be a finite number within 64-bit range"};
        }
        return Plan{std::move(*element), std::move(*action), *count};
    });
    if (!plan) co_return plan.error();

    std::int64_t remaining = plan->count;
    bool refused = false;
    while (remaining > 0 && !refused) {
        const std::int64_t chunk = std::min(remaining, kScrollChunk);
        refused = co_await onDesktop(context.desktop, [&context, &plan, chunk] {
            platform::Accessibility& ax = context.desktop.accessibility();
            for (std::int64_t i = 0; i < chunk; ++i) {
                if (!ax.performAction(plan->element, plan->action)) return true;
            }
            return false;
        });
        remaining -= chunk;
    }
    // Reported as done even when the element refused: the caller sees the result in the next tree.
    context.treeCache.bump();
    co_return ActionDone{"ax_scroll"};
}

}  // namespace pavo::agent
