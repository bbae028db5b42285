// pavo-agent over HTTP on the real desktop: what only real applications show (typing, keystrokes, pressing
// and clicking, scrolling, focus and a frozen application) and the permission check.

#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>

#include "tcp_client.hpp"
#include "virtual_desktop.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;

const std::string kAgent = PAVO_AGENT_BINARY;
const std::string kToken = "desktop-test-token";

class AgentOnDesktop : public ::testing::Test {
  protected:
    void SetUp() override {
        agent = std::make_unique<ChildProcess>(
            kAgent, std::vector<std::string>{"--port", "0", "--token", kToken}, desktopEnvironment());
        port = waitForPort(*agent, kAgentListening);
        ASSERT_NE(port, 0) << agent->output();
    }

    // Status and body of a request.
    std::pair<int, json> post(const std::string& path, const json& body) {
        const auto reply = request(port, "POST", path, body.dump(), "x-pavo-token: " + kToken + "\r\n");
        return {statusOf(reply), json::parse(bodyOf(reply), nullptr, false)};
    }

    // The elements of the tree (of `pid`, else of the frontmost application) that `pick` names.
    std::map<std::string, json> elements(std::optional<int> pid,
                                         const std::function<std::string(const json&)>& pick) {
        const auto [status, body] = post("/ax/tree", pid ? json{{"root_pid", *pid}} : json::object());
        EXPECT_EQ(status, 200) << body;
        std::map<std::string, json> found;
        std::function<void(const json&)> walk = [&](const json& e) {
            if (auto kind = pick(e); !kind.empty()) found[kind] = e;
            for (const auto& child : e.value("children", json::array())) walk(child);
        };
        walk(body.value("tree", json::object()));
        return found;
    }

    static std::string fieldOrOk(const json& e) {
        if (e["role"] == "AXTextField") return "field";
        return e["role"] == "AXButton" && e.value("label", "") == "OK" ? "ok" : "";
    }

    std::unique_ptr<ChildProcess> agent;
    std::uint16_t port = 0;
};

TEST_F(AgentOnDesktop, ZenityIsClickedTypedIntoAndPressed) {
    auto zenity = startApplication("zenity", {"--entry", "--text=Name?"});
    ASSERT_TRUE(activate(linuxDesktop(), zenity->pid()));
    auto byKind = elements(zenity->pid(), [](const json& e) -> std::string {
        return e["role"] == "AXStaticText" && e.contains("frame") ? "text" : fieldOrOk(e);
    });
    for (const char* kind : {"field", "ok", "text"}) ASSERT_TRUE(byKind.count(kind)) << kind;
    // A label offers no press action: it is clicked with the pointer instead.
    EXPECT_EQ(post("/ax/click", {{"elementId", byKind["text"]["id"]}}).second["method"], "synthesized_click");

    const std::string text = "Grüße, 世界 ✓";
    EXPECT_EQ(post("/ax/type", {{"elementId", byKind["field"]["id"]}, {"text", text}}),
              std::make_pair(200, json({{"ok", true}, {"method", "ax_value"}})));
    EXPECT_EQ(post("/ax/click", {{"elementId", byKind["ok"]["id"]}}),
              std::make_pair(200, json({{"ok", true}, {"method", "ax_press"}})));
    ASSERT_EQ(zenity->waitForExit(std::chrono::seconds(5)), 0) << zenity->output();
    EXPECT_EQ(programLines(*zenity), std::vector<std::string>{text});
}

// The named application is brought in front of another, and the text, characters off the US keymap
// included, reaches its entry through XTest, paced, followed by Return.
TEST_F(AgentOnDesktop, KeystrokesReachZenityInTheBackgroundAndEndWithReturn) {
    auto zenity = startApplication("zenity", {"--entry", "--title=PavoEntry", "--text=Name?"});
    auto factory = startApplication("gtk3-widget-factory", {});
    const std::string text = "Hello, Wörld ✓";
    const auto [status, reply] = post(
        "/keystrokes", {{"app_name", "PavoEntry"}, {"text", text}, {"keys", {"return"}}, {"delay_ms", 20}});
    ASSERT_EQ(status, 200) << reply;
    ASSERT_EQ(zenity->waitForExit(std::chrono::seconds(5)), 0) << zenity->output();
    EXPECT_EQ(programLines(*zenity), std::vector<std::string>{text});
}

