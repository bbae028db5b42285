#pragma once
// The agent in process: its real dispatcher and routes over a simulated desktop, a tree cache on virtual
// time, and the consent gate of an overlay when a test gives one. Requests go straight to the dispatcher;
// the wire is the connection loop's business and is tested there.

#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
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
#include "agent/keys/keystrokes.hpp"
#include "agent/scripts/script_tools.hpp"
#include "agent/server/dispatcher.hpp"
#include "agent/vision/ocr_cache.hpp"
#include "agent/vision/vision_context.hpp"
#include "platform/recognition.hpp"
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

// A recogniser that fails every image, by answering so or by throwing.
class BrokenRecognition final : public platform::Recognition {
  public:
    explicit BrokenRecognition(bool throws = false) : throws_(throws) {}
    boost::asio::any_io_executor executor() override { return pool_.get_executor(); }
    boost::asio::awaitable<platform::RecognitionOutcome> recognize(std::shared_ptr<const std::string>,
                                                                   platform::RecognitionRequest) override;

    // Waits until its worker has let go of every io_context it answered to: call it before those go.
    void join() { pool_.join(); }

  private:
    bool throws_;
    boost::asio::thread_pool pool_{1};
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
    // `recognition` reads the images of the screen-text routes (none: every image fails).
    explicit AgentUnderTest(const nlohmann::json& scene, platform::Recognition* recognition = nullptr);

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
    agent::ScriptTools scripts;
    agent::KeysContext keys{desktop, scripts};
    BrokenRecognition brokenRecognition;
    agent::OCRCache ocrCache;
    agent::VisionContext vision;
    std::optional<agent::ConsentGate> gate;
    std::optional<agent::Dispatcher> dispatcher;
};

}  // namespace pavo::testing
