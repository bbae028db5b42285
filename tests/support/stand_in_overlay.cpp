#include "stand_in_overlay.hpp"

#include "http/json_reply.hpp"

namespace pavo::testing {

http::HTTPResponse overlayReply(int status, const nlohmann::json& body) {
    return http::jsonReply(status, body.dump());
}

http::HTTPResponse consentPending() {
    return overlayReply(423, {{"blocked", true}, {"reason", "consent_pending"}});
}

http::HTTPResponse consentGranted() {
    return overlayReply(200, {{"consent", "granted"}});
}

StandInOverlay::StandInOverlay(boost::asio::io_context& io)
    : listener_(io, 0, http::overlayDialect(),
                [this](http::HTTPRequest r) -> boost::asio::awaitable<http::HTTPResponse> {
                    seen.push_back({r.method, r.path, r.headers, r.body});
                    if (r.method == "POST" && r.path == "/event")
                        co_return overlayReply(200, {{"ack", "true"}});
                    const std::string prefix = "/consent/";
                    if (r.method == "GET" && r.path.starts_with(prefix)) {
                        const std::string id = r.path.substr(prefix.size());
                        co_return consent(id, ++polls[id]);
                    }
                    co_return overlayReply(404, {{"error", "not_found"}});
                }) {
    listener_.start();
}

std::vector<SeenRequest> StandInOverlay::only(const std::string& prefix) const {
    std::vector<SeenRequest> matching;
    for (const auto& s : seen) {
        if (s.path.starts_with(prefix)) matching.push_back(s);
    }
    return matching;
}

}  // namespace pavo::testing