// "current max" of each scroll bar on screen that can move, as an independent reader sees them.
std::vector<std::string> scrollBarPositions(pid_t pid) {
    const std::string reader = R"(
import sys, pyatspi
app = next(a for a in pyatspi.Registry.getDesktop(0) if a and a.get_process_id() == int(sys.argv[1]))
def walk(e):
    if e.getRole() == pyatspi.ROLE_SCROLL_BAR and e.getState().contains(pyatspi.STATE_SHOWING):
        v = e.queryValue()
        if v.maximumValue > 0: print("bar", v.currentValue, v.maximumValue)
    for i in range(e.childCount): walk(e.getChildAtIndex(i))
walk(app)
)";
    std::vector<std::string> bars;
    for (const auto& line :
         runToCompletion("/usr/bin/python3", {"-c", reader, std::to_string(pid)}, desktopEnvironment()).lines)
        if (line.rfind("bar ", 0) == 0) bars.push_back(line.substr(4));
    return bars;
}

TEST_F(AgentOnDesktop, ScrollingARealScrollPaneMovesItsScrollBarBothWays) {
    auto factory = startApplication("gtk3-widget-factory", {});
    ASSERT_TRUE(activate(linuxDesktop(), factory->pid()));
    // The pane around the long text on the first page, the one whose content is taller than its frame.
    const auto panes = elements(factory->pid(), [](const json& e) -> std::string {
        if (e["role"] != "AXScrollArea" || !e.contains("frame")) return "";
        for (const auto& child : e.value("children", json::array()))
            if (child["role"] == "AXTextArea" && !child.value("value", "").empty()) return "pane";
        return "";
    });
    ASSERT_TRUE(panes.count("pane"));
    const json pane = panes.at("pane")["id"];
    const auto before = scrollBarPositions(factory->pid());
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].rfind("0.0 ", 0), 0u) << before[0];

    EXPECT_EQ(post("/ax/scroll", {{"elementId", pane}, {"direction", "down"}, {"amount", 500}}),
              std::make_pair(200, json({{"ok", true}, {"method", "ax_scroll"}})));
    EXPECT_TRUE(eventually([&] { return scrollBarPositions(factory->pid()) != before; })) << before[0];
    ASSERT_EQ(post("/ax/scroll", {{"elementId", pane}, {"direction", "up"}, {"amount", 500}}).first, 200);
    EXPECT_TRUE(eventually([&] { return scrollBarPositions(factory->pid()) == before; }));
}

TEST_F(AgentOnDesktop, AFrozenApplicationStallsNeitherHealthNorAnotherApplicationsTree) {
    auto factory = startApplication("gtk3-widget-factory", {});
    auto zenity = startApplication("zenity", {"--entry"});
    factory->signal(SIGSTOP);
    // Each request below is given five seconds, which only a hang would exceed (no reply throws).
    EXPECT_NE(post("/ax/tree", {{"root_pid", factory->pid()}}).first, 0);
    EXPECT_EQ(statusOf(request(port, "GET", "/health")), 200);
    EXPECT_TRUE(elements(zenity->pid(), fieldOrOk).count("field"));
    factory->signal(SIGCONT);
}

TEST(AgentPermissions, AreGrantedOnTheDesktopAndMissingWithoutItsDisplayAndBuses) {
    auto without = desktopEnvironment();
    // The accessibility bus is also announced on the display.
    for (const char* name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"})
        without.erase(name);
    const std::vector<std::string> granted{"executable=" + kAgent, "accessibility=granted",
                                           "screen_recording=granted"};
    const auto run = runToCompletion(kAgent, {"permissions"}, desktopEnvironment());
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.lines, granted);

    const auto missing = runToCompletion(kAgent, {"--no-prompt", "permissions"}, without);
    EXPECT_EQ(missing.status, 3) << missing.output;
    ASSERT_GE(missing.lines.size(), 3u) << missing.output;
    EXPECT_EQ(missing.lines[1], "accessibility=missing");
    EXPECT_EQ(missing.lines[2], "screen_recording=missing");
}

}  // namespace
}  // namespace pavo::testing
