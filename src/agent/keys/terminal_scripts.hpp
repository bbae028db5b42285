#pragma once
// The AppleScript texts keystroke delivery hands to the script runner: typing into a terminal that is
// scripted rather than sent key events, and bringing an application to the front by name.

#include <string>
#include <string_view>

namespace pavo::agent {

// The bundle identifiers of terminals whose text goes through a script; compared exactly.
bool isScriptedTerminal(std::string_view bundleId);

// `text` as the inside of an AppleScript string literal: backslashes doubled first, then each double
// quote preceded by a backslash, so whatever it holds stays one string.
std::string appleScriptEscaped(std::string_view text);

// The script that types `text` into the terminal with this bundle identifier, or the empty string for
// any other. Lines are joined by line feeds, with no final one.
std::string appleScriptForTerminal(std::string_view bundleId, std::string_view text);

// One line that activates the application called `name`, which stays one string whatever it holds.
std::string activationScript(std::string_view name);

}  // namespace pavo::agent
