// The AppleScript and Shortcuts routes against stand-in tools that record their arguments and input and
// answer with a chosen output, status or delay; no child is left behind by any of them. (Draining and
// process groups as such are the child runner's, tested with it.)

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>

#include "agent/consent/consent_gate.hpp"
#include "agent/scripts/script_tools.hpp"
#include "agent/scripts/scripts_routes.hpp"
#include "agent/scripts/shortcuts.hpp"
#include "route_call.hpp"
#include "stand_in.hpp"

namespace pavo::agent {
namespace {

using nlohmann::json;
using pavo::testing::takeStandInCall;
using Strings = std::vector<std::string>;

class Scripts : public ::testing::Test {
  protected:
    pavo::testing::TempDir dir;
    ScriptTools tools{dir.path() + "/osascript", dir.path() + "/shortcuts"};
    ConsentGate ungated{nullptr};
    ScriptRoutes routes = scriptRoutes(tools, ungated);

    void TearDown() override { EXPECT_TRUE(pavo::testing::unreapedChildren().empty()); }

    // The tool records its arguments and input, then runs `answer`; an empty one: there is no tool.
    void answer(const std::string& tool, const std::string& answer) {
        std::remove((dir.path() + "/" + tool).c_str());
        if (!answer.empty()) pavo::testing::writeRecordingStandIn(dir, tool, answer);
    }
    std::string missing(const std::string& path) {
        return "cannot start " + path + ": No such file or directory";
    }
};

TEST_F(Scripts, AScriptIsReadFromStandardInputAndOnlyASuccessfulOutputIsTrimmed) {
    const std::vector<std::tuple<std::string, int, json>> rows = {
        {"printf '2\\n'", 200, {{"ok", true}, {"output", "2"}}},
        {"printf '  a \\t b \\n\\n\\r\\n'", 200, {{"ok", true}, {"output", "a \t b"}}},
        {"printf '\\377\\376'", 200, {{"ok", true}, {"output", ""}}},
        {"printf 'oops\\n' >&2; exit 1", 500, {{"exitCode", 1}, {"stderr", "oops\n"}, {"stdout", ""}}},
        {"printf ' half \\n'; exit 3", 500, {{"exitCode", 3}, {"stderr", ""}, {"stdout", " half \n"}}},
        {"kill -TERM $$", 500, {{"exitCode", 15}, {"stderr", ""}, {"stdout", ""}}},
        {"", 500, {{"message", missing(tools.osascript)}}},
    };
    for (const auto& [tool, status, reply] : rows) {
        answer("osascript", tool);
        for (const std::string& script : {std::string("1 + 1"), std::string()}) {
            const RouteReply got = callRoute(routes.appleScript, json{{"script", script}}.dump());
            EXPECT_EQ(got.status, status) << tool;
            json expected = reply;
            if (status != 200) expected["error"] = "applescript_failed";
            EXPECT_EQ(got.body, expected) << tool;
            const auto call = takeStandInCall(tools.osascript);
            EXPECT_EQ(call ? std::make_pair(call->arguments, call->input)
                           : std::make_pair(Strings{}, std::string()),
                      tool.empty() ? std::make_pair(Strings{}, std::string())
                                   : std::make_pair(Strings{"-"}, script));
        }
    }
}

TEST_F(Scripts, BodiesThatDoNotDecodeAreRefusedAndNothingRuns) {
    answer("osascript", "exit 0");
    answer("shortcuts", "exit 0");
    for (const auto& [route, body] : std::vector<std::pair<const RouteHandler*, std::string>>{
             {&routes.appleScript, ""},
             {&routes.appleScript, R"({"script": 2})"},
             {&routes.appleScript, R"({"script": null})"},
             {&routes.shortcut, "[]"},
             {&routes.shortcut, R"({"input": "x"})"},
             {&routes.shortcut, R"({"name": "a", "input": 3})"},
             {&routes.shortcut, R"({"name": "a", "timeoutMs": 1.5})"}}) {
        const RouteReply reply = callRoute(*route, body);
        EXPECT_EQ(reply.status, 400) << body;
        EXPECT_EQ(reply.body, json({{"error", "bad_request"}, {"message", "Invalid JSON body"}})) << body;
    }
    EXPECT_FALSE(takeStandInCall(tools.osascript));
    EXPECT_FALSE(takeStandInCall(tools.shortcuts));
}

TEST(ShortcutTimeLimit, IsAtLeastOneSecondAndFifteenWhenNotAsked) {
    const std::vector<std::pair<std::optional<std::int64_t>, std::int64_t>> rows = {
        {0, 1000},    {-1, 1000},       {500, 1000},           {1000, 1000},
        {1001, 1001}, {600000, 600000}, {std::nullopt, 15000}, {INT64_MAX, INT64_MAX}};
    for (const auto& [asked, limit] : rows)
        EXPECT_EQ(shortcutTimeLimit(asked).count(), limit) << asked.value_or(-1);
}

TEST_F(Scripts, AShortcutGetsItsNameAsOneArgumentAndItsInputOnAClosedStandardInput) {
    const std::vector<std::tuple<json, std::string, int, json>> rows = {
        {{{"name", "Backup; rm -rf \"$HOME\""}, {"input", "data\n"}},
         "printf 'done\\n'",
         200,
         {{"ok", true}, {"output", "done\n"}}},
        // The stand-in reads its input to the end: the run ends only because it was closed.
        {{{"name", "N"}, {"input", ""}}, "printf x", 200, {{"ok", true}, {"output", "x"}}},
        {{{"name", "N"}, {"timeoutMs", nullptr}}, "printf x", 200, {{"ok", true}, {"output", "x"}}},
        {{{"name", "N"}},
         "printf o; printf e >&2; exit 4",
         500,
         {{"error", "shortcut_failed"}, {"exitCode", 4}, {"stderr", "e"}, {"stdout", "o"}}},
        {{{"name", "N"}}, "", 500, {{"error", "shortcut_failed"}, {"message", missing(tools.shortcuts)}}},
    };
    for (const auto& [body, tool, status, reply] : rows) {
        answer("shortcuts", tool);
        const RouteReply got = callRoute(routes.shortcut, body.dump());
        EXPECT_EQ(got.status, status) << body;
        EXPECT_EQ(got.body, reply) << body;
        const auto call = takeStandInCall(tools.shortcuts);
        ASSERT_EQ(call.has_value(), !tool.empty()) << body;
        if (call) {
            EXPECT_EQ(call->arguments, (Strings{"run", body["name"]}));
            EXPECT_EQ(call->input, body.value("input", ""));
        }
    }
}

TEST_F(Scripts, AShortcutPastItsLimitIsStoppedWithWhatItStartedAndAnsweredWithTheLimit) {
    const std::string pidFile = dir.path() + "/grandchild";
    pavo::testing::writeStandIn(dir, "shortcuts",
                                "trap '' TERM\nsleep 60 &\necho $! > '" + pidFile + "'\nwait");
    const auto start = std::chrono::steady_clock::now();
    const RouteReply reply = callRoute(routes.shortcut, R"({"name": "Slow", "timeoutMs": 0})");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(reply.status, 504);
    EXPECT_EQ(reply.body, json({{"error", "shortcut_timeout"}, {"name", "Slow"}, {"elapsed_ms", 1000}}));
    pid_t grandchild = 0;
    std::ifstream(pidFile) >> grandchild;
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(pavo::testing::hasEnded(grandchild));
}

TEST_F(Scripts, TheListIsOneTrimmedNamePerLineInTheToolsOrder) {
    for (const auto& [output, names] :
         std::vector<std::pair<std::string, Strings>>{{"A\n\n  B  \n", {"A", "B"}},
                                                      {"\n \n\t\n", {}},
                                                      {"Zeta\r\nAlpha\nZeta", {"Zeta", "Alpha", "Zeta"}},
                                                      {"  Morning routine\u00a0\n", {"Morning routine"}}}) {
        EXPECT_EQ(parseShortcutList(output), names) << output;
    }
    const std::vector<std::tuple<std::string, int, json>> rows = {
        {"printf 'Backup\\n  Resize images \\n'",
         200,
         {{"ok", true}, {"shortcuts", {"Backup", "Resize images"}}}},
        {"printf 'B\\n'; printf 'no access\\n' >&2; exit 2",
         500,
         {{"error", "shortcut_failed"}, {"exitCode", 2}, {"stderr", "no access\n"}}},
        {"", 500, {{"error", "shortcut_failed"}, {"message", missing(tools.shortcuts)}}},
    };
    for (const auto& [tool, status, reply] : rows) {
        answer("shortcuts", tool);
        const RouteReply got = callRoute(routes.shortcutList, "");
        EXPECT_EQ(got.status, status) << tool;
        EXPECT_EQ(got.body, reply) << tool;
        const auto call = takeStandInCall(tools.shortcuts);
        EXPECT_EQ(call ? call->arguments : Strings{}, tool.empty() ? Strings{} : Strings{"list"});
    }
}

}  // namespace
}  // namespace pavo::agent
