// The keystroke, AppleScript and Shortcuts routes in the agent in process, with stand-in tools that
// record their arguments and input and answer as a row says: activation, the key events posted and their
// pacing, every reply, and the consent prompt before a stand-in overlay. No child is left behind by any
// of them. (Draining and process groups as such are the child runner's, tested with it.)

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "agent/keys/terminal_scripts.hpp"
#include "agent_under_test.hpp"
#include "await.hpp"
#include "scene.hpp"
#include "stand_in.hpp"
#include "stand_in_overlay.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;
using Strings = std::vector<std::string>;

json with(json object, const json& more) {
    if (!more.is_null()) object.update(more);
    return object;
}

json scene() {
    json terminal = application(20, "Terminal", json::array()),
         notes = application(30, "Notes", json::array());
    terminal["bundleId"] = "com.apple.Terminal";
    notes["running"] = false;
    return {{"frontmost", 10}, {"applications", {application(10, "Editor", json::array()), terminal, notes}}};
}

class Routes : public ::testing::Test {
  protected:
    TempDir dir;
    AgentUnderTest agent{scene()};

    void SetUp() override { agent.scripts = {dir.path() + "/osascript", dir.path() + "/shortcuts"}; }
    void TearDown() override { EXPECT_TRUE(unreapedChildren().empty()); }

    // The tool records its arguments and input, then runs `answer`; an empty one: there is no tool.
    void answer(const std::string& tool, const std::string& answer) {
        std::remove((dir.path() + "/" + tool).c_str());
        if (!answer.empty()) writeRecordingStandIn(dir, tool, answer);
    }
    std::string missing(const std::string& tool) {
        return "cannot start " + dir.path() + "/" + tool + ": No such file or directory";
    }
    // What the tool received since last asked: its arguments, then its input; nothing when it did not run.
    Strings call(const std::string& tool) {
        auto call = takeStandInCall(dir.path() + "/" + tool);
        if (call) call->arguments.push_back(call->input);
        return call ? call->arguments : Strings{};
    }
    std::vector<int> activatedPids(std::size_t from = 0) {
        std::vector<int> pids;
        for (const json& entry : agent.recorded("activate")) {
            if (entry.contains("pid")) pids.push_back(entry["pid"]);
        }
        return {pids.begin() + static_cast<std::ptrdiff_t>(from), pids.end()};
    }
    // The key pairs posted since `from` key events: "code", "code^flags" in hex, "0:text". Each release
    // repeats its press half the pacing unit later, and the next press waits a whole one.
    std::string pairs(std::size_t from, std::chrono::milliseconds delay) {
        std::vector<platform::simulated::DesktopRecord> keys;
        for (const auto& record : agent.desktop.records()) {
            if (record.entry["kind"] == "key") keys.push_back(record);
        }
        std::ostringstream out;
        for (std::size_t i = from; i + 1 < keys.size(); i += 2) {
            const json& down = keys[i].entry;
            EXPECT_EQ(with(keys[i + 1].entry, {{"down", true}}), down);
            EXPECT_GE(keys[i + 1].time - keys[i].time, delay / 2);
            EXPECT_TRUE(i + 2 == keys.size() || keys[i + 2].time - keys[i + 1].time >= delay) << i;
            out << (i == from ? "" : " ") << std::dec << down["keyCode"].get<int>();
            if (const std::uint64_t flags = down["flags"]) out << "^" << std::hex << flags;
            if (down.contains("text")) out << ":" << down["text"].get<std::string>();
        }
        return out.str();
    }
};

