// What a tool call turns into: the arguments it accepts, the result a model reads from the agent's answer,
// the events the operator sees, and the audit record that never shows the arguments.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <regex>

#include "mcp/argument_check.hpp"
#include "mcp/audit_record.hpp"
#include "mcp/command_line.hpp"
#include "mcp/step_events.hpp"
#include "mcp/tool_catalog.hpp"
#include "mcp/tool_result.hpp"

namespace pavo::mcp {
namespace {

using nlohmann::json;

TEST(McpTools, ArgumentsAreCheckedAgainstTheAdvertisedSchema) {
    const struct {
        const char* tool;
        const char* arguments;
        const char* problem;  // a part of the message, or "" when the arguments fit
    } rows[] = {
        {"ax_tree", R"({})", ""},
        {"ax_tree", R"({"root_pid":1.5})", "root_pid must be an integer"},
        {"ax_find", R"({"role":"AXButton","label":"Save","maxResults":3,"batch_id":"b"})", ""},
        {"ax_find", R"({"maxResults":0})", "maxResults must be at least 1"},
        {"ax_find", R"({"Role":"AXButton"})", "unknown argument Role"},
        {"ax_click", R"({"elementId":""})", "elementId must not be empty"},
        {"ax_type", R"({"elementId":"a"})", "missing required argument text"},
        {"ax_scroll", R"({"elementId":"a","direction":"up","amount":"lots"})", "amount must be a number"},
        {"keystrokes", R"({"keys":["cmd+a",3]})", "keys[1] must be a string"},
        {"keystrokes", R"({"text":"hi","mode":"AUTO"})", "mode must be one of"},
        {"ocr", R"({"windowId":-1})", "windowId must be at least 0"},
        {"screenshot", R"({"ocr":"yes"})", "ocr must be a boolean"},
        {"screenshot", R"({"pid":4242,"ocr":true})", ""},
        {"list_shortcuts", R"({"name":"x"})", "unknown argument name"},
    };
    for (const auto& row : rows) {
        const ToolSpec* tool = findTool(row.tool);
        ASSERT_NE(tool, nullptr) << row.tool;
        const auto problem = checkArguments(tool->inputSchema, json::parse(row.arguments));
        if (*row.problem == '\0') {
            EXPECT_FALSE(problem) << row.tool << " " << row.arguments << ": " << problem.value_or("");
        } else {
            ASSERT_TRUE(problem) << row.tool << " " << row.arguments;
            EXPECT_NE(problem->find(row.problem), std::string::npos) << *problem;
        }
    }
}

TEST(McpTools, AgentAnswersBecomeToolResultsWithTheAgentsBody) {
    const struct {
        const char* tool;
        std::optional<AgentAnswer> answer;
        bool isError;
        const char* result;
        const char* reason;
        const char* text;  // a part of the text the model reads
    } rows[] = {
        {"ax_click", AgentAnswer{200, R"({"ok":true,"method":"ax_press"})"}, false, "ok", "",
         "Clicked (ax_press)"},
        {"ax_click", AgentAnswer{200, R"({"ok":true,"method":"synthesized_click","x":120,"y":210})"}, false,
         "ok", "", "Clicked at (120, 210)"},
        {"ax_find", AgentAnswer{200, R"({"matches":[{"id":"a","role":"AXButton"}]})"}, false, "ok", "",
         "1 matching"},
        {"ax_find", AgentAnswer{200, R"({"matches":[{"id":"q","label":"Say \"hi\" \\ café \n\t\u0001 ✓"}]})"},
         false, "ok", "", "1 matching"},
        {"batch_begin", AgentAnswer{200, "{\n  \"ok\": true,\n  \"batch_id\": \"b\"\n}"}, false, "ok", "",
         "Batch b"},
        {"ax_click", AgentAnswer{403, R"({"error":"consent_denied"})"}, true, "denied", "consent_denied",
         "Do not repeat"},
        {"ax_click", AgentAnswer{404, R"({"error":"element_not_found"})"}, true, "error", "element_not_found",
         "search again with ax_find"},
        {"ax_tree", AgentAnswer{403, R"({"error":"ax_permission_missing","hint":"start the bus"})"}, true,
         "error", "ax_permission_missing", "start the bus"},
        {"ocr", AgentAnswer{500, "<html>oops</html>"}, true, "error", "http_500", "oops"},
        {"ax_tree", AgentAnswer{200, "not json"}, true, "error", "bad_reply", "not a JSON object"},
        {"ax_tree", std::nullopt, true, "error", "agent_unreachable", "127.0.0.1:47824"},
    };
    for (const auto& row : rows) {
        const InterpretedAnswer out = interpretAnswer(*findTool(row.tool), row.answer, 47824);
        const json result = json::parse(out.toolResult);
        const std::string text = result["content"][0]["text"];
        EXPECT_EQ(result["isError"], row.isError) << text;
        EXPECT_EQ(out.outcome.result, row.result) << text;
        EXPECT_EQ(out.outcome.reason, row.reason) << text;
        EXPECT_NE(text.find(row.text), std::string::npos) << text;
        const auto body = row.answer ? json::parse(row.answer->body, nullptr, false) : json();
        if (body.is_object()) {
            EXPECT_EQ(result["structuredContent"], body) << "the agent's body reaches the client whole";
            EXPECT_EQ(json::parse(text.substr(text.find('\n') + 1)), body)
                << "and in the text for text-only clients";
        } else {
            EXPECT_FALSE(result.contains("structuredContent"));
        }
    }
}

