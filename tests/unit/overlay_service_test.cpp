// pavo-overlay's service without widgets: its command line, overlay.sock, and the event server's replies
// through its dispatch function, decoding and consent included (only listening needs a socket).

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "common/files.hpp"
#include "common/version.hpp"
#include "overlay/service/command_line.hpp"
#include "overlay/service/event_server.hpp"
#include "overlay/service/socket_file.hpp"

namespace pavo::overlay {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Env = std::map<std::string, std::string>;
using enum ConsentMode;

// ---- command line ------------------------------------------------------------------------------------

CLIConfig parse(const std::vector<std::string>& arguments, const Env& env = {}) {
    return parseCLI(arguments, [env](const char* name) -> std::optional<std::string> {
        return env.contains(name) ? std::optional(env.at(name)) : std::nullopt;
    });
}

TEST(OverlayCommandLine, ArgumentsOverTheEnvironmentAndNothingFails) {
    // The arguments and the environment, then the port, token, consent mode and whether to install.
    const std::tuple<std::vector<std::string>, Env, std::int64_t, std::string, ConsentMode, bool> rows[] = {
        {{"--port", "9000", "--port", "x"}, {}, 9000, "", off, false},
        {{"--consent", "manual", "--consent", "bogus"}, {}, 47825, "", off, false},
        {{"--consent", "off"}, {{"VEXLO_PAVO_CONSENT_MODE", "manual"}}, 47825, "", off, false},
        {{"--verbose", "install", "-p", "1", "--Port", "2", "INSTALL"}, {}, 47825, "", off, true},
    };
    for (const auto& [args, env, port, token, consent, install] : rows) {
        const CLIConfig c = parse(args, env);
        EXPECT_EQ(std::tie(c.port, c.token, c.consent, c.shouldInstall, c.showMenuBar),
                  std::make_tuple(port, token, consent, install, true))
            << ::testing::PrintToString(args);
    }
    EXPECT_FALSE(parse({"--no-menu-bar"}).showMenuBar);
    for (auto [value, shown] : {std::pair{" Hidden\n", false}, {"1", true}})
        EXPECT_EQ(parse({}, {{"VEXLO_PAVO_OVERLAY_MENU_BAR", value}}).showMenuBar, shown) << value;
    EXPECT_TRUE(isUsablePort(65535) && !isUsablePort(-1));  // 65536 is refused by the process test
}

// ---- overlay.sock ------------------------------------------------------------------------------------

mode_t modeOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// Points HOME at a fresh directory, with the widest umask, for one test.
class SocketFile : public ::testing::Test {
  protected:
    pavo::testing::TempDir home;
    std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    mode_t savedMask = ::umask(0);
    std::string directory = overlaySocketDirectory(home.path());
    std::string path = overlaySocketPath(home.path());

    void SetUp() override { ::setenv("HOME", home.path().c_str(), 1); }
    void TearDown() override {
        ::umask(savedMask);
        ::setenv("HOME", savedHome.c_str(), 1);
    }
};

TEST_F(SocketFile, CompactJsonOwnerOnlyInOwnerOnlyDirectoriesReplacedWhole) {
    ASSERT_EQ(::mkdir((home.path() + "/Library").c_str(), 0755), 0);  // an existing one is left alone
    writeOverlaySocketFile(47825, "s3cret \"quoted\"");
    EXPECT_EQ(common::readFile(path), R"({"port":47825,"token":"s3cret \"quoted\""})");
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(home.path() + "/Library"), 0755u);
    for (std::string dir = directory; dir != home.path() + "/Library"; dir = dir.substr(0, dir.rfind('/'))) {
        EXPECT_EQ(modeOf(dir), 0700u) << dir;
    }
    // That a replacement is never seen half written or wider shows in the next test.
    writeOverlaySocketFile(2222, "second");
    EXPECT_EQ(common::readFile(path), R"({"port":2222,"token":"second"})");
    EXPECT_EQ(std::distance(fs::directory_iterator(directory), {}), 1);  // no temporaries left
}

