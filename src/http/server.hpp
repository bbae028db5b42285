#pragma once
// The loopback listener and the per-connection loop both programs serve HTTP with. It knows framing
// only; what a request means is the handler's business.

#include <boost/asio/awaitable.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <memory>

#include "http/dialect.hpp"
#include "http/message.hpp"

namespace pavo::http {

// Must not throw: every failure is expected to be a response by the time it gets here.
using Handler = std::function<boost::asio::awaitable<HTTPResponse>(HTTPRequest)>;

class Listener {
public:
    // Binds 127.0.0.1:port (0 picks a free port); throws boost::system::system_error when it cannot.
    Listener(boost::asio::io_context& io, std::uint16_t port, Dialect dialect, Handler handler);

    std::uint16_t port() const { return port_; }

    // Starts accepting; each connection runs as its own coroutine on the listener's io_context.
    void start();

    // Stops accepting; connections already open finish with the io_context.
    void stop();

private:
    boost::asio::awaitable<void> acceptLoop();

    boost::asio::ip::tcp::acceptor acceptor_;
    Dialect dialect_;
    std::shared_ptr<const Handler> handler_;
    std::uint16_t port_ = 0;
};

// Serves one accepted connection until the peer closes it, an error ends it, or a request asks to close.
// Holds no read buffer while idle, so many open keep-alive connections stay cheap.
boost::asio::awaitable<void> handleConnection(boost::asio::ip::tcp::socket socket, Dialect dialect,
                                              std::shared_ptr<const Handler> handler);

}  // namespace pavo::http
