// pavo-agent over HTTP on the real desktop: trees, ids, the tree cache, search, actions, batches, a frozen
// application and the permission check.

#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>

#include "agent/ax/ax_element.hpp"
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
        auto line = agent->waitForLine("Server listening on 127.0.0.1:");
        ASSERT_TRUE(line) << agent->output();
        port = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
    }

    std::string post(const std::string& path, const json& body) {
        return request(port, "POST", path, body.dump(), "x-pavo-token: " + kToken + "\r\n");
    }

    json tree(std::optional<int> pid, std::string* cache = nullptr) {
        const std::string response = post("/ax/tree", pid ? json{{"root_pid", *pid}} : json::object());
        EXPECT_EQ(statusOf(response), 200) << response;
        if (cache) *cache = headerOf(response, "X-Pavo-Cache").value_or("");
        return json::parse(bodyOf(response)).at("tree");
    }

    std::unique_ptr<ChildProcess> agent;
    std::uint16_t port = 0;
};

void forEach(const json& element, const std::string& path,
             const std::function<void(const json&, const std::string&)>& f) {
    f(element, path);
    if (!element.contains("children")) return;
    for (std::size_t i = 0; i < element["children"].size(); ++i)
        forEach(element["children"][i], path + "/" + std::to_string(i), f);
}

TEST_F(AgentOnDesktop, AZenityEntryTreeShowsItsWindowFieldAndButtonsWithRecomputableIdsAndIsCached) {
    auto zenity = startApplication("zenity", {"--entry", "--text=Name?"});
    std::string cache;
    const json root = tree(zenity->pid(), &cache);
    EXPECT_EQ(cache, "MISS");
    EXPECT_EQ(root["role"], "AXApplication");
    ASSERT_FALSE(root["children"].empty());
    EXPECT_EQ(root["children"][0]["role"], "AXWindow");

    std::map<std::string, json> byKind;
    forEach(root, "0", [&](const json& e, const std::string& path) {
        const std::string role = e["role"];
        EXPECT_EQ(e["id"], agent::elementId(zenity->pid(), role, e.value("identifier", ""),
                                            e.value("label", ""), path))
            << path;
        if (role == "AXTextField") byKind["field"] = e;
        if (role == "AXButton") byKind[e.value("label", "")] = e;
    });
    for (const char* kind : {"field", "OK", "Cancel"}) {
        ASSERT_TRUE(byKind.count(kind)) << kind;
        const json& frame = byKind[kind]["frame"];
        EXPECT_GT(frame["width"].get<double>(), 0) << kind;
        EXPECT_GT(frame["x"].get<double>(), 0) << kind;
        EXPECT_LT(frame["x"].get<double>() + frame["width"].get<double>(), 1600) << kind;
        EXPECT_LT(frame["y"].get<double>() + frame["height"].get<double>(), 1000) << kind;
    }
    EXPECT_EQ(byKind["field"]["value"], "");

    const json again = tree(zenity->pid(), &cache);
    EXPECT_EQ(cache, "HIT");
    EXPECT_EQ(again, root);
}

TEST_F(AgentOnDesktop, FindSearchesTheWidgetFactoryByRoleAndByValuePattern) {
    auto factory = startApplication("gtk3-widget-factory", {});
    ASSERT_TRUE(activate(linuxDesktop(), factory->pid()));
    // Give one field a value nothing else in the factory has.
    platform::Accessibility& ax = linuxDesktop().accessibility();
    auto field = findElement(ax, ax.applicationElement(factory->pid()), [&](const platform::AXElement& e) {
        return hasRole(ax, e, "AXTextField") && ax.setAttribute(e, "AXValue", std::string("needle-4711"));
    });
    ASSERT_TRUE(field);

    const std::string byRole = post("/ax/find", {{"role", "AXCheckBox"}, {"maxResults", 100}});
    ASSERT_EQ(statusOf(byRole), 200) << byRole;
    const json checkBoxes = json::parse(bodyOf(byRole))["matches"];
    EXPECT_GE(checkBoxes.size(), 5u);
    for (const auto& match : checkBoxes) EXPECT_EQ(match["role"], "AXCheckBox");

    const std::string byValue = post("/ax/find", {{"valueRegex", "needle-\\d+"}});
    ASSERT_EQ(statusOf(byValue), 200) << byValue;
    const json needles = json::parse(bodyOf(byValue))["matches"];
    ASSERT_EQ(needles.size(), 1u) << needles.dump();
    EXPECT_EQ(needles[0]["value"], "needle-4711");
    EXPECT_EQ(needles[0]["role"], "AXTextField");
}