TEST_F(SocketFile, NeverObservableHalfWrittenOrWithWiderPermissions) {
    writeOverlaySocketFile(1, "t");
    std::atomic<bool> done{false};
    std::atomic<int> looks{0}, wider{0}, unreadable{0};
    // Looks at every file in the directory, temporaries included, and reads overlay.sock each time.
    std::thread watcher([&] {
        while (!done) {
            std::error_code gone;
            for (const auto& entry : fs::directory_iterator(directory, gone)) {
                ++looks;
                const mode_t mode = modeOf(entry.path());
                wider += mode != 07777 && (mode & 077);
                if (entry.path() != path) continue;
                const auto content = common::readFile(path);
                if (!content) continue;  // replaced between listing and opening
                const json object = json::parse(*content, nullptr, false);
                unreadable += object.is_discarded() || !object.contains("token");
            }
        }
    });
    const std::string padding(4096, 'x');  // a write large enough to be seen half done
    for (int i = 0; i < 300 || (looks < 3000 && i < 30000); ++i) {  // until the watcher has looked often
        if (i % 2) ::unlink(path.c_str());                          // both a fresh file and a replacement
        writeOverlaySocketFile(i, padding + std::to_string(i));
    }
    done = true;
    watcher.join();
    EXPECT_GE(looks.load(), 3000);
    EXPECT_EQ(wider.load(), 0);
    EXPECT_EQ(unreadable.load(), 0);
}

TEST_F(SocketFile, FailuresAreReported) {
    ASSERT_EQ(::mkdir((home.path() + "/Library").c_str(), 0700), 0);
    const std::string blocker = home.write("file", "x");  // a file where a directory is needed
    ASSERT_EQ(::symlink(blocker.c_str(), (home.path() + "/Library/Application Support").c_str()), 0);
    EXPECT_THROW(writeOverlaySocketFile(1, "t"), std::system_error);
    EXPECT_ANY_THROW(socketFileContent(1, "\xFF"));  // not writable as JSON text
}

// ---- events ------------------------------------------------------------------------------------------

const std::map<std::string, std::string> kAuth{{"x-overlay-token", "T0ken"}};

struct Reply {
    int status;
    json body;
};

class Server {
  public:
    explicit Server(ConsentMode mode = off)
        : consent(mode), server(0, "T0ken", consent, [this] { return start + elapsed; }) {
        server.onEvent = [this](const OverlayEvent& event) { received.emplace_back(typeName(event)); };
    }

    Reply send(const std::string& method, const std::string& path,
               const std::map<std::string, std::string>& headers = kAuth, const std::string& body = "") {
        const http::HTTPResponse reply = server.dispatch({method, path, headers, body});
        EXPECT_EQ(reply.headers.at("Content-Type"), "application/json");
        return {reply.status, json::parse(reply.body)};
    }
    Reply get(const std::string& path) { return send("GET", path); }
    Reply event(const json& body) { return send("POST", "/event", kAuth, body.dump()); }

    ConsentManager consent;
    const std::chrono::steady_clock::time_point start{};
    std::chrono::milliseconds elapsed{0};
    EventServer server;
    std::vector<std::string> received;
};

json blocked(const std::string& reason) {
    return {{"blocked", true}, {"reason", reason}};
}

// What the server makes of a body: "ok:<type>" forwarded, "ignored" (an unknown type), or its error.
std::string outcome(const std::string& body) {
    Server s;
    const Reply reply = s.send("POST", "/event", kAuth, body);
    EXPECT_EQ(s.server.rejectionCount(), 0);  // a bad document is no refusal
    if (reply.body.contains("error")) {
        EXPECT_TRUE(reply.status == 400 && s.received.empty());
        return reply.body["error"];
    }
    return reply.body.contains("ignored") ? "ignored" : "ok:" + s.received.at(0);
}

