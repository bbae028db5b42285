// The only translation unit that includes Boost.Beast: it is slow and memory-hungry to compile.

#include "agent/overlay_exchange.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

namespace pavo::agent {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;

namespace {

constexpr auto kTuple = asio::as_tuple(asio::use_awaitable);

// Consent answers and event acknowledgements are a few dozen bytes; anything far larger is not the overlay.
constexpr std::uint64_t kMaxReplyBody = 1 << 20;

}  // namespace

asio::awaitable<std::optional<OverlayReply>> exchangeWithOverlay(OverlayRequest request) {
    beast::tcp_stream stream(co_await asio::this_coro::executor);
    stream.expires_after(request.timeout);

    const asio::ip::tcp::endpoint endpoint(asio::ip::address_v4::loopback(), request.port);
    auto [connectError] = co_await stream.async_connect(endpoint, kTuple);
    if (connectError) co_return std::nullopt;

    bhttp::request<bhttp::string_body> message(request.post ? bhttp::verb::post : bhttp::verb::get,
                                               request.target, 11);
    message.set(bhttp::field::host, "127.0.0.1:" + std::to_string(request.port));
    message.set("X-Overlay-Token", request.token);
    if (request.post) message.set(bhttp::field::content_type, "application/json");
    if (request.body) message.body() = std::move(*request.body);
    // One exchange per connection: the reply then ends where the overlay closes, even without a length.
    message.keep_alive(false);
    message.prepare_payload();

    auto [writeError, written] = co_await bhttp::async_write(stream, message, kTuple);
    if (writeError) co_return std::nullopt;

    beast::flat_buffer buffer;
    bhttp::response_parser<bhttp::string_body> parser;
    parser.body_limit(kMaxReplyBody);
    auto [readError, read] = co_await bhttp::async_read(stream, buffer, parser, kTuple);
    if (readError) co_return std::nullopt;

    beast::error_code ignored;
    stream.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    co_return OverlayReply{static_cast<int>(parser.get().result_int()), std::move(parser.get().body())};
}

}  // namespace pavo::agent
