#include "agent/scripts/script_requests.hpp"

#include "common/json_fields.hpp"

namespace pavo::agent {

namespace {

AgentError invalidBody() {
    return AgentError{ErrorCode::badRequest, "Invalid JSON body"};
}

}  // namespace

Result<std::string> decodeAppleScriptRequest(std::string_view body) {
    const auto object = common::parseJsonObject(body);
    std::string script;
    if (!object || !common::requiredField(*object, "script", script)) return invalidBody();
    return script;
}

Result<ShortcutRequest> decodeShortcutRequest(std::string_view body) {
    const auto object = common::parseJsonObject(body);
    ShortcutRequest request;
    if (!object || !common::requiredField(*object, "name", request.name) ||
        !common::optionalField(*object, "input", request.input) ||
        !common::optionalField(*object, "timeoutMs", request.timeoutMs)) {
        return invalidBody();
    }
    return request;
}

}  // namespace pavo::agent
