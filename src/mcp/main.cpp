// pavo-mcp: the Model Context Protocol server an MCP client starts over stdio. It turns tool calls into
// pavo-agent requests and shows each step on pavo-overlay. Standard output carries protocol messages only;
// everything else goes to standard error.

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>

#include "common/files.hpp"
#include "common/overlay_socket.hpp"
#include "common/uuid.hpp"
#include "common/version.hpp"
#include "mcp/command_line.hpp"
#include "mcp/dispatcher.hpp"
#include "mcp/line_framer.hpp"
#include "mcp/overlay_link.hpp"
#include "mcp/stdio_channel.hpp"
#include "mcp/tool_runner.hpp"
#include "platform/linux/x11_screen_capture.hpp"

namespace {

using namespace pavo;
namespace asio = boost::asio;

// Room for a tool call carrying the largest image the agent accepts (64 MiB) in Base64 and JSON.
constexpr std::size_t kMostMessageBytes = 96u << 20;
constexpr std::chrono::seconds kEndGrace{3};

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

bool headerSafe(const std::string& value) {
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7F) return false;
    }
    return true;
}

int serve(const mcp::McpSettings& settings, const std::string& token) {
    const std::string home = common::homeDirectory();
    const std::string socketPath = common::overlaySocketPath(home);
    asio::io_context io(1);
    asio::thread_pool worker(1);

    mcp::OverlayLink overlay(io.get_executor(), [socketPath]() -> std::optional<mcp::OverlayAddress> {
        const auto text = common::readFile(socketPath);
        return text ? mcp::parseOverlaySocket(*text) : std::nullopt;
    });
    const mcp::AgentClient agent(static_cast<std::uint16_t>(settings.agentPort), token);
    const auto capture = platform::x11::makeX11ScreenCapture();
    const std::string session = common::randomUUID();
    mcp::ToolRunner runner({io.get_executor(), worker.get_executor(), agent, overlay, capture.get(),
                            "pavo-mcp-" + session.substr(0, 8), common::randomUUID()});

    mcp::StdioChannel channel(io, 0, 1);
    mcp::Dispatcher dispatcher([&](std::string line) { channel.send(std::move(line)); },
                               [&](mcp::ToolCall call, mcp::FinishCall finish) {
                                   return runner.start(std::move(call), std::move(finish));
                               });
    mcp::LineFramer framer(
        kMostMessageBytes, [&](std::string_view line) { dispatcher.onLine(line); },
        [&] { dispatcher.onOverlong(kMostMessageBytes); });

    std::cerr << "pavo-mcp " << common::kVersion << ": agent at 127.0.0.1:" << settings.agentPort
              << ", overlay from " << socketPath << std::endl;

    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code& error, int) {
        if (error) return;
        dispatcher.cancelAll();
        io.stop();
    });
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
            co_await channel.readAll(framer);
            // The client closed its end. A client that only closed its input may still read the answers
            // of the last calls, so they get a moment to finish; then whatever still runs is stopped, and
            // the overlay gets a moment to take the last events.
            asio::steady_timer pause(io);
            const auto deadline = std::chrono::steady_clock::now() + kEndGrace;
            while (dispatcher.callsInFlight() > 0 && std::chrono::steady_clock::now() < deadline) {
                pause.expires_after(std::chrono::milliseconds(20));
                co_await pause.async_wait(asio::as_tuple(asio::use_awaitable));
            }
            dispatcher.cancelAll();
            overlay.close(std::chrono::seconds(2));
            signals.cancel();
        },
        asio::detached);
    io.run();
    worker.join();
    return 0;
}

int run(const std::vector<std::string>& arguments) {
    const auto parsed = mcp::parseMcpCommandLine(arguments, environmentValue, common::homeDirectory());
    if (!parsed.settings) {
        std::ostream& out = parsed.exitStatus == 0 ? std::cout : std::cerr;
        for (const auto& line : parsed.output) out << line << '\n';
        out.flush();
        return parsed.exitStatus;
    }
    const std::string token = mcp::resolveAgentToken(*parsed.settings, common::readFile);
    if (token.empty() || !headerSafe(token)) {
        std::cerr
            << "pavo-mcp: no usable agent token: give --token, $VEXLO_PAVO_SIDECAR_TOKEN or a token file ("
            << parsed.settings->tokenFile << ")" << std::endl;
        return 1;
    }
    return serve(*parsed.settings, token);
}

}  // namespace

int main(int argc, char** argv) {
    // A client that goes away must end writes with an error, not end the process mid-call.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::cerr << "pavo-mcp: fatal error: " << error.what() << std::endl;
        return 1;
    }
}
