// The consent gate and the overlay client against a stand-in overlay on a real loopback socket (a virtual
// poll clock makes the 100 ms cadence and the 2 s deadline exact without waiting for them), and against the
// real pavo-overlay.

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <nlohmann/json.hpp>

#include <exception>
#include <functional>
#include <regex>

#include "agent/consent/consent_gate.hpp"
#include "agent/consent/overlay_client.hpp"
#include "agent/server/replies.hpp"
#include "agent_under_test.hpp"
#include "await.hpp"
#include "child_process.hpp"
#include "stand_in_overlay.hpp"
#include "tcp_client.hpp"

namespace pavo::agent {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using nlohmann::json;

const std::regex kUpperCaseUUIDv4("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");

using testing::await;
using testing::consentGranted;
using testing::consentPending;
using testing::overlayReply;
using testing::SeenRequest;

// A loopback port on which nothing listens (any more).
std::uint16_t closedPort(asio::io_context& io) {
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::address_v4::loopback(), 0});
    return acceptor.local_endpoint().port();
}

http::HTTPRequest request(std::map<std::string, std::string> headers = {}, std::string body = "") {
    http::HTTPRequest r;
    r.method = "POST";
    r.path = "/test";
    r.headers = std::move(headers);
    r.headers["x-pavo-token"] = "agent-token";
    r.body = std::move(body);
    return r;
}

using OverlayClientPtr = std::shared_ptr<const OverlayClient>;

class Gate : public ::testing::Test {
  protected:
    asio::io_context io;
    testing::StandInOverlay overlay{io};
    std::shared_ptr<testing::FakeClock> clock = std::make_shared<testing::FakeClock>();

    ConsentTiming timing() const {
        ConsentTiming t;
        t.clock = clock;
        return t;
    }
    OverlayClientPtr client(std::string token = "overlay-token") const {
        return std::make_shared<const OverlayClient>(overlay.port(), std::move(token), timing());
    }
    std::optional<http::HTTPResponse> gate(const http::HTTPRequest& r, OverlayClientPtr c,
                                           std::string action = "click",
                                           std::optional<std::string> target = "e1") {
        const ConsentGate gate(std::move(c));
        const auto refusal = await(io, gate.checkDestructiveConsent(r, action, target));
        if (!refusal) return std::nullopt;
        return errorReply(*refusal);
    }
    static void expectDenied(const std::optional<http::HTTPResponse>& reply) {
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 403);
        EXPECT_EQ(json::parse(reply->body), json({{"error", "consent_denied"}}));
        EXPECT_EQ(reply->headers.at("Content-Type"), "application/json");
    }
};

TEST_F(Gate, WithoutAnOverlayEveryActionRunsAndNothingIsSent) {
    const auto r = request();
    EXPECT_EQ(gate(r, nullptr), std::nullopt);
    EXPECT_TRUE(overlay.seen.empty());
}

TEST_F(Gate, ACallerHoldingTheOverlayTokenCanGrantConsentInAdvance) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> headers;
        bool prompted;
    };
    const std::vector<Case> cases = {
        {"right x-overlay-token",
         {{"x-pavo-mcp-consent", "granted"}, {"x-overlay-token", "overlay-token"}},
         false},
        {"right x-pavo-overlay-token wins over a wrong x-overlay-token",
         {{"x-pavo-mcp-consent", "granted"},
          {"x-pavo-overlay-token", "overlay-token"},
          {"x-overlay-token", "bad"}},
         false},
        {"a wrong x-pavo-overlay-token does not fall back",
         {{"x-pavo-mcp-consent", "granted"},
          {"x-pavo-overlay-token", "bad"},
          {"x-overlay-token", "overlay-token"}},
         true},
        {"consent value is case-sensitive",
         {{"x-pavo-mcp-consent", "Granted"}, {"x-overlay-token", "overlay-token"}},
         true},
        {"token is case-sensitive",
         {{"x-pavo-mcp-consent", "granted"}, {"x-overlay-token", "Overlay-Token"}},
         true},
        {"token must be whole",
         {{"x-pavo-mcp-consent", "granted"}, {"x-overlay-token", "overlay-toke"}},
         true},
        {"no token", {{"x-pavo-mcp-consent", "granted"}}, true},
        {"the agent's own token is not the overlay's",
         {{"x-pavo-mcp-consent", "granted"}, {"x-overlay-token", "agent-token"}},
         true},
        {"token without the consent header", {{"x-overlay-token", "overlay-token"}}, true},
    };
    for (const auto& c : cases) {
        overlay.seen.clear();
        const auto r = request(c.headers);
        const auto reply = gate(r, client());
        if (c.prompted) {
            expectDenied(reply);
            EXPECT_EQ(overlay.events().size(), 1u) << c.name;
        } else {
            EXPECT_EQ(reply, std::nullopt) << c.name;
            EXPECT_TRUE(overlay.seen.empty()) << c.name;
        }
    }
}

