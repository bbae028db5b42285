#pragma once
// The stdio transport: standard input read asynchronously in chunks, standard output written one whole line
// at a time from a queue, so that replies finishing in any order never interleave their bytes.

#include <boost/asio/awaitable.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>

#include <deque>
#include <string>

#include "mcp/line_framer.hpp"

namespace pavo::mcp {

class StdioChannel {
  public:
    StdioChannel(boost::asio::io_context& io, int inputDescriptor, int outputDescriptor);

    // Feeds everything read into `framer` until end of input (or a read error), then finishes it.
    boost::asio::awaitable<void> readAll(LineFramer& framer);

    // Queues one message; the newline is added here.
    void send(std::string line);

    bool outputBroken() const { return broken_; }

  private:
    boost::asio::awaitable<void> writeQueued();

    boost::asio::posix::stream_descriptor input_;
    boost::asio::posix::stream_descriptor output_;
    std::deque<std::string> queue_;
    bool writing_ = false;
    bool broken_ = false;
};

}  // namespace pavo::mcp
