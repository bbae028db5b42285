// POST /keystrokes on the real desktop: the named application is brought in front of another, and its
// text, characters off the US keymap included, reaches a real GTK entry, paced, followed by Return.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tcp_client.hpp"
#include "virtual_desktop.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;

TEST(KeystrokesOnDesktop, ZenityInTheBackgroundReceivesTheTextAndReturnAndPrintsExactlyThatText) {
    ChildProcess agent(PAVO_AGENT_BINARY, {"--port", "0", "--token", "t"}, desktopEnvironment());
    const auto port = waitForPort(agent, kAgentListening);
    ASSERT_NE(port, 0) << agent.output();

    auto zenity = startApplication("zenity", {"--entry", "--title=PavoEntry", "--text=Name?"});
    auto factory = startApplication("gtk3-widget-factory", {});

    const std::string text = "Hello, Wörld ✓";
    const json body = {{"app_name", "PavoEntry"}, {"text", text}, {"keys", {"return"}}, {"delay_ms", 20}};
    const std::string reply = request(port, "POST", "/keystrokes", body.dump(), "x-pavo-token: t\r\n");
    ASSERT_EQ(statusOf(reply), 200) << reply;
    EXPECT_EQ(json::parse(bodyOf(reply)),
              json({{"ok", true}, {"method", "cgevent"}, {"app", ""}, {"chars", 14}, {"keys", 1}}));

    ASSERT_EQ(zenity->waitForExit(std::chrono::seconds(5)), 0) << zenity->output();
    EXPECT_EQ(programLines(*zenity), std::vector<std::string>{text});
}

}  // namespace
}  // namespace pavo::testing
