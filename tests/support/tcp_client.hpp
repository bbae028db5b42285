#pragma once
// A blocking loopback client for tests: send raw bytes, read replies with a deadline.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace pavo::testing {

class TcpClient {
  public:
    explicit TcpClient(std::uint16_t port);
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    void send(const std::string& bytes);

    // One complete response (head and Content-Length body), or nothing when none arrives in time or the
    // peer closes first.
    std::optional<std::string> readResponse(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // True when the server closed the connection (end of stream) within the timeout, with no bytes first.
    bool closedByPeer(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // True when nothing at all arrives (and the connection stays open) for the whole period.
    bool staysSilent(std::chrono::milliseconds period);

  private:
    enum class Received { bytes, closed, nothing };
    Received receive(std::chrono::steady_clock::time_point deadline);

    struct Connection;
    std::unique_ptr<Connection> connection_;
    std::string pending_;
};

// Status code of a raw response, body of a raw response.
int statusOf(const std::string& response);
std::string bodyOf(const std::string& response);
std::optional<std::string> headerOf(const std::string& response, const std::string& name);

// One request/response on a fresh connection.
std::string request(std::uint16_t port, const std::string& method, const std::string& path,
                    const std::string& body = "", const std::string& extraHeaders = "");

}  // namespace pavo::testing
