// pavo-mcp in process. The session as a client sees it over stdio, one line in and the lines that come out;
// what a tool call turns into: the arguments it accepts, the result a model reads from the agent's answer,
// the events the operator sees, the audit record that never shows the arguments, and the screenshot's
// picture, bounded for a model and mapped back to the screen.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <png.h>

#include <random>
#include <regex>

#include "mcp/argument_check.hpp"
#include "mcp/audit_record.hpp"
#include "mcp/command_line.hpp"
#include "mcp/dispatcher.hpp"
#include "mcp/image_scaling.hpp"
#include "mcp/line_framer.hpp"
#include "mcp/png_encoding.hpp"
#include "mcp/screenshot.hpp"
#include "mcp/step_events.hpp"
#include "mcp/tool_catalog.hpp"
#include "mcp/tool_result.hpp"

namespace pavo::mcp {
namespace {

using nlohmann::json;

std::string request(int id, const std::string& method, const std::string& params = "") {
    return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":")" + method + "\"" +
           (params.empty() ? "" : R"(,"params":)" + params) + "}";
}

std::string call(int id, const std::string& tool, const std::string& arguments = "{}") {
    return request(id, "tools/call", R"({"name":")" + tool + R"(","arguments":)" + arguments + "}");
}

int errorCode(const json& reply) {
    return reply.contains("error") ? reply["error"]["code"].get<int>() : 0;
}

struct Session {
    std::vector<json> sent;
    std::vector<FinishCall> finishers;  // one per call started
    int cancels = 0;
    json welcome;
    Dispatcher dispatcher{[this](std::string line) { sent.push_back(json::parse(line)); },
                          [this](ToolCall, FinishCall finish) {
                              finishers.push_back(std::move(finish));
                              return CancelCall([this] { ++cancels; });
                          }};

    // Initialised at `revision`, or not at all when it is empty.
    explicit Session(const std::string& revision = "2025-11-25") {
        if (!revision.empty())
            welcome = send(request(0, "initialize", R"({"protocolVersion":")" + revision + "\"}")).at(0);
    }

    // Everything answered to one line.
    std::vector<json> send(const std::string& line) {
        sent.clear();
        dispatcher.onLine(line);
        return sent;
    }
};

