// The agent's front: its command line, the token check, dispatch and the mapping of failures to replies.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "agent/command_line.hpp"
#include "agent/permission_report.hpp"
#include "agent/server/dispatcher.hpp"
#include "agent/server/replies.hpp"
#include "await.hpp"

namespace pavo::agent {
namespace {

using nlohmann::json;
namespace asio = boost::asio;

AgentDefaults defaults() {
    AgentDefaults d;
    d.tokenFile = "/home/u/Vault-Vexlo/secrets/pavo/sidecar-token";
    return d;
}

ParsedCommandLine parse(std::vector<std::string> args) {
    return parseCommandLine(args, defaults());
}

TEST(CommandLine, DefaultsComeFromTheEnvironmentAndTheHomeDirectory) {
    auto none = [](const char*) -> std::optional<std::string> { return std::nullopt; };
    EXPECT_EQ(defaultsFromEnvironment(none, "/home/ann").tokenFile,
              "/home/ann/Vault-Vexlo/secrets/pavo/sidecar-token");
    auto set = [](const char* name) -> std::optional<std::string> {
        return std::string(name) == "VEXLO_PAVO_SIDECAR_TOKEN" ? "envtoken" : "/etc/tok";
    };
    const AgentDefaults fromEnv = defaultsFromEnvironment(set, "/home/ann");
    EXPECT_EQ(fromEnv.token, "envtoken");
    EXPECT_EQ(fromEnv.tokenFile, "/etc/tok");
    EXPECT_NE(usageLines(defaults())[4].find("(default: /home/u/Vault-Vexlo/secrets/pavo/sidecar-token)"),
              std::string::npos);
}

TEST(CommandLine, OptionsTakeValuesAndLaterOccurrencesWin) {
    auto r = parse({"--port", "+8080", "--token", "a", "--token", "b", "--token-file", "/f",
                    "--executable-path", "/x", "--no-prompt", "install", "permissions"});
    ASSERT_TRUE(r.settings);
    EXPECT_EQ(r.settings->port, 8080);
    EXPECT_EQ(r.settings->token, "b");
    EXPECT_EQ(r.settings->tokenFile, "/f");
    EXPECT_EQ(r.settings->executablePath, "/x");
    EXPECT_FALSE(r.settings->prompt);
    EXPECT_EQ(r.settings->command, "permissions");
    EXPECT_TRUE(parse({"--port", "70000", "permissions"}).settings) << "permissions never listens";
    EXPECT_EQ(parse({"--port", "65535"}).settings->port, 65535);
}

TEST(CommandLine, UsageErrorsAndHelpExitInArgumentOrder) {
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string firstLine;  // before the usage text; empty: the usage text alone
    };
    const std::vector<Row> rows = {
        {{"--port"}, 1, ""},
        {{"--executable-path"}, 1, ""},
        {{"--port", "80", "--help"}, 0, ""},
        {{"-h", "--port"}, 0, ""},
        {{"--port", "eighty", "--help"}, 1, ""},
        {{"serve"}, 1, "Unknown command: serve"},
        {{"--HELP"}, 1, "Unknown command: --HELP"},
        {{"--port", "-1"}, 1, "Error: --port must be between 0 and 65535, got -1"},
        {{"--port", "65536"}, 1, "Error: --port must be between 0 and 65535, got 65536"},
    };
    for (const Row& row : rows) {
        const auto r = parse(row.args);
        EXPECT_FALSE(r.settings) << row.args[0];
        EXPECT_EQ(r.exitStatus, row.status) << row.args[0];
        auto expected = usageLines(defaults());
        if (!row.firstLine.empty()) expected.insert(expected.begin(), row.firstLine);
        EXPECT_EQ(r.output, expected) << row.args[0];
    }
}

TEST(CommandLine, TheTokenIsTheGivenOneElseTheTrimmedTokenFile) {
    StartupSettings s;
    s.tokenFile = "/tok";
    auto file = [](std::optional<std::string> content) {
        return [content](const std::string& path) { return path == "/tok" ? content : std::nullopt; };
    };
    s.token = " given ";
    EXPECT_EQ(resolveToken(s, file("fromfile")), " given ") << "given tokens are not trimmed";
    s.token = "";
    for (const auto& [content, token] : std::vector<std::pair<std::optional<std::string>, std::string>>{
             {"\t\r\n  spaced token \r\n", "spaced token"},
             {std::nullopt, ""},
             {"\n\n", ""},
             {"bad\xFF", ""}}) {
        EXPECT_EQ(resolveToken(s, file(content)), token) << content.value_or("(none)");
    }
}

TEST(PermissionReport, LinesAndStatusFollowWhatIsGranted) {
    const auto granted = permissionReport("/opt/pavo-agent", {true, true, "do a", "do s"});
    EXPECT_TRUE(granted.granted);
    EXPECT_EQ(granted.lines, (std::vector<std::string>{"executable=/opt/pavo-agent", "accessibility=granted",
                                                       "screen_recording=granted"}));
    const auto none = permissionReport("", {false, false, "do a", "do s"});
    EXPECT_FALSE(none.granted);
    EXPECT_EQ(none.lines, (std::vector<std::string>{"executable=unknown", "accessibility=missing",
                                                    "screen_recording=missing", "hint_accessibility=do a",
                                                    "hint_screen_recording=do s"}));
    EXPECT_FALSE(permissionReport("x", {true, false, "do a", "do s"}).granted);
}

http::HTTPRequest req(std::string method, std::string path, std::string token = "secret") {
    http::HTTPRequest r;
    r.method = std::move(method);
    r.path = std::move(path);
    if (!token.empty()) r.headers["x-pavo-token"] = token;
    return r;
}

std::pair<int, json> run(const Dispatcher& server, http::HTTPRequest request) {
    const auto reply = testing::await(server.dispatch(std::move(request)));
    EXPECT_EQ(reply.headers.at("Content-Length"), std::to_string(reply.body.size()));
    return {reply.status, json::parse(reply.body, nullptr, false)};
}

RouteHandler answering(std::function<Result<http::HTTPResponse>()> answer) {
    return [answer](const http::HTTPRequest&) -> asio::awaitable<Result<http::HTTPResponse>> {
        co_return answer();
    };
}

TEST(Dispatch, HealthTokenAndRoutes) {
    Dispatcher server("secret");
    server.addRoute("POST", "/a", answering([] { return jsonResponse(201, {{"first", true}}); }));
    server.addRoute("POST", "/a", answering([] { return jsonResponse(202, {}); }));
    server.addRoute("GET", "/b", answering([] { return jsonResponse(200, {}); }));
    const std::vector<std::tuple<http::HTTPRequest, int, json>> rows = {
        {req("GET", "/health", ""), 200, {{"ok", true}, {"version", "0.2.0"}}},
        {req("POST", "/health"), 404, {{"error", "not_found"}}},
        {req("POST", "/health", ""), 401, {{"error", "unauthorized"}}},
        {req("GET", "/health?x=1", ""), 401, {{"error", "unauthorized"}}},
        {req("POST", "/a"), 201, {{"first", true}}},
        {req("POST", "/a", "Secret"), 401, {{"error", "unauthorized"}}},
        {req("POST", "/a", "secret "), 401, {{"error", "unauthorized"}}},
        {req("POST", "/a", "secre"), 401, {{"error", "unauthorized"}}},
        {req("post", "/a"), 404, {{"error", "not_found"}}},
        {req("GET", "/a"), 404, {{"error", "not_found"}}},
        {req("GET", "/b?q"), 404, {{"error", "not_found"}}},
    };
    for (const auto& [request, status, body] : rows) {
        EXPECT_EQ(run(server, request), std::make_pair(status, body))
            << request.method << " " << request.path;
    }
}

TEST(Dispatch, FailuresBecomeJsonErrorReplies) {
    Dispatcher server("secret");
    const std::vector<std::tuple<AgentError, int, json>> cases = {
        {{ErrorCode::badRequest, "maxResults: expected an integer"},
         400,
         {{"error", "bad_request"}, {"message", "maxResults: expected an integer"}}},
        {{ErrorCode::invalidInput, {}, "direction"},
         400,
         {{"error", "invalid_input"}, {"hint", "direction"}}},
        {{ErrorCode::permissionMissing, {}, "start it"},
         403,
         {{"error", "ax_permission_missing"}, {"hint", "start it"}}},
        {{ErrorCode::consentDenied}, 403, {{"error", "consent_denied"}}},
        {{ErrorCode::elementNotFound, "gone", "refresh"},
         404,
         {{"error", "element_not_found"}, {"message", "gone"}, {"hint", "refresh"}}},
        {{ErrorCode::noFrontmostApp}, 500, {{"error", "could_not_get_frontmost_app"}}},
        {{ErrorCode::actionFailed, {}, "no frame"}, 500, {{"error", "action_failed"}, {"hint", "no frame"}}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const AgentError error = std::get<0>(cases[i]);
        server.addRoute("POST", "/e" + std::to_string(i), answering([error] { return error; }));
    }
    server.addRoute("POST", "/thrown", answering([]() -> Result<http::HTTPResponse> {
                        throw std::runtime_error("disk on fire");
                    }));
    server.addRoute("POST", "/odd", answering([]() -> Result<http::HTTPResponse> { throw 42; }));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(run(server, req("POST", "/e" + std::to_string(i))),
                  std::make_pair(std::get<1>(cases[i]), std::get<2>(cases[i])));
    }
    EXPECT_EQ(run(server, req("POST", "/thrown")),
              std::make_pair(500, json({{"error", "internal_error"}, {"message", "disk on fire"}})));
    EXPECT_EQ(run(server, req("POST", "/odd")).first, 500);

    EXPECT_EQ(jsonResponse(201, {{"a", 1}, {"b", {1, 2}}}).body, R"({"a":1,"b":[1,2]})");
    const auto broken = jsonResponse(200, {{"text", "bad \xFF utf8"}});
    EXPECT_EQ(broken.status, 200);
    EXPECT_EQ(broken.body, R"({"error": "json_serialization_failed"})");
}

TEST(Dispatch, TheHeadCheckRefusesWithoutTokenAndBoundsBodies) {
    const Dispatcher server("secret");
    constexpr std::size_t kMiB = 1 << 20;
    struct Row {
        http::HTTPRequest head;
        std::size_t bodyLength;
        std::optional<int> status;  // nothing: let through
        bool keepConnection;
    };
    const std::vector<Row> rows = {
        {req("GET", "/health", ""), 100, std::nullopt, false},
        {req("POST", "/ax/tree"), 64 * kMiB, std::nullopt, false},
        {req("POST", "/ax/tree"), 64 * kMiB + 1, 413, false},
        {req("POST", "/ax/tree", "wrong"), 10, 401, true},
        {req("POST", "/ax/tree", ""), kMiB, 401, true},
        {req("POST", "/ax/tree", ""), kMiB + 1, 401, false},
    };
    for (const Row& row : rows) {
        const auto refusal = server.checkHead(row.head, row.bodyLength);
        ASSERT_EQ(refusal.has_value(), row.status.has_value()) << row.head.path << " " << row.bodyLength;
        if (!refusal) continue;
        EXPECT_EQ(refusal->response.status, *row.status);
        EXPECT_EQ(refusal->keepConnection, row.keepConnection) << row.bodyLength;
    }
}

}  // namespace
}  // namespace pavo::agent
