// What a tool call turns into: the arguments it accepts, the result a model reads from the agent's answer,
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
#include "mcp/image_scaling.hpp"
#include "mcp/png_encoding.hpp"
#include "mcp/screenshot.hpp"
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
        {"ax_click", R"({"elementId":""})", "elementId must not be empty"},
        {"ax_type", R"({"elementId":"a"})", "missing required argument text"},
        {"ax_scroll", R"({"elementId":"a","direction":"up","amount":"lots"})", "amount must be a number"},
        {"keystrokes", R"({"keys":["cmd+a",3]})", "keys[1] must be a string"},
        {"keystrokes", R"({"text":"hi","mode":"AUTO"})", "mode must be one of"},
        {"screenshot", R"({"ocr":"yes"})", "ocr must be a boolean"},
        {"screenshot", R"({"pid":4242,"ocr":true})", ""},
        {"list_shortcuts", R"({"name":"x"})", "unknown argument name"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.tool) + " " + row.arguments);
        const auto problem = checkArguments(findTool(row.tool)->inputSchema, json::parse(row.arguments));
        EXPECT_EQ(problem.has_value(), *row.problem != '\0') << problem.value_or("");
        EXPECT_NE(problem.value_or("").find(row.problem), std::string::npos) << problem.value_or("");
    }
}

TEST(McpTools, AgentAnswersBecomeToolResultsWithTheAgentsBody) {
    const struct {
        const char* tool;
        std::optional<AgentAnswer> answer;
        const char* result;
        const char* reason;  // "" for a success
        const char* text;    // a part of the text the model reads
    } rows[] = {
        {"ax_click", AgentAnswer{200, R"({"ok":true,"method":"synthesized_click","x":120,"y":210})"}, "ok",
         "", "Clicked at (120, 210)"},
        {"ax_find", AgentAnswer{200, R"({"matches":[{"id":"q","label":"Say \"hi\" \\ café \n\t\u0001 ✓"}]})"},
         "ok", "", "1 matching"},
        {"batch_begin", AgentAnswer{200, "{\n  \"ok\": true,\n  \"batch_id\": \"b\"\n}"}, "ok", "",
         "Batch b"},
        {"ax_tree", AgentAnswer{403, R"({"error":"ax_permission_missing","hint":"start the bus"})"}, "error",
         "ax_permission_missing", "start the bus"},
        {"ax_click", AgentAnswer{403, R"({"error":"consent_denied"})"}, "denied", "consent_denied", "Do not"},
        {"ocr", AgentAnswer{500, "<html>oops</html>"}, "error", "http_500", "oops"},
        {"ax_tree", AgentAnswer{200, "not json"}, "error", "bad_reply", "not a JSON object"},
        {"ax_tree", std::nullopt, "error", "agent_unreachable", "127.0.0.1:47824"},
    };
    for (const auto& row : rows) {
        const InterpretedAnswer out = interpretAnswer(*findTool(row.tool), row.answer, 47824);
        const json result = json::parse(out.toolResult);
        const std::string text = result["content"][0]["text"];
        SCOPED_TRACE(text);
        EXPECT_EQ(result["isError"], *row.reason != '\0');
        EXPECT_EQ(out.outcome.result, row.result);
        EXPECT_EQ(out.outcome.reason, row.reason);
        EXPECT_NE(text.find(row.text), std::string::npos);
        const auto body = row.answer ? json::parse(row.answer->body, nullptr, false) : json();
        EXPECT_EQ(result.value("structuredContent", json()), body.is_object() ? body : json())
            << "the agent's body reaches the client whole";
        const json inText = json::parse(text.substr(text.find('\n') + 1), nullptr, false);
        EXPECT_EQ(inText.is_discarded() ? json() : inText, body.is_object() ? body : json())
            << "and in the text";
    }
}

