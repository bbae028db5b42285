// Tool calls run against a stand-in agent and a stand-in overlay on real loopback sockets: what the agent
// is sent, what the operator is shown and in which order, and what a cancellation does to the connection.

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <nlohmann/json.hpp>

#include "http/server.hpp"
#include "mcp/tool_runner.hpp"

namespace pavo::mcp {
namespace {

namespace asio = boost::asio;
using nlohmann::json;
using namespace std::chrono_literals;

http::HTTPResponse jsonReply(int status, const json& body) {
    http::HTTPResponse response;
    response.status = status;
    response.body = body.dump();
    response.headers = {{"Content-Type", "application/json"},
                        {"Content-Length", std::to_string(response.body.size())}};
    return response;
}

// A screen of one colour, 40 x 20 at (300, 40), or nothing for a pid it does not know.
class FakeCapture final : public platform::ScreenCapture {
  public:
    platform::CaptureResult capture(std::optional<std::int64_t> pid) override {
        if (pid && *pid != 4242)
            return {std::nullopt, "no visible window of process " + std::to_string(*pid)};
        return {platform::ScreenImage{300, 40, 40, 20, std::vector<std::uint8_t>(40 * 20 * 3, 90)}, {}};
    }
};

struct Harness {
    asio::io_context io{1};
    FakeCapture screen;
    std::vector<http::HTTPRequest> agentSaw;
    std::vector<json> overlaySaw;
    std::function<http::HTTPResponse(const http::HTTPRequest&)> agentAnswers = [](const http::HTTPRequest&) {
        return jsonReply(200, {{"ok", true}, {"method", "ax_press"}});
    };
    http::Listener agent{io, 0, http::agentDialect(),
                         [this](http::HTTPRequest request) -> asio::awaitable<http::HTTPResponse> {
                             agentSaw.push_back(request);
                             co_return agentAnswers(request);
                         }};
    http::Listener overlay{io, 0, http::overlayDialect(),
                           [this](http::HTTPRequest request) -> asio::awaitable<http::HTTPResponse> {
                               overlaySaw.push_back(json::parse(request.body));
                               co_return jsonReply(200, {{"ack", "true"}});
                           }};
    OverlayLink link{io.get_executor(), [this] {
                         return std::optional<OverlayAddress>({overlay.port(), "overlay-token"});
                     }};
    std::unique_ptr<AgentClient> client;
    std::unique_ptr<ToolRunner> runner;

    explicit Harness(std::optional<std::uint16_t> agentPort = std::nullopt) {
        agent.start();
        overlay.start();
        client = std::make_unique<AgentClient>(agentPort.value_or(agent.port()), "agent-token");
        runner = std::make_unique<ToolRunner>(RunnerParts{io.get_executor(), io.get_executor(), *client, link,
                                                          &screen, "pavo-mcp-test", "salt"});
    }

    void runUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < deadline) io.run_one_for(10ms);
    }

    // Runs one call to its end and until the overlay has had every event of it.
    json call(const std::string& tool, json arguments) {
        std::optional<json> result;
        const std::size_t idleBefore = idleCount();
        runner->start({findTool(tool), std::move(arguments)},
                      [&](std::string r) { result = json::parse(r); });
        runUntil([&] { return result && idleCount() > idleBefore; });
        return result.value_or(json());
    }

    std::size_t idleCount() const {
        return std::count_if(overlaySaw.begin(), overlaySaw.end(),
                             [](const json& e) { return e["type"] == "status" && e["state"] == "idle"; });
    }
};

TEST(McpRunner, NoAgentRequestEverCarriesAPreGrantOfConsent) {
    Harness harness;
    for (const ToolSpec& tool : toolCatalog()) {
        if (!tool.route) continue;
        json arguments = json::object();
        for (const auto& name : tool.inputSchema.value("required", json::array()))
            arguments[name.get<std::string>()] = "x";
        harness.agentSaw.clear();
        harness.call(tool.name, arguments);
        ASSERT_EQ(harness.agentSaw.size(), 1u) << tool.name;
        const http::HTTPRequest& seen = harness.agentSaw[0];
        EXPECT_EQ(seen.method, tool.route->method) << tool.name;
        EXPECT_EQ(seen.path, tool.route->path) << tool.name;
        EXPECT_EQ(seen.headers.at("x-pavo-token"), "agent-token");
        for (const char* header : {"x-pavo-mcp-consent", "x-pavo-overlay-token", "x-overlay-token"}) {
            EXPECT_EQ(seen.header(header), nullptr) << tool.name << " sent " << header;
        }
        if (tool.route->method == "POST") {
            EXPECT_EQ(json::parse(seen.body), arguments) << tool.name;
        }
    }
}