TEST(McpProtocol, AFaultyRequestIsAnsweredWithItsJsonRpcErrorAndStartsNothing) {
    const std::string now = "2025-11-25", older = "2025-06-18", uninitialised;
    // The session's revision, the line, the error code (0: a tool result with isError) and the id answered.
    for (const auto& [revision, line, code, id] :
         std::vector<std::tuple<std::string, std::string, int, json>>{
             {now, "garbage", -32700, nullptr},
             {now, R"({"jsonrpc":"1.0","id":"a","method":"ping"})", -32600, "a"},
             {now, R"({"jsonrpc":"2.0","id":1.5,"method":"ping"})", -32600, nullptr},
             {now, R"({"jsonrpc":"2.0","id":2,"method":7})", -32600, 2},
             {now, R"({"jsonrpc":"2.0","id":4})", -32600, 4},
             {now, request(5, "resources/list"), -32601, 5},
             {now, request(6, "tools/list", "[]"), -32602, 6},
             {now, request(7, "tools/list", R"({"cursor":"next"})"), -32602, 7},
             {now, request(8, "tools/call", R"({"arguments":{}})"), -32602, 8},
             {now, call(9, "rm_rf"), -32602, 9},
             {now, call(10, "ax_tree", "[]"), -32602, 10},
             {now, call(11, "ax_click"), 0, 11},
             {older, call(11, "ax_click"), -32602, 11},
             {now, R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", -32600, nullptr},
             {now, request(1, "initialize", R"({"protocolVersion":"2025-11-25"})"), -32600, 1},
             {uninitialised, request(1, "tools/list"), -32600, 1},
             {uninitialised, request(1, "initialize", R"({"protocolVersion":20251125})"), -32602, 1},
         }) {
        SCOPED_TRACE(revision + " " + line);
        Session session(revision);
        const auto replies = session.send(line);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(errorCode(replies[0]), code);
        EXPECT_EQ(replies[0]["id"], id);
        EXPECT_EQ(replies[0]["jsonrpc"], "2.0");
        EXPECT_TRUE(code || replies[0].at("result").at("isError") == true);
        EXPECT_TRUE(session.finishers.empty());
        EXPECT_EQ(errorCode(session.send(request(2, "tools/list")).at(0)), revision.empty() ? -32600 : 0)
            << "the session is as it was";
    }
}

TEST(McpProtocol, NotificationsAndRepliesAreNeverAnsweredAndPingNeedsNoSession) {
    for (const char* line :
         {R"({"jsonrpc":"2.0","method":"tools/call"})",
          R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":99}})",
          R"({"jsonrpc":"2.0","id":1,"result":{}})", R"({"jsonrpc":"2.0","id":1,"error":{}})", "  \r"}) {
        EXPECT_TRUE(Session().send(line).empty()) << line;
    }
    EXPECT_EQ(Session("").send(request(1, "ping")).at(0)["result"], json::object())
        << "ping needs no session";
    EXPECT_EQ(Session("2099-01-01").welcome["result"]["protocolVersion"], "2025-11-25")
        << "a revision it does not speak falls back to the newest";
}

TEST(McpProtocol, AnOverlongLineIsRefusedAndTheNextOneServed) {
    // Chunks fed to a framer that takes lines of at most 4 bytes, and what it makes of them.
    for (const auto& [name, chunks, lines] :
         std::vector<std::tuple<std::string, std::vector<std::string>, std::string>>{
             {"across pieces", {"ab", "cde", "f\nok\r\n"}, "overlong|ok|"},
             {"last line without newline, at the limit", {"ab", "cd"}, "abcd|"},
         }) {
        std::string seen;
        LineFramer framer(
            4, [&](std::string_view line) { seen += std::string(line) + "|"; }, [&] { seen += "overlong|"; });
        for (const auto& chunk : chunks) framer.feed(chunk);
        framer.finish();
        EXPECT_EQ(seen, lines) << name;
    }
    Session session("");
    session.dispatcher.onOverlong(4);
    EXPECT_EQ(errorCode(session.sent.at(0)), -32600);
    EXPECT_EQ(session.sent.at(0)["id"], nullptr);
}

TEST(McpProtocol, CancellationStopsACallAndItIsNeverAnswered) {
    const auto cancelled = [](const std::string& id) {
        return R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":)" + id + "}}";
    };
    Session session;
    EXPECT_TRUE(session.send(call(1, "ax_tree")).empty());
    EXPECT_TRUE(session.send(call(2, "ax_tree")).empty());
    EXPECT_EQ(errorCode(session.send(call(1, "ax_tree")).at(0)), -32600) << "id 1 is still running";

    session.send(cancelled(R"("1")"));
    EXPECT_EQ(session.cancels, 0) << "the string \"1\" is not the id 1";
    EXPECT_TRUE(session.send(cancelled("1")).empty());
    EXPECT_EQ(session.cancels, 1);

    session.sent.clear();
    session.finishers[0](R"({"content":[]})");
    EXPECT_TRUE(session.sent.empty()) << "a cancelled call is not answered even when it ends";
    session.finishers[1](R"({"content":[]})");
    ASSERT_EQ(session.sent.size(), 1u);
    EXPECT_EQ(session.sent[0]["id"], 2);
    session.send(cancelled("2"));
    EXPECT_EQ(session.cancels, 1) << "cancelling an answered call does nothing";

    EXPECT_TRUE(session.send(call(1, "ax_tree")).empty()) << "the id of a cancelled call is free again";
    session.dispatcher.cancelAll();
    EXPECT_EQ(session.cancels, 2);
    EXPECT_EQ(session.dispatcher.callsInFlight(), 0u);
}

TEST(McpTools, ArgumentsAreCheckedAgainstTheAdvertisedSchema) {
    // The tool, its arguments, and a part of the problem found. Sound arguments pass in the SDK client's
    // tests.
    for (const auto& [tool, arguments, problem] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"ax_tree", R"({"root_pid":1.5})", "root_pid must be an integer"},
             {"ax_find", R"({"maxResults":0})", "maxResults must be at least 1"},
             {"ax_click", R"({"elementId":""})", "elementId must not be empty"},
             {"ax_scroll", R"({"elementId":"a","direction":"up","amount":"lots"})",
              "amount must be a number"},
             {"keystrokes", R"({"keys":["cmd+a",3]})", "keys[1] must be a string"},
             {"keystrokes", R"({"text":"hi","mode":"AUTO"})", "mode must be one of"},
             {"screenshot", R"({"ocr":"yes"})", "ocr must be a boolean"},
             {"list_shortcuts", R"({"name":"x"})", "unknown argument name"},
         }) {
        SCOPED_TRACE(tool + " " + arguments);
        const auto found = checkArguments(findTool(tool)->inputSchema, json::parse(arguments));
        EXPECT_NE(found.value_or("").find(problem), std::string::npos) << found.value_or("");
    }
}

