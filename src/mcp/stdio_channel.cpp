#include "mcp/stdio_channel.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <iostream>

namespace pavo::mcp {

namespace asio = boost::asio;

namespace {

constexpr auto kTuple = asio::as_tuple(asio::use_awaitable);

}  // namespace

StdioChannel::StdioChannel(asio::io_context& io, int inputDescriptor, int outputDescriptor)
    : input_(io, inputDescriptor), output_(io, outputDescriptor) {}

asio::awaitable<void> StdioChannel::readAll(LineFramer& framer) {
    std::array<char, 64 * 1024> chunk{};
    for (;;) {
        auto [error, read] = co_await input_.async_read_some(asio::buffer(chunk), kTuple);
        if (read > 0) framer.feed(std::string_view(chunk.data(), read));
        if (error) break;
    }
    framer.finish();
}

void StdioChannel::send(std::string line) {
    if (broken_) return;
    line.push_back('\n');
    queue_.push_back(std::move(line));
    if (writing_) return;
    writing_ = true;
    asio::co_spawn(output_.get_executor(), writeQueued(), asio::detached);
}

asio::awaitable<void> StdioChannel::writeQueued() {
    while (!queue_.empty() && !broken_) {
        const std::string line = std::move(queue_.front());
        queue_.pop_front();
        auto [error, written] = co_await asio::async_write(output_, asio::buffer(line), kTuple);
        if (error) {
            // The client stopped reading: nothing more can reach it.
            std::cerr << "pavo-mcp: standard output failed: " << error.message() << std::endl;
            broken_ = true;
            queue_.clear();
        }
    }
    writing_ = false;
}

}  // namespace pavo::mcp
