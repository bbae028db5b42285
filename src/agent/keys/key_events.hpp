#pragma once
// Posting key events from a request: where the window system needs a moment before it can take an event
// (a spare key still being read with its old meaning), the request waits on a timer, never the desktop.

#include <boost/asio/awaitable.hpp>

#include "platform/desktop.hpp"

namespace pavo::agent {

// False when the event could not be posted at all.
boost::asio::awaitable<bool> postKeyEvent(platform::Desktop& desktop, const platform::KeyEvent& event);

}  // namespace pavo::agent