TEST(McpTools, AgentAnswersBecomeToolResultsWithTheAgentsBody) {
    // The agent's answer, the outcome as audited (result and reason), and a part of the text the model reads.
    for (const auto& [tool, answer, outcome, part] :
         std::vector<std::tuple<std::string, std::optional<AgentAnswer>, std::string, std::string>>{
             {"ax_find",
              AgentAnswer{200, R"({"matches":[{"id":"q","label":"Say \"hi\" \\ café \n\t\u0001 ✓"}]})"},
              "ok ", "1 matching"},
             {"batch_begin", AgentAnswer{200, "{\n  \"ok\": true,\n  \"batch_id\": \"b\"\n}"}, "ok ",
              "Batch b"},
             {"ax_click", AgentAnswer{403, R"({"error":"consent_denied"})"}, "denied consent_denied",
              "Do not"},
             {"ocr", AgentAnswer{500, "<html>oops</html>"}, "error http_500", "oops"},
             {"ax_tree", AgentAnswer{200, "not json"}, "error bad_reply", "not a JSON object"},
             {"ax_tree", std::nullopt, "error agent_unreachable", "127.0.0.1:47824"},
         }) {
        const InterpretedAnswer out = interpretAnswer(*findTool(tool), answer, 47824);
        const json result = json::parse(out.toolResult);
        const std::string text = result["content"][0]["text"];
        SCOPED_TRACE(text);
        EXPECT_EQ(out.outcome.result + " " + out.outcome.reason, outcome);
        EXPECT_EQ(out.toolResult.find('\n'), std::string::npos) << "one line on stdio";
        EXPECT_EQ(result["isError"], out.outcome.result != "ok");
        EXPECT_NE(text.find(part), std::string::npos);
        json body = answer ? json::parse(answer->body, nullptr, false) : json();
        if (!body.is_object()) body = nullptr;
        EXPECT_EQ(result.value("structuredContent", json()), body)
            << "the agent's body reaches the client whole";
        const json inText = json::parse(text.substr(text.find('\n') + 1), nullptr, false);
        EXPECT_EQ(inText.is_discarded() ? json() : inText, body) << "and in the text";
    }
}

