#include "mcp/agent_client.hpp"

#include <algorithm>

#include "http/client.hpp"

namespace pavo::mcp {

namespace asio = boost::asio;
using nlohmann::json;

namespace {

// A tree of a large application is a few megabytes; an image for OCR comes back as boxes, not pixels.
constexpr std::uint64_t kMostReplyBytes = 256ull << 20;

}  // namespace

asio::awaitable<std::optional<AgentAnswer>> AgentClient::send(AgentRoute route, json arguments,
                                                              std::chrono::milliseconds timeout) const {
    http::ClientRequest request;
    request.port = port_;
    request.method = route.method;
    request.target = route.path;
    request.headers = {{"x-pavo-token", token_}};
    if (route.method != "GET") request.body = arguments.dump(-1, ' ', false, json::error_handler_t::replace);
    request.timeout = timeout;
    request.maxReplyBody = kMostReplyBytes;
    auto reply = co_await http::exchange(std::move(request));
    if (!reply) co_return std::nullopt;
    co_return AgentAnswer{reply->status, std::move(reply->body)};
}

std::chrono::milliseconds requestTimeout(const std::string& tool, const json& arguments) {
    using std::chrono::milliseconds;
    constexpr milliseconds kGeneral{10 * 60 * 1000};
    if (tool == "run_shortcut") {
        const auto limit = arguments.find("timeoutMs");
        if (limit != arguments.end() && limit->is_number_integer()) {
            const std::int64_t asked =
                std::clamp<std::int64_t>(limit->get<std::int64_t>(), 1000, 24ll * 3600 * 1000);
            return std::max(kGeneral, milliseconds(asked + 60 * 1000));
        }
    }
    return kGeneral;
}

}  // namespace pavo::mcp
