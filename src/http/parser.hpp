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
    HTTPRequest request;       // complete only
};

ParseResult parseRequest(std::string_view buffer, const Dialect& dialect);

}  // namespace pavo::http
