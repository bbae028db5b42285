// Arbitrary bytes as keystroke, script and shortcut bodies, and as names and text that go into scripts:
// never a crash, a refusal is always a described "bad_request", decoded values keep their bounds, and
// whatever goes into a script literal reads back as exactly one string.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agent/keys/keystroke_request.hpp"
#include "agent/keys/terminal_scripts.hpp"
#include "agent/scripts/script_requests.hpp"

namespace {

using namespace pavo::agent;

void check(bool condition) {
    if (!condition) std::abort();
}

template <typename T>
void checkRefusal(const Result<T>& result) {
    if (!result) check(result.error().code == ErrorCode::badRequest && !result.error().message.empty());
}

// The text of the string literal that starts at `at` and the rest of the script after it.
std::pair<std::string, std::string_view> readLiteral(std::string_view script, std::size_t at) {
    std::string text;
    for (std::size_t i = at + 1; i < script.size(); ++i) {
        if (script[i] == '"') return {text, script.substr(i + 1)};
        if (script[i] == '\\') {
            check(i + 1 < script.size());
            ++i;
        }
        text += script[i];
    }
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const auto keystrokes = decodeSendKeystrokesRequest(bytes);
    checkRefusal(keystrokes);
    if (keystrokes) {
        const auto delay = keystrokeDelay(keystrokes->delayMs).count();
        check(delay >= 1 && delay <= 250);
    }
    checkRefusal(decodeAppleScriptRequest(bytes));
    const auto shortcut = decodeShortcutRequest(bytes);
    checkRefusal(shortcut);
    if (shortcut) check(shortcutTimeLimit(shortcut->timeoutMs).count() >= 1000);

    const std::string activation = activationScript(bytes);
    const auto [name, rest] = readLiteral(activation, activation.find('"'));
    check(name == bytes && rest == " to activate");
    const std::string terminal = appleScriptForTerminal("com.apple.Terminal", bytes);
    const std::size_t open = terminal.find("do script \"", terminal.find("end if")) + 10;
    const auto [typed, after] = readLiteral(terminal, open);
    check(typed == bytes && after == " in front window\nend tell");
    return 0;
}