TEST_F(AgentOnDesktop, TypingSetsZenitysEntryAndClickingOKMakesItPrintExactlyThatText) {
    auto zenity = startApplication("zenity", {"--entry", "--text=Name?"});
    ASSERT_TRUE(activate(linuxDesktop(), zenity->pid()));
    std::map<std::string, json> byKind;
    forEach(tree(std::nullopt), "0", [&](const json& e, const std::string&) {
        if (e["role"] == "AXTextField") byKind["field"] = e;
        if (e["role"] == "AXButton" && e.value("label", "") == "OK") byKind["ok"] = e;
        if (e["role"] == "AXStaticText" && e.contains("frame")) byKind["text"] = e;
    });
    for (const char* kind : {"field", "ok", "text"}) ASSERT_TRUE(byKind.count(kind)) << kind;

    // A label has no press action: it is clicked with the pointer at the centre of its frame.
    const std::string clickedLabel = post("/ax/click", {{"elementId", byKind["text"]["id"]}});
    ASSERT_EQ(statusOf(clickedLabel), 200) << clickedLabel;
    const json label = json::parse(bodyOf(clickedLabel));
    const json& frame = byKind["text"]["frame"];
    EXPECT_EQ(label["method"], "synthesized_click");
    EXPECT_DOUBLE_EQ(label["x"].get<double>(), frame["x"].get<double>() + frame["width"].get<double>() * 0.5);
    EXPECT_DOUBLE_EQ(label["y"].get<double>(),
                     frame["y"].get<double>() + frame["height"].get<double>() * 0.5);

    const std::string text = "Grüße, 世界 ✓";
    const std::string typed = post("/ax/type", {{"elementId", byKind["field"]["id"]}, {"text", text}});
    ASSERT_EQ(statusOf(typed), 200) << typed;
    EXPECT_EQ(json::parse(bodyOf(typed)), json({{"ok", true}, {"method", "ax_value"}}));

    const std::string pressed = post("/ax/click", {{"elementId", byKind["ok"]["id"]}});
    ASSERT_EQ(statusOf(pressed), 200) << pressed;
    EXPECT_EQ(json::parse(bodyOf(pressed)), json({{"ok", true}, {"method", "ax_press"}}));
    ASSERT_EQ(zenity->waitForExit(std::chrono::seconds(5)), 0) << zenity->output();
    EXPECT_EQ(programLines(*zenity), std::vector<std::string>{text});
}

TEST_F(AgentOnDesktop, ABatchPinnedToZenityActsOnZenityWhileTheWidgetFactoryIsFrontmost) {
    auto factory = startApplication("gtk3-widget-factory", {});
    auto zenity = startApplication("zenity", {"--entry", "--text=Pinned?"});
    ASSERT_TRUE(activate(linuxDesktop(), zenity->pid()));
    const std::string begun = post("/batch/begin", {{"batch_id", "pinned"}});
    ASSERT_EQ(statusOf(begun), 200) << begun;

    std::map<std::string, json> byKind;
    forEach(tree(zenity->pid()), "0", [&](const json& e, const std::string&) {
        if (e["role"] == "AXTextField") byKind["field"] = e;
        if (e["role"] == "AXButton" && e.value("label", "") == "OK") byKind["ok"] = e;
    });
    for (const char* kind : {"field", "ok"}) ASSERT_TRUE(byKind.count(kind)) << kind;

    ASSERT_TRUE(activate(linuxDesktop(), factory->pid()));
    ASSERT_TRUE(eventually([&] { return tree(std::nullopt)["label"] == "gtk3-widget-factory"; }));
    // Without the batch the id is looked for in the frontmost application, where it does not exist.
    EXPECT_EQ(statusOf(post("/ax/click", {{"elementId", byKind["ok"]["id"]}})), 404);

    const std::string typed =
        post("/ax/type", {{"elementId", byKind["field"]["id"]}, {"text", "pinned"}, {"batch_id", "pinned"}});
    EXPECT_EQ(statusOf(typed), 200) << typed;
    const std::string pressed =
        post("/ax/click", {{"elementId", byKind["ok"]["id"]}, {"batch_id", "pinned"}});
    EXPECT_EQ(statusOf(pressed), 200) << pressed;
    ASSERT_EQ(zenity->waitForExit(std::chrono::seconds(5)), 0) << zenity->output();
    EXPECT_EQ(programLines(*zenity), std::vector<std::string>{"pinned"});
}

// The scroll bars of an application as an independent reader sees them: "current max" per bar on screen
// that can move at all.
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
         runToCompletion("/usr/bin/python3", {"-c", reader, std::to_string(pid)}, desktopEnvironment())
             .lines) {
        if (line.rfind("bar ", 0) == 0) bars.push_back(line.substr(4));
    }
    return bars;
}

