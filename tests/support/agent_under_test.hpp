#pragma once
// The agent in process: its real dispatcher and routes over a simulated desktop, a tree cache on virtual
// time, and the consent gate of an overlay when a test gives one. Requests go straight to the dispatcher;
// the wire is the connection loop's business and is tested there.

#include <boost/asio/io_context.hpp>
#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/ax/ax_context.hpp"
#include "agent/ax/ax_tree_cache.hpp"
#include "agent/ax/batch_manager.hpp"
#include "agent/consent/consent_gate.hpp"
#include "agent/consent/overlay_client.hpp"
#include "agent/server/dispatcher.hpp"
#include "platform/simulated/simulated_desktop.hpp"

namespace pavo::testing {

// Virtual time for everything that takes a clock: sleeping advances it at once.
class FakeClock final : public agent::PollClock {
  public:
    TimePoint now() override { return now_; }
    boost::asio::awaitable<void> sleepFor(Duration duration) override;
    void advance(Duration duration) { now_ += duration; }
    std::vector<Duration> sleeps;

  private:
    TimePoint now_{};
};

struct Reply {
    int status = 0;
    nlohmann::json body;  // discarded when the body is not JSON
    std::map<std::string, std::string> headers;
    std::string text;
};

Reply replyOf(const http::HTTPResponse& response);

class AgentUnderTest {
  public:
    explicit AgentUnderTest(const nlohmann::json& scene);

    // From now on gated routes ask this overlay (none: nothing is gated, as at first).
    void gateWith(std::shared_ptr<const agent::OverlayClient> overlay);

    // With the agent's token; `headers` are added (names lower case, as parsed).
    Reply post(const std::string& path, const std::string& body,
               std::map<std::string, std::string> headers = {});
    Reply postJson(const std::string& path, const nlohmann::json& body) { return post(path, body.dump()); }

    // What the simulated desktop recorded of one kind ("action", "set", "mouse", "key", ...), in order.
    std::vector<nlohmann::json> recorded(const std::string& kind) const;

    boost::asio::io_context io;
    FakeClock clock;
    platform::simulated::SimulatedDesktop desktop;
    agent::AXTreeCache cache{[this] { return clock.now(); }};
    agent::BatchManager batches;
    agent::AXContext context{desktop, cache, batches};
    std::optional<agent::ConsentGate> gate;
    std::optional<agent::Dispatcher> dispatcher;
};

}  // namespace pavo::testing
