// The keystroke, script and shortcut routes before a stand-in overlay on a real loopback socket: which
// of them ask the operator before reading the body, what the prompt names, and that nothing runs
// without a grant.

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <nlohmann/json.hpp>

#include "agent/consent/consent_gate.hpp"
#include "agent/consent/overlay_client.hpp"
#include "agent/keys/keys_routes.hpp"
#include "agent/keys/keystrokes.hpp"
#include "agent/scripts/script_tools.hpp"
#include "agent/scripts/scripts_routes.hpp"
#include "agent/server/replies.hpp"
#include "http/server.hpp"
#include "platform/simulated/simulated_desktop.hpp"
#include "stand_in.hpp"

namespace pavo::agent {
namespace {

namespace asio = boost::asio;
using nlohmann::json;
using pavo::testing::TempDir;

// Acknowledges every event and answers every consent poll with `consentStatus` and a grant's body.
class StandInOverlay {
  public:
    explicit StandInOverlay(asio::io_context& io)
        : listener_(io, 0, http::overlayDialect(),
                    [this](http::HTTPRequest r) -> asio::awaitable<http::HTTPResponse> {
                        if (r.path == "/event") {
                            events.push_back(json::parse(r.body));
                            co_return jsonResponse(200, {{"ack", "true"}});
                        }
                        co_return jsonResponse(consentStatus, {{"consent", "granted"}});
                    }) {
        listener_.start();
    }
    std::uint16_t port() const { return listener_.port(); }

    int consentStatus = 200;
    std::vector<json> events;

  private:
    http::Listener listener_;
};

class GatedRoutes : public ::testing::Test {
  protected:
    asio::io_context io;
    StandInOverlay overlay{io};
    ConsentGate gate{std::make_shared<const OverlayClient>(overlay.port(), "overlay-token")};
    TempDir dir;
    platform::simulated::SimulatedDesktop desktop{platform::simulated::Scene{}};
    ScriptTools tools{pavo::testing::writeRecordingStandIn(dir, "osascript", "printf ran"),
                      pavo::testing::writeRecordingStandIn(dir, "shortcuts", "printf ran")};
    KeysContext keys{desktop, tools};
    ScriptRoutes scripts = scriptRoutes(tools, gate);
    std::map<std::string, RouteHandler> routes = {{"/keystrokes", keystrokesRoute(keys, gate)},
                                                  {"/applescript/run", scripts.appleScript},
                                                  {"/shortcut", scripts.shortcut},
                                                  {"/shortcut/list", scripts.shortcutList}};

    std::pair<int, json> call(const std::string& path, const std::string& body) {
        http::HTTPRequest request;
        request.method = "POST";
        request.path = path;
        request.body = body;
        std::optional<http::HTTPResponse> response;
        asio::co_spawn(io, routes.at(path)(request), [&](std::exception_ptr, Result<http::HTTPResponse> r) {
            response = r ? *r : errorReply(r.error());
            io.stop();
        });
        io.restart();
        io.run();
        return {response->status, json::parse(response->body)};
    }
};

TEST_F(GatedRoutes, KeystrokesAndScriptsAskFirstShortcutsDecodeFirst) {
    struct Row {
        std::string path;
        std::string body;
        bool grant;
        int status;
        json reply;
        json prompt;  // null: none is raised
        std::string ran;
    };
    const json invalid = {{"error", "bad_request"}, {"message", "Invalid JSON body"}};
    const json denied = {{"error", "consent_denied"}};
    const json keystrokes = {{"action", "send_keystrokes"}};
    const json appleScript = {{"action", "run_applescript"}, {"target", "System"}};
    const json shortcut = {{"action", "run_shortcut"}, {"target", "Backup"}};
    const std::vector<Row> rows = {
        {"/keystrokes", "not json", false, 403, denied, keystrokes, ""},
        {"/keystrokes",
         "{}",
         true,
         400,
         {{"error", "bad_request"}, {"message", "text or keys required"}},
         keystrokes,
         ""},
        {"/applescript/run", "{}", false, 403, denied, appleScript, ""},
        {"/applescript/run", "{}", true, 400, invalid, appleScript, ""},
        {"/applescript/run",
         R"({"script": "1"})",
         true,
         200,
         {{"ok", true}, {"output", "ran"}},
         appleScript,
         "osascript"},
        {"/shortcut", R"({"input": "x"})", true, 400, invalid, nullptr, ""},
        {"/shortcut", R"({"name": "Backup"})", false, 403, denied, shortcut, ""},
        {"/shortcut",
         R"({"name": "Backup"})",
         true,
         200,
         {{"ok", true}, {"output", "ran"}},
         shortcut,
         "shortcuts"},
        {"/shortcut/list", "", false, 200, {{"ok", true}, {"shortcuts", {"ran"}}}, nullptr, "shortcuts"},
    };
    for (const auto& row : rows) {
        overlay.events.clear();
        overlay.consentStatus = row.grant ? 200 : 404;
        const auto [status, reply] = call(row.path, row.body);
        EXPECT_EQ(status, row.status) << row.path << " " << row.body;
        EXPECT_EQ(reply, row.reply) << row.path << " " << row.body;
        if (row.prompt.is_null()) {
            EXPECT_TRUE(overlay.events.empty()) << row.path << " " << row.body;
        } else {
            ASSERT_EQ(overlay.events.size(), 1u) << row.path << " " << row.body;
            json prompt = overlay.events[0];
            EXPECT_EQ(prompt["type"], "destructive_prompt");
            prompt.erase("type");
            prompt.erase("id");
            EXPECT_EQ(prompt, row.prompt) << row.path;
        }
        for (const char* tool : {"osascript", "shortcuts"}) {
            EXPECT_EQ(pavo::testing::takeStandInCall(dir.path() + "/" + tool).has_value(), row.ran == tool)
                << row.path << " " << row.body << " " << tool;
        }
    }
    EXPECT_TRUE(desktop.records().empty());
}

}  // namespace
}  // namespace pavo::agent
