#include "agent_under_test.hpp"

#include "agent/server/routes.hpp"
#include "await.hpp"

namespace pavo::testing {

boost::asio::awaitable<void> FakeClock::sleepFor(Duration duration) {
    sleeps.push_back(duration);
    now_ += duration;
    co_return;
}

Reply replyOf(const http::HTTPResponse& response) {
    return {response.status, nlohmann::json::parse(response.body, nullptr, false), response.headers,
            response.body};
}

AgentUnderTest::AgentUnderTest(const nlohmann::json& scene)
    : desktop(platform::simulated::parseScene(scene)) {
    gateWith(nullptr);
}

void AgentUnderTest::gateWith(std::shared_ptr<const agent::OverlayClient> overlay) {
    dispatcher.reset();
    gate.emplace(std::move(overlay));
    dispatcher.emplace("t");
    agent::registerRoutes(*dispatcher, agent::Features{context, *gate});
}

Reply AgentUnderTest::post(const std::string& path, const std::string& body,
                           std::map<std::string, std::string> headers) {
    http::HTTPRequest request;
    request.method = "POST";
    request.path = path;
    request.headers = std::move(headers);
    request.headers["x-pavo-token"] = "t";
    request.body = body;
    return replyOf(await(io, dispatcher->dispatch(std::move(request))));
}

std::vector<nlohmann::json> AgentUnderTest::recorded(const std::string& kind) const {
    std::vector<nlohmann::json> out;
    for (const auto& record : desktop.records()) {
        if (record.entry["kind"] == kind) out.push_back(record.entry);
    }
    return out;
}

}  // namespace pavo::testing
