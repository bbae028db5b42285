// The agent's front: its command line, the token check, dispatch, and failures as replies.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "agent/command_line.hpp"
#include "agent/server/dispatcher.hpp"
#include "agent/server/replies.hpp"
#include "await.hpp"

namespace pavo::agent {
namespace {

using nlohmann::json;
namespace asio = boost::asio;

const AgentDefaults kDefaults{.token = "", .tokenFile = "/home/u/Vault-Vexlo/secrets/pavo/sidecar-token"};

TEST(CommandLine, OptionsTakeValuesLaterOccurrencesWinAndDefaultsComeFromTheEnvironment) {
    auto r = parseCommandLine({"--port", "+8080", "--token", "a", "--token", "b", "--token-file", "/f",
                               "--executable-path", "/x", "--no-prompt", "install", "permissions"},
                              kDefaults);
    ASSERT_TRUE(r.settings);
    const StartupSettings& s = *r.settings;
    EXPECT_EQ(std::tie(s.port, s.token, s.tokenFile, s.executablePath, s.prompt, s.command),
              std::make_tuple(8080, "b", "/f", "/x", false, "permissions"));
    EXPECT_TRUE(parseCommandLine({"--port", "70000", "permissions"}, kDefaults).settings)
        << "permissions never listens";
    EXPECT_EQ(parseCommandLine({"--port", "65535"}, kDefaults).settings->port, 65535);

    auto set = [](const char* name) -> std::optional<std::string> {
        return std::string(name) == "VEXLO_PAVO_SIDECAR_TOKEN_FILE" ? "/etc/tok" : "";
    };
    EXPECT_EQ(defaultsFromEnvironment(set, "/home/ann").tokenFile, "/etc/tok");
}

TEST(CommandLine, UsageErrorsAndHelpExitInArgumentOrder) {
    // Arguments, exit status, and the line before the usage text (empty: the usage text alone).
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> rows = {
        {{"--port"}, 1, ""},
        {{"-h", "--port"}, 0, ""},
        {{"--port", "eighty", "--help"}, 1, ""},
        {{"--HELP"}, 1, "Unknown command: --HELP"},
        {{"--port", "-1"}, 1, "Error: --port must be between 0 and 65535, got -1"},
        {{"--port", "65536"}, 1, "Error: --port must be between 0 and 65535, got 65536"},
    };
    for (const auto& [args, status, firstLine] : rows) {
        const auto r = parseCommandLine(args, kDefaults);
        auto expected = usageLines(kDefaults);
        if (!firstLine.empty()) expected.insert(expected.begin(), firstLine);
        EXPECT_FALSE(r.settings);
        EXPECT_EQ(std::tie(r.exitStatus, r.output), std::tie(status, expected))
            << args.front() << " " << args.back();
    }
}

TEST(CommandLine, TheTokenIsTheGivenOneAsItIsElseTheTrimmedTokenFileWhenItIsText) {
    StartupSettings s{.token = " given ", .tokenFile = "/tok", .executablePath = {}, .command = {}};
    std::optional<std::string> content = "\t\r\n  spaced token \r\n";
    const auto file = [&](const std::string& path) { return path == "/tok" ? content : std::nullopt; };
    EXPECT_EQ(resolveToken(s, file), " given ");
    s.token = "";
    EXPECT_EQ(resolveToken(s, file), "spaced token");
    content = "bad\xFF";
    EXPECT_EQ(resolveToken(s, file), "");
}

http::HTTPRequest req(std::string method, std::string path, std::string token = "secret") {
    http::HTTPRequest r;
    r.method = std::move(method);
    r.path = std::move(path);
    if (!token.empty()) r.headers["x-pavo-token"] = token;
    return r;
}

RouteHandler answering(std::function<Result<http::HTTPResponse>()> answer) {
    return [answer](const http::HTTPRequest&) -> asio::awaitable<Result<http::HTTPResponse>> {
        co_return answer();
    };
}

// Status and body of every request; a failing route's error reply is tested through the routes themselves.
TEST(Dispatch, HealthTokenRoutesAndThrownFailures) {
    Dispatcher server("secret");
    server.addRoute("POST", "/a", answering([] { return jsonResponse(201, {{"first", true}}); }));
    server.addRoute("POST", "/a", answering([] { return jsonResponse(202, {}); }));
    server.addRoute("POST", "/thrown", answering([]() -> Result<http::HTTPResponse> {
                        throw std::runtime_error("disk on fire");
                    }));
    server.addRoute("POST", "/odd", answering([]() -> Result<http::HTTPResponse> { throw 42; }));
    const json unauthorized = {{"error", "unauthorized"}}, notFound = {{"error", "not_found"}};
    const std::vector<std::tuple<http::HTTPRequest, int, json>> rows = {
        {req("GET", "/health", ""), 200, {{"ok", true}, {"version", "0.2.0"}}},
        {req("POST", "/health"), 404, notFound},
        {req("POST", "/health", ""), 401, unauthorized},
        {req("GET", "/health?x=1", ""), 401, unauthorized},
        {req("POST", "/a"), 201, {{"first", true}}},
        {req("POST", "/a", "Secret"), 401, unauthorized},
        {req("POST", "/a", "secre"), 401, unauthorized},
        {req("POST", "/thrown"), 500, {{"error", "internal_error"}, {"message", "disk on fire"}}},
        {req("POST", "/odd"), 500, {{"error", "internal_error"}, {"message", "unknown error"}}},
    };
    for (const auto& [request, status, body] : rows) {
        SCOPED_TRACE(request.method + " " + request.path);
        const auto reply = testing::await(server.dispatch(request));
        EXPECT_EQ(reply.status, status);
        EXPECT_EQ(json::parse(reply.body, nullptr, false), body);
        EXPECT_EQ(reply.headers.at("Content-Length"), std::to_string(reply.body.size()));
    }
    EXPECT_EQ(jsonResponse(200, {{"text", "bad \xFF utf8"}}).body,
              R"({"error": "json_serialization_failed"})");
}

TEST(Dispatch, TheHeadCheckRefusesWithoutTokenAndBoundsBodies) {
    const Dispatcher server("secret");
    constexpr std::size_t kMiB = 1 << 20;
    // Request, body length, refusal status (0: let through) and whether the connection is kept.
    const std::vector<std::tuple<http::HTTPRequest, std::size_t, int, bool>> rows = {
        {req("GET", "/health", ""), 100, 0, false},
        {req("POST", "/ax/tree"), 64 * kMiB, 0, false},
        {req("POST", "/ax/tree", "wrong"), 10, 401, true},
        {req("POST", "/ax/tree", ""), kMiB + 1, 401, false},
    };
    for (const auto& [head, length, status, keep] : rows) {
        const auto refusal = server.checkHead(head, length);
        EXPECT_EQ(refusal ? std::make_pair(refusal->response.status, refusal->keepConnection)
                          : std::make_pair(0, false),
                  std::make_pair(status, keep))
            << head.path << " " << length;
    }
}

}  // namespace
}  // namespace pavo::agent
