// Framing requests from bytes and writing replies, in each program's dialect.

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

TEST(Parser, HeaderLinesFollowTheColonRuleWithoutFoldingOrBareLineFeeds) {
    auto r = parse(
        "GET /a HTTP/1.1\nX-B: 1\r\n  Content-LENGTH \t:  2 \r\nX-A: one\r\nx-a: two\r\n  continued: b\r\n"
        "  no colon here\r\n: empty name\r\nX-Colons: a:b:c\r\n\r\nok");
    ASSERT_EQ(r.status, ParseStatus::complete);
    EXPECT_EQ(r.request.path, "/a");
    EXPECT_EQ(r.request.body, "ok");
    const std::map<std::string, std::string> expected = {{"content-length", "2"},
                                                         {"x-a", "two"},
                                                         {"continued", "b"},
                                                         {"", "empty name"},
                                                         {"x-colons", "a:b:c"}};
    EXPECT_EQ(r.request.headers, expected);
}

TEST(Parser, RequestLineSplitsAtEverySingleSpaceAndTheHeadIsBoundedAtOneMebibyte) {
    EXPECT_EQ(parse("GET  /health HTTP/1.1\r\n\r\n").request.path, "");
    EXPECT_EQ(parse("get /health\r\n\r\n").request.method, "get");
    EXPECT_EQ(parse("GET /\xFF HTTP/1.1\r\n\r\n").status, ParseStatus::error);
    // The head limit is exactly one mebibyte on both dialects, and a head of that size is still read.
    const std::string head = "GET / HTTP/1.1\r\nX-Pad: " + std::string(1'048'553, 'p');
    for (const Dialect& dialect : {kAgent, kOverlay}) {
        EXPECT_EQ(parse(head, dialect).status, ParseStatus::incomplete);
        EXPECT_EQ(parse(head + "p", dialect).status, ParseStatus::error);
        EXPECT_EQ(parse(head + "\r\n\r\n", dialect).status, ParseStatus::complete);
    }
}

TEST(Parser, ContentLengthOddities) {
    // Not an integer: no body, and what follows starts the next request. Negative, or past what a byte range
    // can name: refused. Large but representable: waited for.
    const std::vector<std::pair<std::string, std::string>> rows = {{"1.5", ""},
                                                                   {"0x10", ""},
                                                                   {"+2", "re"},
                                                                   {"-0", ""},
                                                                   {"-1", "refused"},
                                                                   {"9223372036854775807", "refused"},
                                                                   {"99999999999999999999", "refused"},
                                                                   {"1000000000000", "waiting"}};
    for (const auto& [value, expected] : rows) {
        const std::string raw = "POST / HTTP/1.1\r\nContent-Length: " + value + "\r\n\r\nrest";
        for (const Dialect& dialect : {kAgent, kOverlay}) {
            const auto r = parse(raw, dialect);
            EXPECT_EQ(r.status == ParseStatus::error        ? "refused"
                      : r.status == ParseStatus::incomplete ? "waiting"
                                                            : r.request.body,
                      expected)
                << value;
        }
    }
}

TEST(Serializer, TheAgentAddsWhatTheProducerDidNotSetTheOverlayAlwaysAppendsKeepAlive) {
    const std::string own =
        serializeResponse({403, {{"CONNECTION", "close"}, {"content-length", "7"}}, "x"}, kAgent);
    EXPECT_EQ(own, "HTTP/1.1 403 Unknown\r\nCONNECTION: close\r\ncontent-length: 7\r\n\r\nx");
    EXPECT_EQ(serializeResponse({423, {{"Connection", "close"}}, "{}"}, kOverlay),
              "HTTP/1.1 423 Locked\r\nConnection: close\r\nConnection: keep-alive\r\n\r\n{}");
}

}  // namespace
}  // namespace pavo::http
