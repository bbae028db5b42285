#include "tcp_client.hpp"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <regex>
#include <stdexcept>

namespace pavo::testing {

namespace asio = boost::asio;
using Clock = std::chrono::steady_clock;

struct TcpClient::Connection {
    asio::io_context io;
    asio::ip::tcp::socket socket{io};
};

TcpClient::TcpClient(std::uint16_t port) : connection_(std::make_unique<Connection>()) {
    connection_->socket.connect({asio::ip::address_v4::loopback(), port});
}

TcpClient::~TcpClient() = default;

void TcpClient::send(const std::string& bytes) {
    asio::write(connection_->socket, asio::buffer(bytes));
}

TcpClient::Received TcpClient::receive(Clock::time_point deadline) {
    char chunk[65536];
    Received result = Received::nothing;
    connection_->socket.async_read_some(asio::buffer(chunk),
                                        [&](boost::system::error_code error, std::size_t n) {
                                            pending_.append(chunk, n);
                                            if (error != asio::error::operation_aborted)
                                                result = error ? Received::closed : Received::bytes;
                                        });
    asio::io_context& io = connection_->io;
    io.restart();
    if (io.run_until(deadline) == 0) {
        connection_->socket.cancel();
        io.restart();
        io.run();
    }
    return result;
}

std::optional<std::string> TcpClient::readResponse(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    static const std::regex length("\r\ncontent-length: *(\\d+)", std::regex::icase);
    while (true) {
        const auto headEnd = pending_.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            std::smatch match;
            const std::string head = pending_.substr(0, headEnd);
            const std::size_t total =
                headEnd + 4 + (std::regex_search(head, match, length) ? std::stoul(match[1]) : 0);
            if (pending_.size() >= total) {
                std::string response = pending_.substr(0, total);
                pending_.erase(0, total);
                return response;
            }
        }
        if (receive(deadline) != Received::bytes) return std::nullopt;
    }
}

bool TcpClient::closedByPeer(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    Received received;
    while ((received = receive(deadline)) == Received::bytes) {
    }
    return received == Received::closed && pending_.empty();
}

bool TcpClient::staysSilent(std::chrono::milliseconds period) {
    return receive(Clock::now() + period) == Received::nothing && pending_.empty();
}

int statusOf(const std::string& response) {
    return response.size() < 12 ? -1 : std::stoi(response.substr(9, 3));
}

std::string bodyOf(const std::string& response) {
    const auto headEnd = response.find("\r\n\r\n");
    return headEnd == std::string::npos ? "" : response.substr(headEnd + 4);
}

std::optional<std::string> headerOf(const std::string& response, const std::string& name) {
    const std::string head = response.substr(0, response.find("\r\n\r\n")), needle = "\r\n" + name + ": ";
    const auto pos = head.find(needle);
    if (pos == std::string::npos) return std::nullopt;
    const auto start = pos + needle.size();
    return head.substr(start, head.find("\r\n", start) - start);
}

std::string request(std::uint16_t port, const std::string& method, const std::string& path,
                    const std::string& body, const std::string& extraHeaders) {
    TcpClient client(port);
    client.send(method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders +
                "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    auto response = client.readResponse();
    if (!response) throw std::runtime_error("no response to " + method + " " + path);
    return *response;
}

}  // namespace pavo::testing
