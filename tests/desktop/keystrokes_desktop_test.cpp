// POST /keystrokes on the real desktop: the named application is brought in front of another, and its
// text, characters off the US keymap included, reaches a real GTK entry, paced, followed by Return.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tcp_client.hpp"
#include "virtual_desktop.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

const std::string kAgent = PAVO_AGENT_BINARY;

TEST(KeystrokesOnDesktop, ZenityInTheBackgroundReceivesTheTextAndReturnAndPrintsExactlyThatText) {
    ChildProcess agent(kAgent, {"--port", "0", "--token", "t"}, desktopEnvironment());
    const auto line = agent.waitForLine("Server listening on 127.0.0.1:");
    ASSERT_TRUE(line) << agent.output();
    const auto port = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));

    auto zenity = startApplication("zenity", {"--entry", "--title=PavoEntry", "--text=Name?"});
    auto factory = startApplication("gtk3-widget-factory", {});

    const std::string text = "Hello, Wörld ✓";
    const int delayMs = 20;
    const json body = {
        {"app_name", "PavoEntry"}, {"text", text}, {"keys", {"return"}}, {"delay_ms", delayMs}};
    const auto start = Clock::now();
    const std::string reply = request(port, "POST", "/keystrokes", body.dump(), "x-pavo-token: t\r\n");
    const auto elapsed = Clock::now() - start;
    ASSERT_EQ(statusOf(reply), 200) << reply;
    EXPECT_EQ(json::parse(bodyOf(reply)),
              json({{"ok", true}, {"method", "cgevent"}, {"app", ""}, {"chars", 14}, {"keys", 1}}));
    // Fourteen characters and one chord, each held half the delay and followed by a whole one.
    EXPECT_GE(elapsed, 15 * std::chrono::milliseconds(delayMs) * 3 / 2);

    ASSERT_EQ(zenity->waitForExit(std::chrono::seconds(5)), 0) << zenity->output();
    EXPECT_EQ(programLines(*zenity), std::vector<std::string>{text});
}

}  // namespace
}  // namespace pavo::testing
