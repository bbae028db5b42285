// The road of one gated request with both real programs: pavo-overlay on the virtual display asks the
// operator in its dialog, pavo-agent on an in-memory desktop acts only when the answer is Allow.

#include <gtest/gtest.h>

#include <future>
#include <set>
#include <sstream>
#include <nlohmann/json.hpp>

#include "agent/ax_element.hpp"
#include "common/files.hpp"
#include "tcp_client.hpp"
#include "virtual_desktop.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;

const std::string kAgent = PAVO_AGENT_BINARY;
const std::string kOverlay = PAVO_OVERLAY_BINARY;
const std::string kSocketFile = "/Library/Application Support/Vexlo/Pavo/overlay.sock";

json scene() {
    json save = {{"role", "AXButton"}, {"title", "Save"}, {"actions", {"AXPress"}}};
    json window = {{"role", "AXWindow"}, {"title", "Draft"}, {"children", {save}}};
    return {{"frontmost", 7},
            {"applications",
             {{{"pid", 7}, {"name", "Editor"}, {"tree", {{"role", "AXApplication"}, {"title", "Editor"}, {"children", {window}}}}}}}};
}

class ConsentRoad : public ::testing::Test {
protected:
    TempDir home;
    std::map<std::string, std::string> environment = desktopEnvironment();
    std::unique_ptr<ChildProcess> overlay;
    std::unique_ptr<ChildProcess> agent;
    std::uint16_t port = 0;
    const std::string journal = home.path() + "/journal.jsonl";
    const std::string saveId = agent::elementId(7, "AXButton", "", "Save", "0/0/0");

    void SetUp() override {
        environment["HOME"] = home.path();
        overlay = std::make_unique<ChildProcess>(
            kOverlay, std::vector<std::string>{"--token", "overlay-secret", "--port", "0", "--no-menu-bar", "--consent", "manual"}, environment);
        ASSERT_TRUE(overlay->waitForLine("[EventServer] Listening on 127.0.0.1:")) << overlay->output();
        ASSERT_TRUE(eventually([&] { return common::readFile(home.path() + kSocketFile).has_value(); }));

        auto agentEnvironment = environment;
        agentEnvironment["VEXLO_PAVO_DESKTOP"] = "simulated";
        agentEnvironment["VEXLO_PAVO_DESKTOP_SCENE"] = home.write("scene.json", scene().dump());
        agentEnvironment["VEXLO_PAVO_DESKTOP_JOURNAL"] = journal;
        agent = std::make_unique<ChildProcess>(kAgent, std::vector<std::string>{"--port", "0", "--token", "t"},
                                               agentEnvironment);
        auto line = agent->waitForLine("Server listening on 127.0.0.1:");
        ASSERT_TRUE(line) << agent->output();
        port = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
        ASSERT_TRUE(agent->waitForLine("Consent gate: overlay at 127.0.0.1:")) << agent->output();
    }

    std::set<std::string> overlayWindows() {
        const auto found = runToCompletion(
            "/usr/bin/xdotool", {"search", "--onlyvisible", "--name", "^pavo-overlay$"}, environment);
        return {found.lines.begin(), found.lines.end()};
    }

    // Answers the consent dialog with a key once it is on screen (the agent waits only two seconds). The
    // overlay's own window has the same title, so the dialog is the window that was not there before.
    std::string clickAnswering(const std::string& key) {
        const auto before = overlayWindows();
        auto reply = std::async(std::launch::async, [&] {
            return request(port, "POST", "/ax/click", json{{"elementId", saveId}}.dump(), "x-pavo-token: t\r\n");
        });
        std::string dialog;
        EXPECT_TRUE(eventually(
            [&] {
                for (const auto& window : overlayWindows()) {
                    if (!before.count(window)) dialog = window;
                }
                return !dialog.empty();
            },
            std::chrono::milliseconds(1500)))
            << "no consent dialog appeared";
        if (!dialog.empty()) {
            runToCompletion("/usr/bin/xdotool", {"windowactivate", "--sync", dialog}, environment);
            runToCompletion("/usr/bin/xdotool", {"key", key}, environment);
        }
        return reply.get();
    }

    std::vector<json> actions() {
        std::vector<json> found;
        std::istringstream lines(common::readFile(journal).value_or(""));
        for (std::string line; std::getline(lines, line);) {
            json entry = json::parse(line);
            if (entry["kind"] == "action") found.push_back(entry);
        }
        return found;
    }
};

TEST_F(ConsentRoad, AllowInTheOverlaysDialogLetsTheClickRun) {
    const std::string reply = clickAnswering("Return");
    EXPECT_EQ(statusOf(reply), 200) << reply;
    EXPECT_EQ(json::parse(bodyOf(reply)), json({{"ok", true}, {"method", "ax_press"}}));
    const auto done = actions();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0]["action"], "AXPress");
    EXPECT_EQ(done[0]["element"], "0/0/0");
}

TEST_F(ConsentRoad, DenyRefusesTheClickAndNothingHappens) {
    const std::string reply = clickAnswering("Escape");
    EXPECT_EQ(statusOf(reply), 403) << reply;
    EXPECT_EQ(json::parse(bodyOf(reply)), json({{"error", "consent_denied"}}));
    EXPECT_TRUE(actions().empty());
}

}  // namespace
}  // namespace pavo::testing
