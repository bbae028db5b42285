// The connection loop over real loopback sockets, for both dialects.

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <atomic>
#include <thread>

#include "http/server.hpp"
#include "tcp_client.hpp"

namespace pavo::http {
namespace {

using namespace std::chrono_literals;
using pavo::testing::bodyOf;
using pavo::testing::statusOf;
using pavo::testing::TcpClient;

// Echoes what it parsed, so tests can see exactly which request was framed.
class EchoServer {
  public:
    explicit EchoServer(Dialect dialect)
        : listener_(io_, 0, dialect, [this, dialect](HTTPRequest r) -> boost::asio::awaitable<HTTPResponse> {
              ++handled_;
              HTTPResponse response{
                  r.path == "/locked" ? 423 : 200, {}, r.method + " " + r.path + " [" + r.body + "]"};
              if (dialect.flavour == Flavour::overlay)
                  response.headers["Content-Length"] = std::to_string(response.body.size());
              co_return response;
          }) {
        listener_.start();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~EchoServer() {
        io_.stop();
        thread_.join();
    }
    std::uint16_t port() const { return listener_.port(); }
    int handled() const { return handled_; }

  private:
    boost::asio::io_context io_;
    Listener listener_;
    std::atomic<int> handled_{0};
    std::thread thread_;
};

const std::string kPost = "POST /p HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody";

class BothDialects : public ::testing::TestWithParam<Flavour> {
  protected:
    EchoServer server{GetParam() == Flavour::agent ? agentDialect() : overlayDialect()};
};

TEST_P(BothDialects, ARequestSplitAcrossReadsIsAnsweredOnceOnlyWhenComplete) {
    // 37 falls inside CR LF CR LF, 39 leaves the whole body for later.
    for (std::size_t split : {1u, 37u, 39u}) {
        TcpClient client(server.port());
        client.send(kPost.substr(0, split));
        EXPECT_TRUE(client.staysSilent(30ms)) << split;
        client.send(kPost.substr(split));
        EXPECT_EQ(bodyOf(client.readResponse().value_or("")), "POST /p [body]") << split;
    }
    EXPECT_EQ(server.handled(), 3);
}

TEST_P(BothDialects, KeepAliveServesSequentialAndPipelinedRequestsInOrder) {
    TcpClient client(server.port());
    client.send("GET /one HTTP/1.1\r\n\r\n");
    ASSERT_EQ(bodyOf(*client.readResponse()), "GET /one []");
    // Three at once: none may wait for another read.
    client.send("GET /a HTTP/1.1\r\n\r\n" + kPost + "GET /c HTTP/1.1\r\n\r\n");
    EXPECT_EQ(bodyOf(*client.readResponse(2s)), "GET /a []");
    EXPECT_EQ(bodyOf(*client.readResponse(2s)), "POST /p [body]");
    EXPECT_EQ(bodyOf(*client.readResponse(2s)), "GET /c []");
    // The serializer of the listener's own dialect writes the replies.
    const std::string locked = pavo::testing::request(server.port(), "GET", "/locked");
    EXPECT_EQ(locked.substr(0, locked.find('\r')),
              GetParam() == Flavour::agent ? "HTTP/1.1 423 Unknown" : "HTTP/1.1 423 Locked");
}

TEST_P(BothDialects, ConnectionCloseInAnyCaseEndsTheConnectionAfterTheReply) {
    TcpClient client(server.port());
    client.send("GET /x HTTP/1.1\r\nConnection: CLOSE\r\n\r\nGET /y HTTP/1.1\r\n\r\n");
    EXPECT_EQ(bodyOf(client.readResponse().value_or("")), "GET /x []");
    EXPECT_TRUE(client.closedByPeer());  // the pipelined /y is never answered
}

INSTANTIATE_TEST_SUITE_P(Http, BothDialects, ::testing::Values(Flavour::agent, Flavour::overlay),
                         [](const auto& info) { return info.param == Flavour::agent ? "Agent" : "Overlay"; });

TEST(AgentConnection, AnOversizedHeadOrAMalformedRequestClosesWithoutAReply) {
    EchoServer server(agentDialect());
    for (const std::string& bad : {std::string(1'048'577, 'a'), std::string("NONSENSE\r\n\r\n")}) {
        TcpClient client(server.port());
        client.send(bad);
        EXPECT_TRUE(client.closedByPeer()) << bad.substr(0, 20);
    }
    EXPECT_EQ(server.handled(), 0);
    EXPECT_EQ(statusOf(pavo::testing::request(server.port(), "GET", "/still")), 200);
}

TEST(OverlayConnection, MalformedInputKeepsTheConnectionButItsBufferIsBounded) {
    EchoServer server(overlayDialect());
    TcpClient client(server.port());
    client.send(std::string(1'048'577, 'a'));
    EXPECT_TRUE(client.staysSilent(100ms));  // over the head limit: error discarded, still open
    // but a client cannot make it hold an unbounded amount
    bool closed = false;
    for (int i = 0; i < 8 && !closed; ++i) {
        try {
            client.send(std::string(1'048'576, 'b'));
        } catch (const std::exception&) {
            closed = true;  // reset by the server mid-send
        }
    }
    EXPECT_TRUE(closed || client.closedByPeer());
    // Nor does it hold up another.
    EXPECT_EQ(statusOf(pavo::testing::request(server.port(), "GET", "/still")), 200);
}

}  // namespace
}  // namespace pavo::http
