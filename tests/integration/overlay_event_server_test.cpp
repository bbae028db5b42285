// The overlay's HTTP API over real loopback sockets: authentication, routes, consent answers and event
// intake under every consent mode and operator state.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <mutex>

#include "overlay/service/event_server.hpp"
#include "tcp_client.hpp"

namespace pavo::overlay {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using pavo::testing::bodyOf;
using pavo::testing::headerOf;
using pavo::testing::statusOf;
using pavo::testing::TcpClient;

const std::string kToken = "T0ken";
const std::string kAuth = "x-overlay-token: " + kToken + "\r\n";

class RunningServer {
  public:
    explicit RunningServer(ConsentMode mode = ConsentMode::off)
        : consent(mode), server(0, kToken, consent, [this] { return start + elapsed.load() * 1ms; }) {
        server.onEvent = [this](const OverlayEvent& event) {
            std::lock_guard lock(mutex_);
            received_.push_back(std::string(typeName(event)));
        };
        port = server.start();
    }

    std::vector<std::string> received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

    std::string get(const std::string& path, const std::string& headers = kAuth) {
        return pavo::testing::request(port, "GET", path, "", headers);
    }
    std::string post(const std::string& path, const std::string& body, const std::string& headers = kAuth) {
        return pavo::testing::request(port, "POST", path, body, headers);
    }
    std::string event(const json& body) { return post("/event", body.dump()); }
    std::int64_t rejections() { return json::parse(bodyOf(get("/stats")))["rejections"].get<std::int64_t>(); }

    ConsentManager consent;
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::atomic<std::int64_t> elapsed{0};  // milliseconds on the server's clock
    EventServer server;
    std::uint16_t port = 0;

