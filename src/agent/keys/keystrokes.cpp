#include "agent/keys/keystrokes.hpp"

#include <chrono>
#include <vector>

#include "agent/keys/app_activation.hpp"
#include "agent/keys/key_chord.hpp"
#include "agent/keys/key_events.hpp"
#include "agent/keys/terminal_scripts.hpp"
#include "agent/scripts/apple_script.hpp"
#include "agent/server/desktop_waits.hpp"
#include "common/text.hpp"

namespace pavo::agent {

namespace {

namespace asio = boost::asio;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// A pair that could not be posted is still paced, so the rhythm of the rest does not change.
asio::awaitable<void> postKeyPair(platform::Desktop& desktop, const platform::KeyEvent& down,
                                  milliseconds delay) {
    platform::KeyEvent up = down;
    up.keyDown = false;
    co_await postKeyEvent(desktop, down);
    co_await pause(microseconds(delay) / 2);
    co_await postKeyEvent(desktop, up);
    co_await pause(delay);
}

asio::awaitable<Result<KeystrokesDone>> typeByEvents(KeysContext& context, const std::string& text,
                                                     const std::vector<std::string>& keys, milliseconds delay,
                                                     KeystrokesDone done) {
    for (const std::string& character : common::splitCharacters(text)) {
        co_await postKeyPair(context.desktop, keyDownForCharacter(character), delay);
    }
    for (const std::string& token : keys) {
        const auto press = tokenToKeyPress(token);
        if (!press) co_return AgentError{ErrorCode::unknownKey, {}, {}, {{"token", token}}};
        co_await postKeyPair(context.desktop, keyDownFor(*press), delay);
    }
    done.method = "cgevent";
    co_return done;
}

asio::awaitable<Result<KeystrokesDone>> typeByScript(KeysContext& context, const std::string& text,
                                                     const std::vector<std::string>& keys, milliseconds delay,
                                                     KeystrokesDone done) {
    std::string script = appleScriptForTerminal(done.app, text);
    if (script.empty()) {
        co_return AgentError{ErrorCode::unsupportedAppleScriptTarget, {}, {}, {{"bundle_id", done.app}}};
    }
    const OsaResult run = co_await runOsa(context.scripts, std::move(script));
    if (run.status != 0) {
        co_return AgentError{ErrorCode::appleScriptFailed,
                             {},
                             {},
                             {{"stderr", run.standardError}, {"stdout", run.standardOutput}}};
    }
    for (const std::string& token : keys) {
        if (const auto press = tokenToKeyPress(token))
            co_await postKeyPair(context.desktop, keyDownFor(*press), delay);
    }
    done.method = "applescript";
    co_return done;
}

}  // namespace

KeystrokeMethod chooseKeystrokeMethod(std::string_view mode, std::string_view target, bool hasText) {
    if (mode == "applescript") return KeystrokeMethod::appleScript;
    if (mode == "cgevent") return KeystrokeMethod::cgEvent;
    return isScriptedTerminal(target) && hasText ? KeystrokeMethod::appleScript : KeystrokeMethod::cgEvent;
}

asio::awaitable<Result<KeystrokesDone>> sendKeystrokes(KeysContext& context,
                                                       const SendKeystrokesRequest& request) {
    const milliseconds delay = keystrokeDelay(request.delayMs);
    const std::string text = request.text.value_or("");
    const std::vector<std::string> keys = request.keys.value_or(std::vector<std::string>{});
    if (text.empty() && keys.empty()) co_return AgentError{ErrorCode::badRequest, "text or keys required"};

    const Activation activation =
        co_await activateApp(context.desktop, context.scripts, request.appBundleId, request.appName);
    // Even an empty identifier that was given counts: the caller named an application it did not get.
    if (request.appBundleId && !activation.ok) {
        co_return AgentError{ErrorCode::appNotFound, {}, {}, {{"bundle_id", *request.appBundleId}}};
    }

    KeystrokesDone done;
    done.app = activation.resolvedBundle.value_or(request.appBundleId.value_or(""));
    done.chars = common::splitCharacters(text).size();
    done.keys = keys.size();
    const std::string mode = request.mode ? common::toLower(*request.mode) : "auto";
    if (chooseKeystrokeMethod(mode, done.app, !text.empty()) == KeystrokeMethod::appleScript) {
        co_return co_await typeByScript(context, text, keys, delay, std::move(done));
    }
    co_return co_await typeByEvents(context, text, keys, delay, std::move(done));
}

}  // namespace pavo::agent
