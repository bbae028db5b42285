#include "platform/linux/atspi_accessibility.hpp"

#include <algorithm>
#include <utility>
#include <variant>

#include "platform/linux/atspi_actions.hpp"
#include "platform/linux/atspi_element.hpp"
#include "platform/linux/atspi_memo.hpp"
#include "platform/linux/atspi_registry.hpp"
#include "platform/linux/atspi_tree_read.hpp"
#include "platform/linux/role_names.hpp"

namespace pavo::platform::linux_desktop {

namespace {

std::optional<WheelDirection> scrollDirection(std::string_view action) {
    constexpr std::string_view prefix = "AXScroll";
    if (action.substr(0, prefix.size()) != prefix) return std::nullopt;
    std::string_view rest = action.substr(prefix.size());
    if (rest.size() > 6 && rest.substr(rest.size() - 6) == "ByPage") rest.remove_suffix(6);
    if (rest == "Up") return WheelDirection::up;
    if (rest == "Down") return WheelDirection::down;
    if (rest == "Left") return WheelDirection::left;
    if (rest == "Right") return WheelDirection::right;
    return std::nullopt;
}

}  // namespace

AtspiAccessibility::AtspiAccessibility(std::shared_ptr<DesktopThread> thread, WheelScroller scroll)
    : thread_(std::move(thread)), scroll_(std::move(scroll)) {
    thread_->run([this] {
        registry_ = AtspiRegistry::connect();
        if (!registry_) return;
        query_ = std::make_unique<DescendantQuery>();
        applications_ = std::make_unique<ApplicationMemos>();
    });
}

AtspiAccessibility::~AtspiAccessibility() {
    thread_->run([this] {
        applications_.reset();
        query_.reset();
        registry_.reset();
    });
}

bool AtspiAccessibility::isProcessTrusted() {
    return thread_->run([this] {
        // A bus that answered within the second is taken as still there, as reads are: every request asks,
        // and the round trip was most of a cached tree's time.
        if (reachableAt_ && !clock_.expired(*reachableAt_, std::chrono::seconds(1))) return true;
        reachableAt_.reset();
        if (!registry_ || !registry_->reachable()) return false;
        reachableAt_ = clock_.stamp();
        return true;
    });
}

AXElement AtspiAccessibility::applicationElement(std::int32_t pid) {
    return thread_->run([this, pid] {
        auto found = registry_ ? registry_->application(pid) : std::nullopt;
        if (!found) return AXElement();
        return AtspiElement::handle(thread_, std::move(found->object),
                                    applications_->lookup(clock_, pid, found->busName));
    });
}

std::optional<std::int32_t> AtspiAccessibility::elementPid(const AXElement& element) {
    AtspiElement* e = AtspiElement::of(element);
    if (!e) return std::nullopt;
    return e->application().pid();
}

std::optional<std::string> AtspiAccessibility::stringAttribute(const AXElement& element,
                                                               std::string_view name) {
    AtspiElement* e = AtspiElement::of(element);
    if (!e) return std::nullopt;
    return thread_->run([this, e, name]() -> std::optional<std::string> {
        const Basics& b = e->basics(clock_);
        if (name == "AXRole") {
            if (b.roleName.empty()) return std::nullopt;
            return axRoleName(b.roleName, (b.states & stateBit(ATSPI_STATE_MULTI_LINE)) != 0);
        }
        if (name == "AXTitle") {
            if (b.name.empty()) return std::nullopt;
            return b.name;
        }
        if (name == "AXValue") return e->text(clock_);
        if (name == "AXIdentifier") {
            auto id = e->identifier(clock_);
            if (!id || id->empty()) return std::nullopt;
            return id;
        }
        return std::nullopt;
    });
}

std::optional<bool> AtspiAccessibility::booleanAttribute(const AXElement& element, std::string_view name) {
    AtspiElement* e = AtspiElement::of(element);
    if (!e) return std::nullopt;
    return thread_->run([this, e, name]() -> std::optional<bool> {
        const Basics& b = e->basics(clock_);
        if (b.roleName.empty()) return std::nullopt;
        if (name == "AXEnabled") return (b.states & stateBit(ATSPI_STATE_ENABLED)) != 0;
        if (name == "AXFocused") return (b.states & stateBit(ATSPI_STATE_FOCUSED)) != 0;
        return std::nullopt;
    });
}

std::optional<AXPoint> AtspiAccessibility::position(const AXElement& element) {
    AtspiElement* e = AtspiElement::of(element);
    if (!e) return std::nullopt;
    return thread_->run([this, e]() -> std::optional<AXPoint> {
        const auto& frame = e->frame(clock_);
        if (!frame) return std::nullopt;
        return frame->position;
    });
}

std::optional<AXSize> AtspiAccessibility::size(const AXElement& element) {
    AtspiElement* e = AtspiElement::of(element);
    if (!e) return std::nullopt;
    return thread_->run([this, e]() -> std::optional<AXSize> {
        const auto& frame = e->frame(clock_);
        if (!frame) return std::nullopt;
        return frame->size;
    });
}

std::optional<std::vector<AXElement>> AtspiAccessibility::children(const AXElement& element,
                                                                   std::size_t limit) {
    AtspiElement* e = AtspiElement::of(element);
    if (!e) return std::nullopt;
    return thread_->run(
        [this, e, limit] { return e->children(clock_, *query_, std::min(limit, kMaxChildren), thread_); });
}

bool AtspiAccessibility::performAction(const AXElement& element, std::string_view action) {
    AtspiElement* e = AtspiElement::of(element);
    if (!e) return false;
    if (auto direction = scrollDirection(action)) {
        const auto centre = thread_->run([this, e]() -> std::optional<AXPoint> {
            const auto& frame = e->frame(clock_);
            if (!frame) return std::nullopt;
            return AXPoint{frame->position.x + frame->size.width / 2,
                           frame->position.y + frame->size.height / 2};
        });
        if (!centre || !scroll_) return false;
        clock_.changed();
        return scroll_(*centre, *direction);
    }
    if (action != "AXPress") return false;
    return thread_->run([this, e] { return press(*e, clock_); });
}

bool AtspiAccessibility::setAttribute(const AXElement& element, std::string_view name,
                                      const AXAttributeValue& value) {
    AtspiElement* e = AtspiElement::of(element);
    if (!e) return false;
    return thread_->run([this, e, name, &value] {
        if (name == "AXValue" && std::holds_alternative<std::string>(value)) {
            return setText(*e, std::get<std::string>(value), clock_);
        }
        if (name == "AXFocused" && std::holds_alternative<bool>(value) && std::get<bool>(value)) {
            return grabFocus(*e, clock_);
        }
        return false;
    });
}

void AtspiAccessibility::screenChanged() {
    clock_.changed();
}

std::optional<std::int32_t> AtspiAccessibility::activeToplevelPid() {
    return thread_->run([this] { return registry_ ? registry_->activeToplevelPid() : std::nullopt; });
}

}  // namespace pavo::platform::linux_desktop