  private:
    std::mutex mutex_;
    std::vector<std::string> received_;
};

json bodyJson(const std::string& response) {
    return json::parse(bodyOf(response));
}

TEST(EventServerAuth, HealthIsOpenEverythingElseNeedsTheToken) {
    RunningServer s;
    for (const std::string& headers : {std::string(), std::string("x-overlay-token: wrong\r\n")}) {
        auto health = s.get("/health", headers);
        EXPECT_EQ(statusOf(health), 200);
        EXPECT_EQ(bodyJson(health), (json{{"ok", "true"}, {"version", "0.2.0"}}));
    }
    EXPECT_EQ(s.server.rejectionCount(), 0);

    auto postHealth = s.post("/health", "", "");
    EXPECT_EQ(statusOf(postHealth), 401);
    EXPECT_EQ(bodyJson(postHealth), (json{{"error", "unauthorized"}}));
    EXPECT_EQ(statusOf(s.get("/no/such/path", "")), 401);  // authentication comes before the route
    EXPECT_EQ(statusOf(s.get("/stats", "x-overlay-token: t0ken\r\n")), 401);   // case-sensitive
    EXPECT_EQ(statusOf(s.get("/stats", "x-overlay-token: T0ken2\r\n")), 401);  // no prefix match
    EXPECT_EQ(statusOf(s.get("/stats", "x-overlay-token: T0ke\r\n")), 401);
    EXPECT_EQ(statusOf(s.get("/stats", "x-pavo-token: T0ken\r\n")), 401);  // the agent's header
    {
        TcpClient client(s.port);  // no headers at all
        client.send("GET /state HTTP/1.1\r\n\r\n");
        auto reply = client.readResponse();
        ASSERT_TRUE(reply);
        EXPECT_EQ(statusOf(*reply), 401);
    }
    EXPECT_EQ(s.server.rejectionCount(), 7);
    EXPECT_EQ(statusOf(s.get("/state", "X-Pavo-Overlay-Token: T0ken\r\n")), 200);  // the fallback header
}

TEST(EventServerAuth, OnlyTheFirstPresentHeaderIsTried) {
    RunningServer s;
    auto reply = s.get("/state", "x-overlay-token: wrong\r\nx-pavo-overlay-token: T0ken\r\n");
    EXPECT_EQ(statusOf(reply), 401);
    EXPECT_EQ(s.rejections(), 1);
    EXPECT_EQ(statusOf(s.get("/state", "x-overlay-token: T0ken\r\nx-pavo-overlay-token: wrong\r\n")), 200);
    EXPECT_EQ(s.rejections(), 1);
}

TEST(EventServerRoutes, StatsStateAndNotFound) {
    RunningServer s(ConsentMode::destructive_only);
    s.elapsed = 2999;
    auto stats = s.get("/stats");
    EXPECT_EQ(statusOf(stats), 200);
    EXPECT_EQ(bodyJson(stats), (json{{"rejections", 0}, {"uptimeSeconds", 2}}));
    EXPECT_TRUE(bodyJson(stats)["uptimeSeconds"].is_number_integer());

    EXPECT_EQ(bodyJson(s.get("/state")),
              (json{{"operator_mode", "require_approval"}, {"mutations_blocked", false}}));
    s.consent.setOperatorMode(OperatorMode::block);
    EXPECT_EQ(bodyJson(s.get("/state")), (json{{"operator_mode", "block"}, {"mutations_blocked", true}}));
    s.consent.setOperatorMode(OperatorMode::allow);
    EXPECT_EQ(bodyJson(s.get("/state")), (json{{"operator_mode", "allow"}, {"mutations_blocked", false}}));

    for (const auto& [method, path] : std::vector<std::pair<std::string, std::string>>{{"POST", "/stats"},
                                                                                       {"POST", "/state"},
                                                                                       {"POST", "/consent/x"},
                                                                                       {"GET", "/event"},
                                                                                       {"PUT", "/event"},
                                                                                       {"get", "/stats"},
                                                                                       {"GET", "/stats/"},
                                                                                       {"GET", "/state?x=1"},
                                                                                       {"GET", "/consent"}}) {
        auto reply = pavo::testing::request(s.port, method, path, "", kAuth);
        EXPECT_EQ(statusOf(reply), 404) << method << " " << path;
        EXPECT_EQ(bodyJson(reply), (json{{"error", "not_found"}}));
    }
    EXPECT_EQ(s.rejections(), 0);  // 404s are not rejections
}

TEST(EventServerRoutes, RepliesCarryJsonHeadersAndTheLockedStatusText) {
    RunningServer s;
    const std::string reply = s.get("/consent/nobody");
    EXPECT_EQ(reply.substr(0, reply.find("\r\n")), "HTTP/1.1 423 Locked");
    EXPECT_EQ(headerOf(reply, "Content-Type"), "application/json");
    EXPECT_EQ(headerOf(reply, "Content-Length"), std::to_string(bodyOf(reply).size()));
    EXPECT_EQ(headerOf(reply, "Connection"), "keep-alive");

    TcpClient client(s.port);  // and the connection is kept for the next request
    client.send("GET /health HTTP/1.1\r\n\r\nGET /state HTTP/1.1\r\n" + kAuth + "\r\n");
    auto first = client.readResponse();
    auto second = client.readResponse();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(statusOf(*first), 200);
    EXPECT_EQ(statusOf(*second), 200);
}

TEST(EventServerConsent, AnswersPendingGrantedDeniedAndResets) {
    RunningServer s;
    for (const std::string path : {"/consent/", "/consent/never-prompted"}) {
        auto reply = s.get(path);
        EXPECT_EQ(statusOf(reply), 423);
        EXPECT_EQ(bodyJson(reply), (json{{"blocked", true}, {"reason", "consent_pending"}}));
    }

    s.consent.storeResolution("g", {true, std::nullopt});
    s.consent.storeResolution("d", {false, "consent_denied"});
    s.consent.storeResolution("x?y=1", {true, std::nullopt});
    for (int poll = 0; poll < 2; ++poll) {  // polling does not consume the answer
        auto granted = s.get("/consent/g");
        EXPECT_EQ(statusOf(granted), 200);
        EXPECT_EQ(bodyJson(granted), (json{{"consent", "granted"}}));
        auto denied = s.get("/consent/d");
        EXPECT_EQ(statusOf(denied), 423);
        EXPECT_EQ(bodyJson(denied), (json{{"blocked", true}, {"reason", "consent_denied"}}));
    }
    EXPECT_EQ(statusOf(s.get("/consent/x?y=1")), 200);  // the query text is part of the id
    EXPECT_EQ(statusOf(s.get("/consent/x")), 423);

    // A new prompt with an answered id makes it pending again.
    EXPECT_EQ(statusOf(s.event({{"type", "destructive_prompt"}, {"id", "g"}, {"action", "click"}})), 200);
    EXPECT_EQ(bodyJson(s.get("/consent/g"))["reason"], "consent_pending");

    // Refused while blocked: the denial is stored until a new prompt resets it.
    s.consent.setOperatorMode(OperatorMode::block);
    auto refused = s.event({{"type", "destructive_prompt"}, {"id", "b"}, {"action", "type"}});
    EXPECT_EQ(statusOf(refused), 423);
    EXPECT_EQ(bodyJson(refused), (json{{"blocked", true}, {"reason", "circuit_breaker_open"}}));
    EXPECT_EQ(bodyJson(s.get("/consent/b")), (json{{"blocked", true}, {"reason", "circuit_breaker_open"}}));
    EXPECT_EQ(bodyJson(s.get("/consent/b"))["reason"], "circuit_breaker_open");
    s.consent.setOperatorMode(OperatorMode::requireApproval);
    EXPECT_EQ(statusOf(s.event({{"type", "destructive_prompt"}, {"id", "b"}, {"action", "type"}})), 200);
    EXPECT_EQ(bodyJson(s.get("/consent/b"))["reason"], "consent_pending");

    EXPECT_EQ(s.rejections(), 1);  // only the refused prompt; pending answers are not rejections
}

TEST(EventServerIntake, DecodingFailuresAndUnknownTypes) {
    RunningServer s;
    auto missing = s.post("/event", R"({"type":"destructive_prompt","id":"p"})");
    EXPECT_EQ(statusOf(missing), 400);
    EXPECT_EQ(bodyJson(missing), (json{{"error", "missing_field:action for destructive_prompt"}}));
    EXPECT_EQ(bodyJson(s.post("/event", R"({"type":""})")), (json{{"error", "missing_field:type"}}));

    for (const std::string body : {"", "nope", "{}", R"({"type":"cursor_move","x":"1","y":2})"}) {
        auto reply = s.post("/event", body);
        EXPECT_EQ(statusOf(reply), 400) << body;
        EXPECT_EQ(bodyJson(reply), (json{{"error", "malformed_json"}})) << body;
    }
    auto unknown = s.post("/event", R"({"type":"Cursor_Move","x":1,"y":2})");
    EXPECT_EQ(statusOf(unknown), 200);
    EXPECT_EQ(bodyJson(unknown), (json{{"ack", "true"}, {"ignored", "true"}}));

    EXPECT_TRUE(s.received().empty());
    EXPECT_EQ(s.rejections(), 0);
}

// The reply to one event type in one operator state, for the consent modes off, destructive_only and
// manual: "200" is an acknowledgement (forwarded), anything else a 423 reason (counted).
struct IntakeRow {
    std::string type;
    std::string state;  // "running", "waiting" (a destructive action awaits the operator) or "blocked"
    std::array<std::string, 3> byMode;
};

const std::vector<IntakeRow> kIntake = {
    {"cursor_move", "running", {"200", "200", "manual_mode"}},
    {"cursor_move", "waiting", {"agent_paused", "agent_paused", "agent_paused"}},
    {"cursor_move", "blocked", {"agent_paused", "agent_paused", "agent_paused"}},
    {"destructive_prepare", "running", {"200", "200", "manual_mode"}},
    {"destructive_prepare", "waiting", {"agent_paused", "agent_paused", "agent_paused"}},
    {"destructive_prepare", "blocked", {"agent_blocked", "agent_blocked", "agent_blocked"}},
    {"destructive_prompt", "running", {"200", "200", "200"}},
    {"destructive_prompt", "waiting", {"200", "200", "200"}},
    {"destructive_prompt",
     "blocked",
     {"circuit_breaker_open", "circuit_breaker_open", "circuit_breaker_open"}},
    {"ack", "running", {"200", "200", "200"}},
    {"ack", "waiting", {"200", "200", "200"}},
    {"ack", "blocked", {"200", "200", "200"}},
    {"agent_state", "running", {"200", "200", "200"}},
    {"agent_state", "waiting", {"200", "200", "200"}},
    {"agent_state", "blocked", {"200", "200", "200"}},
    {"audit_log", "running", {"200", "200", "manual_mode"}},
    {"audit_log", "waiting", {"agent_paused", "agent_paused", "agent_paused"}},
    {"key", "blocked", {"agent_paused", "agent_paused", "agent_paused"}},
};

json sampleEvent(const std::string& type) {
    if (type == "cursor_move") return {{"type", type}, {"x", 1}, {"y", 2}};
    if (type == "destructive_prepare") return {{"type", type}, {"action", "click"}};
    if (type == "destructive_prompt") return {{"type", type}, {"id", "p"}, {"action", "click"}};
    if (type == "ack") return {{"type", type}, {"id", "p"}};
    if (type == "agent_state") return {{"type", type}, {"state", "active"}};
    if (type == "key") return {{"type", type}, {"chord", "cmd+q"}};
    return {{"type", "audit_log"}, {"ts", "t"},      {"tool", "x"},
            {"args_hash", "h"},    {"result", "ok"}, {"elapsed_ms", 3}};
}

TEST(EventServerIntake, EveryCaseInEveryConsentMode) {
    const ConsentMode modes[] = {ConsentMode::off, ConsentMode::destructive_only, ConsentMode::manual};
    for (const IntakeRow& row : kIntake) {
        for (std::size_t m = 0; m < 3; ++m) {
            SCOPED_TRACE(row.type + " while " + row.state + " in mode " + std::string(toString(modes[m])));
            RunningServer s(modes[m]);
            if (row.state == "waiting") s.consent.waitForConsent({});
            if (row.state == "blocked") s.consent.setOperatorMode(OperatorMode::block);

            const std::string reply = s.event(sampleEvent(row.type));
            // The event is handed on before the reply is written, so it is already there.
            const std::vector<std::string> received = s.received();
            const std::string& expected = row.byMode[m];
            if (expected == "200") {
                EXPECT_EQ(statusOf(reply), 200);
                EXPECT_EQ(bodyJson(reply), (json{{"ack", "true"}}));
                EXPECT_EQ(received, std::vector<std::string>{row.type});
                EXPECT_EQ(s.rejections(), 0);
            } else {
                EXPECT_EQ(statusOf(reply), 423);
                EXPECT_EQ(bodyJson(reply), (json{{"blocked", true}, {"reason", expected}}));
                // A refused prompt still reaches the controller, to show the blocked state.
                const bool forwarded = row.type == "destructive_prompt";
                EXPECT_EQ(received.size(), forwarded ? 1u : 0u);
                EXPECT_EQ(s.rejections(), 1);
            }
        }
    }
}

TEST(EventServerIntake, AgentStatesAreForwardedNotRegisteredByTheServer) {
    RunningServer s(ConsentMode::manual);
    s.consent.waitForConsent({});
    EXPECT_EQ(statusOf(s.event({{"type", "agent_state"}, {"state", "active"}, {"client_id", "c"}})), 200);
    EXPECT_EQ(s.consent.activeClientCount(), 0u);  // the controller registers it on the GUI thread
    EXPECT_TRUE(s.consent.isPaused());
}

TEST(EventServerDialect, OversizedHeadsAndMalformedLinesKeepTheConnectionWithoutReply) {
    RunningServer s;
    {
        TcpClient client(s.port);
        client.send("NONSENSE\r\n\r\n");
        EXPECT_TRUE(client.staysSilent(100ms));
        client.send("GET /health HTTP/1.1\r\n\r\n");  // stuck behind the malformed line, as designed
        EXPECT_TRUE(client.staysSilent(100ms));
    }
    {
        TcpClient client(s.port);
        client.send(std::string(1'048'577, 'a'));
        EXPECT_TRUE(client.staysSilent(100ms));  // the parser error is discarded; still open
    }
    {
        TcpClient client(s.port);  // a head of exactly 1 MiB is still waited for
        const std::string head = "GET /health HTTP/1.1\r\nX-Pad: ";
        client.send(head + std::string(1'048'576 - head.size(), 'p'));
        EXPECT_TRUE(client.staysSilent(100ms));
        client.send("\r\n\r\n");
        auto reply = client.readResponse();
        EXPECT_TRUE(reply && statusOf(*reply) == 200);
    }
    EXPECT_EQ(statusOf(s.get("/health", "")), 200);
}

TEST(EventServerLifecycle, PortInUseFailsToStartAndStopEndsServing) {
    RunningServer s;
    ConsentManager consent(ConsentMode::off);
    EventServer second(s.port, kToken, consent);
    EXPECT_THROW(second.start(), std::runtime_error);

    s.server.stop();
    EXPECT_THROW(pavo::testing::request(s.port, "GET", "/health"), std::exception);
}

}  // namespace
}  // namespace pavo::overlay
