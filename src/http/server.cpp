#include "http/server.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <array>
#include <chrono>

#include "common/text.hpp"
#include "http/parser.hpp"
#include "http/serializer.hpp"

namespace pavo::http {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

constexpr std::size_t kReadChunk = 65'536;
constexpr auto kTuple = asio::as_tuple(asio::use_awaitable);

bool asksToClose(const HTTPRequest& request) {
    const std::string* value = request.header("connection");
    return value && common::toLower(*value) == "close";
}

// Accept failures such as running out of descriptors pass; the listener keeps going after a pause.
bool isTransientAcceptError(const boost::system::error_code& ec) {
    return ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space ||
           ec == asio::error::connection_aborted || ec == asio::error::no_memory;
}

}  // namespace

Listener::Listener(asio::io_context& io, std::uint16_t port, Dialect dialect, Service service)
    : acceptor_(io), dialect_(dialect), service_(std::make_shared<const Service>(std::move(service))) {
    const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), port);
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen(asio::socket_base::max_listen_connections);
    port_ = acceptor_.local_endpoint().port();
}

void Listener::start() {
    asio::co_spawn(acceptor_.get_executor(), acceptLoop(), asio::detached);
}

void Listener::stop() {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
}

asio::awaitable<void> Listener::acceptLoop() {
    while (acceptor_.is_open()) {
        auto [ec, socket] = co_await acceptor_.async_accept(kTuple);
        if (ec == asio::error::operation_aborted) co_return;
        if (ec) {
            if (!isTransientAcceptError(ec)) co_return;
            asio::steady_timer pause(acceptor_.get_executor(), std::chrono::milliseconds(50));
            co_await pause.async_wait(kTuple);
            continue;
        }
        boost::system::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        asio::co_spawn(acceptor_.get_executor(), handleConnection(std::move(socket), dialect_, service_),
                       asio::detached);
    }
}

namespace {

// Waits until the socket is readable, then reads into a per-thread chunk: nothing is held per connection
// while it waits. Returns the bytes read (0 at end of stream or on error).
asio::awaitable<std::size_t> readChunk(tcp::socket& socket, std::string& buffer) {
    thread_local std::array<char, kReadChunk> chunk;
    while (true) {
        auto [waitError] = co_await socket.async_wait(tcp::socket::wait_read, kTuple);
        if (waitError) co_return 0;
        boost::system::error_code ec;
        const std::size_t n = socket.read_some(asio::buffer(chunk), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) continue;
        if (ec) co_return 0;
        buffer.append(chunk.data(), n);
        co_return n;
    }
}

// Reads and drops `count` bytes as they arrive, keeping in `buffer` whatever follows them (a pipelined
// request); false when the stream ends first.
asio::awaitable<bool> discard(tcp::socket& socket, std::size_t count, std::string& buffer) {
    std::string scratch;
    while (count > 0) {
        if (co_await readChunk(socket, scratch) == 0) co_return false;
        const std::size_t dropped = std::min(count, scratch.size());
        buffer.append(scratch, dropped);
        count -= dropped;
        scratch.clear();
    }
    co_return true;
}

}  // namespace

asio::awaitable<void> handleConnection(tcp::socket socket, Dialect dialect,
                                       std::shared_ptr<const Service> service) {
    boost::system::error_code setupError;
    socket.non_blocking(true, setupError);
    if (setupError) co_return;
    std::string buffer;
    std::size_t start = 0;     // bytes at the front already handed out as requests
    bool headChecked = false;  // the request at `start` passed its head check

    while (true) {
        // Parse before reading: a pipelining client may already have sent the next request.
        ParseResult parsed = parseRequest(std::string_view(buffer).substr(start), dialect);
        if (parsed.status == ParseStatus::error && dialect.closeOnParseError) break;

        if (parsed.headComplete && !headChecked && service->checkHead) {
            auto refusal = service->checkHead(parsed.request, parsed.bodyLength);
            if (refusal) {
                const std::string bytes = serializeResponse(refusal->response, dialect);
                auto [writeError, written] = co_await asio::async_write(socket, asio::buffer(bytes), kTuple);
                if (writeError || !refusal->keepConnection || asksToClose(parsed.request)) break;
                // What the buffer already holds of the refused request goes; the rest is dropped unread.
                const std::size_t held = buffer.size() - start;
                const std::size_t total = parsed.headBytes + parsed.bodyLength;
                start += std::min(held, total);
                if (total > held) {
                    buffer.erase(0, start);
                    start = 0;
                    if (!co_await discard(socket, total - held, buffer)) break;
                }
                continue;
            }
            headChecked = true;
        }

        if (parsed.status == ParseStatus::complete) {
            start += parsed.consumed;
            headChecked = false;
            const bool close = asksToClose(parsed.request);
            HTTPResponse response;
            try {
                response = co_await service->handle(std::move(parsed.request));
            } catch (...) {
                break;  // a handler that throws broke its contract; the connection cannot be trusted
            }
            const std::string bytes = serializeResponse(response, dialect);
            auto [writeError, written] = co_await asio::async_write(socket, asio::buffer(bytes), kTuple);
            if (writeError && dialect.closeOnWriteError) break;
            if (close) break;
            continue;
        }

        if (start == buffer.size()) {
            std::string().swap(buffer);  // release the memory of a drained buffer while idle
            start = 0;
        } else if (start > 0) {
            buffer.erase(0, start);
            start = 0;
        }
        if (dialect.maxBufferedBytes && buffer.size() > *dialect.maxBufferedBytes) break;

        if (co_await readChunk(socket, buffer) == 0) break;
    }
    boost::system::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
}

}  // namespace pavo::http