TEST(McpTools, TheOperatorSeesWhereEachCallActs) {
    ElementFrames frames;
    frames.remember(json::parse(R"({"tree":{"id":"root","children":[{"id":"hidden"},
        {"id":"save","frame":{"x":100,"y":200,"width":40,"height":20}}]}})"));
    const struct {
        const char* tool;
        const char* arguments;
        const char* reply;
        const char* events;  // those before the call and those after
    } rows[] = {
        {"ax_click", R"({"elementId":"save"})", R"({"ok":true,"method":"synthesized_click","x":5,"y":6})",
         R"([[{"type":"cursor_halo","x":120,"y":210}],[{"type":"click_ripple","x":5,"y":6}]])"},
        {"ax_click", R"({"elementId":"hidden"})", R"({"ok":true,"method":"ax_press"})", "[[],[]]"},
        {"ax_find", "{}", R"({"matches":[{"id":"m","frame":{"x":7,"y":8,"width":1,"height":1}},{"id":"n"}]})",
         R"([[],[{"type":"element_bbox","rect":{"x":7,"y":8,"width":1,"height":1}}]])"},
        {"keystrokes", R"({"text":"hi","keys":["cmd+a","return"]})", R"({"ok":true})",
         R"([[{"type":"key_chord_pill","chord":"cmd+a"},{"type":"key_chord_pill","chord":"return"}],[]])"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.tool) + row.arguments);
        const json arguments = json::parse(row.arguments);
        EXPECT_EQ(json({eventsBefore(row.tool, arguments, frames),
                        eventsAfter(row.tool, arguments, json::parse(row.reply), frames)}),
                  json::parse(row.events));
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
    EXPECT_FALSE(ok.contains("reason"));
    EXPECT_TRUE(std::regex_match(denied["args_hash"].get<std::string>(), std::regex("[0-9a-f]{64}")));
    EXPECT_EQ(denied["args_hash"], ok["args_hash"]) << "the order of keys does not change the hash";
    EXPECT_NE(argumentsHash(arguments, "salt"), argumentsHash(arguments, "other salt"));
    EXPECT_NE(argumentsHash(arguments, "salt"),
              argumentsHash({{"elementId", "abc"}, {"text", "hunter3"}}, "salt"));
}

TEST(McpTools, TheAgentIsFoundAsTheAgentFindsItself) {
    const struct {
        std::vector<std::string> arguments;
        std::map<std::string, std::string> environment;
        int exitStatus;
        std::int64_t port;  // 0: no settings
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
        {{"--help"}, {}, 0, 0, ""},
    };
    const std::string tokenFile = "/home/u/Vault-Vexlo/secrets/pavo/sidecar-token";
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.arguments));
        const auto parsed = parseMcpCommandLine(
            row.arguments,
            [&](const char* name) -> std::optional<std::string> {
                if (!row.environment.contains(name)) return std::nullopt;
                return row.environment.at(name);
            },
            "/home/u");
        EXPECT_EQ(parsed.exitStatus, row.exitStatus);
        EXPECT_EQ(parsed.output.empty(), row.port != 0) << "a usage text or an error when it does not run";
        EXPECT_EQ(parsed.settings.has_value(), row.port != 0);
        if (!parsed.settings || !row.port) continue;
        EXPECT_EQ(parsed.settings->agentPort, row.port);
        const auto readFile = [&](const std::string& path) {
            return path == tokenFile ? std::optional<std::string>(" from-file \n") : std::nullopt;
        };
        EXPECT_EQ(resolveAgentToken(*parsed.settings, readFile), row.token);
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
    const struct {
        int width, height;
        bool noisy;                     // noise does not compress: shrunk further until under the bound
        int expectWidth, expectHeight;  // 0: only bounded
        double expectScale;
        std::size_t mostBytes = kMostPngBytes;
    } rows[] = {
        {1600, 1000, false, 1568, 980, 0.98},
        {1000, 4000, false, 392, 1568, 0.392},
        {1, 1, false, 1, 1, 1.0},
        {800, 600, true, 0, 0, 0.0, 300000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
        // Text recognition gets the capture at full size; asked for where it differs from the picture.
        const auto shot =
            prepareScreenshot(filled(row.width, row.height, row.noisy), row.noisy, row.mostBytes);
        ASSERT_TRUE(shot);
        const auto picture = decode(shot->png);
        ASSERT_TRUE(picture);
        EXPECT_EQ(std::pair(picture->width, picture->height), std::pair(shot->width, shot->height));
        EXPECT_LT(shot->png.size(), row.mostBytes);
        EXPECT_LE(std::max(shot->width, shot->height), kMostLongEdge);
        if (row.expectWidth) {
            EXPECT_EQ(std::pair(shot->width, shot->height), std::pair(row.expectWidth, row.expectHeight));
            EXPECT_NEAR(shot->scale, row.expectScale, 1e-9);
        } else {
            EXPECT_LT(shot->scale, 0.8);
        }
        EXPECT_EQ(shot->fullPng ? decode(*shot->fullPng).value().width : 0, row.noisy ? row.width : 0)
            << "text recognition reads the capture at full size";
        const json described = describeScreenshot(*shot);
        EXPECT_EQ(described["origin"], json({{"x", 10}, {"y", 20}}));
        EXPECT_DOUBLE_EQ(described["scale"].get<double>(), shot->scale);
    }
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