TEST_F(Gate, AnEmptyOverlayTokenNeverAdmitsAnEmptyHeader) {
    const auto r = request({{"x-pavo-mcp-consent", "granted"}, {"x-overlay-token", ""}});
    expectDenied(gate(r, client("")));
    EXPECT_EQ(overlay.events().size(), 1u);
}

TEST_F(Gate, ThePromptCarriesAFreshIdTheActionAndTheTarget) {
    overlay.consent = [](const std::string&, int) { return consentGranted(); };
    const auto r = request();
    EXPECT_EQ(gate(r, client(), "click", "e1"), std::nullopt);
    EXPECT_EQ(gate(r, client(), "send_keystrokes", std::nullopt), std::nullopt);

    ASSERT_EQ(overlay.seen.size(), 4u);
    std::vector<std::string> ids;
    for (int i : {0, 2}) {
        const SeenRequest& event = overlay.seen[i];
        EXPECT_EQ(event.method, "POST");
        EXPECT_EQ(event.path, "/event");
        EXPECT_EQ(event.headers.at("content-type"), "application/json");
        EXPECT_EQ(event.headers.at("x-overlay-token"), "overlay-token");
        const json body = json::parse(event.body);
        EXPECT_EQ(body.at("type"), "destructive_prompt");
        const std::string id = body.at("id");
        EXPECT_TRUE(std::regex_match(id, kUpperCaseUUIDv4)) << id;
        ids.push_back(id);

        const SeenRequest& poll = overlay.seen[i + 1];
        EXPECT_EQ(poll.method, "GET");
        EXPECT_EQ(poll.path, "/consent/" + id);
        EXPECT_EQ(poll.headers.at("x-overlay-token"), "overlay-token");
        EXPECT_TRUE(poll.body.empty());
    }
    EXPECT_EQ(json::parse(overlay.seen[0].body),
              json({{"type", "destructive_prompt"}, {"id", ids[0]}, {"action", "click"}, {"target", "e1"}}));
    EXPECT_EQ(json::parse(overlay.seen[2].body),
              json({{"type", "destructive_prompt"}, {"id", ids[1]}, {"action", "send_keystrokes"}}));
    EXPECT_NE(ids[0], ids[1]);
}

TEST_F(Gate, PendingAnswersArePolledEvery100msUntilTheTwoSecondDeadline) {
    const auto r = request();
    expectDenied(gate(r, client()));

    ASSERT_FALSE(overlay.seen.empty());
    EXPECT_EQ(overlay.seen.front().path, "/event");
    const std::string id = json::parse(overlay.seen.front().body).at("id");
    const auto polls = overlay.consentPolls();
    EXPECT_EQ(polls.size(), 20u);
    for (const auto& poll : polls) EXPECT_EQ(poll.path, "/consent/" + id);
    EXPECT_EQ(overlay.seen.size(), polls.size() + 1);
    EXPECT_EQ(clock->sleeps, std::vector<PollClock::Duration>(20, 100ms));
}

TEST_F(Gate, AGrantWithinTheDeadlineLetsTheActionRun) {
    overlay.consent = [](const std::string&, int poll) {
        return poll < 3 ? consentPending() : consentGranted();
    };
    const auto r = request();
    EXPECT_EQ(gate(r, client()), std::nullopt);
    EXPECT_EQ(overlay.consentPolls().size(), 3u);
    EXPECT_EQ(clock->sleeps.size(), 2u);
}

TEST_F(Gate, AnyOtherAnswerEndsPollingAtOnceAsADenial) {
    const std::vector<std::pair<std::string, http::HTTPResponse>> answers = {
        {"404", overlayReply(404, {{"error", "not_found"}})},
        {"500", overlayReply(500, {{"error", "boom"}})},
        {"401", overlayReply(401, {{"error", "unauthorized"}})},
        {"redirect to another id",
         [] {
             auto r = consentGranted();
             r.status = 302;
             r.headers["Location"] = "/consent/SOMEONE-ELSE";
             return r;
         }()},
        // A 200 must really be a grant: anything else answering on the port is not the operator.
        {"200 without a grant", overlayReply(200, {{"consent", "denied"}})},
        {"200 that is not JSON",
         [] {
             http::HTTPResponse r;
             r.headers["Content-Length"] = "2";
             r.body = "ok";
             return r;
         }()},
    };
    for (const auto& [name, answer] : answers) {
        overlay.seen.clear();
        clock->sleeps.clear();
        overlay.consent = [reply = answer](const std::string&, int) { return reply; };
        const auto r = request();
        expectDenied(gate(r, client()));
        EXPECT_EQ(overlay.consentPolls().size(), 1u) << name;
        EXPECT_TRUE(clock->sleeps.empty()) << name;
    }
}

