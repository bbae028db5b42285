#pragma once
// Keystroke delivery: bring the target application forward, then type a text and press key chords into
// it, one paced key-down/key-up pair at a time, or hand the text of a scripted terminal to its script.

#include <boost/asio/awaitable.hpp>

#include <cstddef>
#include <string>
#include <string_view>

#include "agent/keys/keystroke_request.hpp"
#include "agent/scripts/script_tools.hpp"
#include "agent/server/agent_error.hpp"
#include "platform/desktop.hpp"

namespace pavo::agent {

struct KeysContext {
    platform::Desktop& desktop;
    const ScriptTools& scripts;
};

enum class KeystrokeMethod { cgEvent, appleScript };

// "applescript" and "cgevent" (already lower-cased) force a method; any other mode scripts only a
// scripted terminal with text to type.
KeystrokeMethod chooseKeystrokeMethod(std::string_view mode, std::string_view target, bool hasText);

struct KeystrokesDone {
    std::string method;  // "cgevent" or "applescript"
    std::string app;     // the target bundle identifier, empty when there is none
    std::size_t chars = 0;
    std::size_t keys = 0;  // as sent, skipped tokens included
};

// Validation first (nothing to type: "bad_request"), then activation (by bundle identifier: failure is
// "app_not_found"; by name alone it is ignored), the method, the text and then the keys. A key pair is
// held down for half the pacing unit and followed by a whole one, as timers this request awaits. An
// unknown chord is "unknown_key" after what came before it was delivered, or skipped after a script.
boost::asio::awaitable<Result<KeystrokesDone>> sendKeystrokes(KeysContext& context,
                                                              const SendKeystrokesRequest& request);

}  // namespace pavo::agent
