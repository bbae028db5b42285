#include "agent/vision/vision_requests.hpp"

#include <nlohmann/json.hpp>

#include <limits>

#include "common/json_fields.hpp"

namespace pavo::agent {

namespace {

using nlohmann::json;

constexpr const char* kInvalidJsonBody = "Invalid JSON body";

AgentError undecodable(std::string message) {
    return AgentError{ErrorCode::badRequest, std::move(message)};
}

// Out of line: g++ 12 warns wrongly about the inlined concatenation (array-bounds).
[[gnu::noinline]] std::string expected(std::string_view key, std::string_view type) {
    std::string problem(key);
    problem.append(": expected ").append(type);
    return problem;
}

// An empty message when every key of the image source reads as its type.
std::string readImageSource(const json& object, std::optional<std::string>& base64,
                            std::optional<std::string>& path) {
    if (!common::optionalField(object, "imageBase64", base64)) return expected("imageBase64", "a string");
    if (!common::optionalField(object, "imagePath", path)) return expected("imagePath", "a string");
    return {};
}

std::string readInt32(const json& object, const char* key, std::optional<std::int32_t>& out) {
    std::optional<std::int64_t> value;
    if (!common::optionalField(object, key, value) ||
        (value && (*value < std::numeric_limits<std::int32_t>::min() ||
                   *value > std::numeric_limits<std::int32_t>::max()))) {
        return expected(key, "a 32-bit integer");
    }
    if (value) out = static_cast<std::int32_t>(*value);
    return {};
}

std::string readUInt64(const json& object, const char* key, std::optional<std::uint64_t>& out) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return {};
    if (!it->is_number_unsigned()) return expected(key, "an unsigned 64-bit integer");
    out = it->get<std::uint64_t>();
    return {};
}

// The description of what is wrong, or an empty one.
std::string readOCROptions(const json& object, OCROptions& options) {
    std::string problem = readImageSource(object, options.imageBase64, options.imagePath);
    if (problem.empty()) problem = readInt32(object, "pid", options.pid);
    if (problem.empty()) problem = readUInt64(object, "windowId", options.windowId);
    return problem;
}

}  // namespace

Result<OCROptions> decodeOCROptions(std::string_view body) {
    const auto object = common::parseJsonObject(body);
    OCROptions options;
    if (!object || !readOCROptions(*object, options).empty()) return undecodable(kInvalidJsonBody);
    return options;
}

Result<VisualFindOptions> decodeVisualFindOptions(std::string_view body) {
    const auto object = common::parseJsonObject(body);
    VisualFindOptions options;
    if (!object || !readImageSource(*object, options.imageBase64, options.imagePath).empty() ||
        !common::requiredField(*object, "query", options.query)) {
        return undecodable(kInvalidJsonBody);
    }
    return options;
}

Result<TreeAndOCRRequest> decodeTreeAndOCRRequest(std::string_view body) {
    const auto parsed = common::parseJson(body);
    if (!parsed) return undecodable("The body is not valid JSON.");
    if (!parsed->is_object()) return undecodable("Expected a JSON object.");
    TreeAndOCRRequest request;
    std::string problem = readInt32(*parsed, "root_pid", request.rootPid);
    if (problem.empty()) problem = readOCROptions(*parsed, request.ocr);
    if (!problem.empty()) return undecodable(std::move(problem));
    return request;
}

}  // namespace pavo::agent
