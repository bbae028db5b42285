#include "mcp/json_rpc.hpp"

#include "common/json_fields.hpp"

namespace pavo::mcp::rpc {

using nlohmann::json;

namespace {

bool isUsableId(const json& id) {
    return id.is_string() || (id.is_number_integer() && !id.is_number_float());
}

// Replies must be valid UTF-8 whatever came in; nlohmann would throw on a bad sequence.
std::string dumpSafe(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Nesting deeper than any MCP message needs; writing or hashing such a value would recurse that deep.
constexpr int kMaxDepth = 64;

bool nestsTooDeep(std::string_view text) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

}  // namespace

Message decode(std::string_view line) {
    if (nestsTooDeep(line)) return Invalid{nullptr, kInvalidRequest, "Invalid Request: nested too deeply"};
    const auto parsed = common::parseJson(line);
    if (!parsed) return Invalid{nullptr, kParseError, "Parse error"};
    const json& message = *parsed;
    if (message.is_array()) return Batch{};
    if (!message.is_object()) return Invalid{nullptr, kInvalidRequest, "Invalid Request: not an object"};

    const auto idIt = message.find("id");
    const bool hasId = idIt != message.end();
    const json id = hasId && isUsableId(*idIt) ? *idIt : json(nullptr);
    const auto version = message.find("jsonrpc");
    if (version == message.end() || *version != "2.0") {
        return Invalid{id, kInvalidRequest, "Invalid Request: jsonrpc must be \"2.0\""};
    }
    if (hasId && id.is_null()) {
        return Invalid{nullptr, kInvalidRequest, "Invalid Request: id must be a string or an integer"};
    }

    const auto method = message.find("method");
    if (method == message.end()) {
        if (hasId && (message.contains("result") || message.contains("error"))) return Reply{};
        return Invalid{id, kInvalidRequest, "Invalid Request: no method"};
    }
    if (!method->is_string()) return Invalid{id, kInvalidRequest, "Invalid Request: method must be a string"};

    json params = nullptr;
    if (const auto p = message.find("params"); p != message.end()) {
        if (!p->is_object() && !p->is_array()) {
            return Invalid{id, kInvalidRequest, "Invalid Request: params must be an object"};
        }
        params = *p;
    }
    if (!hasId) return Notification{method->get<std::string>(), std::move(params)};
    return Request{id, method->get<std::string>(), std::move(params)};
}

std::string result(const json& id, const json& value) {
    return dumpSafe(json{{"jsonrpc", "2.0"}, {"id", id}, {"result", value}});
}

std::string resultText(const json& id, std::string_view value) {
    std::string line = R"({"jsonrpc":"2.0","id":)";
    line += id.dump();
    line += R"(,"result":)";
    line += value;
    line += '}';
    return line;
}

std::string error(const json& id, int code, std::string_view message, const std::optional<json>& data) {
    json body{{"code", code}, {"message", std::string(message)}};
    if (data) body["data"] = *data;
    return dumpSafe(json{{"jsonrpc", "2.0"}, {"id", id}, {"error", std::move(body)}});
}

std::string idKey(const json& id) {
    return id.dump();
}

}  // namespace pavo::mcp::rpc
