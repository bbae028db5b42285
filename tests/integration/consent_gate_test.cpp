// The consent gate and the overlay client against a stand-in overlay on a real loopback socket. A virtual
// poll clock makes the 100 ms cadence and the 2 s deadline exact without waiting for them.

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
#include "child_process.hpp"
#include "http/server.hpp"

namespace pavo::agent {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using nlohmann::json;

const std::regex kUpperCaseUUIDv4("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");

class VirtualClock final : public PollClock {
  public:
    TimePoint now() override { return now_; }
    asio::awaitable<void> sleepFor(Duration duration) override {
        sleeps.push_back(duration);
        now_ += duration;
        co_return;
    }
    std::vector<Duration> sleeps;

  private:
    TimePoint now_{};
};

struct Seen {
    std::string method;
    std::string path;
    std::map<std::string, std::string> headers;
    std::string body;
};

http::HTTPResponse overlayReply(int status, const json& body) {
    return jsonResponse(status, body);
}
http::HTTPResponse pending() {
    return overlayReply(423, {{"blocked", true}, {"reason", "consent_pending"}});
}
http::HTTPResponse granted() {
    return overlayReply(200, {{"consent", "granted"}});
}

// Answers like the overlay's event server and records every request it receives.
class StandInOverlay {
  public:
    explicit StandInOverlay(asio::io_context& io)
        : listener_(io, 0, http::overlayDialect(),
                    [this](http::HTTPRequest r) -> asio::awaitable<http::HTTPResponse> {
                        seen.push_back({r.method, r.path, r.headers, r.body});
                        if (r.method == "POST" && r.path == "/event")
                            co_return overlayReply(200, {{"ack", "true"}});
                        const std::string prefix = "/consent/";
                        if (r.method == "GET" && r.path.starts_with(prefix)) {
                            const std::string id = r.path.substr(prefix.size());
                            co_return consent(id, ++polls[id]);
                        }
                        co_return overlayReply(404, {{"error", "not_found"}});
                    }) {
        listener_.start();
    }

    std::uint16_t port() const { return listener_.port(); }

    std::vector<Seen> events() const { return only("/event"); }
    std::vector<Seen> consentPolls() const { return only("/consent/"); }

    // The answer to the n-th poll (from 1) for an id; pending for ever unless a test says otherwise.
    std::function<http::HTTPResponse(const std::string& id, int poll)> consent = [](const std::string&, int) {
        return pending();
    };
    std::vector<Seen> seen;
    std::map<std::string, int> polls;

  private:
    std::vector<Seen> only(const std::string& prefix) const {
        std::vector<Seen> matching;
        for (const auto& s : seen) {
            if (s.path.starts_with(prefix)) matching.push_back(s);
        }
        return matching;
    }

    http::Listener listener_;
};

template <typename T>
T runOn(asio::io_context& io, asio::awaitable<T> task) {
    std::optional<T> result;
    std::exception_ptr failure;
    asio::co_spawn(io, std::move(task), [&](std::exception_ptr e, T value) {
        failure = e;
        if (!e) result = std::move(value);
        io.stop();
    });
    io.restart();
    io.run();
    if (failure) std::rethrow_exception(failure);
    return std::move(*result);
}

void runOn(asio::io_context& io, asio::awaitable<void> task) {
    asio::co_spawn(io, std::move(task), [&](std::exception_ptr) { io.stop(); });
    io.restart();
    io.run();
}

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
    StandInOverlay overlay{io};
    std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();

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
        const auto refusal = runOn(io, gate.checkDestructiveConsent(r, action, target));
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
    overlay.consent = [](const std::string&, int) { return granted(); };
    const auto r = request();
    EXPECT_EQ(gate(r, client(), "click", "e1"), std::nullopt);
    EXPECT_EQ(gate(r, client(), "send_keystrokes", std::nullopt), std::nullopt);

    ASSERT_EQ(overlay.seen.size(), 4u);
    std::vector<std::string> ids;
    for (int i : {0, 2}) {
        const Seen& event = overlay.seen[i];
        EXPECT_EQ(event.method, "POST");
        EXPECT_EQ(event.path, "/event");
        EXPECT_EQ(event.headers.at("content-type"), "application/json");
        EXPECT_EQ(event.headers.at("x-overlay-token"), "overlay-token");
        const json body = json::parse(event.body);
        EXPECT_EQ(body.at("type"), "destructive_prompt");
        const std::string id = body.at("id");
        EXPECT_TRUE(std::regex_match(id, kUpperCaseUUIDv4)) << id;
        ids.push_back(id);

        const Seen& poll = overlay.seen[i + 1];
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
    overlay.consent = [](const std::string&, int poll) { return poll < 3 ? pending() : granted(); };
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
             auto r = granted();
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
    overlay.consent = [first](const std::string& id, int) { return id == first ? granted() : pending(); };
    overlay.seen.clear();
    expectDenied(gate(r, client()));
    const std::string second = json::parse(overlay.events().at(0).body).at("id");
    EXPECT_NE(second, first);
    for (const auto& poll : overlay.consentPolls()) EXPECT_EQ(poll.path, "/consent/" + second);

    // The grant is really there; only its own prompt could have used it.
    EXPECT_TRUE(runOn(io, client()->checkConsent(first)));
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
    overlay.consent = [](const std::string&, int) { return granted(); };
    for (const char* id : {"", "A#B", "A?B", "../event", "A B", "A/B", "A%2FB"}) {
        EXPECT_FALSE(runOn(io, client()->checkConsent(id))) << id;
    }
    EXPECT_TRUE(overlay.seen.empty());
    EXPECT_TRUE(runOn(io, client()->checkConsent("plain-ID_1.2~3")));
}

TEST_F(Gate, ATokenThatCannotBeAHeaderIsNeverSent) {
    const auto r = request();
    expectDenied(gate(r, client("overlay\r\nx-injected: 1")));
    EXPECT_TRUE(overlay.seen.empty());
}

TEST_F(Gate, TheEventTypeAlwaysWinsOverAPayloadType) {
    runOn(io, client()->emitEvent("destructive_prompt", {{"type", "cursor_move"}, {"id", "X"}, {"n", 1}}));
    ASSERT_EQ(overlay.events().size(), 1u);
    EXPECT_EQ(json::parse(overlay.events()[0].body),
              json({{"type", "destructive_prompt"}, {"id", "X"}, {"n", 1}}));

    // Text that cannot be JSON still sends the event, without a body.
    overlay.seen.clear();
    runOn(io, client()->emitEvent("destructive_prompt", {{"target", "\xFF"}}));
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

}  // namespace
}  // namespace pavo::agent
