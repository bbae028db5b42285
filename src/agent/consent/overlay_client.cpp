#include "agent/consent/overlay_client.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <algorithm>
#include <cctype>

#include "common/files.hpp"
#include "common/json_fields.hpp"
#include "common/overlay_socket.hpp"
#include "http/client.hpp"

namespace pavo::agent {

namespace asio = boost::asio;

namespace {

class SteadyPollClock final : public PollClock {
  public:
    TimePoint now() override { return std::chrono::steady_clock::now(); }

    asio::awaitable<void> sleepFor(Duration duration) override {
        asio::steady_timer timer(co_await asio::this_coro::executor, duration);
        // An interrupted sleep simply ends early; the deadline still bounds the loop.
        co_await timer.async_wait(asio::as_tuple(asio::use_awaitable));
    }
};

// The overlay's ids are compared as raw path text, so only characters that need no encoding can name one;
// anything else could end up asking about a different id (a "#" or "?" would cut it short).
bool isPlainId(std::string_view id) {
    return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '~';
    });
}

// A token that would break the request's header block is never sent.
bool isSafeHeaderValue(std::string_view value) {
    return std::none_of(value.begin(), value.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t') || u == 0x7F;
    });
}

// The overlay answers a grant with 200 {"consent": "granted"}; a 200 that says anything else (another
// server now on the port, a proxy's page) is not the operator's consent.
bool isGrant(std::string_view body) {
    const auto parsed = common::parseJsonObject(body);
    std::string consent;
    return parsed && common::requiredField(*parsed, "consent", consent) && consent == "granted";
}

}  // namespace

std::shared_ptr<PollClock> steadyPollClock() {
    static const std::shared_ptr<PollClock> clock = std::make_shared<SteadyPollClock>();
    return clock;
}

OverlayClient::OverlayClient(std::uint16_t port, std::string token, ConsentTiming timing)
    : port_(port), token_(std::move(token)), timing_(std::move(timing)) {
    if (!timing_.clock) timing_.clock = steadyPollClock();
}

std::optional<OverlayClient> OverlayClient::fromSocketFileText(std::string_view text, ConsentTiming timing) {
    const auto parsed = common::parseJsonObject(text);
    std::int64_t port = 0;
    std::string token;
    if (!parsed || !common::requiredField(*parsed, "port", port) ||
        !common::requiredField(*parsed, "token", token)) {
        return std::nullopt;
    }
    // A port no URL can carry is as unusable as a missing one.
    if (port < 0 || port > 65535) return std::nullopt;
    return OverlayClient(static_cast<std::uint16_t>(port), std::move(token), std::move(timing));
}

std::optional<OverlayClient> OverlayClient::fromSocketFile(const std::string& homeDirectory,
                                                           ConsentTiming timing) {
    const auto text = common::readFile(common::overlaySocketPath(homeDirectory));
    if (!text) return std::nullopt;
    return fromSocketFileText(*text, std::move(timing));
}

std::shared_ptr<const OverlayClient> findOverlay(const std::string& homeDirectory) {
    auto client = OverlayClient::fromSocketFile(homeDirectory);
    if (!client) return nullptr;
    return std::make_shared<const OverlayClient>(std::move(*client));
}

asio::awaitable<void> OverlayClient::emitEvent(std::string type, nlohmann::json::object_t payload) const {
    if (!isSafeHeaderValue(token_)) co_return;
    payload["type"] = std::move(type);
    http::ClientRequest request{.port = port_,
                                .method = "POST",
                                .target = "/event",
                                .headers = {{"X-Overlay-Token", token_}},
                                .body = std::nullopt,
                                .timeout = timing_.requestTimeout};
    try {
        request.body = nlohmann::json(std::move(payload)).dump();
    } catch (const nlohmann::json::exception&) {
        // Text that is not UTF-8 cannot be written as JSON; the event still goes, without a body.
    }
    co_await http::exchange(std::move(request));
}

asio::awaitable<bool> OverlayClient::checkConsent(std::string id) const {
    if (!isPlainId(id) || !isSafeHeaderValue(token_)) co_return false;
    // A named request, not a braced temporary in the co_await: gcc 12 destroys such temporaries twice.
    const http::ClientRequest poll{.port = port_,
                                   .method = "GET",
                                   .target = "/consent/" + id,
                                   .headers = {{"X-Overlay-Token", token_}},
                                   .body = std::nullopt,
                                   .timeout = timing_.requestTimeout};
    PollClock& clock = *timing_.clock;
    const auto deadline = clock.now() + timing_.pollDeadline;
    while (clock.now() < deadline) {
        auto reply = co_await http::exchange(poll);
        if (!reply) co_return false;
        if (reply->status == 200) co_return isGrant(reply->body);
        if (reply->status != 423) co_return false;
        co_await clock.sleepFor(timing_.pollInterval);
    }
    co_return false;
}

}  // namespace pavo::agent
