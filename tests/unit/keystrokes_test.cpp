// Keystroke delivery on the in-memory desktop with a stand-in script runner: validation before
// activation, the pacing unit, the method each request gets, the terminal scripts, activation by bundle id
// and by name, the events posted and every reply.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "agent/consent/consent_gate.hpp"
#include "agent/keys/keys_routes.hpp"
#include "agent/keys/keystrokes.hpp"
#include "agent/keys/terminal_scripts.hpp"
#include "platform/simulated/simulated_desktop.hpp"
#include "route_call.hpp"
#include "stand_in.hpp"

namespace pavo::agent {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using pavo::testing::takeStandInCall;
using pavo::testing::TempDir;
using platform::simulated::parseScene;
using platform::simulated::SimulatedDesktop;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kShift = 0x20000;

json scene() {
    auto app = [](int pid, const char* name, const char* bundleId, bool running = true) {
        return json{{"pid", pid}, {"name", name}, {"bundleId", bundleId}, {"running", running}};
    };
    return {{"frontmost", 10},
            {"applications",
             {app(10, "Editor", "org.example.Editor"), app(20, "Terminal", "com.apple.Terminal"),
              app(30, "Notes", "org.example.Notes", false), app(40, "Console", "org.gnome.Terminal")}}};
}

class Keystrokes : public ::testing::Test {
  protected:
    TempDir dir;
    SimulatedDesktop desktop{parseScene(scene())};
    ScriptTools tools{dir.path() + "/osascript", dir.path() + "/shortcuts"};
    KeysContext context{desktop, tools};
    ConsentGate ungated{nullptr};
    RouteHandler route = keystrokesRoute(context, ungated);

    void TearDown() override { EXPECT_TRUE(pavo::testing::unreapedChildren().empty()); }

    RouteReply send(const json& body) { return callRoute(route, body.dump()); }

    // The script runner records what it is given and then runs `answer`; without this it is missing.
    void osascriptAnswers(const std::string& answer) {
        pavo::testing::writeRecordingStandIn(dir, "osascript", answer);
    }
    std::optional<pavo::testing::StandInCall> osascriptCall() { return takeStandInCall(tools.osascript); }

    std::vector<json> recorded(const std::string& kind) {
        std::vector<json> out;
        for (const auto& r : desktop.records()) {
            if (r.entry["kind"] == kind) out.push_back(r.entry);
        }
        return out;
    }
    // The activations by pid, in order.
    std::vector<int> activated() {
        std::vector<int> pids;
        for (const auto& entry : recorded("activate")) {
            if (entry.contains("pid")) pids.push_back(entry["pid"]);
        }
        return pids;
    }
    // Key codes of the key-down events, with their flags and text.
    std::vector<json> downs() {
        std::vector<json> out;
        for (const auto& key : recorded("key")) {
            if (key["down"].get<bool>()) out.push_back(key);
        }
        return out;
    }
};

TEST(KeystrokeBodies, DecodeEveryKeyByItsTypeAndClampTheDelay) {
    const auto full = decodeSendKeystrokesRequest(
        R"({"text": "hé", "keys": ["cmd+a", "return"], "app_bundle_id": "b", "app_name": "n",
            "mode": "cgevent", "delay_ms": -5, "extra": {}})");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->text, "hé");
    EXPECT_EQ(full->keys, (std::vector<std::string>{"cmd+a", "return"}));
    EXPECT_EQ(full->appBundleId, "b");
    EXPECT_EQ(full->appName, "n");
    EXPECT_EQ(full->mode, "cgevent");
    EXPECT_EQ(full->delayMs, -5);
    const auto nulls = decodeSendKeystrokesRequest(R"({"text": null, "keys": null, "delay_ms": null})");
    ASSERT_TRUE(nulls);
    EXPECT_FALSE(nulls->text || nulls->keys || nulls->delayMs);

    for (const char* bad :
         {"", "[]", "\"text\"", "{", R"({"text": 5})", R"({"keys": "return"})", R"({"keys": ["a", 1]})",
          R"({"app_bundle_id": true})", R"({"app_name": []})", R"({"mode": 1})", R"({"delay_ms": 1.5})",
          R"({"delay_ms": "10"})", R"({"delay_ms": 9223372036854775808})"}) {
        const auto decoded = decodeSendKeystrokesRequest(bad);
        ASSERT_FALSE(decoded) << bad;
        EXPECT_EQ(decoded.error().code, ErrorCode::badRequest) << bad;
        EXPECT_FALSE(decoded.error().message.empty()) << bad;
    }