std::vector<std::string> describe(const std::vector<json>& events) {
    std::vector<std::string> out;
    for (const auto& e : events) {
        std::string d = e["type"];
        if (e.contains("x")) d += " " + e["x"].dump() + "," + e["y"].dump();
        if (e.contains("rect")) d += " " + e["rect"]["x"].dump() + "," + e["rect"]["y"].dump();
        if (e.contains("chord")) d += " " + e["chord"].get<std::string>();
        out.push_back(d);
    }
    return out;
}

TEST(McpTools, TheOperatorSeesWhereEachCallActs) {
    ElementFrames frames;
    frames.remember(json::parse(R"({"tree":{"id":"root","role":"AXApplication","children":[
        {"id":"save","role":"AXButton","frame":{"x":100,"y":200,"width":40,"height":20}},
        {"id":"hidden","role":"AXButton"}]}})"));
    json manyMatches = json::array();
    for (int i = 0; i < 25; ++i)
        manyMatches.push_back(
            {{"id", std::to_string(i)}, {"frame", {{"x", i}, {"y", 1}, {"width", 2}, {"height", 3}}}});

    using List = std::vector<std::string>;
    const struct {
        const char* tool;
        json arguments;
        json reply;
        List before;
        List after;
    } rows[] = {
        {"ax_click",
         {{"elementId", "save"}},
         {{"ok", true}, {"method", "ax_press"}},
         {"cursor_halo 120.0,210.0"},
         {"click_ripple 120.0,210.0"}},
        {"ax_click",
         {{"elementId", "save"}},
         {{"ok", true}, {"method", "synthesized_click"}, {"x", 5}, {"y", 6}},
         {"cursor_halo 120.0,210.0"},
         {"click_ripple 5.0,6.0"}},
        {"ax_click", {{"elementId", "hidden"}}, {{"ok", true}, {"method", "ax_press"}}, {}, {}},
        {"ax_type", {{"elementId", "save"}, {"text", "x"}}, {{"ok", true}}, {"element_bbox 100.0,200.0"}, {}},
        {"ax_scroll", {{"elementId", "unknown"}, {"direction", "up"}}, {{"ok", true}}, {}, {}},
        {"ax_find",
         json::object(),
         {{"matches",
           {{{"id", "m"}, {"frame", {{"x", 7}, {"y", 8}, {"width", 1}, {"height", 1}}}}, {{"id", "n"}}}}},
         {},
         {"element_bbox 7.0,8.0"}},
        {"keystrokes",
         {{"text", "hi"}, {"keys", {"cmd+a", "return"}}},
         {{"ok", true}},
         {"key_chord_pill cmd+a", "key_chord_pill return"},
         {}},
        {"ax_tree", json::object(), json::object(), {}, {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(describe(eventsBefore(row.tool, row.arguments, frames)), row.before)
            << row.tool << row.arguments;
        EXPECT_EQ(describe(eventsAfter(row.tool, row.arguments, row.reply, frames)), row.after)
            << row.tool << row.reply;
    }
    EXPECT_EQ(eventsAfter("ax_find", json::object(), {{"matches", manyMatches}}, frames).size(), 20u)
        << "a long list of matches is not a wall of boxes";
}

TEST(McpTools, AuditRecordsHashTheArgumentsAndNeverCarryThemInClear) {
    const json arguments = {{"elementId", "abc"}, {"text", "hunter2"}};
    const json reordered = json::parse(R"({"text":"hunter2","elementId":"abc"})");
    const auto at = std::chrono::system_clock::time_point(std::chrono::milliseconds(1765063610123));
    const json denied = auditEvent("ax_type", arguments, "salt", at, 42, {"denied", "consent_denied"});
    const json ok = auditEvent("ax_type", reordered, "salt", at, 7, {});

    EXPECT_EQ(denied["type"], "audit_log");
    EXPECT_EQ(denied["tool"], "ax_type");
    EXPECT_EQ(denied["ts"], "2025-12-06T23:26:50.123Z");
    EXPECT_EQ(denied["elapsed_ms"], 42);
    EXPECT_EQ(denied["result"], "denied");
    EXPECT_EQ(denied["reason"], "consent_denied");
    EXPECT_FALSE(ok.contains("reason"));
    EXPECT_TRUE(std::regex_match(denied["args_hash"].get<std::string>(), std::regex("[0-9a-f]{64}")));
    EXPECT_EQ(denied["args_hash"], ok["args_hash"]) << "the order of keys does not change the hash";
    EXPECT_NE(argumentsHash(arguments, "salt"), argumentsHash(arguments, "other salt"));
    EXPECT_NE(argumentsHash(arguments, "salt"),
              argumentsHash({{"elementId", "abc"}, {"text", "hunter3"}}, "salt"));
    EXPECT_EQ(denied.dump().find("hunter2"), std::string::npos);
}

TEST(McpTools, TheAgentIsFoundAsTheAgentFindsItself) {
    const struct {
        std::vector<std::string> arguments;
        std::map<std::string, std::string> environment;
        int exitStatus;
        std::int64_t port;
        const char* token;  // resolved, with the token file holding " from-file \n"
    } rows[] = {
        {{}, {}, 0, 47824, "from-file"},
        {{"--port", "5000", "--token", "t"}, {}, 0, 5000, "t"},
        {{}, {{"VEXLO_PAVO_SIDECAR_PORT", "6000"}, {"VEXLO_PAVO_SIDECAR_TOKEN", "env"}}, 0, 6000, "env"},
        {{"--port", "7000"}, {{"VEXLO_PAVO_SIDECAR_PORT", "6000"}}, 0, 7000, "from-file"},
        {{"--port", "0"}, {}, 1, 0, ""},
        {{"--port", "65536"}, {}, 1, 0, ""},
        {{"--port"}, {}, 1, 0, ""},
        {{}, {{"VEXLO_PAVO_SIDECAR_PORT", "x"}}, 1, 0, ""},
        {{"--verbose"}, {}, 1, 0, ""},
        {{"--help"}, {}, 0, -1, ""},
    };
    for (const auto& row : rows) {
        const auto lookup = [&](const char* name) -> std::optional<std::string> {
            const auto it = row.environment.find(name);
            return it == row.environment.end() ? std::nullopt : std::optional<std::string>(it->second);
        };
        const auto parsed = parseMcpCommandLine(row.arguments, lookup, "/home/u");
        EXPECT_EQ(parsed.exitStatus, row.exitStatus);
        if (row.port <= 0) {
            EXPECT_FALSE(parsed.settings);
            EXPECT_FALSE(parsed.output.empty());
            continue;
        }
        ASSERT_TRUE(parsed.settings);
        EXPECT_EQ(parsed.settings->agentPort, row.port);
        EXPECT_EQ(parsed.settings->tokenFile, "/home/u/Vault-Vexlo/secrets/pavo/sidecar-token");
        const auto token =
            resolveAgentToken(*parsed.settings, [](const std::string& path) -> std::optional<std::string> {
                if (path == "/home/u/Vault-Vexlo/secrets/pavo/sidecar-token") return " from-file \n";
                return std::nullopt;
            });
        EXPECT_EQ(token, row.token);
    }
}

}  // namespace
}  // namespace pavo::mcp
