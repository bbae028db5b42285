// The AppleScript and Shortcuts routes against stand-in tools that record their arguments and input and
// answer with a chosen output, status or delay; no child is left behind by any of them.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <random>

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
using pavo::testing::TempDir;
using pavo::testing::writeRecordingStandIn;
using pavo::testing::writeStandIn;

class Scripts : public ::testing::Test {
  protected:
    TempDir dir;
    ScriptTools tools{dir.path() + "/osascript", dir.path() + "/shortcuts"};
    ConsentGate ungated{nullptr};
    ScriptRoutes routes = scriptRoutes(tools, ungated);

    void TearDown() override { EXPECT_TRUE(pavo::testing::unreapedChildren().empty()); }
};

TEST_F(Scripts, AScriptIsReadFromStandardInputAndOnlyASuccessfulOutputIsTrimmed) {
    struct Row {
        std::string script;
        std::string answer;
        int status;
        json reply;
    };
    const std::vector<Row> rows = {
        {"1 + 1", "printf '2\\n'", 200, {{"ok", true}, {"output", "2"}}},
        {"x", "printf '  a \\t b \\n\\n\\r\\n'", 200, {{"ok", true}, {"output", "a \t b"}}},
        {"", "printf 'ran anyway'", 200, {{"ok", true}, {"output", "ran anyway"}}},
        {"x", "printf '\\377\\376'", 200, {{"ok", true}, {"output", ""}}},
        {"x",
         "printf 'oops\\n' >&2; exit 1",
         500,
         {{"error", "applescript_failed"}, {"exitCode", 1}, {"stderr", "oops\n"}, {"stdout", ""}}},
        {"x",
         "printf ' half \\n'; exit 3",
         500,
         {{"error", "applescript_failed"}, {"exitCode", 3}, {"stderr", ""}, {"stdout", " half \n"}}},
        {"x",
         "kill -TERM $$",
         500,
         {{"error", "applescript_failed"}, {"exitCode", 15}, {"stderr", ""}, {"stdout", ""}}},
    };
    for (const auto& row : rows) {
        writeRecordingStandIn(dir, "osascript", row.answer);
        const RouteReply reply = callRoute(routes.appleScript, json{{"script", row.script}}.dump());
        EXPECT_EQ(reply.status, row.status) << row.answer;
        EXPECT_EQ(reply.body, row.reply) << row.answer;
        const auto call = takeStandInCall(tools.osascript);
        ASSERT_TRUE(call) << row.answer;
        EXPECT_EQ(call->arguments, std::vector<std::string>{"-"});
        EXPECT_EQ(call->input, row.script);
    }
}

TEST_F(Scripts, BodiesThatDoNotDecodeAreRefusedAndNothingRuns) {
    writeRecordingStandIn(dir, "osascript", "exit 0");
    writeRecordingStandIn(dir, "shortcuts", "exit 0");
    const std::vector<std::pair<const RouteHandler*, std::string>> rows = {
        {&routes.appleScript, ""},
        {&routes.appleScript, "not json"},
        {&routes.appleScript, "{}"},
        {&routes.appleScript, R"({"script": 2})"},
        {&routes.appleScript, R"({"script": null})"},
        {&routes.shortcut, "{}"},
        {&routes.shortcut, R"({"input": "x"})"},
        {&routes.shortcut, R"({"name": 1})"},
        {&routes.shortcut, R"({"name": "a", "input": 3})"},
        {&routes.shortcut, R"({"name": "a", "timeoutMs": "5"})"},
        {&routes.shortcut, R"({"name": "a", "timeoutMs": 1.5})"},
    };
    for (const auto& [route, body] : rows) {
        const RouteReply reply = callRoute(*route, body);
        EXPECT_EQ(reply.status, 400) << body;
        EXPECT_EQ(reply.body, json({{"error", "bad_request"}, {"message", "Invalid JSON body"}})) << body;
    }
    EXPECT_FALSE(takeStandInCall(tools.osascript));
    EXPECT_FALSE(takeStandInCall(tools.shortcuts));
}

TEST_F(Scripts, AToolThatCannotStartIsReportedWithTheReason) {
    const std::vector<std::tuple<const RouteHandler*, std::string, std::string, std::string>> rows = {
        {&routes.appleScript, R"({"script": "1"})", "applescript_failed", tools.osascript},
        {&routes.shortcut, R"({"name": "a"})", "shortcut_failed", tools.shortcuts},
        {&routes.shortcutList, "", "shortcut_failed", tools.shortcuts},
    };
    for (const auto& [route, body, code, tool] : rows) {
        const RouteReply reply = callRoute(*route, body);
        EXPECT_EQ(reply.status, 500) << code;
        EXPECT_EQ(reply.body["error"], code);
        EXPECT_EQ(reply.body["message"], "cannot start " + tool + ": No such file or directory");
        EXPECT_EQ(reply.body.size(), 2u) << reply.body;
    }
}

TEST(ShortcutTimeLimit, IsAtLeastOneSecondAndFifteenWhenNotAsked) {
    const std::vector<std::pair<std::optional<std::int64_t>, std::int64_t>> rows = {
        {0, 1000},    {-1, 1000},       {500, 1000},           {999, 1000},           {1000, 1000},
        {1001, 1001}, {600000, 600000}, {std::nullopt, 15000}, {INT64_MAX, INT64_MAX}};
    for (const auto& [asked, limit] : rows) {
        EXPECT_EQ(shortcutTimeLimit(asked).count(), limit) << asked.value_or(-999);
    }
}

