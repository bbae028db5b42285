#include "agent/ax_actions.hpp"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <nlohmann/json.hpp>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <variant>

#include "agent/ax_context.hpp"
#include "agent/ax_element.hpp"
#include "agent/ax_tree.hpp"
#include "agent/ax_tree_cache.hpp"
#include "agent/ax_tree_endpoint.hpp"
#include "agent/batch_manager.hpp"
#include "agent/body_decoding.hpp"
#include "agent/json_response.hpp"
#include "agent/key_codes.hpp"
#include "common/text.hpp"

namespace pavo::agent {

namespace {

namespace asio = boost::asio;
using http::HTTPResponse;
using nlohmann::json;
using platform::AXElement;

// A field decoded by its record type: absent (or null when optional), present, or of the wrong type.
struct WrongType {};

template <typename T>
std::variant<std::monostate, T, WrongType> field(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::monostate{};
    if constexpr (std::is_same_v<T, std::string>) {
        if (it->is_string()) return it->get<std::string>();
    } else {
        if (it->is_number()) return it->get<double>();
    }
    return WrongType{};
}

template <typename T>
bool required(const json& object, const char* key, T& out) {
    auto value = field<T>(object, key);
    if (!std::holds_alternative<T>(value)) return false;
    out = std::get<T>(std::move(value));
    return true;
}

template <typename T>
bool optional(const json& object, const char* key, std::optional<T>& out) {
    auto value = field<T>(object, key);
    if (std::holds_alternative<WrongType>(value)) return false;
    if (std::holds_alternative<T>(value)) out = std::get<T>(std::move(value));
    return true;
}

std::optional<json> objectBody(std::string_view body) {
    auto parsed = parseJsonBody(body);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    return parsed;
}

std::u16string utf16(const std::string& text) {
    const icu::UnicodeString converted = icu::UnicodeString::fromUTF8(text);
    return std::u16string(converted.getBuffer(), static_cast<std::size_t>(converted.length()));
}

HTTPResponse okResponse(const char* method) { return jsonResponse(200, {{"ok", true}, {"method", method}}); }

// The element an action is about, or the reply that ends the request before it acts.
using Subject = std::variant<AXElement, HTTPResponse>;

// The steps every element action begins with: permission, frontmost application, the batch's process,
// then the element. Runs on the desktop's executor.
Subject resolveSubject(AXContext& context, const std::string& targetId, const std::optional<std::string>& batchId) {
    platform::Accessibility& ax = context.desktop.accessibility();
    if (!ax.isProcessTrusted()) {
        return jsonResponse(
            403, axErrorResponse(AXErrorCode::permissionMissing, context.desktop.accessibilityPermissionHint()));
    }
    // Asked even when a batch names the target: no frontmost application means no usable session.
    const auto frontmost = frontmostApplicationPid(context.desktop.workspace());
    if (!frontmost) return errorResponse(500, "could_not_get_frontmost_app");
    std::optional<std::int32_t> target = batchId ? context.batches.pid(*batchId) : std::nullopt;
    if (!target) target = frontmost;
    const AXElement root = ax.applicationElement(*target);
    std::optional<AXElement> element;
    if (auto path = context.treeCache.knownPath(*target, targetId)) element = elementAtPath(ax, root, *path, targetId);
    if (!element) element = findElementById(ax, root, targetId, "0");
    if (!element) return jsonResponse(404, axErrorResponse(AXErrorCode::elementNotFound, ""));
    return std::move(*element);
}

// Scroll actions performed per visit to the desktop thread: a request that asks for very many yields the
// thread to other requests between chunks instead of holding it to the end.
constexpr std::int64_t kScrollChunk = 64;

}  // namespace

std::optional<AXClickRequest> decodeAXClickRequest(std::string_view body) {
    auto object = objectBody(body);
    AXClickRequest request;
    if (!object || !required(*object, "elementId", request.elementId) ||
        !optional(*object, "batch_id", request.batchId)) {
        return std::nullopt;
    }
    return request;
}

std::optional<AXTypeRequest> decodeAXTypeRequest(std::string_view body) {
    auto object = objectBody(body);
    AXTypeRequest request;
    if (!object || !required(*object, "elementId", request.elementId) || !required(*object, "text", request.text) ||
        !optional(*object, "batch_id", request.batchId)) {
        return std::nullopt;
    }
    return request;
}

std::optional<AXScrollRequest> decodeAXScrollRequest(std::string_view body) {
    auto object = objectBody(body);
    AXScrollRequest request;
    if (!object || !required(*object, "elementId", request.elementId) ||
        !required(*object, "direction", request.direction) || !optional(*object, "amount", request.amount) ||
        !optional(*object, "batch_id", request.batchId)) {
        return std::nullopt;
    }
    return request;
}

std::optional<AXElement> findElementById(platform::Accessibility& ax, const AXElement& element,
                                         const std::string& targetId, const std::string& path) {
    if (idOf(ax, element, path) == targetId) return element;
    auto children = getChildren(ax, element);
    if (!children) return std::nullopt;
    for (std::size_t i = 0; i < children->size(); ++i) {
        if (auto found = findElementById(ax, (*children)[i], targetId, childPath(path, i))) return found;
    }
    return std::nullopt;
}

std::optional<AXElement> elementAtPath(platform::Accessibility& ax, const AXElement& root, std::string_view path,
                                       const std::string& targetId) {
    // A path as snapshots write it: "0", then "/<child index>" per level.
    AXElement element = root;
    for (std::size_t at = path.find('/'); at != std::string_view::npos;) {
        const std::size_t next = path.find('/', at + 1);
        const auto index = common::toInteger(path.substr(at + 1, next == std::string_view::npos ? next : next - at - 1));
        auto children = index && *index >= 0 ? getChildren(ax, element) : std::nullopt;
        if (!children || static_cast<std::size_t>(*index) >= children->size()) return std::nullopt;
        element = (*children)[static_cast<std::size_t>(*index)];
        at = next;
    }
    if (idOf(ax, element, path) != targetId) return std::nullopt;
    return element;
}

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

asio::awaitable<HTTPResponse> axClick(AXContext& context, AXClickRequest request, std::optional<std::string> batchId) {
    co_return co_await onDesktop(context.desktop, [&context, &request, &batchId]() -> HTTPResponse {
        Subject subject = resolveSubject(context, request.elementId, batchId);
        if (auto* reply = std::get_if<HTTPResponse>(&subject)) return std::move(*reply);
        const AXElement& element = std::get<AXElement>(subject);
        platform::Accessibility& ax = context.desktop.accessibility();

        if (ax.performAction(element, "AXPress")) {
            axBumpChangeCounter(context);
            return okResponse("ax_press");
        }
        const auto frame = getFrame(ax, element);
        if (!frame) {
            return jsonResponse(500, axErrorResponse(AXErrorCode::actionFailed, "no frame for synthesized click"));
        }
        const double x = frame->x + frame->width * 0.5;
        const double y = frame->y + frame->height * 0.5;
        platform::InputEvents& input = context.desktop.input();
        for (auto type : {platform::MouseEventType::mouseMoved, platform::MouseEventType::leftMouseDown,
                          platform::MouseEventType::leftMouseUp}) {
            input.postMouseEvent({type, x, y, 0});
        }
        axBumpChangeCounter(context);
        return jsonResponse(200, {{"ok", true}, {"method", "synthesized_click"}, {"x", x}, {"y", y}});
    });
}

asio::awaitable<HTTPResponse> axType(AXContext& context, AXTypeRequest request, std::optional<std::string> batchId) {
    // The element never leaves the desktop thread: the value write and the focus request happen in one
    // visit, and the keystrokes that follow go to whatever then has the keyboard focus.
    std::optional<HTTPResponse> early = co_await onDesktop(
        context.desktop, [&context, &request, &batchId]() -> std::optional<HTTPResponse> {
            Subject subject = resolveSubject(context, request.elementId, batchId);
            if (auto* reply = std::get_if<HTTPResponse>(&subject)) return std::move(*reply);
            const AXElement& element = std::get<AXElement>(subject);
            platform::Accessibility& ax = context.desktop.accessibility();
            if (ax.setAttribute(element, "AXValue", request.text)) {
                axBumpChangeCounter(context);
                return okResponse("ax_value");
            }
            ax.setAttribute(element, "AXFocused", true);
            return std::nullopt;
        });
    if (early) co_return std::move(*early);

    asio::steady_timer pause(co_await asio::this_coro::executor);
    for (const std::string& character : splitCharacters(request.text)) {
        co_await onDesktop(context.desktop, [&context, &character] {
            platform::KeyEvent down;
            if (auto press = keyCodeForCharacter(character)) {
                down.keyCode = press->keyCode;
                down.flags = press->flags;
            } else {
                down.text = utf16(character);
            }
            platform::KeyEvent up = down;
            up.keyDown = false;
            context.desktop.input().postKeyEvent(down);
            context.desktop.input().postKeyEvent(up);
        });
        // Lets the receiving application keep up; a suspension, so no thread is held meanwhile. A
        // cancelled wait throws, ending the request without flushing the cache.
        pause.expires_after(kKeystrokePause);
        co_await pause.async_wait(asio::use_awaitable);
    }
    axBumpChangeCounter(context);
    co_return okResponse("cg_event");
}

asio::awaitable<HTTPResponse> axScroll(AXContext& context, AXScrollRequest request,
                                       std::optional<std::string> batchId) {
    struct Plan {
        AXElement element;
        std::string action;
        std::int64_t count = 0;
    };
    std::variant<Plan, HTTPResponse> planned =
        co_await onDesktop(context.desktop, [&context, &request, &batchId]() -> std::variant<Plan, HTTPResponse> {
            Subject subject = resolveSubject(context, request.elementId, batchId);
            if (auto* reply = std::get_if<HTTPResponse>(&subject)) return std::move(*reply);
            // Checked only once the element is known: an unknown element answers 404 whatever the direction.
            auto action = scrollActionName(request.direction);
            if (!action) {
                return jsonResponse(
                    400, axErrorResponse(AXErrorCode::invalidInput, "direction must be up, down, left, or right"));
            }
            auto count = scrollActionCount(request.amount);
            if (!count) {
                return jsonResponse(400, axErrorResponse(AXErrorCode::invalidInput,
                                                         "amount / 50 must be a finite number within 64-bit range"));
            }
            return Plan{std::get<AXElement>(std::move(subject)), std::move(*action), *count};
        });
    if (auto* reply = std::get_if<HTTPResponse>(&planned)) co_return std::move(*reply);
    const Plan& plan = std::get<Plan>(planned);

    std::int64_t remaining = plan.count;
    bool refused = false;
    while (remaining > 0 && !refused) {
        const std::int64_t chunk = std::min(remaining, kScrollChunk);
        refused = co_await onDesktop(context.desktop, [&context, &plan, chunk] {
            platform::Accessibility& ax = context.desktop.accessibility();
            for (std::int64_t i = 0; i < chunk; ++i) {
                if (!ax.performAction(plan.element, plan.action)) return true;
            }
            return false;
        });
        remaining -= chunk;
    }
    // Reported as done even when the element refused: the caller sees the result in the next tree.
    axBumpChangeCounter(context);
    co_return okResponse("ax_scroll");
}

}  // namespace pavo::agent
