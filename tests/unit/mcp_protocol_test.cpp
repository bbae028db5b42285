// The MCP session as a client sees it over stdio, one line in and the lines that come out: lifecycle,
// version negotiation, malformed input, batches, over-long lines and cancellation.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "mcp/dispatcher.hpp"
#include "mcp/line_framer.hpp"

namespace pavo::mcp {
namespace {

using nlohmann::json;

struct Session {
    std::vector<json> sent;
    std::vector<std::string> started;
    std::vector<FinishCall> finishers;
    int cancels = 0;
    Dispatcher dispatcher{[this](std::string line) { sent.push_back(json::parse(line)); },
                          [this](ToolCall call, FinishCall finish) {
                              started.push_back(call.tool->name);
                              finishers.push_back(std::move(finish));
                              return CancelCall([this] { ++cancels; });
                          }};

    // Everything answered to one line.
    std::vector<json> send(const std::string& line) {
        sent.clear();
        dispatcher.onLine(line);
        return sent;
    }
    json initialize(const std::string& revision = "2025-11-25") {
        return send(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":")" +
                    revision + R"(","capabilities":{},"clientInfo":{"name":"t","version":"1"}}})")
            .at(0);
    }
};

std::string call(int id, const std::string& tool, const std::string& arguments) {
    return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"tools/call","params":{"name":")" +
           tool + R"(","arguments":)" + arguments + "}}";
}

int errorCode(const json& reply) {
    return reply.contains("error") ? reply["error"]["code"].get<int>() : 0;
}

TEST(McpProtocol, MalformedInputIsAnsweredWithItsJsonRpcError) {
    const struct {
        const char* line;
        int code;
        json id;
    } rows[] = {
        {"garbage", -32700, nullptr},
        {R"({"jsonrpc":"2.0","id":1,"method":"ping")", -32700, nullptr},
        {"\xff\xfe{}", -32700, nullptr},
        {"42", -32600, nullptr},
        {R"({"id":1,"method":"ping"})", -32600, 1},
        {R"({"jsonrpc":"1.0","id":"a","method":"ping"})", -32600, "a"},
        {R"({"jsonrpc":"2.0","id":null,"method":"ping"})", -32600, nullptr},
        {R"({"jsonrpc":"2.0","id":1.5,"method":"ping"})", -32600, nullptr},
        {R"({"jsonrpc":"2.0","id":{"x":1},"method":"ping"})", -32600, nullptr},
        {R"({"jsonrpc":"2.0","id":2,"method":7})", -32600, 2},
        {R"({"jsonrpc":"2.0","id":3,"method":"tools/list","params":"x"})", -32600, 3},
        {R"({"jsonrpc":"2.0","id":4})", -32600, 4},
        {R"({"jsonrpc":"2.0","id":5,"method":"resources/list"})", -32601, 5},
        {R"({"jsonrpc":"2.0","id":6,"method":"tools/list","params":[]})", -32602, 6},
        {R"({"jsonrpc":"2.0","id":7,"method":"tools/list","params":{"cursor":"next"}})", -32602, 7},
        {R"({"jsonrpc":"2.0","id":8,"method":"tools/call","params":{"arguments":{}}})", -32602, 8},
        {R"({"jsonrpc":"2.0","id":9,"method":"tools/call","params":{"name":"rm_rf"}})", -32602, 9},
        {R"({"jsonrpc":"2.0","id":10,"method":"tools/call","params":{"name":"ax_tree","arguments":[]}})",
         -32602, 10},
    };
    for (const auto& row : rows) {
        Session session;
        session.initialize();
        const auto replies = session.send(row.line);
        ASSERT_EQ(replies.size(), 1u) << row.line;
        EXPECT_EQ(errorCode(replies[0]), row.code) << row.line;
        EXPECT_EQ(replies[0]["id"], row.id) << row.line;
        EXPECT_EQ(replies[0]["jsonrpc"], "2.0") << row.line;
        EXPECT_TRUE(session.started.empty()) << row.line;
    }
}

