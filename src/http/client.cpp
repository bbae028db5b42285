// The only translation unit that includes Boost.Beast: it is slow and memory-hungry to compile.

#include "http/client.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

namespace pavo::http {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;

namespace {

constexpr auto kTuple = asio::as_tuple(asio::use_awaitable);

}  // namespace

asio::awaitable<std::optional<ClientReply>> exchange(ClientRequest request) {
    beast::tcp_stream stream(co_await asio::this_coro::executor);
    stream.expires_after(request.timeout);

    const asio::ip::tcp::endpoint endpoint(asio::ip::address_v4::loopback(), request.port);
    auto [connectError] = co_await stream.async_connect(endpoint, kTuple);
    if (connectError) co_return std::nullopt;

    bhttp::request<bhttp::string_body> message(bhttp::string_to_verb(request.method), request.target, 11);
    if (message.method() == bhttp::verb::unknown) message.method_string(request.method);
    message.set(bhttp::field::host, "127.0.0.1:" + std::to_string(request.port));
    for (const auto& [name, value] : request.headers) message.set(name, value);
    if (request.body) {
        message.set(bhttp::field::content_type, "application/json");
        message.body() = std::move(*request.body);
    }
    // One exchange per connection: the reply then ends where the server closes, even without a length.
    message.keep_alive(false);
    message.prepare_payload();

    auto [writeError, written] = co_await bhttp::async_write(stream, message, kTuple);
    if (writeError) co_return std::nullopt;

    beast::flat_buffer buffer;
    bhttp::response_parser<bhttp::string_body> parser;
    parser.body_limit(request.maxReplyBody);
    auto [readError, read] = co_await bhttp::async_read(stream, buffer, parser, kTuple);
    if (readError) co_return std::nullopt;

    beast::error_code ignored;
    stream.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    co_return ClientReply{static_cast<int>(parser.get().result_int()), std::move(parser.get().body())};
}

}  // namespace pavo::http
