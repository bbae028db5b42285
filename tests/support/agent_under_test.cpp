#include "agent_under_test.hpp"

#include "agent/server/routes.hpp"

#include <stdexcept>
#include "await.hpp"

namespace pavo::testing {

boost::asio::awaitable<void> FakeClock::sleepFor(Duration duration) {
    sleeps.push_back(duration);
    now_ += duration;
    co_return;
}

boost::asio::awaitable<platform::RecognitionOutcome> BrokenRecognition::recognize(
    std::shared_ptr<const std::string>, platform::RecognitionRequest) {
    if (throws_) throw std::runtime_error("the engine broke");
    co_return platform::RecognitionFailure::failed;
}

Reply replyOf(const http::HTTPResponse& response) {
    return {response.status, nlohmann::json::parse(response.body, nullptr, false), response.headers,
            response.body};
}

AgentUnderTest::AgentUnderTest(const nlohmann::json& scene, platform::Recognition* recognition)
    : desktop(platform::simulated::parseScene(scene)),
      vision{desktop, recognition ? *recognition : brokenRecognition, ocrCache} {
    gateWith(nullptr);
}

void AgentUnderTest::gateWith(std::shared_ptr<const agent::OverlayClient> overlay) {
    dispatcher.reset();
    gate.emplace(std::move(overlay));
    dispatcher.emplace("t");
    agent::registerRoutes(*dispatcher, agent::Features{context, *gate, keys, scripts, vision});
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
