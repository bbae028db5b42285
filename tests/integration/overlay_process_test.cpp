// pavo-overlay as a black box: its start-up messages and exit statuses, the socket file it publishes and
// its HTTP API, run headless on the offscreen platform.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "common/files.hpp"
#include "tcp_client.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;

const std::string kOverlay = PAVO_OVERLAY_BINARY;
const std::string kTokenRequired = "Error: token required (--token or VEXLO_PAVO_OVERLAY_TOKEN)";

// Holds a loopback port so that a test can name one that is in use, or (after release) one that is free.
class PortHolder {
  public:
    PortHolder() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 1);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~PortHolder() { release(); }
    void release() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    std::uint16_t port() const { return port_; }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// Polls until `condition` holds or five seconds pass.
template <typename Condition>
bool eventually(Condition condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        ::usleep(10'000);
    }
    return condition();
}

class OverlayProcess : public ::testing::Test {
  protected:
    TempDir home;

    std::map<std::string, std::string> environment(std::map<std::string, std::string> extra = {}) const {
        extra.emplace("HOME", home.path());
        extra.emplace("QT_QPA_PLATFORM", "offscreen");
        extra.emplace("XDG_RUNTIME_DIR", home.path());
        return extra;
    }
    std::string socketPath() const {
        return home.path() + "/Library/Application Support/Vexlo/Pavo/overlay.sock";
    }
    bool socketFileExists() const { return ::access(socketPath().c_str(), F_OK) == 0; }
    mode_t socketMode() const {
        struct stat info {};
        ::stat(socketPath().c_str(), &info);
        return info.st_mode & 07777;
    }

    std::uint16_t listening(ChildProcess& overlay) {
        auto line = overlay.waitForLine("[EventServer] Listening on 127.0.0.1:");
        EXPECT_TRUE(line) << overlay.output();
        if (!line) return 0;
        return static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
    }
};

TEST_F(OverlayProcess, RefusesToStartWithoutAToken) {
    auto none = runToCompletion(kOverlay, {}, environment());
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.lines, std::vector<std::string>{kTokenRequired});

    auto overridden =
        runToCompletion(kOverlay, {"--token", ""}, environment({{"VEXLO_PAVO_OVERLAY_TOKEN", "env"}}));
    EXPECT_EQ(overridden.status, 1);
    EXPECT_EQ(overridden.lines, std::vector<std::string>{kTokenRequired});
    EXPECT_FALSE(socketFileExists());  // nothing is written before the token check
}

TEST_F(OverlayProcess, RefusesAPortOutsideTheTcpRange) {
    for (const std::string port : {"65536", "-1", "9223372036854775807"}) {
        auto run = runToCompletion(kOverlay, {"--token", "T", "--port", port}, environment());
        EXPECT_EQ(run.status, 1) << port;
        ASSERT_EQ(run.lines.size(), 1u) << run.output;
        EXPECT_EQ(run.lines[0], "Error: --port must be between 0 and 65535 (got " + port + ")");
    }
    EXPECT_FALSE(socketFileExists());
}

TEST_F(OverlayProcess, PublishesTheConfiguredPortAndServes) {
    PortHolder free;
    free.release();
    const std::string port = std::to_string(free.port());
    ChildProcess overlay(
        kOverlay, {"--port", port, "--no-menu-bar", "--bogus"},
        environment({{"VEXLO_PAVO_OVERLAY_TOKEN", "env-token"}, {"VEXLO_PAVO_CONSENT_MODE", "manual"}}));
    ASSERT_EQ(listening(overlay), free.port());
    EXPECT_EQ(common::readFile(socketPath()), R"({"port":)" + port + R"(,"token":"env-token"})");
    EXPECT_EQ(socketMode(), 0600u);

    EXPECT_EQ(statusOf(request(free.port(), "GET", "/health")), 200);
    EXPECT_EQ(statusOf(request(free.port(), "GET", "/state", "", "x-overlay-token: wrong\r\n")), 401);
    auto state = request(free.port(), "GET", "/state", "", "x-overlay-token: env-token\r\n");
    EXPECT_EQ(json::parse(bodyOf(state)),
              (json{{"operator_mode", "require_approval"}, {"mutations_blocked", false}}));
    auto refused = request(free.port(), "POST", "/event", R"({"type":"cursor_move","x":1,"y":2})",
                           "x-overlay-token: env-token\r\n");
    EXPECT_EQ(json::parse(bodyOf(refused))["reason"], "manual_mode");
}

TEST_F(OverlayProcess, PortZeroPublishesTheBoundPortAndASecondStartReplacesTheFile) {
    {
        ChildProcess first(kOverlay, {"--token", "first", "--port", "0"}, environment());
        const std::uint16_t port = listening(first);
        ASSERT_NE(port, 0);
        EXPECT_TRUE(eventually([&] { return common::readFile(socketPath()).has_value(); }));
        EXPECT_EQ(common::readFile(socketPath()),
                  R"({"port":)" + std::to_string(port) + R"(,"token":"first"})");
    }
    ASSERT_EQ(::chmod(socketPath().c_str(), 0644), 0);
    ChildProcess second(kOverlay, {"--token", "second", "--port", "0"}, environment());
    const std::uint16_t port = listening(second);
    ASSERT_NE(port, 0);
    EXPECT_TRUE(eventually(
        [&] { return common::readFile(socketPath()).value_or("").find("second") != std::string::npos; }));
    EXPECT_EQ(common::readFile(socketPath()), R"({"port":)" + std::to_string(port) + R"(,"token":"second"})");
    EXPECT_EQ(socketMode(), 0600u);
    EXPECT_EQ(statusOf(request(port, "GET", "/stats", "", "x-pavo-overlay-token: second\r\n")), 200);
}

TEST_F(OverlayProcess, APortInUseIsReportedAndTheApplicationKeepsRunning) {
    PortHolder taken;
    ChildProcess overlay(kOverlay, {"--token", "T", "--port", std::to_string(taken.port())}, environment());
    auto line = overlay.waitForLine("EventServer failed: ");
    ASSERT_TRUE(line) << overlay.output();
    EXPECT_FALSE(overlay.waitForExit(std::chrono::milliseconds(300)));  // still running
    // The file names the configured port even so: it is written before the server starts.
    EXPECT_EQ(common::readFile(socketPath()),
              R"({"port":)" + std::to_string(taken.port()) + R"(,"token":"T"})");
}

}  // namespace
}  // namespace pavo::testing
