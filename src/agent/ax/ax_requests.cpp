#include "agent/ax/ax_requests.hpp"

#include <limits>

#include "common/json_fields.hpp"

namespace pavo::agent {

namespace {

using common::optionalField;
using common::requiredField;

AgentError undecodable(std::string message = {}) {
    return AgentError{ErrorCode::badRequest, std::move(message)};
}

}  // namespace

Result<AXTreeRequest> decodeAXTreeRequest(std::string_view body) {
    const auto fields = common::uniformObject<std::int64_t>(body);
    if (!fields) return undecodable();
    AXTreeRequest request;
    if (auto it = fields->find("root_pid"); it != fields->end() && it->second) {
        if (*it->second < std::numeric_limits<std::int32_t>::min() ||
            *it->second > std::numeric_limits<std::int32_t>::max()) {
            return undecodable();
        }
        request.rootPid = static_cast<std::int32_t>(*it->second);
    }
    return request;
}

Result<AXQuery> decodeAXQuery(std::string_view body) {
    const auto parsed = common::parseJson(body);
    if (!parsed) return undecodable("The body is not valid JSON.");
    if (!parsed->is_object()) return undecodable("Expected a JSON object.");
    AXQuery query;
    for (const auto& [key, field] : {std::pair{"role", &query.role},
                                     {"label", &query.label},
                                     {"identifier", &query.identifier},
                                     {"valueRegex", &query.valueRegex},
                                     {"batch_id", &query.batchId}}) {
        if (!optionalField(*parsed, key, *field))
            return undecodable(std::string(key) + ": expected a string");
    }
    if (!optionalField(*parsed, "maxResults", query.maxResults)) {
        return undecodable("maxResults: expected an integer");
    }
    return query;
}

Result<AXClickRequest> decodeAXClickRequest(std::string_view body) {
    const auto object = common::parseJsonObject(body);
    AXClickRequest request;
    if (!object || !requiredField(*object, "elementId", request.elementId) ||
        !optionalField(*object, "batch_id", request.batchId)) {
        return undecodable();
    }
    return request;
}

Result<AXTypeRequest> decodeAXTypeRequest(std::string_view body) {
    const auto object = common::parseJsonObject(body);
    AXTypeRequest request;
    if (!object || !requiredField(*object, "elementId", request.elementId) ||
        !requiredField(*object, "text", request.text) ||
        !optionalField(*object, "batch_id", request.batchId)) {
        return undecodable();
    }
    return request;
}

Result<AXScrollRequest> decodeAXScrollRequest(std::string_view body) {
    const auto object = common::parseJsonObject(body);
    AXScrollRequest request;
    if (!object || !requiredField(*object, "elementId", request.elementId) ||
        !requiredField(*object, "direction", request.direction) ||
        !optionalField(*object, "amount", request.amount) ||
        !optionalField(*object, "batch_id", request.batchId)) {
        return undecodable();
    }
    return request;
}

std::string batchIdOfBody(std::string_view body) {
    const auto fields = common::uniformObject<std::string>(body);
    if (!fields) return "default";
    const auto it = fields->find("batch_id");
    if (it == fields->end() || !it->second) return "default";
    return *it->second;
}

}  // namespace pavo::agent