TEST_F(Gate, AnOverlayThatNoLongerListensDeniesAtOnce) {
    auto gone = std::make_shared<const OverlayClient>(closedPort(io), "overlay-token", timing());
    const auto r = request();
    expectDenied(gate(r, gone));
    EXPECT_TRUE(clock->sleeps.empty());
}

TEST_F(Gate, AnOverlayThatNeverAnswersTimesOutIntoADenial) {
    // Accepts connections and then says nothing.
    asio::ip::tcp::acceptor silent(io, {asio::ip::address_v4::loopback(), 0});
    std::vector<asio::ip::tcp::socket> held;
    std::function<void()> accept = [&] {
        silent.async_accept([&](boost::system::error_code ec, asio::ip::tcp::socket socket) {
            if (ec) return;
            held.push_back(std::move(socket));
            accept();
        });
    };
    accept();
    ConsentTiming t = timing();
    t.requestTimeout = 100ms;
    auto hanging = std::make_shared<const OverlayClient>(silent.local_endpoint().port(), "overlay-token", t);
    const auto r = request();
    expectDenied(gate(r, hanging));
    EXPECT_EQ(held.size(), 2u);  // the event post and one poll, each given up
    EXPECT_TRUE(clock->sleeps.empty());
}

TEST_F(Gate, ALateGrantIsNeverUsedByALaterRequest) {
    const auto r = request();
    expectDenied(gate(r, client()));
    const std::string first = json::parse(overlay.events().at(0).body).at("id");

    // The operator answers after the deadline: the overlay now holds a grant for the first id only.
    overlay.consent = [first](const std::string& id, int) {
        return id == first ? consentGranted() : consentPending();
    };
    overlay.seen.clear();
    expectDenied(gate(r, client()));
    const std::string second = json::parse(overlay.events().at(0).body).at("id");
    EXPECT_NE(second, first);
    for (const auto& poll : overlay.consentPolls()) EXPECT_EQ(poll.path, "/consent/" + second);

    // The grant is really there; only its own prompt could have used it.
    EXPECT_TRUE(await(io, client()->checkConsent(first)));
}

TEST_F(Gate, ThePollClockPacesRealPolls) {
    ConsentTiming t;  // the steady clock
    t.pollInterval = 10ms;
    t.pollDeadline = 50ms;
    auto real = std::make_shared<const OverlayClient>(overlay.port(), "overlay-token", t);
    const auto r = request();
    expectDenied(gate(r, real));
    // Each poll after the first waits a whole interval, so at most five fit before the deadline.
    EXPECT_GE(overlay.consentPolls().size(), 1u);
    EXPECT_LE(overlay.consentPolls().size(), 5u);
}

TEST_F(Gate, AnIdThatCannotBeSentAsItStandsIsNeverPolled) {
    overlay.consent = [](const std::string&, int) { return consentGranted(); };
    for (const char* id : {"", "A#B", "A?B", "../event", "A B", "A/B", "A%2FB"}) {
        EXPECT_FALSE(await(io, client()->checkConsent(id))) << id;
    }
    EXPECT_TRUE(overlay.seen.empty());
    EXPECT_TRUE(await(io, client()->checkConsent("plain-ID_1.2~3")));
}

TEST_F(Gate, ATokenThatCannotBeAHeaderIsNeverSent) {
    const auto r = request();
    expectDenied(gate(r, client("overlay\r\nx-injected: 1")));
    EXPECT_TRUE(overlay.seen.empty());
}

TEST_F(Gate, TheEventTypeAlwaysWinsOverAPayloadType) {
    await(io, client()->emitEvent("destructive_prompt", {{"type", "cursor_move"}, {"id", "X"}, {"n", 1}}));
    ASSERT_EQ(overlay.events().size(), 1u);
    EXPECT_EQ(json::parse(overlay.events()[0].body),
              json({{"type", "destructive_prompt"}, {"id", "X"}, {"n", 1}}));

    // Text that cannot be JSON still sends the event, without a body.
    overlay.seen.clear();
    await(io, client()->emitEvent("destructive_prompt", {{"target", "\xFF"}}));
    ASSERT_EQ(overlay.events().size(), 1u);
    EXPECT_TRUE(overlay.events()[0].body.empty());
}

