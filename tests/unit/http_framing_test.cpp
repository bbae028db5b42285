#include <gtest/gtest.h>

#include <string>

#include "http/parser.hpp"
#include "http/serializer.hpp"

namespace pavo::http {
namespace {

const Dialect kAgent = agentDialect();
const Dialect kOverlay = overlayDialect();

ParseResult parse(const std::string& bytes, const Dialect& dialect = kAgent) {
    return parseRequest(bytes, dialect);
}

TEST(Parser, ReadsMethodPathHeadersAndBodyAndReportsBytesUsed) {
    const std::string raw =
        "POST /ax/tree?x=1 HTTP/1.1\r\nX-Pavo-Token: abc\r\nContent-Length: 5\r\n\r\nhelloNEXT";
    auto r = parse(raw);
    ASSERT_EQ(r.status, ParseStatus::complete);
    EXPECT_EQ(r.consumed, raw.size() - 4);
    EXPECT_EQ(r.request.method, "POST");
    EXPECT_EQ(r.request.path, "/ax/tree?x=1");
    EXPECT_EQ(r.request.headers.at("x-pavo-token"), "abc");
    EXPECT_EQ(r.request.body, "hello");
}

TEST(Parser, WaitsForEveryPrefixOfARequestIncludingInsideTheBlankLine) {
    const std::string raw = "POST /p HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc";
    for (std::size_t n = 0; n < raw.size(); ++n) {
        EXPECT_EQ(parse(raw.substr(0, n)).status, ParseStatus::incomplete) << "prefix of " << n << " bytes";
        EXPECT_EQ(parse(raw.substr(0, n), kOverlay).status, ParseStatus::incomplete) << n;
    }
    EXPECT_EQ(parse(raw).status, ParseStatus::complete);
}

TEST(Parser, HeaderNamesAreLowerCasedTrimmedAndTheLastRepeatWins) {
    auto r = parse("GET / HTTP/1.1\r\n  Content-LENGTH \t:  2 \r\nX-A: one\r\nx-a: two\r\n\r\nok");
    ASSERT_EQ(r.status, ParseStatus::complete);
    EXPECT_EQ(r.request.body, "ok");
    EXPECT_EQ(r.request.headers.at("x-a"), "two");
    EXPECT_EQ(r.request.headers.count("content-length"), 1u);
}

TEST(Parser, FoldedLinesAreNotJoinedAndOddLinesFollowTheColonRule) {
    auto r = parse(
        "GET / HTTP/1.1\r\nX-First: a\r\n  continued: b\r\n  no colon here\r\n: empty name\r\nX-Empty:\r\n"
        "X-Colons: a:b:c\r\n\r\n");
    ASSERT_EQ(r.status, ParseStatus::complete);
    EXPECT_EQ(r.request.headers.at("x-first"), "a");
    EXPECT_EQ(r.request.headers.at("continued"), "b");
    EXPECT_EQ(r.request.headers.at(""), "empty name");
    EXPECT_EQ(r.request.headers.at("x-empty"), "");
    EXPECT_EQ(r.request.headers.at("x-colons"), "a:b:c");
    EXPECT_EQ(r.request.headers.size(), 5u);
}

TEST(Parser, BareLineFeedsDoNotEndLines) {
    auto r = parse("GET /a HTTP/1.1\nX-B: 1\r\nX-C: 2\r\n\r\n");
    ASSERT_EQ(r.status, ParseStatus::complete);
    EXPECT_EQ(r.request.path, "/a");
    EXPECT_EQ(r.request.headers.count("x-b"), 0u);  // it was part of the request line
    EXPECT_EQ(r.request.headers.at("x-c"), "2");
}

TEST(Parser, RequestLineSplitsAtEverySingleSpace) {
    EXPECT_EQ(parse("GET  /health HTTP/1.1\r\n\r\n").request.path, "");
    EXPECT_EQ(parse("get /health\r\n\r\n").request.method, "get");
    EXPECT_EQ(parse("GET /x anything at all\r\n\r\n").request.path, "/x");
    EXPECT_EQ(parse("GET \r\n\r\n").status, ParseStatus::complete);
}

TEST(Parser, MalformedRequestLineClosesForTheAgentAndWaitsForTheOverlay) {
    for (const std::string& raw : {std::string("GARBAGE\r\n\r\n"), std::string("\r\n\r\n"),
                                   std::string("GET /\xFF HTTP/1.1\r\n\r\n")}) {
        EXPECT_EQ(parse(raw).status, ParseStatus::error);
        EXPECT_EQ(parse(raw, kOverlay).status, ParseStatus::incomplete);
    }
}

TEST(Parser, HeadLimitIsExactlyOneMebibyteOnBothDialects) {
    const std::string atLimit(1'048'576, 'a');
    EXPECT_EQ(parse(atLimit).status, ParseStatus::incomplete);
    EXPECT_EQ(parse(atLimit, kOverlay).status, ParseStatus::incomplete);
    EXPECT_EQ(parse(atLimit + "a").status, ParseStatus::error);
    EXPECT_EQ(parse(atLimit + "a", kOverlay).status, ParseStatus::error);
    // A head of exactly the limit is still read when its end follows.
    const std::string head = "GET / HTTP/1.1\r\nX-Pad: " + std::string(1'048'553, 'p');
    EXPECT_EQ(parse(head + "\r\n\r\n", kOverlay).status, ParseStatus::complete);
}

TEST(Parser, ContentLengthOddities) {
    // Not an integer: no body, and what follows starts the next request.
    for (const char* value : {"abc", "1.5", "", "0x10", "5 5"}) {
        auto r = parse(std::string("POST / HTTP/1.1\r\nContent-Length: ") + value + "\r\n\r\nrest");
        ASSERT_EQ(r.status, ParseStatus::complete) << value;
        EXPECT_EQ(r.request.body, "") << value;
    }
    EXPECT_EQ(parse("POST / HTTP/1.1\r\nContent-Length: +2\r\n\r\nab").request.body, "ab");
    EXPECT_EQ(parse("POST / HTTP/1.1\r\nContent-Length: -0\r\n\r\n").status, ParseStatus::complete);
    // Negative, or past what a byte range can name: refused like a malformed head.
    for (const char* value : {"-1", "-9223372036854775808", "9223372036854775807", "99999999999999999999"}) {
        const std::string raw = std::string("POST / HTTP/1.1\r\nContent-Length: ") + value + "\r\n\r\n";
        EXPECT_EQ(parse(raw).status, ParseStatus::error) << value;
        EXPECT_EQ(parse(raw, kOverlay).status, ParseStatus::error) << value;
    }
    // Large but representable: waited for.
    EXPECT_EQ(parse("POST / HTTP/1.1\r\nContent-Length: 1000000000000\r\n\r\n").status,
              ParseStatus::incomplete);
}

TEST(Serializer, AgentAddsKeepAliveAndContentLengthUnlessTheProducerSetThem) {
    HTTPResponse plain{200, {{"Content-Type", "application/json"}}, "{}"};
    const std::string bytes = serializeResponse(plain, kAgent);
    EXPECT_EQ(bytes.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(bytes.find("\r\nConnection: keep-alive\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\r\nContent-Length: 2\r\n\r\n{}"), std::string::npos);

    HTTPResponse own{403, {{"CONNECTION", "close"}, {"content-length", "7"}}, "x"};
    const std::string ownBytes = serializeResponse(own, kAgent);
    EXPECT_EQ(ownBytes.rfind("HTTP/1.1 403 Unknown\r\n", 0), 0u);
    EXPECT_EQ(ownBytes.find("keep-alive"), std::string::npos);
    EXPECT_EQ(ownBytes.find("Content-Length: 1"), std::string::npos);
}

TEST(Serializer, OverlayAlwaysAppendsKeepAliveAndNeverAddsContentLength) {
    HTTPResponse locked{423, {{"Connection", "close"}}, "{}"};
    const std::string bytes = serializeResponse(locked, kOverlay);
    EXPECT_EQ(bytes, "HTTP/1.1 423 Locked\r\nConnection: close\r\nConnection: keep-alive\r\n\r\n{}");
}

TEST(StatusText, TablesDifferWhereTheProgramsDiffer) {
    EXPECT_EQ(statusText(201, Flavour::agent), "Created");
    EXPECT_EQ(statusText(201, Flavour::overlay), "Unknown");
    EXPECT_EQ(statusText(405, Flavour::agent), "Method Not Allowed");
    EXPECT_EQ(statusText(405, Flavour::overlay), "Unknown");
    EXPECT_EQ(statusText(423, Flavour::agent), "Unknown");
    EXPECT_EQ(statusText(423, Flavour::overlay), "Locked");
    EXPECT_EQ(statusText(403, Flavour::agent), "Unknown");
    EXPECT_EQ(statusText(500, Flavour::overlay), "Internal Server Error");
    EXPECT_EQ(statusText(418, Flavour::agent), "Unknown");
}

}  // namespace
}  // namespace pavo::http