TEST_F(Scripts, AShortcutGetsItsNameAsOneArgumentAndItsInputOnStandardInput) {
    struct Row {
        json body;
        std::string answer;
        int status;
        json reply;
    };
    const std::vector<Row> rows = {
        {{{"name", "Backup; rm -rf ~ \"$HOME\""}, {"input", "data\n"}},
         "printf 'done\\n'",
         200,
         {{"ok", true}, {"output", "done\n"}}},
        // The run ends only if standard input was closed: the stand-in reads it to its end.
        {{{"name", "N"}, {"input", ""}}, "printf x", 200, {{"ok", true}, {"output", "x"}}},
        {{{"name", "N"}, {"timeoutMs", nullptr}}, "printf x", 200, {{"ok", true}, {"output", "x"}}},
        {{{"name", "N"}},
         "printf 'o'; printf 'e' >&2; exit 4",
         500,
         {{"error", "shortcut_failed"}, {"exitCode", 4}, {"stderr", "e"}, {"stdout", "o"}}},
    };
    for (const auto& row : rows) {
        writeRecordingStandIn(dir, "shortcuts", row.answer);
        const RouteReply reply = callRoute(routes.shortcut, row.body.dump());
        EXPECT_EQ(reply.status, row.status) << row.body;
        EXPECT_EQ(reply.body, row.reply) << row.body;
        const auto call = takeStandInCall(tools.shortcuts);
        ASSERT_TRUE(call) << row.body;
        EXPECT_EQ(call->arguments, (std::vector<std::string>{"run", row.body["name"]}));
        EXPECT_EQ(call->input, row.body.value("input", ""));
    }
}

TEST_F(Scripts, AShortcutPastItsLimitIsStoppedWithEverythingItStarted) {
    struct Row {
        const char* name;
        json timeoutMs;
        std::string trap;
        std::int64_t limit;
    };
    const std::vector<Row> rows = {
        {"ignores SIGTERM", 0, "trap '' TERM", 1000},
        {"honours SIGTERM", 1001, "", 1001},
    };
    for (const auto& row : rows) {
        const std::string pidFile = dir.path() + "/grandchild";
        writeStandIn(dir, "shortcuts", row.trap + "\nsleep 60 &\necho $! > '" + pidFile + "'\nwait");
        const auto start = std::chrono::steady_clock::now();
        const RouteReply reply =
            callRoute(routes.shortcut, json{{"name", "Slow"}, {"timeoutMs", row.timeoutMs}}.dump());
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(row.limit)) << row.name;
        EXPECT_EQ(reply.status, 504) << row.name;
        EXPECT_EQ(reply.body,
                  json({{"error", "shortcut_timeout"}, {"name", "Slow"}, {"elapsed_ms", row.limit}}))
            << row.name;
        pid_t grandchild = 0;
        std::ifstream(pidFile) >> grandchild;
        ASSERT_GT(grandchild, 0) << row.name;
        EXPECT_TRUE(pavo::testing::hasEnded(grandchild)) << row.name;
    }
}

TEST_F(Scripts, TheListIsOneTrimmedNamePerLineInTheToolsOrder) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> outputs = {
        {"A\n\n  B  \n", {"A", "B"}},
        {"", {}},
        {"\n \n\t\n", {}},
        {"Zeta\r\nAlpha\nZeta", {"Zeta", "Alpha", "Zeta"}},
        {"  Morning routine\u00a0\n", {"Morning routine"}},
    };
    for (const auto& [output, names] : outputs) EXPECT_EQ(parseShortcutList(output), names) << output;

    writeRecordingStandIn(dir, "shortcuts", "printf 'Backup\\n  Resize images \\n\\n'");
    const RouteReply listed = callRoute(routes.shortcutList, "");
    EXPECT_EQ(listed.status, 200);
    EXPECT_EQ(listed.body, json({{"ok", true}, {"shortcuts", {"Backup", "Resize images"}}}));
    EXPECT_EQ(takeStandInCall(tools.shortcuts)->arguments, std::vector<std::string>{"list"});

    writeRecordingStandIn(dir, "shortcuts", "printf 'Backup\\n'; printf 'no access\\n' >&2; exit 2");
    const RouteReply failed = callRoute(routes.shortcutList, "");
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(failed.body, json({{"error", "shortcut_failed"}, {"exitCode", 2}, {"stderr", "no access\n"}}));
}

TEST_F(Scripts, MegabytesPassThroughStandardInputAndOutputWithoutStalling) {
    std::string text(6 << 20, 'x');
    std::mt19937 random(7);
    for (char& c : text) c = static_cast<char>('a' + random() % 26);
    writeStandIn(dir, "osascript", "cat");
    writeStandIn(dir, "shortcuts", "cat");
    const std::vector<std::pair<const RouteHandler*, json>> rows = {
        {&routes.appleScript, {{"script", text}}},
        {&routes.shortcut, {{"name", "Echo"}, {"input", text}}},
    };
    for (const auto& [route, body] : rows) {
        const RouteReply reply = callRoute(*route, body.dump());
        EXPECT_EQ(reply.status, 200);
        EXPECT_TRUE(reply.body.value("output", "") == text)
            << "output of " << reply.body.dump().size() << " bytes";
    }
}

}  // namespace
}  // namespace pavo::agent