TEST(EventServer, WhichDocumentsDecodeAndTheExactFailures) {
    const std::string audit = R"("type":"audit_log","ts":"","tool":"","args_hash":"","result":"")";
    const std::pair<std::string, std::string> rows[] = {
        // "ok:" and the type decoded; "ignored" for an unknown type, matched exactly
        {R"({"type":"cursor_halo","x":1,"y":2})", "ok:cursor_halo"},
        {R"({"type":"key_chord_pill","chord":""})", "ok:key_chord_pill"},
        {R"({"type":"destructive_prompt","id":"p","action":"a","ttlSeconds":null,"target":null})",
         "ok:destructive_prompt"},
        {R"({"type":"Cursor_Move","x":1,"y":2})", "ignored"},
        // missing fields, in the order they are checked
        {R"({"type":""})", "missing_field:type"},
        {R"({"type":"cursor_move","x":1,"y":null})", "missing_field:x or y for cursor_move"},
        {R"({"type":"key"})", "missing_field:chord for key"},
        {R"({"type":"element_focus","rect":{"x":1,"y":2,"width":3,"height":4}})",
         "missing_field:frame (x,y,width,height) for element_focus"},
        {R"({"type":"element_bbox","frame":{"x":1,"y":2,"width":3,"height":4}})",
         "missing_field:rect (x,y,width,height) for element_bbox"},
        {R"({"type":"destructive_prompt","action":"click"})", "missing_field:id for destructive_prompt"},
        {R"({"type":"destructive_prepare"})", "missing_field:action for destructive_prepare"},
        {R"({"type":"status"})", "missing_field:state for status"},
        {R"({"type":"agent_state","state":"Active"})", "missing_field:state for agent_state"},
        {R"({"type":"ack"})", "missing_field:id for ack"},
        {R"({"type":"audit_log"})", "missing_field:ts for audit_log"},
        {"{" + audit + "}", "missing_field:elapsed_ms for audit_log"},
        {R"({"type":"audit_log","ts":"t","tool":"x","argsHash":"h","result":"ok","elapsed_ms":1})",
         "missing_field:args_hash for audit_log"},
        // wrong JSON types anywhere, also in members the type does not use
        {"", "malformed_json"},
        {R"({"type":5})", "malformed_json"},
        {R"({"type":"cursor_move","x":"10","y":2})", "malformed_json"},
        {"{" + audit + R"(,"elapsed_ms":9223372036854775808})", "malformed_json"},
        {R"({"type":"key","chord":"cmd+c","elapsed_ms":2.5})", "malformed_json"},
        {R"({"type":"ack","id":"a","frame":[1,2,3,4]})", "malformed_json"},
    };
    for (const auto& [body, expected] : rows) EXPECT_EQ(outcome(body), expected) << body;
}

template <typename Event>
Event as(const std::string& body) {
    return std::get<Event>(EventDecoder::decode(body).value());
}

TEST(EventDecoder, BuildsEachCaseFromItsMembers) {
    using namespace events;
    EXPECT_EQ(as<CursorMove>(R"({"type":"cursor_move","x":10,"y":20.5,"extra":[1]})").at, (Point{10, 20.5}));
    const std::string frame = R"({"x":1,"y":2,"width":3,"height":4.5,"z":9})";
    EXPECT_EQ(as<ElementFocus>(R"({"type":"element_focus","frame":)" + frame + "}").frame,
              (Rect{1, 2, 3, 4.5}));
    const auto prompt = as<DestructivePrompt>(
        R"({"type":"destructive_prompt","id":"p1","action":"click","target":"e1","ttlSeconds":30})");
    EXPECT_EQ(
        std::tie(prompt.id, prompt.action, prompt.target, prompt.ttlSeconds),
        std::make_tuple("p1", "click", std::optional<std::string>("e1"), std::optional<std::int64_t>(30)));
    const auto paused = as<AgentStateChange>(R"({"type":"agent_state","state":"paused","client_id":"c"})");
    EXPECT_EQ(std::tie(paused.state, paused.clientId), std::make_tuple(AgentState::paused, "c"));
    const auto audit = as<AuditLog>(R"({"type":"audit_log","ts":"t","tool":"ax_click","args_hash":"ab",)"
                                    R"("result":"denied","elapsed_ms":-12,"reason":"r"})");
    EXPECT_EQ(std::tie(audit.ts, audit.tool, audit.argsHash, audit.result, audit.elapsedMs, audit.reason),
              std::make_tuple("t", "ax_click", "ab", "denied", -12, std::optional<std::string>("r")));
}

TEST(EventServer, HealthIsOpenEverythingElseNeedsTheTokenThenARoute) {
    const std::tuple<std::string, std::string, std::map<std::string, std::string>, int> rows[] = {
        {"GET", "/health", {}, 200},
        {"GET", "/no/such/path", {}, 401},  // authentication comes before the route
        {"GET", "/stats", {{"x-overlay-token", "t0ken"}}, 401},
        {"GET", "/stats", {{"x-pavo-token", "T0ken"}}, 401},  // the agent's header
        {"GET", "/state", {{"x-pavo-overlay-token", "T0ken"}}, 200},
        // only the first header present is tried
        {"GET", "/state", {{"x-overlay-token", "wrong"}, {"x-pavo-overlay-token", "T0ken"}}, 401},
        {"GET", "/state", {{"x-overlay-token", "T0ken"}, {"x-pavo-overlay-token", "wrong"}}, 200},
        {"POST", "/stats", kAuth, 404},
    };
    Server s;
    int refused = 0;
    for (const auto& [method, path, headers, status] : rows) {
        const Reply reply = s.send(method, path, headers);
        EXPECT_EQ(reply.status, status) << method << " " << path;
        if (status == 200) continue;
        refused += status == 401;  // a 404 is not a rejection
        EXPECT_EQ(reply.body, json({{"error", status == 401 ? "unauthorized" : "not_found"}})) << path;
    }
    EXPECT_EQ(s.send("GET", "/health", {}).body, json({{"ok", "true"}, {"version", common::kVersion}}));
    EXPECT_EQ(s.server.rejectionCount(), refused);
}

