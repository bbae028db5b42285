#include "tcp_client.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace pavo::testing {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Length of the first complete response in `data`, or 0.
std::size_t completeResponseLength(const std::string& data) {
    const auto headEnd = data.find("\r\n\r\n");
    if (headEnd == std::string::npos) return 0;
    std::size_t length = 0;
    const std::string head = data.substr(0, headEnd);
    std::string lower = head;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (auto pos = lower.find("\r\ncontent-length:"); pos != std::string::npos) {
        length = std::stoul(head.substr(pos + 17));
    }
    const std::size_t total = headEnd + 4 + length;
    return data.size() >= total ? total : 0;
}

}  // namespace

TcpClient::TcpClient(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        throw std::runtime_error(std::string("connect failed: ") + std::strerror(errno));
    }
}

TcpClient::~TcpClient() {
    if (fd_ >= 0) ::close(fd_);
}

void TcpClient::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("send failed: ") + std::strerror(errno));
        }
        sent += static_cast<std::size_t>(n);
    }
}

std::optional<std::string> TcpClient::readResponse(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        if (const std::size_t length = completeResponseLength(pending_)) {
            std::string response = pending_.substr(0, length);
            pending_.erase(0, length);
            return response;
        }
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready <= 0) return std::nullopt;
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return std::nullopt;
        pending_.append(chunk, static_cast<std::size_t>(n));
    }
}

bool TcpClient::closedByPeer(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, remainingMs(deadline)) <= 0) return false;
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n == 0) return pending_.empty();
        if (n < 0) return errno == ECONNRESET && pending_.empty();
        pending_.append(chunk, static_cast<std::size_t>(n));
    }
}

bool TcpClient::staysSilent(std::chrono::milliseconds period) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(period.count())) == 0 && pending_.empty();
}

int statusOf(const std::string& response) {
    if (response.size() < 12) return -1;
    return std::stoi(response.substr(9, 3));
}

std::string bodyOf(const std::string& response) {
    const auto headEnd = response.find("\r\n\r\n");
    return headEnd == std::string::npos ? "" : response.substr(headEnd + 4);
}

std::optional<std::string> headerOf(const std::string& response, const std::string& name) {
    const std::string head = response.substr(0, response.find("\r\n\r\n"));
    const std::string needle = "\r\n" + name + ": ";
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
