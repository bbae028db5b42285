#pragma once
// Posting key events from a request: where the window system needs a moment before it can take an event
// (a spare key still being read with its old meaning), the request waits on a timer, never the desktop.

#include <boost/asio/awaitable.hpp>

#include <string_view>

#include "agent/keys/key_codes.hpp"
#include "platform/desktop.hpp"

namespace pavo::agent {

// The key-down event of a key press (its flags set), and of one character: its key press when the US
// layout has one, else key 0 carrying the character's text.
platform::KeyEvent keyDownFor(const KeyPress& press);
platform::KeyEvent keyDownForCharacter(std::string_view character);

// False when the event could not be posted at all.
boost::asio::awaitable<bool> postKeyEvent(platform::Desktop& desktop, const platform::KeyEvent& event);

}  // namespace pavo::agent
