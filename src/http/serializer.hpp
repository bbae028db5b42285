#pragma once

#include <string>
#include <string_view>

#include "http/dialect.hpp"
#include "http/message.hpp"

namespace pavo::http {

// The reason phrase each program puts on its status line; the two tables differ.
std::string_view statusText(int status, Flavour flavour);

std::string serializeResponse(const HTTPResponse& response, const Dialect& dialect);

}  // namespace pavo::http
