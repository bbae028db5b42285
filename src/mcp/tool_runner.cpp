#include "mcp/tool_runner.hpp"

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <chrono>
#include <memory>

#include "common/base64.hpp"
#include "mcp/audit_record.hpp"
#include "mcp/screenshot.hpp"
#include "mcp/step_events.hpp"

namespace pavo::mcp {

namespace asio = boost::asio;
using nlohmann::json;

namespace {

struct WorkerShot {
    std::optional<PreparedScreenshot> shot;
    std::string failure;
};

asio::awaitable<WorkerShot> captureAndEncode(platform::ScreenCapture* capture,
                                             std::optional<std::int64_t> pid, bool keepFullSize) {
    platform::CaptureResult captured = capture->capture(pid);
    if (!captured.image) co_return WorkerShot{std::nullopt, captured.failure};
    auto shot = prepareScreenshot(std::move(*captured.image), keepFullSize);
    if (!shot) co_return WorkerShot{std::nullopt, "the capture could not be encoded as a PNG within 1 MB"};
    co_return WorkerShot{std::move(shot), {}};
}

asio::awaitable<bool> wasCancelled() {
    const auto state = co_await asio::this_coro::cancellation_state;
    co_return state.cancelled() != asio::cancellation_type::none;
}

}  // namespace

CancelCall ToolRunner::start(ToolCall call, FinishCall finish) {
    struct Shared {
        asio::cancellation_signal signal;
        bool cancelled = false;
    };
    auto shared = std::make_shared<Shared>();
    const auto started = std::chrono::steady_clock::now();
    if (running_++ == 0) parts_.overlay.post(stateEvents("active", parts_.clientId));

    asio::co_spawn(
        parts_.io, run(call),
        asio::bind_cancellation_slot(shared->signal.slot(), [this, shared, call, finish = std::move(finish),
                                                             started](std::exception_ptr error, Output out) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - started);
            if (error && shared->cancelled) {
                ended(call, {"error", "cancelled"}, elapsed.count());
                return;
            }
            if (error) {
                std::string what = "unknown failure";
                try {
                    std::rethrow_exception(error);
                } catch (const std::exception& e) {
                    what = e.what();
                } catch (...) {
                }
                out = {errorResult("pavo-mcp failed while running " + call.tool->name + ": " + what),
                       {"error", "internal_error"}};
            }
            // The answer first: the overlay's events are never what the client waits for.
            finish(std::move(out.result));
            ended(call, out.outcome, elapsed.count());
        }));
    return [shared] {
        shared->cancelled = true;
        shared->signal.emit(asio::cancellation_type::terminal);
    };
}

void ToolRunner::ended(const ToolCall& call, const CallOutcome& outcome, std::int64_t elapsedMs) {
    parts_.overlay.post(auditEvent(call.tool->name, call.arguments, parts_.auditSalt,
                                   std::chrono::system_clock::now(), elapsedMs, outcome));
    if (--running_ == 0) parts_.overlay.post(stateEvents("idle", parts_.clientId));
}

asio::awaitable<ToolRunner::Output> ToolRunner::run(ToolCall call) {
    const ToolDefinition& tool = *call.tool;
    if (!tool.route) co_return co_await screenshot(std::move(call.arguments));

    parts_.overlay.post(eventsBefore(tool.name, call.arguments, frames_));
    const auto answer =
        co_await parts_.agent.send(*tool.route, call.arguments, requestTimeout(tool.name, call.arguments));
    if (co_await wasCancelled()) throw boost::system::system_error(asio::error::operation_aborted);

    InterpretedAnswer interpreted = interpretAnswer(tool, answer, parts_.agent.port());
    if (interpreted.succeeded) {
        parts_.overlay.post(eventsAfter(tool.name, call.arguments, interpreted.reply, frames_));
        frames_.remember(interpreted.reply);
    }
    co_return Output{std::move(interpreted.toolResult), std::move(interpreted.outcome)};
}

asio::awaitable<ToolRunner::Output> ToolRunner::screenshot(json arguments) {
    if (!parts_.capture)
        co_return Output{errorResult("This pavo-mcp cannot capture the screen."), {"error", "no_capture"}};
    std::optional<std::int64_t> pid;
    if (arguments.contains("pid")) pid = arguments["pid"].get<std::int64_t>();
    const bool ocr = arguments.value("ocr", false);

    WorkerShot taken = co_await asio::co_spawn(parts_.worker, captureAndEncode(parts_.capture, pid, ocr),
                                               asio::use_awaitable);
    if (co_await wasCancelled()) throw boost::system::system_error(asio::error::operation_aborted);
    if (!taken.shot)
        co_return Output{errorResult("No screenshot: " + taken.failure + "."), {"error", "capture_failed"}};

    PreparedScreenshot& shot = *taken.shot;
    json description = describeScreenshot(shot);
    if (!ocr) co_return Output{resultText(screenshotResult(shot, description, false, "")), {}};

    json body{{"imageBase64", common::base64Encode(*shot.fullPng)}};
    if (pid) body["pid"] = *pid;
    shot.fullPng.reset();
    // A named route and no temporaries in the co_await: g++ 12 destroys such temporaries twice.
    const AgentRoute ocrRoute{"POST", "/ocr"};
    const auto timeout = requestTimeout("ocr", body);
    const auto answer = co_await parts_.agent.send(ocrRoute, std::move(body), timeout);
    if (co_await wasCancelled()) throw boost::system::system_error(asio::error::operation_aborted);

    const ToolDefinition& ocrTool = *findTool("ocr");
    InterpretedAnswer interpreted = interpretAnswer(ocrTool, answer, parts_.agent.port());
    if (!interpreted.succeeded) {
        // The picture is still worth having; the failure is said beside it.
        co_return Output{resultText(screenshotResult(shot, description, true,
                                                     "Text recognition failed: " + interpreted.message)),
                         interpreted.outcome};
    }
    description["ocr"] = onScreen(interpreted.reply.value("results", json::array()), shot.source);
    const std::string note =
        std::to_string(description["ocr"].size()) + " lines of text, boxes in screen points.";
    co_return Output{resultText(screenshotResult(shot, description, false, note)), {}};
}

}  // namespace pavo::mcp
