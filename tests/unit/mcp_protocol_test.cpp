// The MCP session as a client sees it over stdio, one line in and the lines that come out: lifecycle,
// version negotiation, malformed input, over-long lines and cancellation.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "mcp/dispatcher.hpp"
#include "mcp/line_framer.hpp"

namespace pavo::mcp {
namespace {

using nlohmann::json;

std::string request(int id, const std::string& method, const std::string& params = "") {
    return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":")" + method + "\"" +
           (params.empty() ? "" : R"(,"params":)" + params) + "}";
}

std::string call(int id, const std::string& tool, const std::string& arguments = "{}") {
    return request(id, "tools/call", R"({"name":")" + tool + R"(","arguments":)" + arguments + "}");
}

int errorCode(const json& reply) {
    return reply.contains("error") ? reply["error"]["code"].get<int>() : 0;
}

struct Session {
    std::vector<json> sent;
    std::vector<FinishCall> finishers;  // one per call started
    int cancels = 0;
    json welcome;
    Dispatcher dispatcher{[this](std::string line) { sent.push_back(json::parse(line)); },
                          [this](ToolCall, FinishCall finish) {
                              finishers.push_back(std::move(finish));
                              return CancelCall([this] { ++cancels; });
                          }};

    // Initialised at `revision`, or not at all when it is empty.
    explicit Session(const std::string& revision = "2025-11-25") {
        if (!revision.empty())
            welcome = send(request(0, "initialize", R"({"protocolVersion":")" + revision + "\"}")).at(0);
    }

    // Everything answered to one line.
    std::vector<json> send(const std::string& line) {
        sent.clear();
        dispatcher.onLine(line);
        return sent;
    }
};

TEST(McpProtocol, AFaultyRequestIsAnsweredWithItsJsonRpcErrorAndStartsNothing) {
    const char* const now = "2025-11-25";
    const char* const older = "2025-06-18";
    const char* const uninitialised = "";
    const struct {
        const char* revision;
        std::string line;
        int code;
        json id;
    } rows[] = {
        {now, "garbage", -32700, nullptr},
        {now, "42", -32600, nullptr},
        {now, R"({"id":1,"method":"ping"})", -32600, 1},
        {now, R"({"jsonrpc":"1.0","id":"a","method":"ping"})", -32600, "a"},
        {now, R"({"jsonrpc":"2.0","id":null,"method":"ping"})", -32600, nullptr},
        {now, R"({"jsonrpc":"2.0","id":1.5,"method":"ping"})", -32600, nullptr},
        {now, R"({"jsonrpc":"2.0","id":2,"method":7})", -32600, 2},
        {now, R"({"jsonrpc":"2.0","id":4})", -32600, 4},
        {now, request(3, "tools/list", R"("x")"), -32600, 3},
        {now, request(5, "resources/list"), -32601, 5},
        {now, request(6, "tools/list", "[]"), -32602, 6},
        {now, request(7, "tools/list", R"({"cursor":"next"})"), -32602, 7},
        {now, request(8, "tools/call", R"({"arguments":{}})"), -32602, 8},
        {now, call(9, "rm_rf"), -32602, 9},
        {now, call(10, "ax_tree", "[]"), -32602, 10},
        {now, R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", -32600, nullptr},
        {now, request(1, "initialize", R"({"protocolVersion":"2025-11-25"})"), -32600, 1},
        {uninitialised, request(1, "tools/list"), -32600, 1},
        {uninitialised, call(1, "ax_tree"), -32600, 1},
        {uninitialised, request(1, "prompts/list"), -32601, 1},
        {uninitialised, request(1, "initialize", R"({"protocolVersion":20251125})"), -32602, 1},
        {uninitialised, request(1, "initialize", R"({"protocolVersion":"2025-11-25","capabilities":"all"})"),
         -32602, 1},
        {older, call(1, "ax_click"), -32602, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.revision) + " " + row.line);
        Session session(row.revision);
        const auto replies = session.send(row.line);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(errorCode(replies[0]), row.code);
        EXPECT_EQ(replies[0]["id"], row.id);
        EXPECT_EQ(replies[0]["jsonrpc"], "2.0");
        EXPECT_TRUE(session.finishers.empty());
        EXPECT_EQ(errorCode(session.send(request(2, "tools/list")).at(0)), *row.revision ? 0 : -32600)
            << "the session is as it was";
    }
}

