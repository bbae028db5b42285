#pragma once
// Characters as the physical keys of a US ANSI keyboard: macOS virtual key codes and modifier flag masks,
// the numbers every keyboard path of the agent posts, whatever desktop turns them into events.

#include <cstdint>
#include <optional>
#include <string_view>

namespace pavo::agent {

struct KeyPress {
    std::uint16_t keyCode = 0;
    std::uint64_t flags = 0;  // common::modifier bits, set on both the key-down and the key-up event

    friend bool operator==(const KeyPress&, const KeyPress&) = default;
};

// The key press that types `character` (one user-perceived character, UTF-8): the unshifted or shifted
// character of a key, or line feed / carriage return for Return. Anything else, including a character
// made of several scalars such as CR LF, has no key press.
std::optional<KeyPress> keyCodeForCharacter(std::string_view character);

}  // namespace pavo::agent
