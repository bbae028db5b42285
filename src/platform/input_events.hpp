#pragma once
// Synthetic mouse and keyboard input, in the vocabulary the agent's handlers produce: macOS event types,
// virtual key codes and modifier flags. An implementation translates them for its window system.

#include <cstdint>
#include <string>

namespace pavo::platform {

enum class MouseEventType : std::uint32_t { leftMouseDown = 1, leftMouseUp = 2, mouseMoved = 5 };

struct MouseEvent {
    MouseEventType type = MouseEventType::mouseMoved;
    double x = 0;  // global screen points, origin top-left of the main display
    double y = 0;
    std::uint32_t button = 0;  // 0 is the left button
};

// Modifier flags as the handlers set them (the macOS CGEventFlags bits).
namespace modifier {
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
}  // namespace modifier

struct KeyEvent {
    std::uint16_t keyCode = 0;  // macOS virtual key code
    bool keyDown = true;
    std::uint64_t flags = 0;
    std::u16string text;  // when not empty, the event types this text whatever the key
};

class InputEvents {
public:
    virtual ~InputEvents() = default;

    // False when the event could not be created; a posted event's effect is never confirmed.
    virtual bool postMouseEvent(const MouseEvent& event) = 0;
    virtual bool postKeyEvent(const KeyEvent& event) = 0;
};

}  // namespace pavo::platform
