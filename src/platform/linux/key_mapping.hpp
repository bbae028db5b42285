#pragma once
// Key events in the handlers' vocabulary (macOS virtual key codes on a US layout, CGEventFlags bits)
// translated to X keysyms. Pure, so the tables are checked without a display.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pavo::platform::linux_desktop {

// The keysym of the key's unshifted character or function; absent for a code with no US key.
std::optional<std::uint32_t> keysymForMacKeyCode(std::uint16_t keyCode);

// The modifier keysyms to hold for the flags, in press order. Command maps to Control, as Linux
// applications put on Control what macOS puts on Command; fn has no X key and is ignored.
std::vector<std::uint32_t> modifierKeysyms(std::uint64_t flags);

// The keysym that types a Unicode code point: Latin-1 is its own keysym, line breaks are Return, tab is
// Tab, anything else the Unicode keysym range.
std::uint32_t keysymForCodePoint(char32_t codePoint);

// UTF-16 to code points; an unpaired surrogate becomes U+FFFD.
std::vector<char32_t> codePoints(const std::u16string& text);

}  // namespace pavo::platform::linux_desktop
