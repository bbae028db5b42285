#pragma once
// The request and response records both servers exchange with their handlers.

#include <map>
#include <string>

namespace pavo::http {

struct HTTPRequest {
    std::string method;
    std::string path;                            // as received: query text included, no percent-decoding
    std::map<std::string, std::string> headers;  // names lower-cased and trimmed; the last occurrence wins
    std::string body;

    const std::string* header(const std::string& lowerCaseName) const {
        auto it = headers.find(lowerCaseName);
        return it == headers.end() ? nullptr : &it->second;
    }
};

struct HTTPResponse {
    int status = 200;
    std::map<std::string, std::string> headers;  // names as the producer wrote them
    std::string body;
};

}  // namespace pavo::http
