#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include <nlohmann/json.hpp>

#include "agent/server/dispatcher.hpp"
#include "agent/server/replies.hpp"
#include "common/json_fields.hpp"

namespace pavo::agent {
namespace {

using nlohmann::json;
namespace asio = boost::asio;

http::HTTPResponse run(const Dispatcher& server, http::HTTPRequest request) {
    asio::io_context io;
    auto future = asio::co_spawn(io, server.dispatch(std::move(request)), asio::use_future);
    io.run();
    return future.get();
}

http::HTTPRequest req(std::string method, std::string path, std::string token = "secret") {
    http::HTTPRequest r;
    r.method = std::move(method);
    r.path = std::move(path);
    if (!token.empty()) r.headers["x-pavo-token"] = token;
    return r;
}

json bodyOf(const http::HTTPResponse& r) {
    return json::parse(r.body);
}

RouteHandler replying(int status) {
    return [status](const http::HTTPRequest&) -> asio::awaitable<Result<http::HTTPResponse>> {
        co_return jsonResponse(status, {{"ok", true}});
    };
}

RouteHandler failing(AgentError error) {
    return
        [error](const http::HTTPRequest&) -> asio::awaitable<Result<http::HTTPResponse>> { co_return error; };
}

RouteHandler throwing(std::function<void()> thrower) {
    return [thrower](const http::HTTPRequest&) -> asio::awaitable<Result<http::HTTPResponse>> {
        thrower();
        co_return jsonResponse(200, json::object());
    };
}

TEST(Dispatch, HealthNeedsNoTokenButOnlyAnswersExactlyGetHealth) {
    Dispatcher server("secret");
    auto health = run(server, req("GET", "/health", ""));
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(bodyOf(health), json({{"ok", true}, {"version", "0.2.0"}}));
    EXPECT_EQ(health.headers.at("Content-Type"), "application/json");
    EXPECT_EQ(health.headers.at("Content-Length"), std::to_string(health.body.size()));

    EXPECT_EQ(run(server, req("POST", "/health")).status, 404);
    EXPECT_EQ(run(server, req("POST", "/health", "")).status, 401);
    EXPECT_EQ(run(server, req("GET", "/health?x=1", "")).status, 401);
    auto query = run(server, req("GET", "/health?x=1"));
    EXPECT_EQ(query.status, 404);
    EXPECT_EQ(bodyOf(query), json({{"error", "not_found"}}));
}

TEST(Dispatch, TokenMustMatchExactly) {
    Dispatcher server("secret");
    server.addRoute("POST", "/ax/tree", replying(200));
    for (const char* wrong : {"", "Secret", "SECRET", "secret ", " secret", "secre", "secretx"}) {
        auto r = req("POST", "/ax/tree", wrong);
        if (std::string(wrong).empty()) r.headers.clear();
        auto reply = run(server, r);
        EXPECT_EQ(reply.status, 401) << '"' << wrong << '"';
        EXPECT_EQ(bodyOf(reply), json({{"error", "unauthorized"}}));
    }
    EXPECT_EQ(run(server, req("POST", "/ax/tree")).status, 200);
}

TEST(Dispatch, RoutesMatchMethodAndPathExactlyInOrderAndNeverAnswer405) {
    Dispatcher server("secret");
    server.addRoute("POST", "/a", replying(201));
    server.addRoute("POST", "/a", replying(202));
    server.addRoute("GET", "/b", replying(200));
    EXPECT_EQ(run(server, req("POST", "/a")).status, 201);
    EXPECT_EQ(run(server, req("post", "/a")).status, 404);
    EXPECT_EQ(run(server, req("GET", "/a")).status, 404);
    EXPECT_EQ(run(server, req("GET", "/b/")).status, 404);
    EXPECT_EQ(run(server, req("GET", "/b?q")).status, 404);
    EXPECT_EQ(run(server, req("GET", "/b")).status, 200);
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
        {{ErrorCode::elementNotFound}, 404, {{"error", "element_not_found"}}},
        {{ErrorCode::noFrontmostApp}, 500, {{"error", "could_not_get_frontmost_app"}}},
        {{ErrorCode::actionFailed, {}, "no frame"}, 500, {{"error", "action_failed"}, {"hint", "no frame"}}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        server.addRoute("POST", "/e" + std::to_string(i), failing(std::get<0>(cases[i])));
    }
    server.addRoute("POST", "/other", throwing([] { throw std::runtime_error("disk on fire"); }));
    server.addRoute("POST", "/weird", throwing([] { throw 42; }));

    for (std::size_t i = 0; i < cases.size(); ++i) {
        auto reply = run(server, req("POST", "/e" + std::to_string(i)));
        EXPECT_EQ(reply.status, std::get<1>(cases[i]));
        EXPECT_EQ(bodyOf(reply), std::get<2>(cases[i]));
    }
    auto other = run(server, req("POST", "/other"));
    EXPECT_EQ(other.status, 500);
    EXPECT_EQ(bodyOf(other), json({{"error", "internal_error"}, {"message", "disk on fire"}}));
    auto weird = run(server, req("POST", "/weird"));
    EXPECT_EQ(weird.status, 500);
    EXPECT_EQ(bodyOf(weird)["error"], "internal_error");
}

TEST(Dispatch, HeadCheckRefusesWithoutTokenAndBoundsBodies) {
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
        {req("POST", "/ax/tree", ""), 4'000'000'000, 401, false},
    };
    for (const Row& row : rows) {
        const auto refusal = server.checkHead(row.head, row.bodyLength);
        ASSERT_EQ(refusal.has_value(), row.status.has_value()) << row.head.path << " " << row.bodyLength;
        if (!refusal) continue;
        EXPECT_EQ(refusal->response.status, *row.status);
        EXPECT_EQ(refusal->keepConnection, row.keepConnection) << row.bodyLength;
    }
}

TEST(JsonResponse, IsCompactWithExactlyTwoHeadersAndSurvivesUnserialisableText) {
    auto r = jsonResponse(201, {{"a", 1}, {"b", {1, 2}}});
    EXPECT_EQ(r.status, 201);
    EXPECT_EQ(r.body, R"({"a":1,"b":[1,2]})");
    EXPECT_EQ(r.headers.size(), 2u);
    EXPECT_EQ(r.headers.at("Content-Length"), std::to_string(r.body.size()));

    auto broken = jsonResponse(200, {{"text", "bad \xFF utf8"}});
    EXPECT_EQ(broken.status, 200);
    EXPECT_EQ(broken.body, R"({"error": "json_serialization_failed"})");
    EXPECT_EQ(broken.headers.at("Content-Length"), std::to_string(broken.body.size()));

    EXPECT_EQ(errorReply({ErrorCode::elementNotFound, "gone", "refresh"}).body,
              R"({"error":"element_not_found","hint":"refresh","message":"gone"})");
}

TEST(BodyDecoding, IntegerFieldsAcceptOnlyIntegersOrNull) {
    auto ok = common::uniformObject<std::int64_t>(R"({"root_pid": 812, "other": null, "neg": -3})");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->at("root_pid"), 812);
    EXPECT_EQ(ok->at("other"), std::nullopt);
    EXPECT_EQ(ok->at("neg"), -3);
    EXPECT_TRUE(common::uniformObject<std::int64_t>("{}"));
    for (const char* bad :
         {"", "   ", "[]", "null", "42", R"({"root_pid": 1, "x": "s"})", R"({"root_pid": 1.0})",
          R"({"root_pid": 1.5})", R"({"root_pid": true})", R"({"root_pid": 9223372036854775808})",
          R"({"root_pid": {}})", "{", "{\"a\":1,}"}) {
        EXPECT_FALSE(common::uniformObject<std::int64_t>(bad)) << bad;
    }
    auto big = common::uniformObject<std::int64_t>(R"({"root_pid": 9223372036854775807})");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->at("root_pid"), INT64_MAX);
}

TEST(BodyDecoding, StringFieldsAcceptOnlyStringsOrNull) {
    auto ok =
        common::uniformObject<std::string>(R"({"app_bundle_id": "org.gnome.Zenity", "batch_id": null})");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->at("app_bundle_id"), "org.gnome.Zenity");
    EXPECT_EQ(ok->at("batch_id"), std::nullopt);
    for (const char* bad : {"", "[]", R"({"a": 1})", R"({"a": ["x"]})", "\"s\"", "{\"a\": \"\xFF\"}"}) {
        EXPECT_FALSE(common::uniformObject<std::string>(bad)) << bad;
    }
}

}  // namespace
}  // namespace pavo::agent
