// pavo-overlay as a black box, headless on the offscreen platform: exit statuses and messages, the port it
// listens on and the socket file it publishes for it.

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "common/files.hpp"
#include "eventually.hpp"
#include "tcp_client.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;
namespace asio = boost::asio;

const std::string kOverlay = PAVO_OVERLAY_BINARY;

class OverlayProcess : public ::testing::Test {
  protected:
    TempDir home;
    asio::io_context io;
    // Holds a loopback port, for a test to name one that is in use or (once closed) one that is free.
    asio::ip::tcp::acceptor held{io, {asio::ip::address_v4::loopback(), 0}};
    std::string heldPort = std::to_string(held.local_endpoint().port());

    std::map<std::string, std::string> environment(std::map<std::string, std::string> extra = {}) const {
        extra.emplace("HOME", home.path());
        extra.emplace("QT_QPA_PLATFORM", "offscreen");
        extra.emplace("XDG_RUNTIME_DIR", home.path());
        return extra;
    }
    std::optional<std::string> socketFile() const {
        return common::readFile(home.path() + "/Library/Application Support/Vexlo/Pavo/overlay.sock");
    }
};

TEST_F(OverlayProcess, RefusesToStartWithoutATokenOrOnAPortOutsideTheTcpRange) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{}, "Error: token required (--token or VEXLO_PAVO_OVERLAY_TOKEN)"},
        {{"--token", "T", "--port", "65536"}, "Error: --port must be between 0 and 65535 (got 65536)"},
    };
    for (const auto& [arguments, line] : rows) {
        const auto run = runToCompletion(kOverlay, arguments, environment());
        EXPECT_EQ(run.status, 1) << line;
        EXPECT_EQ(run.lines, std::vector<std::string>{line});
    }
    EXPECT_FALSE(socketFile());  // nothing is written before these checks
}

// The environment reaches the server and the bound port is published once there is one; that a configured
// port is used shows when it is in use (below).
TEST_F(OverlayProcess, PublishesThePortItListensOnWithTheToken) {
    ChildProcess overlay(
        kOverlay, {"--port", "0", "--no-menu-bar", "--bogus"},
        environment({{"VEXLO_PAVO_OVERLAY_TOKEN", "env-token"}, {"VEXLO_PAVO_CONSENT_MODE", "manual"}}));
    const auto port = waitForPort(overlay, kOverlayListening);
    ASSERT_NE(port, 0) << overlay.output();
    const std::string published = json({{"port", port}, {"token", "env-token"}}).dump();
    EXPECT_TRUE(eventually([&] { return socketFile() == published; })) << socketFile().value_or("none");
    const auto state = request(port, "GET", "/state", "", "x-overlay-token: env-token\r\n");
    EXPECT_EQ(json::parse(bodyOf(state))["operator_mode"], "require_approval");
}

TEST_F(OverlayProcess, APortInUseIsReportedAndTheApplicationKeepsRunning) {
    ChildProcess overlay(kOverlay, {"--token", "T", "--port", heldPort}, environment());
    auto line = overlay.waitForLine("EventServer failed: ");
    ASSERT_TRUE(line) << overlay.output();
    EXPECT_FALSE(overlay.waitForExit(std::chrono::milliseconds(300)));
    // The file names the configured port even so: it is written before the server starts.
    EXPECT_EQ(socketFile(), R"({"port":)" + heldPort + R"(,"token":"T"})");
}

}  // namespace
}  // namespace pavo::testing
