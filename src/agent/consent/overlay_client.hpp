#pragma once
// The agent's side of the consent exchange with pavo-overlay: where the overlay is (read once from the
// file it publishes), the prompt event, and the polls for the operator's answer. Every exchange runs on
// the awaiting coroutine's executor, one fresh loopback connection each.

#include <boost/asio/awaitable.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pavo::agent {

// Time as the consent poll sees it; tests give one that advances virtual time instead of waiting.
class PollClock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    virtual ~PollClock() = default;
    virtual TimePoint now() = 0;
    virtual boost::asio::awaitable<void> sleepFor(Duration duration) = 0;
};

// The steady clock; sleeps on a timer of the awaiting coroutine's executor.
std::shared_ptr<PollClock> steadyPollClock();

struct ConsentTiming {
    std::chrono::milliseconds pollInterval{100};
    std::chrono::milliseconds pollDeadline{2000};     // from the first poll; checked before each poll
    std::chrono::milliseconds requestTimeout{60000};  // one exchange, from connecting to the last byte
    std::shared_ptr<PollClock> clock = steadyPollClock();
};

class OverlayClient {
  public:
    OverlayClient(std::uint16_t port, std::string token, ConsentTiming timing = {});

    // The overlay published below `homeDirectory`; nothing when the file is missing, unreadable, not a
    // JSON object, or lacks an integer "port" from 0 to 65535 or a string "token".
    static std::optional<OverlayClient> fromSocketFile(const std::string& homeDirectory,
                                                       ConsentTiming timing = {});
    static std::optional<OverlayClient> fromSocketFileText(std::string_view text, ConsentTiming timing = {});

    std::uint16_t port() const { return port_; }
    const std::string& token() const { return token_; }

    // Posts {payload..., "type": type} to "/event" and waits for the exchange to end. Never fails; the
    // answer and any transport error are ignored.
    boost::asio::awaitable<void> emitEvent(std::string type, nlohmann::json::object_t payload) const;

    // Polls "/consent/<id>" until the overlay grants it (true), answers anything but "not yet" (false), or
    // the deadline passes (false). An id that cannot stand in a path unchanged is refused (false). Never
    // fails.
    boost::asio::awaitable<bool> checkConsent(std::string id) const;

  private:
    std::uint16_t port_;
    std::string token_;
    ConsentTiming timing_;
};

// The overlay published below `homeDirectory` as a shared client, or null (no consent gate).
std::shared_ptr<const OverlayClient> findOverlay(const std::string& homeDirectory);

}  // namespace pavo::agent
