#pragma once
// Posts display and audit events to pavo-overlay, in order, one at a time, without holding up any reply:
// a tool call only queues its events. The overlay is found through the overlay.sock file it writes, and
// found again after it stops answering (it may start after pavo-mcp, or restart on another port). Events
// that cannot be delivered are dropped: they are for the operator's eyes, not part of any answer.

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pavo::mcp {

struct OverlayAddress {
    std::uint16_t port = 0;
    std::string token;
};

// The overlay.sock text: a JSON object with an integer "port" (1 to 65535) and a string "token".
std::optional<OverlayAddress> parseOverlaySocket(std::string_view text);

class OverlayLink {
  public:
    using Locate = std::function<std::optional<OverlayAddress>()>;

    OverlayLink(boost::asio::any_io_executor executor, Locate locate, std::size_t mostPending = 512);

    void post(nlohmann::json event);
    void post(const std::vector<nlohmann::json>& events);

    // From now on, events still queued `grace` from now are dropped (the process is ending).
    void close(std::chrono::milliseconds grace);

    std::uint64_t dropped() const { return dropped_; }

  private:
    boost::asio::awaitable<void> drain();
    bool located();

    boost::asio::any_io_executor executor_;
    Locate locate_;
    std::size_t mostPending_;
    std::deque<std::string> pending_;
    bool draining_ = false;
    std::optional<OverlayAddress> address_;
    std::optional<std::chrono::steady_clock::time_point> lastLocate_;
    std::optional<std::chrono::steady_clock::time_point> closeBy_;
    std::uint64_t dropped_ = 0;
};

}  // namespace pavo::mcp