TEST_F(Routes, KeystrokesTypeTheTextThenTheChordsAsKeysOrThroughATerminalScript) {
    const std::string terminal = R"({"app_bundle_id": "com.apple.Terminal", "text": "ls")";
    const std::string fails = "printf 'half\\n'; printf 'bad\\n' >&2; exit 2";
    const Strings scripted = {"-", agent::appleScriptForTerminal("com.apple.Terminal", "ls")};
    // Body, the runner's answer (empty: there is none), the status, the reply (for a success, what differs
    // from key events to the target with no characters) and the key pairs. Nothing is launched before the
    // body is found valid. Characters without a US key of their own (an emoji beyond the BMP is one
    // character) go as text.
    const json viaScript = {{"method", "applescript"}, {"chars", 2}};
    const json unknownF1 = {{"error", "unknown_key"}, {"token", "f1"}};
    const json failed = {{"error", "applescript_failed"}, {"stderr", "bad\n"}, {"stdout", "half\n"}};
    const json noTool = {{"error", "applescript_failed"}, {"stderr", missing("osascript")}, {"stdout", ""}};
    const json unsupported = {{"error", "unsupported_applescript_target"}, {"bundle_id", ""}};
    const std::vector<std::tuple<std::string, std::string, int, json, std::string>> rows = {
        {R"({"text": "Hello!"})", "", 200, {{"chars", 6}}, "4^20000 14 37 37 31 18^20000"},
        {R"({"text": "é😀\t"})", "", 200, {{"chars", 3}}, "0:é 0:😀 0:\t"},
        {R"({"keys": ["CMD+SHIFT+Z", "pagedown"], "delay_ms": 30})", "", 200, {}, "6^120000 121"},
        {R"({"text": "ls", "keys": ["cmd+a", "f1", "return"]})", "", 400, unknownF1, "37 1 0^100000"},
        {terminal + R"(, "keys": ["cmd+a", "f1", "return"]})", "exit 0", 200, viaScript, "0^100000 36"},
        {terminal + R"(, "keys": ["return"]})", fails, 500, failed, ""},
        {terminal + "}", "", 500, noTool, ""},
        {R"({"keys": ["a"], "mode": "APPLESCRIPT"})", "exit 0", 400, unsupported, ""}};
    for (const auto& [text, runner, status, reply, keyPairs] : rows) {
        SCOPED_TRACE(text);
        answer("osascript", runner);
        const std::size_t before = agent.recorded("key").size();
        const json body = json::parse(text);
        const Reply got = agent.post("/keystrokes", text);
        EXPECT_EQ(got.status, status);
        json succeeded = {{"ok", true}, {"method", "cgevent"}, {"app", body.value("app_bundle_id", "")}};
        succeeded.update({{"chars", 0}, {"keys", body.value("keys", json::array()).size()}});
        EXPECT_EQ(got.body, status == 200 ? with(succeeded, reply) : reply);
        EXPECT_EQ(pairs(before, std::chrono::milliseconds(body.value("delay_ms", 12))), keyPairs);
        EXPECT_EQ(call("osascript"), !runner.empty() && status != 400 ? scripted : Strings{});
    }
}

TEST_F(Routes, KeystrokesActivateByBundleIdOrFailAndByNameAtBestEffort) {
    const Strings script = {"-e", R"(tell application "Nobody" to activate)", ""};
    // The target, the runner's answer (empty: there is none; else it is called), the status, the pids
    // activated.
    const std::vector<std::tuple<json, std::string, int, std::vector<int>>> rows = {
        {{{"app_bundle_id", "com.apple.Terminal"}}, "", 200, {20}},
        {{{"app_bundle_id", "org.example.Notes"}}, "", 200, {30}},
        {{{"app_bundle_id", "org.example.Gone"}}, "", 404, {}},
        {{{"app_name", "Terminal"}}, "", 200, {20}},
        {{{"app_name", "Nobody"}}, "exit 1", 200, {}},
        {{{"app_bundle_id", ""}, {"app_name", "Nobody"}}, "exit 1", 404, {}}};
    for (const auto& [target, runner, status, activated] : rows) {
        SCOPED_TRACE(target.dump());
        answer("osascript", runner);
        agent.desktop.replaceScene(platform::simulated::parseScene(scene()));
        const std::size_t keys = agent.recorded("key").size(), activations = activatedPids().size();
        const Reply reply =
            agent.postJson("/keystrokes", with(target, {{"text", "ok"}, {"mode", "cgevent"}}));
        EXPECT_EQ(reply.status, status);
        const std::string bundleId = target.value("app_bundle_id", "");
        EXPECT_EQ(reply.body[status == 200 ? "app" : "bundle_id"], bundleId);
        EXPECT_EQ(reply.body.value("error", ""), status == 200 ? "" : "app_not_found");
        EXPECT_EQ(agent.recorded("key").size() - keys, status == 200 ? 4u : 0u);
        EXPECT_EQ(activatedPids(activations), activated);
        EXPECT_EQ(call("osascript"), runner.empty() ? Strings{} : script);
    }
    EXPECT_EQ(agent.recorded("launch").size(), 1u);
}

