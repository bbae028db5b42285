// The consent gate and the overlay client against a stand-in overlay on a real loopback socket: a virtual
// poll clock makes the 100 ms cadence and the 2 s deadline exact without waiting for them. The real overlay's
// side of the exchange is tested with the overlay, and both programs together on the desktop.

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <nlohmann/json.hpp>

#include "agent/consent/consent_gate.hpp"
#include "agent/consent/overlay_client.hpp"
#include "agent_under_test.hpp"
#include "await.hpp"
#include "stand_in_overlay.hpp"

namespace pavo::agent {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using nlohmann::json;
using testing::await;
using testing::consentGranted;
using testing::consentPending;
using Headers = std::map<std::string, std::string>;
using OverlayClientPtr = std::shared_ptr<const OverlayClient>;

const std::optional<ErrorCode> kDenied = ErrorCode::consentDenied;

class Gate : public ::testing::Test {
  protected:
    asio::io_context io;
    testing::StandInOverlay overlay{io};
    std::shared_ptr<testing::FakeClock> clock = std::make_shared<testing::FakeClock>();

    OverlayClientPtr client(std::string token = "overlay-token", std::uint16_t port = 0,
                            std::chrono::milliseconds requestTimeout = 60s) const {
        return std::make_shared<const OverlayClient>(
            port ? port : overlay.port(), std::move(token),
            ConsentTiming{.requestTimeout = requestTimeout, .clock = clock});
    }
    // Nothing when the action may run, else why not.
    std::optional<ErrorCode> gate(OverlayClientPtr c, Headers headers = {}) {
        http::HTTPRequest r;
        r.headers = std::move(headers);
        const auto refusal = await(io, ConsentGate(std::move(c)).checkDestructiveConsent(r, "click", "e1"));
        return refusal ? std::optional(refusal->code) : std::nullopt;
    }
    std::string promptId() const { return json::parse(overlay.events().at(0).body).at("id"); }
};

TEST_F(Gate, ACallerHoldingTheOverlayTokenCanGrantConsentInAdvance) {
    struct Case {
        const char* name;
        // Header values, "-" for absent: x-pavo-mcp-consent, x-pavo-overlay-token, x-overlay-token.
        std::string consent, pavoOverlayToken, overlayToken;
        bool prompted;
        std::string token = "overlay-token";
    };
    const std::vector<Case> cases = {
        {"right x-overlay-token", "granted", "-", "overlay-token", false},
        {"a wrong x-pavo-overlay-token does not fall back", "granted", "bad", "overlay-token", true},
        {"token without the consent header", "-", "-", "overlay-token", true},
        {"an empty overlay token never admits an empty header", "granted", "-", "", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        overlay.seen.clear();
        Headers headers = {{"x-pavo-mcp-consent", c.consent},
                           {"x-pavo-overlay-token", c.pavoOverlayToken},
                           {"x-overlay-token", c.overlayToken}};
        std::erase_if(headers, [](const auto& header) { return header.second == "-"; });
        EXPECT_EQ(gate(client(c.token), headers), c.prompted ? kDenied : std::nullopt);
        EXPECT_EQ(overlay.events().size(), c.prompted ? 1u : 0u);
    }
}

TEST_F(Gate, ThePromptIsPolledWithTheTokenEvery100msUntilTheDeadlineAndALateGrantIsNeverReused) {
    EXPECT_EQ(gate(client()), kDenied);
    const std::string first = promptId();
    ASSERT_EQ(overlay.seen.size(), 21u);
    for (const auto& seen : overlay.seen) EXPECT_EQ(seen.headers.at("x-overlay-token"), "overlay-token");
    for (const auto& poll : overlay.consentPolls()) EXPECT_EQ(poll.path, "/consent/" + first);
    EXPECT_EQ(clock->sleeps, std::vector<PollClock::Duration>(20, 100ms));

    // The operator answers after the deadline: the overlay now holds a grant for the first id only.
    overlay.seen.clear();
    overlay.consent = [first](const std::string& id, int) {
        return id == first ? consentGranted() : consentPending();
    };
    EXPECT_EQ(gate(client()), kDenied);

    // The steady clock paces real polls: after the first, each waits a whole interval.
    overlay.seen.clear();
    overlay.consent = [](const std::string&, int) { return consentPending(); };
    EXPECT_EQ(
        gate(std::make_shared<const OverlayClient>(
            overlay.port(), "overlay-token", ConsentTiming{.pollInterval = 10ms, .pollDeadline = 50ms})),
        kDenied);
    EXPECT_GE(overlay.consentPolls().size(), 1u);
    EXPECT_LE(overlay.consentPolls().size(), 5u);
}

TEST_F(Gate, AnyOtherAnswerEndsPollingAtOnceAsADenial) {
    // A 200 must really be a grant: anything else answering on the port is not the operator.
    const std::vector<std::pair<std::string, http::HTTPResponse>> answers = {
        {"404", testing::overlayReply(404, {{"error", "not_found"}})},
        {"200 without a grant", testing::overlayReply(200, {{"consent", "denied"}})},
        {"200 that is not JSON", {200, {{"Content-Length", "2"}}, "ok"}},
    };
    for (const auto& [name, answer] : answers) {
        SCOPED_TRACE(name);
        overlay.seen.clear();
        overlay.consent = [reply = answer](const std::string&, int) { return reply; };
        EXPECT_EQ(gate(client()), kDenied);
        EXPECT_EQ(overlay.consentPolls().size(), 1u);
    }
}

TEST_F(Gate, AnOverlayThatIsGoneOrSilentDeniesWithoutPolling) {
    asio::ip::tcp::acceptor silent(io, {asio::ip::address_v4::loopback(), 0});
    asio::ip::tcp::acceptor gone(io, {asio::ip::address_v4::loopback(), 0});
    const auto closedPort = gone.local_endpoint().port();
    gone.close();
    EXPECT_EQ(gate(client("overlay-token", closedPort)), kDenied);

    // Listening, so connections complete in its backlog, but never accepting one: nothing is ever answered.
    EXPECT_EQ(gate(client("overlay-token", silent.local_endpoint().port(), 100ms)), kDenied);
    EXPECT_TRUE(clock->sleeps.empty()) << "a poll that timed out is not repeated";
}

TEST_F(Gate, AnOverlayTokenThatWouldBreakTheRequestIsNeverSent) {
    EXPECT_EQ(gate(client("overlay\r\nx-injected: 1")), kDenied);
    EXPECT_TRUE(overlay.seen.empty());
}

TEST(OverlaySocketFile, OnlyACompleteObjectWithAUsablePortAndTokenMakesAClient) {
    for (const char* text :
         {"", R"({"token": "t"})", R"({"port": "47825", "token": "t"})", R"({"port": -1, "token": "t"})",
          R"({"port": 65536, "token": "t"})", R"({"port": 47825})"}) {
        EXPECT_FALSE(OverlayClient::fromSocketFileText(text)) << text;
    }
    const auto client = OverlayClient::fromSocketFileText(R"({"token":"tok","extra":[1],"port":47825})");
    ASSERT_TRUE(client);
    EXPECT_EQ(client->port(), 47825);
    EXPECT_EQ(client->token(), "tok");
}

}  // namespace
}  // namespace pavo::agent