    const std::vector<std::pair<std::optional<std::int64_t>, int>> delays = {
        {std::nullopt, 12}, {0, 1}, {-5, 1}, {1, 1}, {100, 100}, {250, 250}, {251, 250}, {1000, 250}};
    for (const auto& [asked, paced] : delays) {
        EXPECT_EQ(keystrokeDelay(asked), std::chrono::milliseconds(paced)) << asked.value_or(-999);
    }
}

TEST_F(Keystrokes, NothingIsActivatedOrTypedBeforeTheBodyIsValid) {
    struct Row {
        std::string body;
        std::string message;  // empty: any description
    };
    const std::vector<Row> rows = {
        {"", ""},
        {"not json", ""},
        {R"({"app_bundle_id": "org.example.Notes", "text": 7})", ""},
        {R"({"app_bundle_id": "org.example.Notes"})", "text or keys required"},
        {R"({"app_bundle_id": "org.example.Notes", "text": "", "keys": []})", "text or keys required"},
        {R"({"app_name": "Terminal", "text": null, "keys": null})", "text or keys required"},
    };
    for (const auto& row : rows) {
        const RouteReply reply = callRoute(route, row.body);
        EXPECT_EQ(reply.status, 400) << row.body;
        EXPECT_EQ(reply.body["error"], "bad_request") << row.body;
        if (!row.message.empty()) {
            EXPECT_EQ(reply.body["message"], row.message) << row.body;
        }
    }
    EXPECT_TRUE(desktop.records().empty()) << "no launch, activation or key event";
}

TEST(KeystrokeMethod, ScriptsOnlyAScriptedTerminalWithTextUnlessTheModeSaysOtherwise) {
    struct Row {
        std::string mode;
        std::string target;
        bool hasText;
        KeystrokeMethod method;
    };
    const auto script = KeystrokeMethod::appleScript;
    const auto events = KeystrokeMethod::cgEvent;
    const std::vector<Row> rows = {
        {"auto", "com.apple.Terminal", true, script},
        {"auto", "com.googlecode.iterm2", true, script},
        {"auto", "com.googlecode.iterm", true, script},
        {"auto", "com.apple.Terminal", false, events},
        {"auto", "com.apple.terminal", true, events},
        {"auto", "org.gnome.Terminal", true, events},
        {"auto", "xterm", true, events},
        {"auto", "", true, events},
        {"cgevent", "com.apple.Terminal", true, events},
        {"applescript", "org.example.Editor", false, script},
        {"typewriter", "com.apple.Terminal", true, script},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(chooseKeystrokeMethod(row.mode, row.target, row.hasText), row.method)
            << row.mode << " " << row.target << " " << row.hasText;
    }
}

TEST_F(Keystrokes, TheModeIsReadInAnyCaseAndOnlyTerminalsHaveAScript) {
    osascriptAnswers("exit 0");
    struct Row {
        json body;
        int status;
        json expected;  // the reply, or the part of it the row is about
        bool scripted;
    };
    const std::vector<Row> rows = {
        {{{"app_bundle_id", "com.apple.Terminal"}, {"text", "ls"}},
         200,
         {{"ok", true}, {"method", "applescript"}, {"app", "com.apple.Terminal"}, {"chars", 2}, {"keys", 0}},
         true},
        {{{"app_bundle_id", "com.apple.Terminal"}, {"keys", {"ctrl+c"}}},
         200,
         {{"ok", true}, {"method", "cgevent"}, {"app", "com.apple.Terminal"}, {"chars", 0}, {"keys", 1}},
         false},
        {{{"app_bundle_id", "com.apple.Terminal"}, {"text", "ls"}, {"mode", "CGEvent"}},
         200,
         {{"ok", true}, {"method", "cgevent"}, {"app", "com.apple.Terminal"}, {"chars", 2}, {"keys", 0}},
         false},
        {{{"app_bundle_id", "org.gnome.Terminal"}, {"text", "ls"}},
         200,
         {{"ok", true}, {"method", "cgevent"}, {"app", "org.gnome.Terminal"}, {"chars", 2}, {"keys", 0}},
         false},
        {{{"app_bundle_id", "org.example.Editor"}, {"text", "x"}, {"mode", "AppleScript"}},
         400,
         {{"error", "unsupported_applescript_target"}, {"bundle_id", "org.example.Editor"}},
         false},
        {{{"text", "x"}, {"mode", "APPLESCRIPT"}},
         400,
         {{"error", "unsupported_applescript_target"}, {"bundle_id", ""}},
         false},
    };
    for (const auto& row : rows) {
        const RouteReply reply = send(row.body);
        EXPECT_EQ(reply.status, row.status) << row.body;
        EXPECT_EQ(reply.body, row.expected) << row.body;
        EXPECT_EQ(osascriptCall().has_value(), row.scripted) << row.body;
    }
}