TEST(McpTools, TheOperatorSeesWhereEachCallActs) {
    ElementFrames frames;
    frames.remember(json::parse(R"({"tree":{"id":"root","children":[{"id":"hidden"},
        {"id":"save","frame":{"x":100,"y":200,"width":40,"height":20}}]}})"));
    // The call, the agent's reply, and the events before the call and after it.
    for (
        const auto& [tool, arguments, reply, events] :
        std::vector<std::tuple<std::string, std::string, std::string, std::string>>{
            {"ax_click", R"({"elementId":"save"})", R"({"ok":true,"method":"synthesized_click","x":5,"y":6})",
             R"([[{"type":"cursor_halo","x":120,"y":210}],[{"type":"click_ripple","x":5,"y":6}]])"},
            {"ax_click", R"({"elementId":"hidden"})", R"({"ok":true,"method":"ax_press"})", "[[],[]]"},
            {"ax_click", R"({"elementId":"save"})", R"({"ok":true,"method":"ax_press"})",
             R"([[{"type":"cursor_halo","x":120,"y":210}],[{"type":"click_ripple","x":120,"y":210}]])"},
            {"ax_type", R"({"elementId":"save","text":"secret"})", R"({"ok":true})",
             R"([[{"type":"element_bbox","rect":{"x":100,"y":200,"width":40,"height":20}}],[]])"},
            {"ax_find", "{}",
             R"({"matches":[{"id":"m","frame":{"x":7,"y":8,"width":1,"height":1}},{"id":"n"}]})",
             R"([[],[{"type":"element_bbox","rect":{"x":7,"y":8,"width":1,"height":1}}]])"},
            {"keystrokes", R"({"text":"hi","keys":["cmd+a","return"]})", R"({"ok":true})",
             R"([[{"type":"key_chord_pill","chord":"cmd+a"},{"type":"key_chord_pill","chord":"return"}],[]])"},
        }) {
        SCOPED_TRACE(tool + arguments);
        const json input = json::parse(arguments);
        EXPECT_EQ(
            json({eventsBefore(tool, input, frames), eventsAfter(tool, input, json::parse(reply), frames)}),
            json::parse(events));
    }
    json many = json::array();
    for (int i = 0; i < 25; ++i)
        many.push_back({{"id", "x"}, {"frame", {{"x", i}, {"y", 1}, {"width", 2}, {"height", 3}}}});
    EXPECT_EQ(eventsAfter("ax_find", {}, {{"matches", many}}, frames).size(), 20u) << "not a wall of boxes";
}

TEST(McpTools, AuditRecordsHashTheArgumentsAndNeverCarryThemInClear) {
    const json arguments = {{"elementId", "abc"}, {"text", "hunter2"}};
    const auto at = std::chrono::system_clock::time_point(std::chrono::milliseconds(1765063610123));
    const json denied = auditEvent("ax_type", arguments, "salt", at, 42, {"denied", "consent_denied"});
    const json ok =
        auditEvent("ax_type", json::parse(R"({"text":"hunter2","elementId":"abc"})"), "salt", at, 7, {});

    EXPECT_EQ(denied, json::parse(R"({"type":"audit_log","tool":"ax_type","ts":"2025-12-06T23:26:50.123Z",
        "elapsed_ms":42,"result":"denied","reason":"consent_denied","args_hash":)" +
                                  denied["args_hash"].dump() + "}"));
    EXPECT_TRUE(std::regex_match(denied["args_hash"].get<std::string>(), std::regex("[0-9a-f]{64}")));
    EXPECT_EQ(denied["args_hash"], ok["args_hash"]) << "the order of keys does not change the hash";
    EXPECT_NE(argumentsHash(arguments, "salt"), argumentsHash(arguments, "other salt"));
    EXPECT_NE(argumentsHash(arguments, "salt"),
              argumentsHash({{"elementId", "abc"}, {"text", "hunter3"}}, "salt"));
}

TEST(McpTools, TheAgentIsFoundAsTheAgentFindsItself) {
    // Every token file holds its own path, padded as an editor might leave it.
    const auto readFile = [](const std::string& path) {
        return std::optional<std::string>(" " + path + " \n");
    };
    const std::string fromFile = "/home/u/Vault-Vexlo/secrets/pavo/sidecar-token";
    // The command line and environment, the exit status, the port (0: it does not run) and the token used.
    for (const auto& [arguments, environment, exitStatus, port, token] : std::vector<
             std::tuple<std::vector<std::string>, std::map<std::string, std::string>, int, int, std::string>>{
             {{}, {}, 0, 47824, fromFile},
             {{}, {{"VEXLO_PAVO_SIDECAR_PORT", "6000"}, {"VEXLO_PAVO_SIDECAR_TOKEN", "env"}}, 0, 6000, "env"},
             {{"--port", "7000", "--token", "t"}, {{"VEXLO_PAVO_SIDECAR_PORT", "6000"}}, 0, 7000, "t"},
             {{"--port", "0"}, {}, 1, 0, ""},
             {{}, {{"VEXLO_PAVO_SIDECAR_PORT", "x"}}, 1, 0, ""},
             {{"--port"}, {}, 1, 0, ""},
             {{"--help"}, {}, 0, 0, ""},
         }) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const auto& env = environment;
        const auto parsed = parseMcpCommandLine(
            arguments,
            [&](const char* name) { return env.contains(name) ? std::optional(env.at(name)) : std::nullopt; },
            "/home/u");
        const auto& settings = parsed.settings;
        EXPECT_EQ(std::pair(parsed.exitStatus, settings ? int(settings->agentPort) : 0),
                  std::pair(exitStatus, port));
        EXPECT_EQ(parsed.output.empty(), settings.has_value())
            << "a usage text or an error when it does not run";
        EXPECT_EQ(settings ? resolveAgentToken(*settings, readFile) : "", token);
    }
}

