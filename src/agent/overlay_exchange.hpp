#pragma once
// One HTTP exchange with the overlay. Kept apart from the client's logic so that the only translation
// unit carrying the HTTP client library is the one that implements this.

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace pavo::agent {

struct OverlayRequest {
    std::uint16_t port = 0;
    bool post = false;   // POST with a JSON content type, else GET
    std::string target;  // origin-form: path and query
    std::string token;   // sent as X-Overlay-Token; must hold no control characters
    std::optional<std::string> body;
    std::chrono::milliseconds timeout{60000};
};

struct OverlayReply {
    int status = 0;
    std::string body;
};

// Sends the request on a fresh connection to 127.0.0.1 and reads the reply. Nothing on any transport
// error, on timeout, or when the answer is not an HTTP reply. Redirects are not followed.
boost::asio::awaitable<std::optional<OverlayReply>> exchangeWithOverlay(OverlayRequest request);

}  // namespace pavo::agent
