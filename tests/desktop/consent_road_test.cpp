// The road of one gated request with both real programs on one display: pavo-overlay asks the operator
// in its dialog, pavo-agent presses zenity's OK only when the answer is Allow.

#include <gtest/gtest.h>

#include <future>
#include <nlohmann/json.hpp>
#include <set>

#include "common/files.hpp"
#include "tcp_client.hpp"
#include "virtual_desktop.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;

const std::string kAgent = PAVO_AGENT_BINARY;
const std::string kOverlay = PAVO_OVERLAY_BINARY;
const std::string kSocketFile = "/Library/Application Support/Vexlo/Pavo/overlay.sock";

class ConsentRoad : public ::testing::Test {
  protected:
    TempDir home;
    std::map<std::string, std::string> environment = desktopEnvironment();
    std::unique_ptr<ChildProcess> zenity;
    std::unique_ptr<ChildProcess> overlay;
    std::unique_ptr<ChildProcess> agent;
    std::uint16_t port = 0;
    std::string okId;

    std::string post(const std::string& path, const json& body) {
        return request(port, "POST", path, body.dump(), "x-pavo-token: t\r\n");
    }

    void SetUp() override {
        environment["HOME"] = home.path();
        zenity = startApplication("zenity", {"--entry", "--text=Allowed?"});
        overlay = std::make_unique<ChildProcess>(
            kOverlay,
            std::vector<std::string>{"--token", "overlay-secret", "--port", "0", "--no-menu-bar", "--consent",
                                     "manual"},
            environment);
        ASSERT_TRUE(overlay->waitForLine(kOverlayListening)) << overlay->output();
        ASSERT_TRUE(eventually([&] { return common::readFile(home.path() + kSocketFile).has_value(); }));

        agent = std::make_unique<ChildProcess>(
            kAgent, std::vector<std::string>{"--port", "0", "--token", "t"}, environment);
        port = waitForPort(*agent, kAgentListening);
        ASSERT_NE(port, 0) << agent->output();

        // The dialog takes the focus while it asks; the batch keeps the click aimed at zenity.
        ASSERT_EQ(statusOf(post("/batch/begin", {{"batch_id", "road"}})), 200);
        const std::string tree = post("/ax/tree", {{"root_pid", zenity->pid()}});
        ASSERT_EQ(statusOf(tree), 200) << tree;
        std::function<void(const json&)> findOk = [&](const json& e) {
            if (e["role"] == "AXButton" && e.value("label", "") == "OK") okId = e["id"];
            for (const auto& child : e.value("children", json::array())) findOk(child);
        };
        findOk(json::parse(bodyOf(tree))["tree"]);
        ASSERT_FALSE(okId.empty()) << tree;
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
            return post("/ax/click", {{"elementId", okId}, {"batch_id", "road"}});
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
};

TEST_F(ConsentRoad, DenyInTheOverlaysDialogRefusesTheClickAndAllowLetsItRun) {
    const std::string denied = clickAnswering("Escape");
    EXPECT_EQ(statusOf(denied), 403) << denied;
    // Pressed, OK would have ended zenity at once.
    EXPECT_EQ(zenity->waitForExit(std::chrono::seconds(1)), std::nullopt);

    const std::string allowed = clickAnswering("Return");
    EXPECT_EQ(statusOf(allowed), 200) << allowed;
    EXPECT_EQ(json::parse(bodyOf(allowed))["method"], "ax_press");
    EXPECT_EQ(zenity->waitForExit(std::chrono::seconds(5)), 0) << zenity->output();
}

}  // namespace
}  // namespace pavo::testing