TEST_F(Routes, AScriptIsReadFromStandardInputAndOnlyASuccessfulOutputIsTrimmed) {
    const std::vector<std::tuple<std::string, int, json>> rows = {
        {"printf ' 2\\n'", 200, {{"ok", true}, {"output", "2"}}},
        {"printf '\\377\\376'", 200, {{"ok", true}, {"output", ""}}},
        {"printf ' half \\n'; printf 'oops' >&2; exit 3",
         500,
         {{"exitCode", 3}, {"stderr", "oops"}, {"stdout", " half \n"}}},
        {"kill -TERM $$", 500, {{"exitCode", 15}, {"stderr", ""}, {"stdout", ""}}},
        {"", 500, {{"message", missing("osascript")}}}};
    for (const auto& [tool, status, reply] : rows) {
        SCOPED_TRACE(tool);
        answer("osascript", tool);
        const Reply got = agent.postJson("/applescript/run", {{"script", "1 + 1"}});
        EXPECT_EQ(got.status, status);
        EXPECT_EQ(got.body, status == 200 ? reply : with(reply, {{"error", "applescript_failed"}}));
        EXPECT_EQ(call("osascript"), (tool.empty() ? Strings{} : Strings{"-", "1 + 1"}));
    }
}

TEST_F(Routes, AShortcutGetsItsNameAsOneArgumentAndItsInputOnAClosedStandardInputWithinItsLimit) {
    const json invalid = {{"error", "bad_request"}, {"message", "Invalid JSON body"}};
    const json failed = {{"error", "shortcut_failed"}, {"exitCode", 4}, {"stderr", "e"}, {"stdout", "o"}};
    // The stand-in reads its input to the end: a run ends only because its input was closed. Past the
    // limit (at least a second) it is stopped, with the sleep it started; the reply names the limit.
    const json done = {{"ok", true}, {"output", "done\n"}};
    const json timedOut = {{"error", "shortcut_timeout"}, {"name", "Slow"}, {"elapsed_ms", 1000}};
    const std::vector<std::tuple<std::string, std::string, int, json>> rows = {
        {R"({"name": "Backup; rm -rf \"$HOME\"", "input": "data\n"})", "printf 'done\\n'", 200, done},
        {R"({"name": "N"})", "printf o; printf e >&2; exit 4", 500, failed},
        {R"({"name": "N"})", "", 500, {{"error", "shortcut_failed"}, {"message", missing("shortcuts")}}},
        {R"({"name": "Slow", "timeoutMs": 0})", "trap '' TERM; sleep 60 & wait", 504, timedOut},
        {"[]", "exit 0", 400, invalid},
        {R"({"name": "a", "input": 3})", "exit 0", 400, invalid},
        {R"({"name": "a", "timeoutMs": 1.5})", "exit 0", 400, invalid}};
    for (const auto& [body, tool, status, reply] : rows) {
        SCOPED_TRACE(body);
        answer("shortcuts", tool);
        const Reply got = agent.post("/shortcut", body);
        EXPECT_EQ(got.status, status);
        EXPECT_EQ(got.body, reply);
        const json asked = json::parse(body);
        const bool ran = !tool.empty() && status != 400;
        EXPECT_EQ(call("shortcuts"),
                  (ran ? Strings{"run", asked["name"], asked.value("input", "")} : Strings{}));
    }
}