TEST(McpRunner, TheOverlayIsShownEachStepInOrder) {
    Harness harness;
    harness.agentAnswers = [](const http::HTTPRequest& request) {
        if (request.path == "/ax/find") {
            return jsonReply(200, json::parse(R"({"matches":[{"id":"save","role":"AXButton",
                                                  "frame":{"x":100,"y":200,"width":40,"height":20}}]})"));
        }
        if (request.path == "/ax/type") return jsonReply(403, {{"error", "consent_denied"}});
        return jsonReply(200, {{"ok", true}, {"method", "ax_press"}});
    };
    harness.call("ax_find", {{"label", "Save"}});
    harness.overlaySaw.clear();
    const json clicked = harness.call("ax_click", {{"elementId", "save"}});
    EXPECT_EQ(clicked["isError"], false);
    const json typed = harness.call("ax_type", {{"elementId", "save"}, {"text", "secret"}});
    EXPECT_EQ(typed["isError"], true);

    std::vector<std::string> seen;
    for (const auto& event : harness.overlaySaw) {
        std::string line = event["type"];
        if (event.contains("state")) line += " " + event["state"].get<std::string>();
        if (event.contains("x")) line += " " + event["x"].dump() + "," + event["y"].dump();
        if (event.contains("result"))
            line += " " + event["tool"].get<std::string>() + " " + event["result"].get<std::string>();
        seen.push_back(line);
    }
    const std::vector<std::string> expected{"agent_state active",
                                            "status active",
                                            "cursor_halo 120.0,210.0",
                                            "click_ripple 120.0,210.0",
                                            "audit_log ax_click ok",
                                            "agent_state idle",
                                            "status idle",
                                            "agent_state active",
                                            "status active",
                                            "element_bbox",
                                            "audit_log ax_type denied",
                                            "agent_state idle",
                                            "status idle"};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(harness.overlaySaw.back().dump().find("secret"), std::string::npos);
}

TEST(McpRunner, AScreenshotWithOcrSendsTheCaptureToTheAgentAndMapsTheTextToTheScreen) {
    Harness harness;
    harness.agentAnswers = [](const http::HTTPRequest& request) {
        if (request.path != "/ocr") return jsonReply(404, {{"error", "not_found"}});
        return jsonReply(200, json::parse(R"({"results":[{"text":"OK","confidence":0.9,
                                              "boundingBox":{"x":5,"y":6,"width":7,"height":8}}]})"));
    };
    const json shot = harness.call("screenshot", {{"pid", 4242}, {"ocr", true}});
    ASSERT_EQ(shot["isError"], false) << shot.dump().substr(0, 500);
    EXPECT_EQ(shot["content"][0]["type"], "image");
    EXPECT_EQ(shot["content"][0]["mimeType"], "image/png");
    EXPECT_EQ(shot["structuredContent"]["ocr"][0]["boundingBox"],
              json::parse(R"({"x":305.0,"y":46.0,"width":7,"height":8})"));
    ASSERT_EQ(harness.agentSaw.size(), 1u);
    const json sent = json::parse(harness.agentSaw[0].body);
    EXPECT_EQ(sent["pid"], 4242);
    EXPECT_EQ(sent["imageBase64"].get<std::string>().substr(0, 4), "iVBO") << "a PNG, in Base64";

    const json missing = harness.call("screenshot", {{"pid", 7}});
    EXPECT_EQ(missing["isError"], true);
    EXPECT_NE(missing["content"][0]["text"].get<std::string>().find("process 7"), std::string::npos);
    harness.agentAnswers = [](const http::HTTPRequest&) { return jsonReply(404, {{"error", "not_found"}}); };
    const json refused = harness.call("screenshot", {{"ocr", true}});
    EXPECT_EQ(refused["isError"], true) << "text recognition failed, and the result says so";
    EXPECT_EQ(refused["content"][0]["type"], "image") << "but the picture is still there";
}

TEST(McpRunner, CancellingACallClosesItsAgentConnectionAndAuditsIt) {
    asio::io_context probe;  // a stand-in agent that reads a request and never answers
    asio::ip::tcp::acceptor acceptor(probe, {asio::ip::address_v4::loopback(), 0});
    Harness harness(acceptor.local_endpoint().port());

    std::optional<json> result;
    const CancelCall cancel = harness.runner->start({findTool("run_shortcut"), {{"name", "slow"}}},
                                                    [&](std::string r) { result = json::parse(r); });
    bool closed = false;
    std::thread agentSide([&] {
        asio::ip::tcp::socket socket(probe);
        acceptor.accept(socket);
        asio::streambuf request;
        boost::system::error_code error;
        asio::read_until(socket, request, "\r\n\r\n", error);
        char byte;
        socket.read_some(asio::buffer(&byte, 1), error);  // blocks until pavo-mcp closes its end
        closed = error == asio::error::eof || error == asio::error::connection_reset;
    });
    harness.runUntil([&] { return harness.runner->running() == 1 && harness.overlaySaw.size() >= 2; });
    cancel();
    harness.runUntil([&] { return harness.runner->running() == 0 && harness.idleCount() == 1; });
    agentSide.join();

    EXPECT_TRUE(closed) << "the agent sees its connection closed";
    EXPECT_FALSE(result) << "a cancelled call is not finished";
    ASSERT_GE(harness.overlaySaw.size(), 2u);
    const json& audit = harness.overlaySaw[harness.overlaySaw.size() - 3];
    EXPECT_EQ(audit["type"], "audit_log");
    EXPECT_EQ(audit["result"], "error");
    EXPECT_EQ(audit["reason"], "cancelled");
}

}  // namespace
}  // namespace pavo::mcp
