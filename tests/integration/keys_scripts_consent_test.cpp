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

    // The body of the route's reply.
    json call(const std::string& path, const std::string& body) {
        http::HTTPRequest request;
        request.method = "POST";
        request.body = body;
        std::optional<http::HTTPResponse> response;
        asio::co_spawn(io, routes.at(path)(request), [&](std::exception_ptr, Result<http::HTTPResponse> r) {
            response = r ? *r : errorReply(r.error());
            io.stop();
        });
        io.restart();
        io.run();
        return json::parse(response->body);
    }
};

TEST_F(GatedRoutes, KeystrokesAndScriptsAskFirstShortcutsDecodeFirst) {
    const json keys = {{"action", "send_keystrokes"}};
    const json script = {{"action", "run_applescript"}, {"target", "System"}};
    const json shortcut = {{"action", "run_shortcut"}, {"target", "Backup"}};
    const json denied = {{"error", "consent_denied"}};
    const json invalid = {{"error", "bad_request"}, {"message", "Invalid JSON body"}};
    const json ran = {{"ok", true}, {"output", "ran"}};
    // Path, body, whether the operator grants, the reply, the prompt raised (null: none), the tool run.
    const std::vector<std::tuple<std::string, std::string, bool, json, json, std::string>> rows = {
        {"/keystrokes", "not json", false, denied, keys, ""},
        {"/keystrokes",
         "{}",
         true,
         {{"error", "bad_request"}, {"message", "text or keys required"}},
         keys,
         ""},
        {"/applescript/run", "{}", false, denied, script, ""},
        {"/applescript/run", "{}", true, invalid, script, ""},
        {"/applescript/run", R"({"script": "1"})", true, ran, script, "osascript"},
        {"/shortcut", R"({"input": "x"})", true, invalid, nullptr, ""},
        {"/shortcut", R"({"name": "Backup"})", false, denied, shortcut, ""},
        {"/shortcut", R"({"name": "Backup"})", true, ran, shortcut, "shortcuts"},
        {"/shortcut/list", "", false, {{"ok", true}, {"shortcuts", {"ran"}}}, nullptr, "shortcuts"},
    };
    for (const auto& [path, body, grant, reply, prompt, tool] : rows) {
        overlay.events.clear();
        overlay.consentStatus = grant ? 200 : 404;
        EXPECT_EQ(call(path, body), reply) << path << " " << body;
        json asked = overlay.events.empty() ? json() : overlay.events.back();
        EXPECT_EQ(overlay.events.size(), prompt.is_null() ? 0u : 1u) << path << " " << body;
        if (!asked.is_null()) {
            EXPECT_EQ(asked["type"], "destructive_prompt");
            asked.erase("type");
            asked.erase("id");
        }
        EXPECT_EQ(asked, prompt) << path << " " << body;
        for (const std::string& ran : {std::string("osascript"), std::string("shortcuts")}) {
            EXPECT_EQ(pavo::testing::takeStandInCall(dir.path() + "/" + ran).has_value(), ran == tool)
                << path << " " << body << " " << ran;
        }
    }
    EXPECT_TRUE(desktop.records().empty());
}

}  // namespace
}  // namespace pavo::agent
