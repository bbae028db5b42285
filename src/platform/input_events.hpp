#pragma once
// Synthetic mouse and keyboard input, in the vocabulary the agent's handlers produce: macOS event types,
// virtual key codes and modifier flags. An implementation translates them for its window system.

#include <chrono>
#include <cstdint>
#include <string>

#include "common/modifier_flags.hpp"

namespace pavo::platform {

enum class MouseEventType : std::uint32_t { leftMouseDown = 1, leftMouseUp = 2, mouseMoved = 5 };

struct MouseEvent {
    MouseEventType type = MouseEventType::mouseMoved;
    double x = 0;  // global screen points, origin top-left of the main display
    double y = 0;
    std::uint32_t button = 0;  // 0 is the left button
};

namespace modifier = common::modifier;

struct KeyEvent {
    std::uint16_t keyCode = 0;  // macOS virtual key code
    bool keyDown = true;
    std::uint64_t flags = 0;  // common::modifier bits
    std::u16string text;      // when not empty, the event types this text whatever the key
};

struct KeyPosting {
    enum class Outcome { posted, refused, notYet };
    Outcome outcome = Outcome::posted;
    // notYet: posting now would lose the event (the window system is still reading an earlier one);
    // try again after this long. Nothing was posted.
    std::chrono::milliseconds retryAfter{0};
};

class InputEvents {
  public:
    virtual ~InputEvents() = default;

    // False when the event could not be created; a posted event's effect is never confirmed.
    virtual bool postMouseEvent(const MouseEvent& event) = 0;
    virtual KeyPosting postKeyEvent(const KeyEvent& event) = 0;
};

}  // namespace pavo::platform