TEST(McpProtocol, NotificationsAndRepliesAreNeverAnswered) {
    for (const char* line :
         {R"({"jsonrpc":"2.0","method":"no/such"})", R"({"jsonrpc":"2.0","method":"tools/call"})",
          R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":99}})",
          R"({"jsonrpc":"2.0","id":1,"result":{}})", R"({"jsonrpc":"2.0","id":1,"error":{}})", "", "  \r"}) {
        EXPECT_TRUE(Session().send(line).empty()) << line;
    }
    EXPECT_EQ(Session("").send(request(1, "ping")).at(0)["result"], json::object())
        << "ping needs no session";
    Session session;
    EXPECT_EQ(session.send(call(3, "ax_click", R"({"elementId":7})")).at(0)["result"]["isError"], true)
        << "from 2025-11-25 bad arguments are a tool result";
    EXPECT_TRUE(session.finishers.empty());
}

TEST(McpProtocol, InitializeAgreesOnARevisionTheServerSpeaks) {
    for (const auto& [requested, answered] :
         std::vector<std::pair<std::string, std::string>>{{"2025-11-25", "2025-11-25"},
                                                          {"2025-06-18", "2025-06-18"},
                                                          {"2024-11-05", "2025-11-25"},
                                                          {"2099-01-01", "2025-11-25"}}) {
        const json result = Session(requested).welcome["result"];
        EXPECT_EQ(result["protocolVersion"], answered) << requested;
        EXPECT_TRUE(result["capabilities"].contains("tools"));
    }
}

TEST(McpProtocol, AnOverlongLineIsRefusedAndTheNextOneServed) {
    const struct {
        const char* name;
        std::vector<std::string> chunks;  // fed to a framer that takes lines of at most 4 bytes
        const char* seen;
    } rows[] = {
        {"one piece", {"abcde\nok\r\n"}, "overlong|ok|"},
        {"byte by byte", {"a", "b", "c", "d", "e", "f", "\n", "o", "k", "\n"}, "overlong|ok|"},
        {"newline in a later chunk", {"abc", "defgh", "ij", "\nok"}, "overlong|ok|"},
        {"exactly at the limit", {"abcd\n"}, "abcd|"},
        {"last line without newline", {"ab", "cd"}, "abcd|"},
    };
    for (const auto& row : rows) {
        std::string seen;
        LineFramer framer(
            4, [&](std::string_view line) { seen += std::string(line) + "|"; }, [&] { seen += "overlong|"; });
        for (const auto& chunk : row.chunks) framer.feed(chunk);
        framer.finish();
        EXPECT_EQ(seen, row.seen) << row.name;
    }
    Session session("");
    session.dispatcher.onOverlong(4);
    EXPECT_EQ(errorCode(session.sent.at(0)), -32600);
    EXPECT_EQ(session.sent.at(0)["id"], nullptr);
}

TEST(McpProtocol, CancellationStopsACallAndItIsNeverAnswered) {
    const auto cancelled = [](const std::string& id) {
        return R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":)" + id + "}}";
    };
    Session session;
    EXPECT_TRUE(session.send(call(1, "ax_tree")).empty());
    EXPECT_TRUE(session.send(call(2, "ax_tree")).empty());
    EXPECT_EQ(errorCode(session.send(call(1, "ax_tree")).at(0)), -32600) << "id 1 is still running";

    session.send(cancelled(R"("1")"));
    EXPECT_EQ(session.cancels, 0) << "the string \"1\" is not the id 1";
    EXPECT_TRUE(session.send(cancelled("1")).empty());
    EXPECT_EQ(session.cancels, 1);

    session.sent.clear();
    session.finishers[0](R"({"content":[]})");
    EXPECT_TRUE(session.sent.empty()) << "a cancelled call is not answered even when it ends";
    session.finishers[1](R"({"content":[]})");
    ASSERT_EQ(session.sent.size(), 1u);
    EXPECT_EQ(session.sent[0]["id"], 2);
    session.send(cancelled("2"));
    EXPECT_EQ(session.cancels, 1) << "cancelling an answered call does nothing";

    EXPECT_TRUE(session.send(call(1, "ax_tree")).empty()) << "the id of a cancelled call is free again";
    session.dispatcher.cancelAll();
    EXPECT_EQ(session.cancels, 2);
    EXPECT_EQ(session.dispatcher.callsInFlight(), 0u);
}

}  // namespace
}  // namespace pavo::mcp
