#pragma once
// The desktop of a machine that grants no accessibility: every read is absent, every action refused.
// Used until a real implementation exists for this system, so callers get the permission replies
// instead of a made-up desktop.

#include <memory>

#include "platform/desktop.hpp"

namespace pavo::platform {

std::unique_ptr<Desktop> makeUnavailableDesktop();

}  // namespace pavo::platform
