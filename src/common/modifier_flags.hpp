#pragma once
// Modifier flags as every keyboard path carries them from the handlers to a desktop: the macOS
// CGEventFlags bits, whatever window system finally turns them into held keys.

#include <cstdint>

namespace pavo::common::modifier {

inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t function = 0x800000;

}  // namespace pavo::common::modifier
