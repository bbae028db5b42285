#pragma once
// Request framing: a pure function over the bytes buffered so far. No socket, no state.

#include <cstddef>
#include <string_view>

#include "http/dialect.hpp"
#include "http/message.hpp"

namespace pavo::http {

enum class ParseStatus { complete, incomplete, error };

struct ParseResult {
    ParseStatus status = ParseStatus::incomplete;
    std::size_t consumed = 0;  // bytes of the buffer the request occupied (complete only)
    // Complete: the whole request. Incomplete with `headComplete`: the head (method, path, headers), so
    // a server can judge a request before its body arrives.
    HTTPRequest request;
    bool headComplete = false;
    std::size_t headBytes = 0;   // the head with its blank line, once complete
    std::size_t bodyLength = 0;  // as the head declares it
};

ParseResult parseRequest(std::string_view buffer, const Dialect& dialect);

}  // namespace pavo::http