TEST(EventServer, StatsAndState) {
    // The other operator modes are read back by the process and desktop tests.
    Server s;
    s.elapsed = std::chrono::milliseconds(2999);
    EXPECT_EQ(s.get("/stats").body, json({{"rejections", 0}, {"uptimeSeconds", 2}}));
    EXPECT_EQ(s.get("/state").body, json({{"operator_mode", "allow"}, {"mutations_blocked", false}}));
}

TEST(EventServer, ConsentAnswersArePendingUntilStoredAndPendingAgainOnANewPrompt) {
    Server s;
    s.consent.storeResolution("g", {true, std::nullopt});
    s.consent.storeResolution("d", {false, "consent_denied"});
    const Reply granted = s.get("/consent/g"), denied = s.get("/consent/d");
    EXPECT_EQ(std::pair(granted.status, granted.body), std::pair(200, json({{"consent", "granted"}})));
    EXPECT_EQ(std::pair(denied.status, denied.body), std::pair(423, blocked("consent_denied")));
    EXPECT_EQ(s.event({{"type", "destructive_prompt"}, {"id", "g"}, {"action", "click"}}).status, 200);
    EXPECT_EQ(s.get("/consent/g").body, blocked("consent_pending"));

    // Refused while blocked: the refusal is the answer.
    s.consent.setOperatorMode(OperatorMode::block);
    EXPECT_EQ(s.event({{"type", "destructive_prompt"}, {"id", "b"}, {"action", "type"}}).status, 423);
    EXPECT_EQ(s.get("/consent/b").body, blocked("circuit_breaker_open"));
    EXPECT_EQ(s.server.rejectionCount(), 1);  // only the refused prompt; pending answers are not rejections
}

TEST(EventServer, EventsAreLetThroughOrRefusedByConsentModeAndOperatorState) {
    // An event type, the operator state ("running", "waiting": a destructive action awaits the operator,
    // "blocked", or "released": blocked, then allowed again) and the reply in the consent modes
    // off, destructive_only and manual: "ok" is an acknowledgement (the event is forwarded), anything else a
    // 423 reason (counted as a rejection).
    for (const std::string row : {
             "cursor_move running ok ok manual_mode",
             "cursor_move waiting agent_paused agent_paused agent_paused",
             "cursor_move released ok ok manual_mode",
             "destructive_prepare blocked agent_blocked agent_blocked agent_blocked",
             "destructive_prompt running ok ok ok",
             "destructive_prompt blocked circuit_breaker_open circuit_breaker_open circuit_breaker_open",
             "ack waiting ok ok ok",
             "agent_state blocked ok ok ok",
         }) {
        std::istringstream words(row);
        std::string type, state, expected;
        words >> type >> state;
        for (ConsentMode mode : {off, destructive_only, manual}) {
            words >> expected;
            SCOPED_TRACE(row + " in mode " + std::string(toString(mode)));
            Server s(mode);
            if (state == "waiting") s.consent.waitForConsent({});
            if (state == "blocked" || state == "released") s.consent.setOperatorMode(OperatorMode::block);
            if (state == "released") s.consent.setOperatorMode(OperatorMode::allow);
            // Every member these types need; each ignores the others.
            const Reply reply = s.event(
                {{"type", type}, {"x", 1}, {"y", 2}, {"action", "click"}, {"id", "p"}, {"state", "active"}});
            EXPECT_EQ(reply.body, expected == "ok" ? json({{"ack", "true"}}) : blocked(expected));
            // A refused prompt still reaches the controller, to show the blocked state.
            const bool forwarded = expected == "ok" || type == "destructive_prompt";
            EXPECT_EQ(s.received, forwarded ? std::vector<std::string>{type} : std::vector<std::string>{});
            EXPECT_EQ(s.server.rejectionCount(), expected == "ok" ? 0 : 1);
        }
    }
}

}  // namespace
}  // namespace pavo::overlay