TEST_F(AgentOnDesktop, ScrollingARealScrollPaneMovesItsScrollBarBothWays) {
    auto factory = startApplication("gtk3-widget-factory", {});
    ASSERT_TRUE(activate(linuxDesktop(), factory->pid()));
    // The pane around the long text on the first page, the one whose content is taller than its frame.
    std::string pane;
    forEach(tree(factory->pid()), "0", [&](const json& e, const std::string&) {
        if (e["role"] != "AXScrollArea" || !e.contains("frame")) return;
        for (const auto& child : e["children"]) {
            if (child["role"] == "AXTextArea" && !child.value("value", "").empty()) pane = e["id"];
        }
    });
    ASSERT_FALSE(pane.empty());
    const auto before = scrollBarPositions(factory->pid());
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].rfind("0.0 ", 0), 0u) << before[0];

    const std::string down =
        post("/ax/scroll", {{"elementId", pane}, {"direction", "down"}, {"amount", 500}});
    ASSERT_EQ(statusOf(down), 200) << down;
    EXPECT_EQ(json::parse(bodyOf(down)), json({{"ok", true}, {"method", "ax_scroll"}}));
    std::vector<std::string> after;
    EXPECT_TRUE(eventually([&] { return (after = scrollBarPositions(factory->pid())) != before; }))
        << before[0];

    ASSERT_EQ(statusOf(post("/ax/scroll", {{"elementId", pane}, {"direction", "up"}, {"amount", 500}})), 200);
    EXPECT_TRUE(eventually([&] { return scrollBarPositions(factory->pid()) == before; })) << after.at(0);
}

TEST_F(AgentOnDesktop, AFrozenApplicationStallsNeitherHealthNorAnotherApplicationsTree) {
    auto factory = startApplication("gtk3-widget-factory", {});
    auto zenity = startApplication("zenity", {"--entry"});
    factory->signal(SIGSTOP);
    // Each request below is given five seconds, which only a hang would exceed.
    const std::string frozen = post("/ax/tree", {{"root_pid", factory->pid()}});
    EXPECT_NE(statusOf(frozen), 0) << "no reply about the frozen application";
    EXPECT_EQ(statusOf(request(port, "GET", "/health")), 200);
    const json other = tree(zenity->pid());
    EXPECT_EQ(other["label"], "zenity");
    EXPECT_FALSE(other["children"].empty());
    factory->signal(SIGCONT);
}

TEST(AgentPermissions, OnTheVirtualDesktopBothAreGrantedAndWithoutOneTheHintsSayWhatToDo) {
    const auto granted = runToCompletion(kAgent, {"permissions"}, desktopEnvironment());
    EXPECT_EQ(granted.status, 0) << granted.output;
    ASSERT_EQ(granted.lines.size(), 3u) << granted.output;
    EXPECT_EQ(granted.lines[0], "executable=" + kAgent);
    EXPECT_EQ(granted.lines[1], "accessibility=granted");
    EXPECT_EQ(granted.lines[2], "screen_recording=granted");

    // Without the display and the buses (the accessibility bus is also announced on the display).
    auto environment = desktopEnvironment();
    for (const char* name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"})
        environment.erase(name);
    const auto missing = runToCompletion(kAgent, {"--no-prompt", "permissions"}, environment);
    EXPECT_EQ(missing.status, 3) << missing.output;
    ASSERT_EQ(missing.lines.size(), 5u) << missing.output;
    EXPECT_EQ(missing.lines[1], "accessibility=missing");
    EXPECT_EQ(missing.lines[2], "screen_recording=missing");
    EXPECT_EQ(missing.lines[3].rfind("hint_accessibility=Start the AT-SPI accessibility bus", 0), 0u);
    EXPECT_EQ(missing.lines[4].rfind("hint_screen_recording=Run pavo-agent with DISPLAY", 0), 0u);

    // The server's permission replies carry the same Linux hint, not another system's settings path.
    ChildProcess agent(kAgent, {"--port", "0", "--token", kToken}, environment);
    const auto ready = agent.waitForLine("Server listening on 127.0.0.1:");
    ASSERT_TRUE(ready) << agent.output();
    const auto port = static_cast<std::uint16_t>(std::stoi(ready->substr(ready->rfind(':') + 1)));
    const auto reply =
        request(port, "POST", "/ax/tree", "{}", std::string("x-pavo-token: ") + kToken + "\r\n");
    EXPECT_EQ(statusOf(reply), 403);
    const json body = json::parse(bodyOf(reply));
    EXPECT_EQ(body["error"], "ax_permission_missing");
    EXPECT_EQ(body["hint"].get<std::string>().rfind("Start the AT-SPI accessibility bus", 0), 0u) << body;
}

}  // namespace
}  // namespace pavo::testing