TEST(TerminalScripts, TextStaysOneStringWithBackslashesDoubledAndQuotesEscaped) {
    const std::string text = R"(echo "a\b" \"q\")";
    const std::string escaped = R"(echo \"a\\b\" \\\"q\\\")";
    const std::string iTerm =
        "tell application \"iTerm2\"\n"
        "    activate\n"
        "    if (count of windows) = 0 then\n"
        "        create window with default profile\n"
        "    end if\n"
        "    tell current session of current window\n"
        "        write text \"" +
        escaped +
        "\"\n"
        "    end tell\n"
        "end tell";
    const std::string terminal =
        "tell application \"Terminal\"\n"
        "    activate\n"
        "    if (count of windows) = 0 then\n"
        "        do script \"\"\n"
        "    end if\n"
        "    do script \"" +
        escaped +
        "\" in front window\n"
        "end tell";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"com.googlecode.iterm2", iTerm}, {"com.googlecode.iterm", iTerm}, {"com.apple.Terminal", terminal},
        {"com.apple.terminal", ""},       {"org.gnome.Terminal", ""},      {"", ""}};
    for (const auto& [bundleId, script] : rows) {
        EXPECT_EQ(appleScriptForTerminal(bundleId, text), script) << bundleId;
    }
}

// Reads the AppleScript string literal that starts at `at` (a double quote): its text, and where it ends.
std::pair<std::string, std::size_t> readLiteral(const std::string& script, std::size_t at) {
    std::string text;
    for (std::size_t i = at + 1; i < script.size(); ++i) {
        if (script[i] == '"') return {text, i + 1};
        if (script[i] == '\\' && i + 1 < script.size()) ++i;
        text += script[i];
    }
    return {text, std::string::npos};
}

TEST(TerminalScripts, AHostileApplicationNameStaysOneString) {
    for (const std::string& name : {std::string("Safari"), std::string(R"(x" to quit
do shell script "rm -rf ~" --)"),
                                    std::string(R"(back\" to quit --\)"), std::string("\\")}) {
        const std::string script = activationScript(name);
        ASSERT_TRUE(script.starts_with("tell application \"")) << script;
        const auto [literal, end] = readLiteral(script, script.find('"'));
        EXPECT_EQ(literal, name) << script;
        ASSERT_NE(end, std::string::npos) << script;
        EXPECT_EQ(script.substr(end), " to activate") << script;
    }
}

