#pragma once
// JSON-RPC 2.0 as MCP uses it over stdio: one message per line, ids that are strings or integers, params
// that are objects. Decoding sorts a line into what the session must do with it; encoding writes replies.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace pavo::mcp::rpc {

inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;

struct Request {
    nlohmann::json id;  // a string or an integer
    std::string method;
    nlohmann::json params;  // an object or an array; null when absent
};

struct Notification {
    std::string method;
    nlohmann::json params;
};

// A reply to a request of ours; this server sends none, so it has nothing to match them with.
struct Reply {};

// A batch: an array at the top level.
struct Batch {};

// What to answer: the error and the id it goes to (null when the id could not be read).
struct Invalid {
    nlohmann::json id;
    int code = kInvalidRequest;
    std::string message;
};

using Message = std::variant<Request, Notification, Reply, Batch, Invalid>;

Message decode(std::string_view line);

// One line of output (no newline): a result or an error for `id`.
std::string result(const nlohmann::json& id, const nlohmann::json& value);
// The same with the result already written as JSON text (one line).
std::string resultText(const nlohmann::json& id, std::string_view value);
std::string error(const nlohmann::json& id, int code, std::string_view message,
                  const std::optional<nlohmann::json>& data = std::nullopt);

// The key a request id is known by: "1" and 1 are different ids.
std::string idKey(const nlohmann::json& id);

}  // namespace pavo::mcp::rpc
