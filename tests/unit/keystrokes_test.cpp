// Keystroke delivery on the in-memory desktop with a stand-in script runner: bodies, the pacing unit, the
// method, the terminal scripts, activation, the key events posted and every reply.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <sstream>

#include "agent/consent/consent_gate.hpp"
#include "agent/keys/keys_routes.hpp"
#include "agent/keys/keystrokes.hpp"
#include "agent/keys/terminal_scripts.hpp"
#include "platform/simulated/simulated_desktop.hpp"
#include "route_call.hpp"
#include "stand_in.hpp"

namespace pavo::agent {
namespace {

using nlohmann::json;
using platform::simulated::parseScene;
using Clock = std::chrono::steady_clock;

json scene() {
    auto app = [](int pid, const char* name, const char* bundleId, bool running) {
        return json{{"pid", pid}, {"name", name}, {"bundleId", bundleId}, {"running", running}};
    };
    return {{"frontmost", 10},
            {"applications",
             {app(10, "Editor", "org.example.Editor", true), app(20, "Terminal", "com.apple.Terminal", true),
              app(30, "Notes", "org.example.Notes", false), app(40, "Console", "org.gnome.Terminal", true)}}};
}

class Keystrokes : public ::testing::Test {
  protected:
    pavo::testing::TempDir dir;
    platform::simulated::SimulatedDesktop desktop{parseScene(scene())};
    ScriptTools tools{dir.path() + "/osascript", dir.path() + "/shortcuts"};
    KeysContext context{desktop, tools};
    ConsentGate ungated{nullptr};
    RouteHandler route = keystrokesRoute(context, ungated);

    void TearDown() override { EXPECT_TRUE(pavo::testing::unreapedChildren().empty()); }

