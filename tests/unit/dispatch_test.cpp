#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include <nlohmann/json.hpp>

#include "agent/body_decoding.hpp"
#include "agent/http_error.hpp"
#include "agent/http_server.hpp"
#include "agent/json_response.hpp"

namespace pavo::agent {
namespace {

using nlohmann::json;
namespace asio = boost::asio;

http::HTTPResponse run(const HTTPServer& server, http::HTTPRequest request) {
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

json bodyOf(const http::HTTPResponse& r) { return json::parse(r.body); }

RouteHandler replying(int status) {
    return [status](const http::HTTPRequest&) -> asio::awaitable<http::HTTPResponse> {
        co_return jsonResponse(status, {{"ok", true}});
    };
}

RouteHandler throwing(std::function<void()> thrower) {
    return [thrower](const http::HTTPRequest&) -> asio::awaitable<http::HTTPResponse> {
        thrower();
        co_return jsonResponse(200, json::object());
    };
}

TEST(Dispatch, HealthNeedsNoTokenButOnlyAnswersExactlyGetHealth) {
    HTTPServer server("secret");
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
    HTTPServer server("secret");
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
    HTTPServer server("secret");
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

TEST(Dispatch, HandlerFailuresBecomeJsonErrorReplies) {
    HTTPServer server("secret");
    const std::vector<std::tuple<HTTPErrorKind, int, std::string>> cases = {
        {HTTPErrorKind::invalidRequest, 500, "internal_error"},
        {HTTPErrorKind::notFound, 404, "not_found"},
        {HTTPErrorKind::methodNotAllowed, 405, "method_not_allowed"},
        {HTTPErrorKind::badRequest, 400, "bad_request"},
        {HTTPErrorKind::unauthorized, 401, "unauthorized"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto kind = std::get<0>(cases[i]);
        server.addRoute("POST", "/e" + std::to_string(i), throwing([kind] { throw HTTPError(kind); }));
    }
    server.addRoute("POST", "/other", throwing([] { throw std::runtime_error("disk on fire"); }));
    server.addRoute("POST", "/weird", throwing([] { throw 42; }));

    for (std::size_t i = 0; i < cases.size(); ++i) {
        auto reply = run(server, req("POST", "/e" + std::to_string(i)));
        EXPECT_EQ(reply.status, std::get<1>(cases[i]));
        EXPECT_EQ(bodyOf(reply), json({{"error", std::get<2>(cases[i])}}));  // no message key
    }
    auto other = run(server, req("POST", "/other"));
    EXPECT_EQ(other.status, 500);
    EXPECT_EQ(bodyOf(other), json({{"error", "internal_error"}, {"message", "disk on fire"}}));
    auto weird = run(server, req("POST", "/weird"));
    EXPECT_EQ(weird.status, 500);
    EXPECT_EQ(bodyOf(weird)["error"], "internal_error");
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

    EXPECT_EQ(errorResponse(404, "element_not_found", "gone", "refresh").body,
              R"({"error":"element_not_found","hint":"refresh","message":"gone"})");
}

TEST(BodyDecoding, IntegerFieldsAcceptOnlyIntegersOrNull) {
    auto ok = decodeIntegerFields(R"({"root_pid": 812, "other": null, "neg": -3})");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->at("root_pid"), 812);
    EXPECT_EQ(ok->at("other"), std::nullopt);
    EXPECT_EQ(ok->at("neg"), -3);
    EXPECT_TRUE(decodeIntegerFields("{}"));
    for (const char* bad : {"", "   ", "[]", "null", "42", R"({"root_pid": 1, "x": "s"})", R"({"root_pid": 1.0})",
                            R"({"root_pid": 1.5})", R"({"root_pid": true})", R"({"root_pid": 9223372036854775808})",
                            R"({"root_pid": {}})", "{", "{\"a\":1,}"}) {
        EXPECT_FALSE(decodeIntegerFields(bad)) << bad;
    }
    auto big = decodeIntegerFields(R"({"root_pid": 9223372036854775807})");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->at("root_pid"), INT64_MAX);
}

TEST(BodyDecoding, StringFieldsAcceptOnlyStringsOrNull) {
    auto ok = decodeStringFields(R"({"app_bundle_id": "org.gnome.Zenity", "batch_id": null})");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->at("app_bundle_id"), "org.gnome.Zenity");
    EXPECT_EQ(ok->at("batch_id"), std::nullopt);
    for (const char* bad : {"", "[]", R"({"a": 1})", R"({"a": ["x"]})", "\"s\"", "{\"a\": \"\xFF\"}"}) {
        EXPECT_FALSE(decodeStringFields(bad)) << bad;
    }
}

}  // namespace
}  // namespace pavo::agent
