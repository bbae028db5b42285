#pragma once
// Every expected way a request can fail, as a value, and the result type that carries it. The one
// mapping of a failure to its status and JSON body is errorReply (server/replies.hpp).

#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <variant>

namespace pavo::agent {

enum class ErrorCode {
    badRequest,         // 400 "bad_request": the body does not decode
    invalidInput,       // 400 "invalid_input": it decodes, but a value is out of its domain
    unauthorized,       // 401 "unauthorized"
    permissionMissing,  // 403 "ax_permission_missing"
    consentDenied,      // 403 "consent_denied"
    notFound,           // 404 "not_found": no such route
    elementNotFound,    // 404 "element_not_found"
    payloadTooLarge,    // 413 "payload_too_large"
    noFrontmostApp,     // 500 "could_not_get_frontmost_app"
    actionFailed,       // 500 "action_failed"
    ocrFailed,          // 500 "ocr_failed"
    visualFindFailed,   // 500 "visual_find_failed"
    internal,           // 500 "internal_error"
    // Keystrokes, scripts and shortcuts; what they report beside the code is in `details`.
    unknownKey,                    // 400 "unknown_key"
    unsupportedAppleScriptTarget,  // 400 "unsupported_applescript_target"
    appNotFound,                   // 404 "app_not_found"
    appleScriptFailed,             // 500 "applescript_failed"
    shortcutFailed,                // 500 "shortcut_failed"
    shortcutTimeout,               // 504 "shortcut_timeout"
};

struct AgentError {
    ErrorCode code = ErrorCode::internal;
    std::string message = {};  // "message", when not empty
    std::string hint = {};     // "hint", when not empty
    // Further keys of the body, written as they are (a child's "stderr" and "stdout" even when empty).
    nlohmann::json::object_t details = {};
};

// A value, or the failure that took its place.
template <typename T>
class [[nodiscard]] Result {
  public:
    // Asio's co_spawn needs to make a result before it has one; it is always overwritten.
    Result() : state_(AgentError{ErrorCode::internal, "no result"}) {}
    Result(T value) : state_(std::move(value)) {}  // NOLINT: implicit on purpose, as for the error
    Result(AgentError error) : state_(std::move(error)) {}

    explicit operator bool() const { return state_.index() == 0; }
    T& operator*() { return std::get<0>(state_); }
    const T& operator*() const { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const T* operator->() const { return &std::get<0>(state_); }
    const AgentError& error() const { return std::get<1>(state_); }

  private:
    std::variant<T, AgentError> state_;
};

}  // namespace pavo::agent
