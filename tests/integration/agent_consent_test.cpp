// pavo-agent as a black box: whether it finds the overlay at start-up, and that it serves either way.

#include <gtest/gtest.h>

#include "child_process.hpp"
#include "tcp_client.hpp"

namespace pavo::testing {
namespace {

const std::string kAgent = PAVO_AGENT_BINARY;
const std::string kSocketFile = "Library/Application Support/Vexlo/Pavo/overlay.sock";

struct Started {
    std::optional<std::string> gateLine;
    int healthStatus = 0;
};

Started start(const TempDir& home) {
    ChildProcess agent(kAgent, {"--port", "0", "--token", "t"}, {{"HOME", home.path()}});
    Started started;
    const auto ready = agent.waitForLine("Server listening on 127.0.0.1:");
    EXPECT_TRUE(ready) << agent.output();
    if (!ready) return started;
    started.gateLine = agent.waitForLine("Consent gate: ");
    started.healthStatus = statusOf(request(
        static_cast<std::uint16_t>(std::stoi(ready->substr(ready->rfind(':') + 1))), "GET", "/health"));
    return started;
}

TEST(AgentConsentGate, WithoutASocketFileItServesUngatedAndSaysSo) {
    TempDir home;
    const auto started = start(home);
    EXPECT_EQ(started.gateLine, "Consent gate: no overlay found, actions are not gated");
    EXPECT_EQ(started.healthStatus, 200);
}

TEST(AgentConsentGate, AnUnusableSocketFileCountsAsNone) {
    for (const char* content : {"", "{not json", R"({"port": 70000, "token": "x"})", R"({"port": 4000})"}) {
        TempDir home;
        home.write(kSocketFile, content);
        const auto started = start(home);
        EXPECT_EQ(started.gateLine, "Consent gate: no overlay found, actions are not gated") << content;
        EXPECT_EQ(started.healthStatus, 200) << content;
    }
}

TEST(AgentConsentGate, WithASocketFileItNamesTheOverlayItWillAsk) {
    TempDir home;
    home.write(kSocketFile, R"({"port":47999,"token":"overlay-token"})");
    const auto started = start(home);
    EXPECT_EQ(started.gateLine, "Consent gate: overlay at 127.0.0.1:47999");
    EXPECT_EQ(started.healthStatus, 200);
}

}  // namespace
}  // namespace pavo::testing
