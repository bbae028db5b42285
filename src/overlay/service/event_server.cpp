#include "overlay/service/event_server.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <iostream>
#include <optional>
#include <stdexcept>
#include <thread>
#include <variant>

#include "common/secure_compare.hpp"
#include "common/version.hpp"
#include "http/json_reply.hpp"
#include "http/server.hpp"

namespace pavo::overlay {

namespace asio = boost::asio;
using http::HTTPRequest;
using http::HTTPResponse;

namespace {

HTTPResponse withJsonBody(int status, const nlohmann::json& body) {
    return http::jsonReply(status, body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

constexpr std::string_view kConsentPrefix = "/consent/";

}  // namespace

HTTPResponse jsonOK(const std::map<std::string, std::string>& body) {
    return withJsonBody(200, nlohmann::json(body));
}

HTTPResponse jsonError(int status, const std::string& message) {
    return withJsonBody(status, {{"error", message}});
}

HTTPResponse jsonResponse(int status, const nlohmann::json& body) {
    return withJsonBody(status, body);
}

HTTPResponse jsonBlocked(const std::string& reason) {
    return withJsonBody(423, {{"blocked", true}, {"reason", reason}});
}

struct EventServer::Running {
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
    std::optional<http::Listener> listener;
    std::thread thread;
};

EventServer::EventServer(std::uint16_t port, std::string token, ConsentManager& consentManager, Clock clock)
    : port_(port),
      token_(std::move(token)),
      consent_(consentManager),
      clock_(std::move(clock)),
      startTime_(clock_()) {}

EventServer::~EventServer() {
    stop();
}

std::uint16_t EventServer::start() {
    if (running_) return running_->listener->port();
    auto running = std::make_unique<Running>();
    try {
        running->listener.emplace(
            running->io, port_, http::overlayDialect(),
            [this](HTTPRequest request) -> asio::awaitable<HTTPResponse> { co_return dispatch(request); });
    } catch (const boost::system::system_error& error) {
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port_) + ": " +
                                 error.code().message());
    }
    running->listener->start();
    const std::uint16_t bound = running->listener->port();
    std::cout << "[EventServer] Listening on 127.0.0.1:" << bound << std::endl;
    running->thread = std::thread([io = &running->io] { io->run(); });
    running_ = std::move(running);
    return bound;
}

void EventServer::stop() {
    if (!running_) return;
    running_->io.stop();
    running_->thread.join();
    running_.reset();
}

bool EventServer::authenticated(const HTTPRequest& request) const {
    // Only the first header present counts: a wrong primary token is not rescued by a right fallback.
    const std::string* presented = request.header("x-overlay-token");
    if (!presented) presented = request.header("x-pavo-overlay-token");
    return presented && common::constantTimeEquals(*presented, token_);
}

HTTPResponse EventServer::reject(HTTPResponse response) {
    ++rejectionCount_;
    return response;
}

HTTPResponse EventServer::dispatch(const HTTPRequest& request) {
    try {
        const bool get = request.method == "GET";
        if (get && request.path == "/health")
            return jsonOK({{"ok", "true"}, {"version", std::string(common::kVersion)}});
        if (!authenticated(request)) return reject(jsonError(401, "unauthorized"));
        if (get && request.path == "/stats") {
            const auto uptime = std::chrono::duration_cast<std::chrono::seconds>(clock_() - startTime_);
            return jsonResponse(200,
                                {{"rejections", rejectionCount_.load()}, {"uptimeSeconds", uptime.count()}});
        }
        if (get && request.path == "/state") {
            const OperatorMode mode = consent_.operatorMode();
            return jsonResponse(
                200, {{"operator_mode", toString(mode)}, {"mutations_blocked", mode == OperatorMode::block}});
        }
        if (get && request.path.starts_with(kConsentPrefix)) {
            return consentAnswer(request.path.substr(kConsentPrefix.size()));
        }
        if (request.method == "POST" && request.path == "/event") return intake(request.body);
        return jsonError(404, "not_found");
    } catch (...) {
        return jsonError(500, "internal_error");
    }
}

HTTPResponse EventServer::consentAnswer(const std::string& id) const {
    const std::optional<Resolution> result = consent_.resolution(id);
    if (!result) return jsonBlocked("consent_pending");
    if (result->granted) return jsonOK({{"consent", "granted"}});
    return jsonBlocked(result->reason.value_or("consent_denied"));
}

void EventServer::forward(const OverlayEvent& event) {
    if (!onEvent) return;
    try {
        onEvent(event);
    } catch (...) {
        // The reply does not depend on the receiver; a faulty receiver must not take the server down.
    }
}

HTTPResponse EventServer::intake(const std::string& body) {
    std::optional<OverlayEvent> decoded;
    try {
        decoded = EventDecoder::decode(body);
    } catch (const EventDecodeError& error) {
        if (error.kind() == EventDecodeError::Kind::missingField) {
            return jsonError(400, "missing_field:" + error.detail());
        }
        return jsonError(400, "malformed_json");
    }
    if (!decoded) return jsonOK({{"ack", "true"}, {"ignored", "true"}});
    const OverlayEvent& event = *decoded;

    if (std::holds_alternative<events::Ack>(event) ||
        std::holds_alternative<events::AgentStateChange>(event)) {
        forward(event);
        return jsonOK({{"ack", "true"}});
    }

    if (const auto* prompt = std::get_if<events::DestructivePrompt>(&event)) {
        if (consent_.operatorMode() == OperatorMode::block) {
            ++rejectionCount_;
            consent_.storeResolution(prompt->id, Resolution{false, "circuit_breaker_open"});
            forward(event);
            return jsonBlocked("circuit_breaker_open");
        }
        consent_.removeResolution(prompt->id);  // the id is pending again
        forward(event);
        return jsonOK({{"ack", "true"}});
    }

    if (std::holds_alternative<events::DestructivePrepare>(event) &&
        consent_.operatorMode() == OperatorMode::block) {
        return reject(jsonBlocked("agent_blocked"));
    }
    if (consent_.isPaused()) return reject(jsonBlocked("agent_paused"));
    if (consent_.mode() == ConsentMode::manual) return reject(jsonBlocked("manual_mode"));
    forward(event);
    return jsonOK({{"ack", "true"}});
}

}  // namespace pavo::overlay
