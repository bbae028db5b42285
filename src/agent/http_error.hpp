#pragma once
// The error kinds a handler raises for the dispatcher to turn into a reply.

#include <stdexcept>

namespace pavo::agent {

enum class HTTPErrorKind { invalidRequest, notFound, methodNotAllowed, badRequest, unauthorized };

class HTTPError : public std::runtime_error {
public:
    explicit HTTPError(HTTPErrorKind kind);
    HTTPErrorKind kind() const { return kind_; }

private:
    HTTPErrorKind kind_;
};

}  // namespace pavo::agent
