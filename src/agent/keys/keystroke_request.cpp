#include "agent/keys/keystroke_request.hpp"

#include <algorithm>

#include "common/json_fields.hpp"

namespace pavo::agent {

namespace {

AgentError undecodable(std::string message) {
    return AgentError{ErrorCode::badRequest, std::move(message)};
}

// Absent or null is no list; anything but an array of strings is an error.
bool readTokens(const nlohmann::json& object, std::optional<std::vector<std::string>>& out) {
    const auto it = object.find("keys");
    if (it == object.end() || it->is_null()) return true;
    if (!it->is_array()) return false;
    std::vector<std::string> tokens;
    for (const auto& token : *it) {
        if (!token.is_string()) return false;
        tokens.push_back(token.get<std::string>());
    }
    out = std::move(tokens);
    return true;
}

}  // namespace

Result<SendKeystrokesRequest> decodeSendKeystrokesRequest(std::string_view body) {
    const auto parsed = common::parseJson(body);
    if (!parsed) return undecodable("The body is not valid JSON.");
    if (!parsed->is_object()) return undecodable("Expected a JSON object.");
    SendKeystrokesRequest request;
    for (const auto& [key, field] : {std::pair{"text", &request.text},
                                     {"app_bundle_id", &request.appBundleId},
                                     {"app_name", &request.appName},
                                     {"mode", &request.mode}}) {
        if (!common::optionalField(*parsed, key, *field))
            return undecodable(std::string(key) + ": expected a string");
    }
    if (!readTokens(*parsed, request.keys)) return undecodable("keys: expected an array of strings");
    if (!common::optionalField(*parsed, "delay_ms", request.delayMs))
        return undecodable("delay_ms: expected an integer");
    return request;
}

std::chrono::milliseconds keystrokeDelay(std::optional<std::int64_t> delayMs) {
    if (!delayMs) return std::chrono::milliseconds(12);
    return std::chrono::milliseconds(std::clamp<std::int64_t>(*delayMs, 1, 250));
}

}  // namespace pavo::agent