TEST_F(Keystrokes, CharactersGoAsUSKeysWithShiftOrElseAsTextThenTheChords) {
    struct Key {
        int keyCode;
        std::uint64_t flags;
        std::string text = "";
    };
    struct Row {
        json body;
        std::vector<Key> keys;
        int chars;
    };
    const std::vector<Row> rows = {
        {{{"text", "Hello!"}}, {{4, kShift}, {14, 0}, {37, 0}, {37, 0}, {31, 0}, {18, kShift}}, 6},
        // An accented letter, an emoji beyond the BMP (one character) and a tab have no key of their own.
        {{{"text", "é😀\t"}}, {{0, 0, "é"}, {0, 0, "😀"}, {0, 0, "\t"}}, 3},
        {{{"text", "a"}, {"keys", {"CMD+SHIFT+Z", "cmd+?", "pagedown"}}},
         {{0, 0}, {6, 0x120000}, {44, 0x120000}, {121, 0}},
         1},
    };
    for (const auto& row : rows) {
        const std::size_t before = recorded("key").size();
        const RouteReply reply = send(row.body);
        EXPECT_EQ(reply.status, 200) << row.body;
        EXPECT_EQ(reply.body["method"], "cgevent");
        EXPECT_EQ(reply.body["chars"], row.chars);
        EXPECT_EQ(reply.body["app"], "");
        const auto keys = recorded("key");
        ASSERT_EQ(keys.size() - before, 2 * row.keys.size()) << row.body;
        for (std::size_t i = 0; i < row.keys.size(); ++i) {
            for (std::size_t half = 0; half < 2; ++half) {
                const json& key = keys[before + 2 * i + half];
                EXPECT_EQ(key["down"], half == 0) << row.body << " " << i;
                EXPECT_EQ(key["keyCode"], row.keys[i].keyCode) << row.body << " " << i;
                EXPECT_EQ(key["flags"], row.keys[i].flags) << row.body << " " << i;
                EXPECT_EQ(key.value("text", ""), row.keys[i].text) << row.body << " " << i;
            }
        }
    }
    EXPECT_TRUE(activated().empty()) << "no application was named";
}

TEST_F(Keystrokes, EachPairIsHeldForHalfTheDelayAndFollowedByAWholeOne) {
    for (const std::optional<int> delayMs :
         {std::optional<int>(20), std::optional<int>(), std::optional<int>(0)}) {
        const auto delay = keystrokeDelay(delayMs);
        json body = {{"text", "abc"}, {"keys", {"return"}}};
        if (delayMs) body["delay_ms"] = *delayMs;
        const std::size_t before = recorded("key").size();
        const auto start = Clock::now();
        EXPECT_EQ(send(body).status, 200);
        const auto elapsed = Clock::now() - start;
        std::vector<Clock::time_point> times;
        for (const auto& r : desktop.records()) {
            if (r.entry["kind"] == "key") times.push_back(r.time);
        }
        times.erase(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(before));
        ASSERT_EQ(times.size(), 8u);
        const auto held = std::chrono::duration_cast<std::chrono::microseconds>(delay) / 2;
        for (std::size_t i = 1; i < times.size(); ++i) {
            // Odd gaps are a key held down, even ones the pause after its release.
            EXPECT_GE(times[i] - times[i - 1], i % 2 ? held : delay) << delay.count() << " " << i;
        }
        EXPECT_GE(elapsed, 4 * (delay + held)) << delay.count();
    }
}

TEST_F(Keystrokes, AnUnknownChordEndsEventsButIsSkippedAfterATerminalScript) {
    osascriptAnswers("exit 0");
    const json keys = {"cmd+a", "f1", "return"};
    const RouteReply events = send({{"text", "ls"}, {"keys", keys}});
    EXPECT_EQ(events.status, 400);
    EXPECT_EQ(events.body, json({{"error", "unknown_key"}, {"token", "f1"}}));
    std::vector<int> codes;
    for (const auto& key : downs()) codes.push_back(key["keyCode"]);
    EXPECT_EQ(codes, (std::vector<int>{37, 1, 0})) << "the text and cmd+a stay delivered, return never comes";

    const RouteReply scripted =
        send({{"app_bundle_id", "com.apple.Terminal"}, {"text", "ls"}, {"keys", keys}});
    EXPECT_EQ(scripted.status, 200);
    EXPECT_EQ(scripted.body["method"], "applescript");
    EXPECT_EQ(scripted.body["keys"], 3);
    const auto call = osascriptCall();
    ASSERT_TRUE(call);
    EXPECT_EQ(call->arguments, std::vector<std::string>{"-"});
    EXPECT_EQ(call->input, appleScriptForTerminal("com.apple.Terminal", "ls"));
    codes.clear();
    for (const auto& key : downs()) codes.push_back(key["keyCode"]);
    EXPECT_EQ(codes, (std::vector<int>{37, 1, 0, 0, 36}));
}

