#pragma once
// The loopback listener and the per-connection loop both programs serve HTTP with. It knows framing
// only; what a request means is the handler's business.

#include <boost/asio/awaitable.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "http/dialect.hpp"
#include "http/message.hpp"

namespace pavo::http {

// Must not throw: every failure is expected to be a response by the time it gets here.
using Handler = std::function<boost::asio::awaitable<HTTPResponse>(HTTPRequest)>;

// A request refused on its head alone, before any of its body is read.
struct HeadRefusal {
    HTTPResponse response;
    // The body is then read and dropped as it arrives, never buffered; otherwise the connection closes.
    bool keepConnection = false;
};

// Judges a request once its head is complete; nothing lets it through to its body and the handler.
using HeadCheck = std::function<std::optional<HeadRefusal>(const HTTPRequest& head, std::size_t bodyLength)>;

// What a listener serves: every request goes to `handle`, unless `checkHead` (when set) refuses it first.
struct Service {
    Handler handle;
    HeadCheck checkHead;
};

class Listener {
  public:
    // Binds 127.0.0.1:port (0 picks a free port); throws boost::system::system_error when it cannot.
    Listener(boost::asio::io_context& io, std::uint16_t port, Dialect dialect, Service service);
    Listener(boost::asio::io_context& io, std::uint16_t port, Dialect dialect, Handler handler)
        : Listener(io, port, dialect, Service{std::move(handler), {}}) {}

    std::uint16_t port() const { return port_; }

    // Starts accepting; each connection runs as its own coroutine on the listener's io_context.
    void start();

    // Stops accepting; connections already open finish with the io_context.
    void stop();

  private:
    boost::asio::awaitable<void> acceptLoop();

    boost::asio::ip::tcp::acceptor acceptor_;
    Dialect dialect_;
    std::shared_ptr<const Service> service_;
    std::uint16_t port_ = 0;
};

// Serves one accepted connection until the peer closes it, an error ends it, or a request asks to close.
// Holds no read buffer while idle, so many open keep-alive connections stay cheap.
boost::asio::awaitable<void> handleConnection(boost::asio::ip::tcp::socket socket, Dialect dialect,
                                              std::shared_ptr<const Service> service);

}  // namespace pavo::http
