// The agent's overlay client against the real pavo-overlay process: the socket file it publishes, the
// token it checks, and the consent answers it gives while nobody has answered the prompt.

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>

#include <nlohmann/json.hpp>

#include <chrono>
#include <thread>

#include "agent/consent/consent_gate.hpp"
#include "agent/consent/overlay_client.hpp"
#include "child_process.hpp"
#include "tcp_client.hpp"

namespace pavo::agent {
namespace {

namespace asio = boost::asio;

const std::string kOverlay = PAVO_OVERLAY_BINARY;

class CountingClock final : public PollClock {
  public:
    TimePoint now() override { return now_; }
    asio::awaitable<void> sleepFor(Duration duration) override {
        ++sleeps;
        now_ += duration;
        co_return;
    }
    int sleeps = 0;

  private:
    TimePoint now_{};
};

// Nothing when the action may run, else the refusal.
std::optional<AgentError> gate(const http::HTTPRequest& request, std::shared_ptr<const OverlayClient> overlay) {
    asio::io_context io;
    const ConsentGate consentGate(std::move(overlay));
    std::optional<AgentError> refusal;
    asio::co_spawn(io, consentGate.checkDestructiveConsent(request, "click", "e1"),
                   [&](std::exception_ptr, std::optional<AgentError> r) { refusal = std::move(r); });
    io.run();
    return refusal;
}

int rejections(std::uint16_t port) {
    const auto stats = testing::request(port, "GET", "/stats", "", "x-overlay-token: ov-token\r\n");
    return nlohmann::json::parse(testing::bodyOf(stats)).at("rejections").get<int>();
}

TEST(OverlayConsentExchange, TheRealOverlayIsFoundAskedAndPolledWithItsToken) {
    testing::TempDir home;
    testing::ChildProcess overlay(
        kOverlay, {"--port", "0", "--token", "ov-token", "--no-menu-bar"},
        {{"HOME", home.path()}, {"QT_QPA_PLATFORM", "offscreen"}, {"XDG_RUNTIME_DIR", home.path()}});
    ASSERT_TRUE(overlay.waitForLine("[EventServer] Listening on 127.0.0.1:")) << overlay.output();

    auto clock = std::make_shared<CountingClock>();
    ConsentTiming timing;
    timing.clock = clock;
    // With --port 0 the file is written once the port is bound, just after the listening line.
    std::optional<OverlayClient> found;
    for (int i = 0; i < 500 && !found; ++i) {
        found = OverlayClient::fromSocketFile(home.path(), timing);
        if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(found);
    const auto client = std::make_shared<const OverlayClient>(*found);
    http::HTTPRequest request;

    // Nobody answers the dialog: pending until the deadline, and the overlay accepted every request's token.
    const auto unanswered = gate(request, client);
    ASSERT_TRUE(unanswered);
    EXPECT_EQ(unanswered->code, ErrorCode::consentDenied);
    EXPECT_EQ(clock->sleeps, 20);
    EXPECT_EQ(rejections(client->port()), 0);

    // A stale token: the overlay refuses the event and the first poll, and the gate gives up at once.
    clock->sleeps = 0;
    const auto stale = std::make_shared<const OverlayClient>(client->port(), "old-token", timing);
    const auto refused = gate(request, stale);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code, ErrorCode::consentDenied);
    EXPECT_EQ(clock->sleeps, 0);
    EXPECT_EQ(rejections(client->port()), 2);

    // The caller vouches with the overlay's token: nothing reaches the overlay.
    request.headers = {{"x-pavo-mcp-consent", "granted"}, {"x-overlay-token", "ov-token"}};
    EXPECT_EQ(gate(request, client), std::nullopt);
    EXPECT_EQ(rejections(client->port()), 2);
}

}  // namespace
}  // namespace pavo::agent
