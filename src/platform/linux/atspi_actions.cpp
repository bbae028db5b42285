#include "platform/linux/atspi_actions.hpp"

#include <array>
#include <optional>
#include <string_view>

#include "platform/linux/atspi_ref.hpp"

namespace pavo::platform::linux_desktop {

namespace {

constexpr std::array<std::string_view, 4> kPressActions{"click", "press", "activate", "toggle"};

// `hasAction`: whether the object has the Action interface, when the item list said.
std::optional<int> pressActionIndex(AtspiAccessible* object, std::optional<bool> hasAction) {
    GObjectPtr<AtspiAction> action;
    if (hasAction == true) action = addRef(ATSPI_ACTION(object));
    if (!hasAction) action.reset(atspi_accessible_get_action_iface(object));
    if (!action) return std::nullopt;
    CallError error;
    const gint count = atspi_action_get_n_actions(action.get(), error.out());
    if (error.failed()) return std::nullopt;
    std::optional<int> found;
    std::size_t rank = kPressActions.size();
    for (gint i = 0; i < count; ++i) {
        const std::string name = takeString(atspi_action_get_action_name(action.get(), i, error.out()));
        if (error.failed()) continue;
        for (std::size_t r = 0; r < rank; ++r) {
            if (name == kPressActions[r]) {
                rank = r;
                found = i;
            }
        }
    }
    return found;
}

}  // namespace

bool press(AtspiElement& element, ReadClock& clock) {
    const auto index = pressActionIndex(element.object(), element.basics(clock).action);
    if (!index) return false;
    CallError error;
    const bool done = atspi_action_do_action(ATSPI_ACTION(element.object()), *index, error.out());
    clock.changed();
    return !error.failed() && done;
}

bool setText(AtspiElement& element, const std::string& text, ReadClock& clock) {
    const GObjectPtr<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(element.object()));
    if (!editable) return false;
    CallError error;
    const bool done = atspi_editable_text_set_text_contents(editable.get(), text.c_str(), error.out());
    clock.changed();
    return !error.failed() && done;
}

bool grabFocus(AtspiElement& element, ReadClock& clock) {
    CallError error;
    const bool done = atspi_component_grab_focus(ATSPI_COMPONENT(element.object()), error.out());
    clock.changed();
    return !error.failed() && done;
}

}  // namespace pavo::platform::linux_desktop