TEST_F(Keystrokes, ATerminalScriptThatFailsIsReportedAndNoKeyFollows) {
    struct Row {
        std::string answer;  // of the script runner; empty: there is none
        std::string stdoutText;
        std::string stderrStart;
    };
    const std::vector<Row> rows = {
        {"printf 'half\\n'; printf 'syntax error\\n' >&2; exit 2", "half\n", "syntax error\n"},
        {"", "", "cannot start " + tools.osascript + ": "},
    };
    for (const auto& row : rows) {
        std::remove(tools.osascript.c_str());
        if (!row.answer.empty()) osascriptAnswers(row.answer);
        const RouteReply reply =
            send({{"app_bundle_id", "com.apple.Terminal"}, {"text", "ls"}, {"keys", {"return"}}});
        EXPECT_EQ(reply.status, 500) << row.answer;
        EXPECT_EQ(reply.body["error"], "applescript_failed");
        EXPECT_EQ(reply.body["stdout"], row.stdoutText);
        EXPECT_TRUE(reply.body["stderr"].get<std::string>().starts_with(row.stderrStart)) << reply.body;
        EXPECT_EQ(reply.body.size(), 3u);
    }
    EXPECT_TRUE(recorded("key").empty());
}

TEST_F(Keystrokes, ActivationByBundleIdMustSucceedAndByNameIsBestEffort) {
    struct Row {
        const char* name;
        json target;
        std::string runner;  // answer of the script runner; empty: there is none
        int status;
        std::string app;  // of a 200 reply
        std::vector<int> activated;
        std::optional<std::string> script = std::nullopt;  // what the runner was asked to run
    };
    const std::string hostile = R"(Nobody" to quit
tell application "Finder)";
    const std::vector<Row> rows = {
        {"running, by bundle id",
         {{"app_bundle_id", "com.apple.Terminal"}},
         "",
         200,
         "com.apple.Terminal",
         {20}},
        {"installed, launched", {{"app_bundle_id", "org.example.Notes"}}, "", 200, "org.example.Notes", {30}},
        {"neither running nor installed", {{"app_bundle_id", "org.example.Gone"}}, "", 404, "", {}},
        {"by name", {{"app_name", "Terminal"}}, "", 200, "", {20}},
        {"an unknown name whose script fails",
         {{"app_name", "Nobody"}},
         "exit 1",
         200,
         "",
         {},
         R"(tell application "Nobody" to activate)"},
        {"an unknown name and no script runner", {{"app_name", "Nobody"}}, "", 200, "", {}},
        {"an empty bundle id counts as given",
         {{"app_bundle_id", ""}, {"app_name", "Nobody"}},
         "exit 1",
         404,
         "",
         {},
         R"(tell application "Nobody" to activate)"},
        {"a hostile name stays one string",
         {{"app_name", hostile}},
         "exit 0",
         200,
         "",
         {},
         R"(tell application "Nobody\" to quit
tell application \"Finder" to activate)"},
    };
    for (const auto& row : rows) {
        std::remove(tools.osascript.c_str());
        if (!row.runner.empty()) osascriptAnswers(row.runner);
        desktop.replaceScene(parseScene(scene()));
        const std::size_t keysBefore = recorded("key").size();
        const std::size_t activationsBefore = activated().size();
        json body = row.target;
        body["text"] = "ok";
        body["mode"] = "cgevent";
        const RouteReply reply = send(body);
        EXPECT_EQ(reply.status, row.status) << row.name;
        if (row.status == 200) {
            EXPECT_EQ(reply.body["app"], row.app) << row.name;
            EXPECT_EQ(recorded("key").size() - keysBefore, 4u) << row.name;
        } else {
            EXPECT_EQ(reply.body,
                      json({{"error", "app_not_found"}, {"bundle_id", row.target["app_bundle_id"]}}))
                << row.name;
            EXPECT_EQ(recorded("key").size(), keysBefore) << row.name << ": nothing is typed";
        }
        const auto pids = activated();
        EXPECT_EQ(std::vector<int>(pids.begin() + static_cast<std::ptrdiff_t>(activationsBefore), pids.end()),
                  row.activated)
            << row.name;
        const auto call = osascriptCall();
        EXPECT_EQ(call.has_value(), row.script.has_value()) << row.name;
        if (call && row.script) {
            EXPECT_EQ(call->arguments, (std::vector<std::string>{"-e", *row.script})) << row.name;
        }
    }
    EXPECT_EQ(recorded("launch").size(), 1u);
}

}  // namespace
}  // namespace pavo::agent