TEST(McpProtocol, NotificationsAndRepliesAreNeverAnswered) {
    for (const char* line :
         {R"({"jsonrpc":"2.0","method":"no/such"})", R"({"jsonrpc":"2.0","method":"tools/call"})",
          R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":99}})",
          R"({"jsonrpc":"2.0","id":1,"result":{}})", R"({"jsonrpc":"2.0","id":1,"error":{}})", "", "  \r"}) {
        Session session;
        EXPECT_TRUE(session.send(line).empty()) << line;
        session.initialize();
        EXPECT_TRUE(session.send(line).empty()) << line;
    }
}

TEST(McpProtocol, OnlyPingAndInitializeAreServedBeforeInitialize) {
    const struct {
        const char* line;
        int codeBefore;
        int codeAfter;  // 0: a result; 1: the call was started
    } rows[] = {
        {R"({"jsonrpc":"2.0","id":1,"method":"ping"})", 0, 0},
        {R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})", -32600, 0},
        {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"ax_tree","arguments":{}}})",
         -32600, 1},
        {R"({"jsonrpc":"2.0","id":1,"method":"prompts/list"})", -32601, -32601},
    };
    for (const auto& row : rows) {
        Session session;
        EXPECT_EQ(errorCode(session.send(row.line).at(0)), row.codeBefore) << row.line;
        EXPECT_TRUE(session.started.empty());
        session.initialize();
        const auto replies = session.send(row.line);
        if (row.codeAfter == 1) {
            EXPECT_TRUE(replies.empty());
            EXPECT_EQ(session.started.size(), 1u);
        } else {
            EXPECT_EQ(errorCode(replies.at(0)), row.codeAfter) << row.line;
        }
    }
    Session twice;
    twice.initialize();
    EXPECT_EQ(errorCode(twice.initialize()), -32600);
}

TEST(McpProtocol, InitializeAgreesOnARevisionTheServerSpeaks) {
    const struct {
        const char* requested;
        const char* answered;
    } rows[] = {
        {"2025-11-25", "2025-11-25"}, {"2025-06-18", "2025-06-18"}, {"2025-03-26", "2025-11-25"},
        {"2024-11-05", "2025-11-25"}, {"2099-01-01", "2025-11-25"}, {"", "2025-11-25"},
    };
    for (const auto& row : rows) {
        Session session;
        const json reply = session.initialize(row.requested);
        EXPECT_EQ(reply["result"]["protocolVersion"], row.answered) << row.requested;
        EXPECT_TRUE(reply["result"]["capabilities"].contains("tools"));
        EXPECT_EQ(reply["result"]["serverInfo"]["name"], "pavo-mcp");
    }
    for (const char* params : {R"({})", R"({"protocolVersion":20251125})", R"({"protocolVersion":null})",
                               R"({"protocolVersion":"2025-11-25","capabilities":"all"})",
                               R"({"protocolVersion":"2025-11-25","clientInfo":[]})"}) {
        Session session;
        const auto reply = session.send(
            std::string(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":)") + params + "}");
        EXPECT_EQ(errorCode(reply.at(0)), -32602) << params;
        EXPECT_EQ(errorCode(session.send(R"({"jsonrpc":"2.0","id":2,"method":"tools/list"})").at(0)), -32600)
            << "a failed initialize leaves the session uninitialised: " << params;
    }
}

TEST(McpProtocol, BatchArraysAreRefusedWholeInBothRevisions) {
    for (const char* revision : {"", "2025-06-18", "2025-11-25"}) {
        for (const char* line : {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", "[]",
                                 R"([{"jsonrpc":"2.0","method":"notifications/initialized"}])"}) {
            Session session;
            if (*revision) session.initialize(revision);
            const auto replies = session.send(line);
            ASSERT_EQ(replies.size(), 1u) << revision << line;
            EXPECT_EQ(errorCode(replies[0]), -32600) << revision << line;
            EXPECT_EQ(replies[0]["id"], nullptr);
        }
    }
}

