#pragma once
// Every expected way a request can fail, as a value, and the result type that carries it. The one
// mapping of a failure to its status and JSON body is errorReply (server/replies.hpp).

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
};

struct AgentError {
    ErrorCode code = ErrorCode::internal;
    std::string message = {};  // "message", when not empty
    std::string hint = {};     // "hint", when not empty
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