TEST_F(Routes, TheShortcutListIsTheToolsNamesInItsOrder) {
    const std::vector<std::tuple<std::string, int, json>> rows = {
        {"printf 'B\\n  Re size \\n'", 200, {{"ok", true}, {"shortcuts", {"B", "Re size"}}}},
        {"printf B; printf e >&2; exit 2",
         500,
         {{"error", "shortcut_failed"}, {"exitCode", 2}, {"stderr", "e"}}},
    };
    for (const auto& [tool, status, reply] : rows) {
        answer("shortcuts", tool);
        http::HTTPRequest list{
            .method = "GET", .path = "/shortcut/list", .headers = {{"x-pavo-token", "t"}}, .body = ""};
        const Reply got = replyOf(await(agent.io, agent.dispatcher->dispatch(std::move(list))));
        EXPECT_EQ(got.status, status) << tool;
        EXPECT_EQ(got.body, reply) << tool;
        EXPECT_EQ(call("shortcuts"), (tool.empty() ? Strings{} : Strings{"list", ""})) << tool;
    }
}

TEST_F(Routes, KeystrokesAndScriptsAskBeforeReadingTheBodyShortcutsAfterDecodingIt) {
    StandInOverlay overlay{agent.io};
    agent.gateWith(std::make_shared<const agent::OverlayClient>(overlay.port(), "overlay-token"));
    answer("osascript", "printf ran");
    answer("shortcuts", "printf ran");
    const json keys = {{"action", "send_keystrokes"}};
    const json script = {{"action", "run_applescript"}, {"target", "System"}};
    const json shortcut = {{"action", "run_shortcut"}, {"target", "Backup"}};
    const json denied = {{"error", "consent_denied"}}, ran = {{"ok", true}, {"output", "ran"}};
    const json invalid = {{"error", "bad_request"}, {"message", "Invalid JSON body"}};
    // Path, body, whether the operator grants, the reply, the prompt raised (null: none), the tool run.
    const std::vector<std::tuple<std::string, std::string, bool, json, json, std::string>> rows = {
        {"/keystrokes", "not json", false, denied, keys, ""},
        {"/applescript/run", "{}", true, invalid, script, ""},
        {"/applescript/run", R"({"script": "1"})", true, ran, script, "osascript"},
        {"/shortcut", R"({"input": "x"})", true, invalid, nullptr, ""},
        {"/shortcut", R"({"name": "Backup"})", false, denied, shortcut, ""},
        {"/shortcut", R"({"name": "Backup"})", true, ran, shortcut, "shortcuts"}};
    for (const auto& [path, body, grant, reply, prompt, tool] : rows) {
        SCOPED_TRACE(path + " " + body);
        overlay.seen.clear();
        overlay.consent = [grant = grant](const std::string&, int) {
            return grant ? consentGranted() : overlayReply(404, {{"error", "not_found"}});
        };
        EXPECT_EQ(agent.post(path, body).body, reply);
        const auto events = overlay.events();
        ASSERT_EQ(events.size(), prompt.is_null() ? 0u : 1u);
        if (!events.empty()) {
            const json asked = json::parse(events[0].body);
            EXPECT_EQ(asked,
                      with(prompt, {{"type", "destructive_prompt"}, {"id", asked.value("id", json())}}));
        }
        for (const std::string& ran : {std::string("osascript"), std::string("shortcuts")})
            EXPECT_EQ(call(ran).empty(), ran != tool) << ran;
    }
    EXPECT_TRUE(agent.desktop.records().empty());
}

}  // namespace
}  // namespace pavo::testing
