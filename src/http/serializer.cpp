#include "http/serializer.hpp"

#include <algorithm>

#include "common/text.hpp"

namespace pavo::http {

std::string_view statusText(int status, Flavour flavour) {
    const bool agent = flavour == Flavour::agent;
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return agent ? "Created" : "Unknown";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 405:
            return agent ? "Method Not Allowed" : "Unknown";
        case 423:
            return agent ? "Unknown" : "Locked";
        case 500:
            return "Internal Server Error";
        default:
            return "Unknown";
    }
}

namespace {

bool hasHeader(const HTTPResponse& response, std::string_view lowerCaseName) {
    return std::any_of(response.headers.begin(), response.headers.end(),
                       [&](const auto& entry) { return common::toLower(entry.first) == lowerCaseName; });
}

}  // namespace

std::string serializeResponse(const HTTPResponse& response, const Dialect& dialect) {
    std::string out;
    out.reserve(128 + response.body.size());
    out += "HTTP/1.1 ";
    out += std::to_string(response.status);
    out += ' ';
    out += statusText(response.status, dialect.flavour);
    for (const auto& [name, value] : response.headers) {
        out += "\r\n";
        out += name;
        out += ": ";
        out += value;
    }
    if (dialect.alwaysAppendKeepAlive || !hasHeader(response, "connection")) {
        out += "\r\nConnection: keep-alive";
    }
    if (dialect.addContentLength && !hasHeader(response, "content-length")) {
        out += "\r\nContent-Length: ";
        out += std::to_string(response.body.size());
    }
    out += "\r\n\r\n";
    out += response.body;
    return out;
}

}  // namespace pavo::http