TEST(McpProtocol, AnOverlongLineIsRefusedAndTheNextOneServed) {
    const std::size_t limit = 64;
    const std::string ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";
    const struct {
        const char* name;
        std::vector<std::string> chunks;
        std::vector<int> codes;  // one per reply, 0 for a result
    } rows[] = {
        {"one piece", {std::string(limit + 1, 'x') + "\n" + ping + "\n"}, {-32600, 0}},
        {"byte by byte", {}, {-32600, 0}},
        {"newline in the next chunk",
         {std::string(limit, ' ') + "  ", std::string(500, 'y'), "\n" + ping + "\r\n"},
         {-32600, 0}},
        {"exactly at the limit", {ping + std::string(limit - ping.size(), ' ') + "\n"}, {0}},
        {"last line without newline", {ping}, {0}},
    };
    for (const auto& row : rows) {
        Session session;
        session.initialize();
        session.sent.clear();
        LineFramer framer(
            limit, [&](std::string_view line) { session.dispatcher.onLine(line); },
            [&] { session.dispatcher.onOverlong(limit); });
        std::vector<std::string> chunks = row.chunks;
        if (chunks.empty()) {
            for (const char c : std::string(limit * 3, 'z') + "\n" + ping + "\n") chunks.emplace_back(1, c);
        }
        for (const auto& chunk : chunks) framer.feed(chunk);
        framer.finish();
        ASSERT_EQ(session.sent.size(), row.codes.size()) << row.name;
        for (std::size_t i = 0; i < row.codes.size(); ++i)
            EXPECT_EQ(errorCode(session.sent[i]), row.codes[i]) << row.name;
    }
}

TEST(McpProtocol, ArgumentErrorsAreToolResultsFrom20251125AndParamErrorsBefore) {
    const char* wrongArguments[] = {
        R"({})",                                     // required elementId missing
        R"({"elementId":7})",                        // wrong type
        R"({"elementId":"a","element_id":"a"})",     // unknown key
        R"({"elementId":"a","direction":"north"})",  // for ax_scroll below: not in the enum
    };
    for (const char* revision : {"2025-06-18", "2025-11-25"}) {
        for (const char* arguments : wrongArguments) {
            Session session;
            session.initialize(revision);
            const std::string tool =
                std::string(arguments).find("direction") != std::string::npos ? "ax_scroll" : "ax_click";
            const json reply = session.send(call(3, tool, arguments)).at(0);
            if (std::string(revision) == "2025-06-18") {
                EXPECT_EQ(errorCode(reply), -32602) << arguments;
            } else {
                EXPECT_EQ(reply["result"]["isError"], true) << arguments;
                EXPECT_NE(reply["result"]["content"][0]["text"].get<std::string>().find("Invalid arguments"),
                          std::string::npos);
            }
            EXPECT_TRUE(session.started.empty()) << "a call with bad arguments never reaches the agent";
        }
    }
}

TEST(McpProtocol, CancellationStopsACallAndItIsNeverAnswered) {
    Session session;
    session.initialize();
    EXPECT_TRUE(session.send(call(1, "ax_tree", "{}")).empty());
    EXPECT_TRUE(session.send(call(2, "ax_tree", "{}")).empty());
    EXPECT_EQ(errorCode(session.send(call(1, "ax_tree", "{}")).at(0)), -32600) << "id 1 is still running";

    EXPECT_TRUE(
        session.send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":"1"}})")
            .empty());
    EXPECT_EQ(session.cancels, 0) << "the string \"1\" is not the id 1";
    EXPECT_TRUE(
        session
            .send(
                R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1,"reason":"x"}})")
            .empty());
    EXPECT_EQ(session.cancels, 1);

    session.sent.clear();
    session.finishers[0](R"({"content":[]})");
    EXPECT_TRUE(session.sent.empty()) << "a cancelled call is not answered even when it ends";
    session.finishers[1](R"({"content":[]})");
    ASSERT_EQ(session.sent.size(), 1u);
    EXPECT_EQ(session.sent[0]["id"], 2);

    EXPECT_TRUE(
        session.send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":2}})")
            .empty());
    EXPECT_EQ(session.cancels, 1) << "cancelling an answered call does nothing";

    EXPECT_TRUE(session.send(call(1, "ax_tree", "{}")).empty()) << "the id of a cancelled call is free again";
    session.dispatcher.cancelAll();
    EXPECT_EQ(session.cancels, 2);
    EXPECT_EQ(session.dispatcher.callsInFlight(), 0u);
}

}  // namespace
}  // namespace pavo::mcp