platform::ScreenImage filled(int width, int height, bool noisy) {
    platform::ScreenImage image{10, 20, width, height,
                                std::vector<std::uint8_t>(std::size_t(width) * height * 3, 200)};
    std::mt19937 random(7);
    if (noisy) std::generate(image.rgb.begin(), image.rgb.end(), [&] { return std::uint8_t(random()); });
    return image;
}

// Decodes the PNG as a client would.
std::optional<RgbImage> decode(const std::string& png) {
    png_image description{};
    description.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&description, png.data(), png.size())) return std::nullopt;
    description.format = PNG_FORMAT_RGB;
    RgbImage image{int(description.width), int(description.height),
                   std::vector<std::uint8_t>(PNG_IMAGE_SIZE(description))};
    if (!png_image_finish_read(&description, nullptr, image.pixels.data(), 0, nullptr)) return std::nullopt;
    return image;
}

TEST(McpScreenshot, PicturesFitTheModelsBoundsAndSayHowToMapBack) {
    // The capture's size, and the picture's size and scale.
    for (const auto& [width, height, expectWidth, expectHeight, scale] :
         std::vector<std::tuple<int, int, int, int, double>>{
             {1600, 1000, 1568, 980, 0.98}, {1000, 4000, 392, 1568, 0.392}, {800, 600, 800, 600, 1.0}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const auto shot = prepareScreenshot(filled(width, height, false), false);
        ASSERT_TRUE(shot);
        const auto picture = decode(shot->png);
        ASSERT_TRUE(picture);
        EXPECT_EQ(std::pair(picture->width, picture->height), std::pair(expectWidth, expectHeight));
        EXPECT_EQ(std::pair(shot->width, shot->height), std::pair(expectWidth, expectHeight));
        EXPECT_NEAR(shot->scale, scale, 1e-9);
        const json described = describeScreenshot(*shot);
        EXPECT_EQ(described["origin"], json({{"x", 10}, {"y", 20}}));
        EXPECT_DOUBLE_EQ(described["scale"].get<double>(), shot->scale);
    }
    const auto noisy = prepareScreenshot(filled(800, 600, true), true, 300000);
    ASSERT_TRUE(noisy);
    EXPECT_LT(noisy->png.size(), 300000u);
    EXPECT_LT(noisy->scale, 0.8) << "noise does not compress: shrunk further until under the bound";
    EXPECT_EQ(decode(noisy->fullPng.value()).value().width, 800) << "text recognition reads it at full size";
}

TEST(McpScreenshot, ShrinkingAveragesThePixelsItMerges) {
    const RgbImage source{4, 2, {0, 0, 0, 255, 255, 255, 10, 20, 30, 10, 20, 30,  //
                                 0, 0, 0, 255, 255, 255, 10, 20, 30, 50, 60, 70}};
    const RgbImage half = scaleDown(source, 2, 1);
    EXPECT_EQ(half.pixels, (std::vector<std::uint8_t>{128, 128, 128, 20, 30, 40}));
    EXPECT_EQ(decode(encodePng(half).value()).value().pixels, half.pixels)
        << "the PNG holds exactly these pixels";
    EXPECT_FALSE(encodePng(RgbImage{2, 2, {1, 2, 3}})) << "pixels that do not fill the size are refused";
}

}  // namespace
}  // namespace pavo::mcp