// --- finding the overlay -------------------------------------------------------------

TEST(OverlaySocketFile, OnlyACompleteObjectWithAUsablePortAndTokenMakesAClient) {
    const std::vector<std::string> unusable = {
        "",
        "not json",
        "[47825, \"t\"]",
        "\"port\"",
        R"({"token": "t"})",
        R"({"port": "47825", "token": "t"})",
        R"({"port": 47825.5, "token": "t"})",
        R"({"port": null, "token": "t"})",
        R"({"port": -1, "token": "t"})",
        R"({"port": 65536, "token": "t"})",
        R"({"port": 18446744073709551615, "token": "t"})",
        R"({"port": 47825})",
        R"({"port": 47825, "token": 12})",
        R"({"port": 47825, "token": null})",
        R"({"port": 47825, "token": "t"} trailing)",
    };
    for (const auto& text : unusable) EXPECT_FALSE(OverlayClient::fromSocketFileText(text)) << text;

    const auto client = OverlayClient::fromSocketFileText(R"({"token":"tok","extra":[1],"port":47825})");
    ASSERT_TRUE(client);
    EXPECT_EQ(client->port(), 47825);
    EXPECT_EQ(client->token(), "tok");
    // Port 0 forms a URL; the client exists and, reaching nobody, refuses every gated action.
    EXPECT_TRUE(OverlayClient::fromSocketFileText(R"({"port":0,"token":"t"})"));
}

TEST(OverlaySocketFile, IsReadFromItsPlaceBelowTheHomeDirectory) {
    testing::TempDir home;
    EXPECT_FALSE(OverlayClient::fromSocketFile(home.path()));

    home.write("Library/Application Support/Vexlo/Pavo/overlay.sock", R"({"port":5,"token":"t"})");
    const auto client = OverlayClient::fromSocketFile(home.path());
    ASSERT_TRUE(client);
    EXPECT_EQ(client->port(), 5);

    testing::TempDir other;
    other.write("Library/Application Support/Vexlo/Pavo/overlay.sock/inside", "");  // a directory, not a file
    EXPECT_FALSE(OverlayClient::fromSocketFile(other.path()));
}

// Nothing when the action may run, else the refusal.
std::optional<AgentError> gateOnce(const http::HTTPRequest& request,
                                   std::shared_ptr<const OverlayClient> overlay) {
    const ConsentGate consentGate(std::move(overlay));
    return await(consentGate.checkDestructiveConsent(request, "click", "e1"));
}

int rejections(std::uint16_t port) {
    const auto stats = testing::request(port, "GET", "/stats", "", "x-overlay-token: ov-token\r\n");
    return json::parse(testing::bodyOf(stats)).at("rejections").get<int>();
}

const std::string kOverlay = PAVO_OVERLAY_BINARY;

TEST(OverlayConsentExchange, TheRealOverlayIsFoundAskedAndPolledWithItsToken) {
    testing::TempDir home;
    testing::ChildProcess overlay(
        kOverlay, {"--port", "0", "--token", "ov-token", "--no-menu-bar"},
        {{"HOME", home.path()}, {"QT_QPA_PLATFORM", "offscreen"}, {"XDG_RUNTIME_DIR", home.path()}});
    ASSERT_TRUE(overlay.waitForLine("[EventServer] Listening on 127.0.0.1:")) << overlay.output();

    auto clock = std::make_shared<testing::FakeClock>();
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
    const auto unanswered = gateOnce(request, client);
    ASSERT_TRUE(unanswered);
    EXPECT_EQ(unanswered->code, ErrorCode::consentDenied);
    EXPECT_EQ(clock->sleeps.size(), 20u);
    EXPECT_EQ(rejections(client->port()), 0);

    // A stale token: the overlay refuses the event and the first poll, and the gate gives up at once.
    clock->sleeps.clear();
    const auto stale = std::make_shared<const OverlayClient>(client->port(), "old-token", timing);
    const auto refused = gateOnce(request, stale);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code, ErrorCode::consentDenied);
    EXPECT_TRUE(clock->sleeps.empty());
    EXPECT_EQ(rejections(client->port()), 2);

    // The caller vouches with the overlay's token: nothing reaches the overlay.
    request.headers = {{"x-pavo-mcp-consent", "granted"}, {"x-overlay-token", "ov-token"}};
    EXPECT_EQ(gateOnce(request, client), std::nullopt);
    EXPECT_EQ(rejections(client->port()), 2);
}

}  // namespace
}  // namespace pavo::agent
