// Tool calls run against a stand-in agent and a stand-in overlay on real loopback sockets: what the agent
// is sent, what the operator is shown and in which order, and what a cancellation does to the connection.

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <nlohmann/json.hpp>

#include "http/json_reply.hpp"
#include "http/server.hpp"
#include "mcp/tool_runner.hpp"
#include "stand_in_overlay.hpp"

namespace pavo::mcp {
namespace {

namespace asio = boost::asio;
using nlohmann::json;
using namespace std::chrono_literals;

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
    testing::StandInOverlay overlay{io};
    std::vector<http::HTTPRequest> agentSaw;
    // The agent's answer by path ("" for every other path).
    std::map<std::string, std::pair<int, std::string>> agentAnswers{
        {"", {200, R"({"ok":true,"method":"ax_press"})"}},
        {"/ocr", {200, R"({"results":[{"text":"OK","boundingBox":{"x":5,"y":6,"width":7,"height":8}}]})"}}};
    http::Listener agent{io, 0, http::agentDialect(),
                         [this](http::HTTPRequest request) -> asio::awaitable<http::HTTPResponse> {
                             agentSaw.push_back(request);
                             const auto& [status, body] =
                                 agentAnswers[agentAnswers.contains(request.path) ? request.path : ""];
                             co_return http::jsonReply(status, body);
                         }};
    OverlayLink link{io.get_executor(), [this] {
                         return std::optional<OverlayAddress>({overlay.port(), "overlay-token"});
                     }};
    AgentClient client;
    ToolRunner runner;

    explicit Harness(std::optional<std::uint16_t> agentPort = std::nullopt)
        : client(agentPort.value_or(agent.port()), "agent-token"),
          runner({io.get_executor(), io.get_executor(), client, link, &screen, "pavo-mcp-test", "salt"}) {
        agent.start();
    }

    std::vector<json> events() const {
        std::vector<json> out;
        for (const auto& seen : overlay.events()) out.push_back(json::parse(seen.body));
        return out;
    }
    // The overlay was last told that nothing runs.
    bool idle() const {
        return !events().empty() && events().back() == json{{"type", "status"}, {"state", "idle"}};
    }
    void runUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < deadline) io.run_one_for(10ms);
    }

    // Runs one call to its end and until the overlay has had every event of it.
    json call(const std::string& tool, json arguments) {
        std::optional<json> result;
        const std::size_t before = events().size();
        runner.start({findTool(tool), std::move(arguments)}, [&](std::string r) { result = json::parse(r); });
        runUntil([&] { return result && events().size() > before && idle(); });
        return result.value_or(json());
    }
};

TEST(McpRunner, NoAgentRequestEverCarriesAPreGrantOfConsent) {
    Harness harness;
    for (const ToolDefinition& tool : toolCatalog()) {
        if (!tool.route) continue;
        SCOPED_TRACE(tool.name);
        json arguments = json::object();
        for (const auto& name : tool.inputSchema.value("required", json::array()))
            arguments[name.get<std::string>()] = "x";
        harness.agentSaw.clear();
        harness.call(tool.name, arguments);
        ASSERT_EQ(harness.agentSaw.size(), 1u);
        // Route, token and body reach a real agent in the SDK client's tests.
        for (const char* header : {"x-pavo-mcp-consent", "x-pavo-overlay-token", "x-overlay-token"})
            EXPECT_EQ(harness.agentSaw[0].header(header), nullptr) << header;
    }
}

TEST(McpRunner, AScreenshotWithOcrMapsTheTextToTheScreenOrSaysWhatFailed) {
    Harness harness;
    const json shot = harness.call("screenshot", {{"pid", 4242}, {"ocr", true}});
    ASSERT_EQ(shot["isError"], false) << shot.dump().substr(0, 500);
    EXPECT_EQ(shot["content"][0]["mimeType"], "image/png");
    EXPECT_EQ(shot["structuredContent"]["ocr"][0]["boundingBox"],
              json::parse(R"({"x":305.0,"y":46.0,"width":7,"height":8})"));

    const json missing = harness.call("screenshot", {{"pid", 7}});
    EXPECT_EQ(missing["isError"], true);
    EXPECT_NE(missing["content"][0]["text"].get<std::string>().find("process 7"), std::string::npos);
    harness.agentAnswers["/ocr"] = {404, R"({"error":"not_found"})"};
    const json refused = harness.call("screenshot", {{"ocr", true}});
    EXPECT_EQ(refused["isError"], true) << "text recognition failed, and the result says so";
    EXPECT_EQ(refused["content"][0]["type"], "image") << "but the picture is still there";
}

TEST(McpRunner, CancellingACallClosesItsAgentConnectionAndAuditsIt) {
    asio::io_context probe;  // a stand-in agent that takes the request and never answers
    asio::ip::tcp::acceptor acceptor(probe, {asio::ip::address_v4::loopback(), 0});
    acceptor.non_blocking(true);
    Harness harness(acceptor.local_endpoint().port());
    std::optional<std::string> result;
    const CancelCall cancel = harness.runner.start({findTool("run_shortcut"), {{"name", "slow"}}},
                                                   [&](std::string r) { result = r; });
    asio::ip::tcp::socket socket(probe);
    boost::system::error_code error;
    harness.runUntil([&] { return socket.is_open() || (acceptor.accept(socket, error), !error); });
    harness.runUntil([&] { return socket.available() > 0; });
    cancel();
    harness.runUntil([&] { return harness.runner.running() == 0 && harness.idle(); });
    socket.non_blocking(true);
    harness.runUntil([&] {
        char bytes[4096];
        socket.read_some(asio::buffer(bytes), error);
        return error && error != asio::error::would_block;
    });
    EXPECT_TRUE(error == asio::error::eof || error == asio::error::connection_reset)
        << "the agent sees it closed";
    EXPECT_FALSE(result) << "a cancelled call is not finished";
    const auto events = harness.events();
    const json audit = events.at(events.size() - 3);  // then the agent's state and the status, both idle
    EXPECT_EQ(json({audit["type"], audit["result"], audit["reason"]}),
              json({"audit_log", "error", "cancelled"}));
}

}  // namespace
}  // namespace pavo::mcp
