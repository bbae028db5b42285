#include "agent/server/replies.hpp"

#include <utility>

#include "http/json_reply.hpp"

namespace pavo::agent {

namespace {

std::pair<int, const char*> statusAndCode(ErrorCode code) {
    switch (code) {
        case ErrorCode::badRequest:
            return {400, "bad_request"};
        case ErrorCode::invalidInput:
            return {400, "invalid_input"};
        case ErrorCode::unauthorized:
            return {401, "unauthorized"};
        case ErrorCode::permissionMissing:
            return {403, "ax_permission_missing"};
        case ErrorCode::consentDenied:
            return {403, "consent_denied"};
        case ErrorCode::notFound:
            return {404, "not_found"};
        case ErrorCode::elementNotFound:
            return {404, "element_not_found"};
        case ErrorCode::payloadTooLarge:
            return {413, "payload_too_large"};
        case ErrorCode::noFrontmostApp:
            return {500, "could_not_get_frontmost_app"};
        case ErrorCode::actionFailed:
            return {500, "action_failed"};
        case ErrorCode::ocrFailed:
            return {500, "ocr_failed"};
        case ErrorCode::visualFindFailed:
            return {500, "visual_find_failed"};
        case ErrorCode::internal:
            return {500, "internal_error"};
        case ErrorCode::unknownKey:
            return {400, "unknown_key"};
        case ErrorCode::unsupportedAppleScriptTarget:
            return {400, "unsupported_applescript_target"};
        case ErrorCode::appNotFound:
            return {404, "app_not_found"};
        case ErrorCode::appleScriptFailed:
            return {500, "applescript_failed"};
        case ErrorCode::shortcutFailed:
            return {500, "shortcut_failed"};
        case ErrorCode::shortcutTimeout:
            return {504, "shortcut_timeout"};
    }
    return {500, "internal_error"};
}

}  // namespace

http::HTTPResponse jsonResponse(int status, const nlohmann::json& body) {
    std::string text;
    try {
        text = body.dump();
    } catch (const nlohmann::json::exception&) {
        text = R"({"error": "json_serialization_failed"})";
    }
    return http::jsonReply(status, std::move(text));
}

http::HTTPResponse errorReply(const AgentError& error) {
    const auto [status, code] = statusAndCode(error.code);
    nlohmann::json body = error.details;
    body["error"] = code;
    if (!error.message.empty()) body["message"] = error.message;
    if (!error.hint.empty()) body["hint"] = error.hint;
    return jsonResponse(status, body);
}

}  // namespace pavo::agent
