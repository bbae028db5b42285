#include "agent/http_error.hpp"

namespace pavo::agent {

namespace {

const char* describe(HTTPErrorKind kind) {
    switch (kind) {
        case HTTPErrorKind::invalidRequest: return "invalid request";
        case HTTPErrorKind::notFound: return "not found";
        case HTTPErrorKind::methodNotAllowed: return "method not allowed";
        case HTTPErrorKind::badRequest: return "bad request";
        case HTTPErrorKind::unauthorized: return "unauthorized";
    }
    return "unknown HTTP error";
}

}  // namespace

HTTPError::HTTPError(HTTPErrorKind kind) : std::runtime_error(describe(kind)), kind_(kind) {}

}  // namespace pavo::agent
