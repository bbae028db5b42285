#pragma once
// Chord tokens such as "cmd+shift+k", "ctrl+c" or "pagedown" as key presses.

#include <optional>
#include <string_view>

#include "agent/keys/key_codes.hpp"

namespace pavo::agent {

// The key press a token names, or nothing when it names none (callers report an unknown key).
// The token is lower-cased and split at "+"; modifier names may come anywhere and repeat, and the last
// other piece is the key: a named key, or one character that `keyCodeForCharacter` knows (which brings
// shift along for shifted symbols).
std::optional<KeyPress> tokenToKeyPress(std::string_view token);

}  // namespace pavo::agent