    // The script runner records its arguments and input, then runs `answer`; an empty one: no runner.
    void runner(const std::string& answer) {
        std::remove(tools.osascript.c_str());
        if (!answer.empty()) pavo::testing::writeRecordingStandIn(dir, "osascript", answer);
    }
    std::vector<json> recorded(const std::string& kind) {
        std::vector<json> out;
        for (const auto& r : desktop.records()) {
            if (r.entry["kind"] == kind) out.push_back(r.entry);
        }
        return out;
    }
    std::vector<int> activatedPids() {
        std::vector<int> pids;
        for (const json& entry : recorded("activate")) {
            if (entry.contains("pid")) pids.push_back(entry["pid"]);
        }
        return pids;
    }
    // The key pairs posted since `from` key events: "code", "code^flags" in hex, "0:text"; each release
    // must repeat its press.
    std::string pairs(std::size_t from) {
        const auto keys = recorded("key");
        std::string out;
        for (std::size_t i = from; i + 1 < keys.size(); i += 2) {
            json up = keys[i + 1];
            up["down"] = true;
            EXPECT_EQ(up, keys[i]);
            std::uint64_t flags = keys[i]["flags"];
            out += (out.empty() ? "" : " ") + keys[i]["keyCode"].dump();
            std::ostringstream hex;
            hex << std::hex << flags;
            if (flags) out += "^" + hex.str();
            if (keys[i].contains("text")) out += ":" + keys[i]["text"].get<std::string>();
        }
        return out;
    }
};

TEST(KeystrokeBodies, RefuseAnyKeyOfTheWrongTypeWithAReasonAndClampTheDelay) {
    for (const char* bad :
         {"", "[]", "{", R"({"text": 5})", R"({"keys": "return"})", R"({"keys": ["a", 1]})",
          R"({"app_name": []})", R"({"delay_ms": 1.5})", R"({"delay_ms": 9223372036854775808})"}) {
        const auto decoded = decodeSendKeystrokesRequest(bad);
        ASSERT_FALSE(decoded) << bad;
        EXPECT_FALSE(decoded.error().message.empty()) << bad;
    }
    const std::vector<std::pair<std::optional<std::int64_t>, int>> delays = {
        {std::nullopt, 12}, {0, 1}, {-5, 1}, {1, 1}, {250, 250}, {251, 250}, {1000, 250}};
    for (const auto& [asked, paced] : delays)
        EXPECT_EQ(keystrokeDelay(asked).count(), paced) << asked.value_or(-1);
}

TEST(KeystrokeMethod, ScriptsOnlyAScriptedTerminalWithTextUnlessTheModeSaysOtherwise) {
    const auto script = KeystrokeMethod::appleScript;
    const auto events = KeystrokeMethod::cgEvent;
    const std::vector<std::tuple<std::string, std::string, bool, KeystrokeMethod>> rows = {
        {"auto", "com.apple.Terminal", true, script},    {"auto", "com.googlecode.iterm2", true, script},
        {"auto", "com.googlecode.iterm", true, script},  {"other", "com.apple.Terminal", true, script},
        {"auto", "com.apple.Terminal", false, events},   {"auto", "com.apple.terminal", true, events},
        {"auto", "org.gnome.Terminal", true, events},    {"auto", "xterm", true, events},
        {"cgevent", "com.apple.Terminal", true, events}, {"applescript", "", false, script}};
    for (const auto& [mode, target, hasText, method] : rows) {
        EXPECT_EQ(chooseKeystrokeMethod(mode, target, hasText), method)
            << mode << " " << target << " " << hasText;
    }
}

TEST(TerminalScripts, TextStaysOneStringWithBackslashesDoubledAndQuotesEscaped) {
    const std::string text = R"(echo "a\b" \"q\")";
    const std::string quoted = R"("echo \"a\\b\" \\\"q\\\"")";
    const std::string iTerm =
        "tell application \"iTerm2\"\n    activate\n    if (count of windows) = 0 then\n"
        "        create window with default profile\n    end if\n"
        "    tell current session of current window\n        write text " +
        quoted + "\n    end tell\nend tell";
    const std::string terminal =
        "tell application \"Terminal\"\n    activate\n    if (count of windows) = 0 then\n"
        "        do script \"\"\n    end if\n    do script " +
        quoted + " in front window\nend tell";
    for (const auto& [bundleId, script] :
         std::vector<std::pair<std::string, std::string>>{{"com.googlecode.iterm2", iTerm},
                                                          {"com.googlecode.iterm", iTerm},
                                                          {"com.apple.Terminal", terminal},
                                                          {"com.apple.terminal", ""},
                                                          {"org.gnome.Terminal", ""}}) {
        EXPECT_EQ(appleScriptForTerminal(bundleId, text), script) << bundleId;
    }
}

TEST(TerminalScripts, AHostileApplicationNameStaysOneString) {
    for (const std::string& name :
         {std::string("Safari"), std::string("x\" to quit\ndo shell script \"rm -rf ~"),
          std::string(R"(back\" to quit --\)")}) {
        const std::string script = activationScript(name);
        // Reads the literal after "tell application " back the way AppleScript does.
        std::string literal;
        std::size_t i = std::string("tell application \"").size();
        for (; i < script.size() && script[i] != '"'; ++i)
            literal += script[i] == '\\' ? script[++i] : script[i];
        EXPECT_EQ(literal, name) << script;
        EXPECT_EQ(script.substr(0, 18) + script.substr(i), "tell application \"\" to activate") << script;
    }
}

TEST_F(Keystrokes, NothingIsActivatedOrTypedBeforeTheBodyIsValid) {
    for (const char* body : {"", R"({"app_bundle_id": "org.example.Notes", "text": 7})",
                             R"({"app_bundle_id": "org.example.Notes", "text": "", "keys": []})",
                             R"({"app_name": "Terminal", "text": null})"}) {
        const RouteReply reply = callRoute(route, body);
        EXPECT_EQ(reply.status, 400) << body;
        EXPECT_EQ(reply.body["error"], "bad_request") << body;
    }
    EXPECT_EQ(callRoute(route, "{}").body["message"], "text or keys required");
    EXPECT_TRUE(desktop.records().empty()) << "no launch, activation or key event";
}

TEST_F(Keystrokes, TheTextThenTheChordsGoAsKeysOrThroughATerminalScript) {
    const std::string noRunner = "cannot start " + tools.osascript + ": No such file or directory";
    struct Row {
        json body;
        std::string runner;  // its answer; empty: there is none
        int status;
        json reply;
        std::string pairs;
        bool scripted = false;
    };
    const std::vector<Row> rows = {
        {{{"text", "Hello!"}}, "", 200, {{"chars", 6}}, "4^20000 14 37 37 31 18^20000"},
        // Characters without a US key of their own (an emoji beyond the BMP is one character) go as text.
        {{{"text", "é😀\t"}}, "", 200, {{"chars", 3}}, "0:é 0:😀 0:\t"},
        {{{"keys", {"CMD+SHIFT+Z", "cmd+?", "pagedown"}}}, "", 200, {}, "6^120000 44^120000 121"},
        {{{"text", "ls"}, {"keys", {"cmd+a", "f1", "return"}}},
         "",
         400,
         {{"error", "unknown_key"}, {"token", "f1"}},
         "37 1 0^100000"},
        {{{"app_bundle_id", "com.apple.Terminal"}, {"text", "ls"}, {"keys", {"cmd+a", "f1", "return"}}},
         "exit 0",
         200,
         {{"method", "applescript"}, {"chars", 2}},
         "0^100000 36",
         true},
        {{{"app_bundle_id", "com.apple.Terminal"}, {"text", "ls"}, {"keys", {"return"}}},
         "printf 'half\\n'; printf 'bad\\n' >&2; exit 2",
         500,
         {{"error", "applescript_failed"}, {"stderr", "bad\n"}, {"stdout", "half\n"}},
         "",
         true},
        {{{"app_bundle_id", "com.apple.Terminal"}, {"text", "ls"}},
         "",
         500,
         {{"error", "applescript_failed"}, {"stderr", noRunner}, {"stdout", ""}},
         ""},
        {{{"app_bundle_id", "org.example.Editor"}, {"text", "x"}, {"mode", "AppleScript"}},
         "exit 0",
         400,
         {{"error", "unsupported_applescript_target"}, {"bundle_id", "org.example.Editor"}},
         ""},
        {{{"keys", {"a"}}, {"mode", "APPLESCRIPT"}},
         "exit 0",
         400,
         {{"error", "unsupported_applescript_target"}, {"bundle_id", ""}},
         ""},
    };
    for (const auto& row : rows) {
        runner(row.runner);
        const std::size_t before = recorded("key").size();
        const RouteReply reply = callRoute(route, row.body.dump());
        EXPECT_EQ(reply.status, row.status) << row.body;
        // A success names the method (key events unless the row says otherwise), the target and the counts.
        json expected = row.reply;
        if (row.status == 200) {
            expected = {{"ok", true},
                        {"method", "cgevent"},
                        {"app", row.body.value("app_bundle_id", "")},
                        {"chars", 0},
                        {"keys", row.body.value("keys", json::array()).size()}};
            if (row.reply.is_object()) expected.update(row.reply);
        }
        EXPECT_EQ(reply.body, expected) << row.body;
        EXPECT_EQ(pairs(before), row.pairs) << row.body;
        const auto call = pavo::testing::takeStandInCall(tools.osascript);
        EXPECT_EQ(call.has_value(), row.scripted) << row.body;
        if (call) {
            EXPECT_EQ(call->input, appleScriptForTerminal("com.apple.Terminal", "ls")) << row.body;
        }
    }
}

TEST_F(Keystrokes, EachPairIsHeldForHalfTheDelayAndFollowedByAWholeOne) {
    for (const std::optional<int> delayMs :
         {std::optional<int>(20), std::optional<int>(), std::optional<int>(0)}) {
        const auto delay = keystrokeDelay(delayMs);
        const auto held = std::chrono::duration_cast<std::chrono::microseconds>(delay) / 2;
        json body = {{"text", "abc"}, {"keys", {"return"}}};
        if (delayMs) body["delay_ms"] = *delayMs;
        const auto start = Clock::now();
        EXPECT_EQ(callRoute(route, body.dump()).status, 200);
        EXPECT_GE(Clock::now() - start, 4 * (delay + held)) << delay.count();
        std::vector<Clock::time_point> times;
        for (const auto& r : desktop.records()) times.push_back(r.time);
        for (std::size_t i = times.size() - 7; i < times.size(); ++i) {
            // Odd gaps from the end are a key held down, even ones the pause after a release.
            EXPECT_GE(times[i] - times[i - 1], (times.size() - i) % 2 ? held : delay)
                << delay.count() << " " << i;
        }
    }
}

TEST_F(Keystrokes, ActivationByBundleIdMustSucceedAndByNameIsBestEffort) {
    const std::vector<std::string> script = {"-e", R"(tell application "Nobody" to activate)"};
    struct Row {
        json target;
        std::string runner;  // its answer; empty: there is none
        int status;
        std::vector<int> activated;
        std::vector<std::string> runnerArguments = {};
    };
    const std::vector<Row> rows = {
        {{{"app_bundle_id", "com.apple.Terminal"}}, "", 200, {20}},
        {{{"app_bundle_id", "org.example.Notes"}}, "", 200, {30}},
        {{{"app_bundle_id", "org.example.Gone"}}, "", 404, {}},
        {{{"app_name", "Terminal"}}, "", 200, {20}},
        {{{"app_name", "Nobody"}}, "exit 1", 200, {}, script},
        {{{"app_name", "Nobody"}}, "", 200, {}},
        {{{"app_bundle_id", ""}, {"app_name", "Nobody"}}, "exit 1", 404, {}, script},
    };
    for (const auto& row : rows) {
        runner(row.runner);
        desktop.replaceScene(parseScene(scene()));
        const std::size_t keys = recorded("key").size();
        const std::size_t activations = activatedPids().size();
        json body = row.target;
        body.update({{"text", "ok"}, {"mode", "cgevent"}});
        const RouteReply reply = callRoute(route, body.dump());
        EXPECT_EQ(reply.status, row.status) << row.target;
        const std::string bundleId = row.target.value("app_bundle_id", "");
        if (row.status == 200) {
            EXPECT_EQ(reply.body["app"], bundleId) << row.target;
        } else {
            EXPECT_EQ(reply.body, json({{"error", "app_not_found"}, {"bundle_id", bundleId}})) << row.target;
        }
        EXPECT_EQ(recorded("key").size() - keys, row.status == 200 ? 4u : 0u) << row.target;
        const auto pids = activatedPids();
        EXPECT_EQ(std::vector<int>(pids.begin() + static_cast<std::ptrdiff_t>(activations), pids.end()),
                  row.activated)
            << row.target;
        const auto call = pavo::testing::takeStandInCall(tools.osascript);
        EXPECT_EQ(call ? call->arguments : std::vector<std::string>{}, row.runnerArguments) << row.target;
    }
    EXPECT_EQ(recorded("launch").size(), 1u);
}

}  // namespace
}  // namespace pavo::agent
