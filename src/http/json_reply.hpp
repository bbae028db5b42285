#pragma once
// The headers every JSON reply of both programs carries, in one place.

#include <string>

#include "http/message.hpp"

namespace pavo::http {

// `body` is JSON text already; the reply has exactly "Content-Type: application/json" and its
// "Content-Length".
inline HTTPResponse jsonReply(int status, std::string body) {
    HTTPResponse response;
    response.status = status;
    response.headers["Content-Type"] = "application/json";
    response.headers["Content-Length"] = std::to_string(body.size());
    response.body = std::move(body);
    return response;
}

}  // namespace pavo::http
