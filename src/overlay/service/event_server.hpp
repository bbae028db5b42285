#pragma once
// The overlay's HTTP API on 127.0.0.1: health, stats, state, consent answers and event intake, all
// behind the overlay token. It serves on its own thread; decoded events leave through `onEvent`.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "http/message.hpp"
#include "overlay/service/consent_manager.hpp"
#include "overlay/service/event_decoder.hpp"

namespace pavo::overlay {

// Reply builders: every reply carries "Content-Type: application/json" and its "Content-Length".
http::HTTPResponse jsonOK(const std::map<std::string, std::string>& body);  // 200, string values only
http::HTTPResponse jsonError(int status, const std::string& message);       // {"error": message}
http::HTTPResponse jsonResponse(int status, const nlohmann::json& body);
http::HTTPResponse jsonBlocked(const std::string& reason);  // 423 {"blocked": true, "reason": reason}

class EventServer {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    EventServer(std::uint16_t port, std::string token, ConsentManager& consentManager,
                Clock clock = &std::chrono::steady_clock::now);
    ~EventServer();
    EventServer(const EventServer&) = delete;
    EventServer& operator=(const EventServer&) = delete;

    // Called on the server's thread, before the reply is produced, for each event let through. Set it
    // before start(); it must hand the event on quickly (to the GUI thread) and not throw.
    std::function<void(const OverlayEvent&)> onEvent;

    // Binds 127.0.0.1:port (0 picks a free port), prints the listening line and serves on the server's
    // own thread. Returns the bound port. Throws std::runtime_error when the listener cannot be created.
    std::uint16_t start();

    // Stops serving and joins the server's thread; also done on destruction.
    void stop();

    // The reply to one complete request; never throws.
    http::HTTPResponse dispatch(const http::HTTPRequest& request);

    std::int64_t rejectionCount() const { return rejectionCount_.load(); }

  private:
    struct Running;

    bool authenticated(const http::HTTPRequest& request) const;
    http::HTTPResponse reject(http::HTTPResponse response);
    http::HTTPResponse consentAnswer(const std::string& id) const;
    http::HTTPResponse intake(const std::string& body);
    void forward(const OverlayEvent& event);

    std::uint16_t port_;
    std::string token_;
    ConsentManager& consent_;
    Clock clock_;
    std::chrono::steady_clock::time_point startTime_;
    std::atomic<std::int64_t> rejectionCount_{0};
    std::unique_ptr<Running> running_;
};

}  // namespace pavo::overlay
