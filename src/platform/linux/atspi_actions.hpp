#pragma once
// Acting on an element: its press action, its text, its focus. Each tells the clock that whatever was
// read may have changed once the application was asked to act. Desktop thread only.

#include <string>

#include "platform/linux/atspi_element.hpp"
#include "platform/linux/read_clock.hpp"

namespace pavo::platform::linux_desktop {

// Performs the element's "click", "press", "activate" or "toggle" action, the first of these it has.
bool press(AtspiElement& element, ReadClock& clock);
bool setText(AtspiElement& element, const std::string& text, ReadClock& clock);
// Also raises and activates a background application's window, a moment later.
bool grabFocus(AtspiElement& element, ReadClock& clock);

}  // namespace pavo::platform::linux_desktop
