#pragma once
// AT-SPI role names ("push button", "page tab list") in the role vocabulary the agent's callers know.

#include <string>
#include <string_view>

namespace pavo::platform::linux_desktop {

// The established name where one exists ("AXButton"), else "AX" and the AT-SPI name in upper camel case
// ("table column header" -> "AXTableColumnHeader"). `multiLine` tells a text area from a text field.
std::string axRoleName(std::string_view atspiRoleName, bool multiLine = false);

// Roles whose text contents are their value.
bool isTextRole(std::string_view atspiRoleName);

}  // namespace pavo::platform::linux_desktop
