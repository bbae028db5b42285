// Feeds arbitrary bytes to pavo-mcp's stdio decoding (line framing, JSON-RPC decoding, the session): every
// line must get at most one well-formed JSON-RPC reply per request and never crash the server. The first
// byte chooses whether the session is already initialised, and with which revision.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "mcp/dispatcher.hpp"
#include "mcp/line_framer.hpp"

namespace {

using namespace pavo::mcp;
using nlohmann::json;

void checkReply(const std::string& line) {
    const json reply = json::parse(line, nullptr, false);
    if (reply.is_discarded() || !reply.is_object() || reply.value("jsonrpc", "") != "2.0") std::abort();
    if (reply.contains("result") == reply.contains("error")) std::abort();
    if (!reply.contains("id")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t replies = 0;
    Dispatcher dispatcher(
        [&](std::string line) {
            checkReply(line);
            ++replies;
        },
        [](ToolCall call, FinishCall finish) {
            if (!call.tool || !call.arguments.is_object()) std::abort();
            finish(R"({"content":[],"isError":false})");
            return CancelCall([] {});
        });
    static const char* const kInitialize[] = {
        R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25"}})",
        R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})",
    };
    if (data[0] % 3 < 2) dispatcher.onLine(kInitialize[data[0] % 3]);
    replies = 0;

    std::size_t lines = 0;
    LineFramer framer(
        4096,
        [&](std::string_view line) {
            ++lines;
            dispatcher.onLine(line);
        },
        [&] {
            ++lines;
            dispatcher.onOverlong(4096);
        });
    framer.feed(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    framer.finish();
    if (replies > lines) std::abort();
    dispatcher.cancelAll();
    return 0;
}
