#include "mcp/overlay_link.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>

#include <iostream>

#include "common/json_fields.hpp"
#include "http/client.hpp"

namespace pavo::mcp {

namespace asio = boost::asio;
using nlohmann::json;

namespace {

// The overlay is local and answers at once; one that hangs must not hold every later event for a minute.
constexpr std::chrono::milliseconds kPostTimeout{2000};
// How often a missing overlay is looked for again.
constexpr std::chrono::milliseconds kRelocateEvery{1000};

}  // namespace

std::optional<OverlayAddress> parseOverlaySocket(std::string_view text) {
    const auto parsed = common::parseJsonObject(text);
    std::int64_t port = 0;
    std::string token;
    if (!parsed || !common::requiredField(*parsed, "port", port) ||
        !common::requiredField(*parsed, "token", token)) {
        return std::nullopt;
    }
    if (port < 1 || port > 65535 || token.empty()) return std::nullopt;
    // A token that would break the request's header block is never sent.
    for (const char c : token) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7F) return std::nullopt;
    }
    return OverlayAddress{static_cast<std::uint16_t>(port), std::move(token)};
}

OverlayLink::OverlayLink(asio::any_io_executor executor, Locate locate, std::size_t mostPending)
    : executor_(std::move(executor)), locate_(std::move(locate)), mostPending_(mostPending) {}

void OverlayLink::post(json event) {
    if (closeBy_ && std::chrono::steady_clock::now() >= *closeBy_) {
        ++dropped_;
        return;
    }
    if (pending_.size() >= mostPending_) {
        // The overlay is not keeping up; the newest events say the most about what happens now.
        pending_.pop_front();
        ++dropped_;
    }
    pending_.push_back(event.dump(-1, ' ', false, json::error_handler_t::replace));
    if (draining_) return;
    draining_ = true;
    asio::co_spawn(executor_, drain(), asio::detached);
}

void OverlayLink::post(const std::vector<json>& events) {
    for (const auto& event : events) post(event);
}

void OverlayLink::close(std::chrono::milliseconds grace) {
    closeBy_ = std::chrono::steady_clock::now() + grace;
}

bool OverlayLink::located() {
    if (address_) return true;
    const auto now = std::chrono::steady_clock::now();
    if (lastLocate_ && now - *lastLocate_ < kRelocateEvery) return false;
    lastLocate_ = now;
    address_ = locate_();
    return address_.has_value();
}

asio::awaitable<void> OverlayLink::drain() {
    while (!pending_.empty()) {
        std::string body = std::move(pending_.front());
        pending_.pop_front();
        if ((closeBy_ && std::chrono::steady_clock::now() >= *closeBy_) || !located()) {
            ++dropped_;
            continue;
        }
        http::ClientRequest request;
        request.port = address_->port;
        request.method = "POST";
        request.target = "/event";
        request.headers = {{"X-Overlay-Token", address_->token}};
        request.body = std::move(body);
        request.timeout = kPostTimeout;
        const auto reply = co_await http::exchange(std::move(request));
        if (!reply || reply->status == 401) {
            // Gone, or someone else on its port: look for it again before the next event.
            std::cerr << "pavo-mcp: the overlay at 127.0.0.1:" << address_->port << " did not take an event"
                      << (reply ? " (401)" : "") << std::endl;
            address_.reset();
            ++dropped_;
        }
        // Any other answer (423 while the operator blocks agents, 400) is the overlay's decision, not an
        // error.
    }
    draining_ = false;
}

}  // namespace pavo::mcp
