#pragma once
// Characters as the physical keys of a US ANSI keyboard: macOS virtual key codes and modifier flag masks,
// the numbers every keyboard path of the agent posts, whatever desktop turns them into events.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pavo::agent {

inline constexpr std::uint64_t kShiftFlag = 0x20000;
inline constexpr std::uint64_t kControlFlag = 0x40000;
inline constexpr std::uint64_t kOptionFlag = 0x80000;
inline constexpr std::uint64_t kCommandFlag = 0x100000;
inline constexpr std::uint64_t kFunctionFlag = 0x800000;

struct KeyPress {
    std::uint16_t keyCode = 0;
    std::uint64_t flags = 0;  // set on both the key-down and the key-up event; 0 is no modifier

    friend bool operator==(const KeyPress&, const KeyPress&) = default;
};

// The key press that types `character` (one user-perceived character, UTF-8): the unshifted or shifted
// character of a key, or line feed / carriage return for Return. Anything else, including a character
// made of several scalars such as CR LF, has no key press.
std::optional<KeyPress> keyCodeForCharacter(std::string_view character);

// Splits UTF-8 text into user-perceived characters (extended grapheme clusters), in order.
std::vector<std::string> splitCharacters(std::string_view text);

}  // namespace pavo::agent
