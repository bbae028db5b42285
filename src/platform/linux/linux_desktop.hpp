#pragma once
// The real Linux desktop: AT-SPI for accessibility, XTest for input, the window manager for the
// frontmost application and activation. Needs DISPLAY and a session bus that reaches the AT-SPI bus;
// without them it still opens and answers as a desktop that grants nothing.

#include <memory>

#include "platform/desktop.hpp"

namespace pavo::platform::linux_desktop {

inline constexpr const char* kAccessibilityHint =
    "Start the AT-SPI accessibility bus and registry (at-spi-bus-launcher and at-spi2-registryd, package "
    "at-spi2-core) in this session, and run pavo-agent with the session's DBUS_SESSION_BUS_ADDRESS";
inline constexpr const char* kScreenHint = "Run pavo-agent with DISPLAY set to an X server it may connect to";

// Its permissions() asks the accessibility registry and the X server; Linux has no prompt to show.
std::unique_ptr<Desktop> makeLinuxDesktop();

}  // namespace pavo::platform::linux_desktop
