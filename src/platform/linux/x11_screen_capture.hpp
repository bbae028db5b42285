#pragma once
// Screen capture from the X server named by DISPLAY (XGetImage on the root window), with its own display
// connection for each capture, so it can run on any one thread at a time.

#include <memory>

#include "platform/screen_capture.hpp"

namespace pavo::platform::x11 {

std::unique_ptr<ScreenCapture> makeX11ScreenCapture();

}  // namespace pavo::platform::x11
