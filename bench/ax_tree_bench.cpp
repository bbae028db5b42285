// Cost of a tree request for a 10,000-element application: the walk and serialisation behind a cache
// miss, and a cache hit end to end over loopback through the real listener and dispatcher.

#include <benchmark/benchmark.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <thread>

#include "agent/ax/ax_context.hpp"
#include "agent/ax/ax_tree_cache.hpp"
#include "agent/ax/ax_tree_data.hpp"
#include "agent/ax/batch_manager.hpp"
#include "agent/consent/consent_gate.hpp"
#include "agent/keys/keystrokes.hpp"
#include "agent/scripts/script_tools.hpp"
#include "agent/server/dispatcher.hpp"
#include "agent/server/routes.hpp"
#include "agent/vision/ocr_cache.hpp"
#include "agent/vision/vision_context.hpp"
#include "http/server.hpp"
#include "platform/linux/tesseract_recognition.hpp"
#include "platform/simulated/simulated_desktop.hpp"

namespace {

namespace asio = boost::asio;
using nlohmann::json;
using namespace pavo;

// 1 application + 10 windows + 100 groups + 9,900 buttons = 10,011 elements.
platform::simulated::Scene largeScene() {
    json button = {{"repeat", 99},
                   {"role", "AXButton"},
                   {"title", "Button {n}"},
                   {"identifier", "button-{n}"},
                   {"enabled", true},
                   {"position", {{"x", 10}, {"y", 20}}},
                   {"size", {{"width", 80}, {"height", 24}}}};
    json group = {{"repeat", 10}, {"role", "AXGroup"}, {"title", "Group {n}"}, {"children", {button}}};
    json window = {{"repeat", 10},
                   {"role", "AXWindow"},
                   {"title", "Window {n}"},
                   {"position", {{"x", 0}, {"y", 0}}},
                   {"size", {{"width", 1280}, {"height", 800}}},
                   {"children", {group}}};
    return platform::simulated::parseScene(
        {{"frontmost", 500},
         {"applications",
          {{{"pid", 500},
            {"name", "Large"},
            {"tree", {{"role", "AXApplication"}, {"title", "Large"}, {"children", {window}}}}}}}});
}

struct Agent {
    // A frozen clock keeps a stored snapshot fresh for the whole run, so every request can hit.
    agent::AXTreeCache cache{[] { return agent::AXTreeCache::TimePoint{}; }};
    agent::BatchManager batches;
    platform::simulated::SimulatedDesktop desktop{largeScene()};
    agent::AXContext context{desktop, cache, batches};
    // The route table has the screen-text routes too; nothing here calls them.
    agent::OCRCache ocrCache;
    std::unique_ptr<platform::Recognition> recognition =
        platform::linux_recognition::makeTesseractRecognition({.workers = 1});
    agent::VisionContext vision{desktop, *recognition, ocrCache};
};

void BM_TreeMissBuildAndSerialise(benchmark::State& state) {
    Agent agent;
    std::size_t bytes = 0;
    for (auto _ : state) {
        agent.cache.bump();
        auto result = agent::axTreeDataOnDesktop(agent.context, std::nullopt, std::nullopt, 500);
        bytes = result->snapshot->treeResponseBody().size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["requests/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["body_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_TreeMissBuildAndSerialise)->Unit(benchmark::kMillisecond);

// The real listener and dispatcher on their own I/O thread, and a keep-alive client on this one.
class LoopbackAgent {
  public:
    LoopbackAgent() : server_("bench-token") {
        agent::registerRoutes(server_,
                              agent::Features{agent_.context, ungated_, keys_, scripts_, agent_.vision});
        listener_.emplace(io_, 0, http::agentDialect(), server_.service());
        listener_->start();
        thread_ = std::thread([this] { io_.run(); });
        socket_.connect({asio::ip::make_address("127.0.0.1"), listener_->port()});
        socket_.set_option(asio::ip::tcp::no_delay(true));
    }
    ~LoopbackAgent() {
        socket_.close();
        asio::post(io_, [this] {
            listener_->stop();
            io_.stop();
        });
        thread_.join();
    }

    Agent& agent() { return agent_; }

    // One request; returns the reply's cache header and body size.
    std::pair<std::string, std::size_t> tree() {
        static const std::string request =
            "POST /ax/tree HTTP/1.1\r\nHost: 127.0.0.1\r\nx-pavo-token: bench-token\r\nContent-Length: "
            "2\r\n\r\n{}";
        asio::write(socket_, asio::buffer(request));
        const std::size_t headEnd = asio::read_until(socket_, asio::dynamic_buffer(buffer_), "\r\n\r\n");
        const std::string head = buffer_.substr(0, headEnd);
        buffer_.erase(0, headEnd);
        const auto lengthAt = head.find("Content-Length: ") + 16;
        const std::size_t length = std::stoul(head.substr(lengthAt, head.find("\r\n", lengthAt) - lengthAt));
        if (buffer_.size() < length) {
            asio::read(socket_, asio::dynamic_buffer(buffer_),
                       asio::transfer_exactly(length - buffer_.size()));
        }
        buffer_.erase(0, length);
        const auto cacheAt = head.find("X-Pavo-Cache: ") + 14;
        return {head.substr(cacheAt, head.find("\r\n", cacheAt) - cacheAt), length};
    }

  private:
    Agent agent_;
    asio::io_context io_{1};
    agent::ConsentGate ungated_{nullptr};
    agent::ScriptTools scripts_;
    agent::KeysContext keys_{agent_.desktop, scripts_};
    agent::Dispatcher server_;
    std::optional<http::Listener> listener_;
    std::thread thread_;
    asio::io_context clientIo_;
    asio::ip::tcp::socket socket_{clientIo_};
    std::string buffer_;
};

void BM_TreeHitOverLoopback(benchmark::State& state) {
    LoopbackAgent loopback;
    loopback.tree();  // the miss that fills the cache
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto [cache, size] = loopback.tree();
        if (cache != "HIT") state.SkipWithError("expected a cache hit");
        bytes = size;
    }
    state.counters["requests/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["body_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_TreeHitOverLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TreeMissOverLoopback(benchmark::State& state) {
    LoopbackAgent loopback;
    for (auto _ : state) {
        loopback.agent().cache.bump();
        auto [cache, size] = loopback.tree();
        if (cache != "MISS") state.SkipWithError("expected a cache miss");
        benchmark::DoNotOptimize(size);
    }
    state.counters["requests/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TreeMissOverLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
