#pragma once
// One HTTP/1.1 exchange with a server on 127.0.0.1, for the programs' calls to each other. The only
// translation unit carrying the HTTP client library is the one that implements this.

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pavo::http {

struct ClientRequest {
    std::uint16_t port = 0;
    std::string method = "GET";
    std::string target = "/";  // origin-form: path and query
    // Sent as given; values must hold no control characters.
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;  // sent with "Content-Type: application/json"
    std::chrono::milliseconds timeout{60000};
    std::uint64_t maxReplyBody = 1 << 20;
};

struct ClientReply {
    int status = 0;
    std::string body;
};

// Sends the request on a fresh connection and reads the reply; the connection is closed after it.
// Nothing on any transport error, on timeout, on a reply body over the limit, or when the answer is not
// an HTTP reply. Redirects are not followed. Runs on the awaiting coroutine's executor.
boost::asio::awaitable<std::optional<ClientReply>> exchange(ClientRequest request);

}  // namespace pavo::http
