// The connection loop over real loopback sockets, for both dialects.

#include <gtest/gtest.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <atomic>
#include <thread>

#include "http/server.hpp"
#include "tcp_client.hpp"

namespace pavo::http {
namespace {

using namespace std::chrono_literals;
using pavo::testing::bodyOf;
using pavo::testing::headerOf;
using pavo::testing::statusOf;
using pavo::testing::TcpClient;

// Echoes what it parsed, so tests can see exactly which request was framed.
class EchoServer {
  public:
    explicit EchoServer(Dialect dialect)
        : listener_(io_, 0, dialect,
                    [this](HTTPRequest r) -> boost::asio::awaitable<HTTPResponse> {
                        ++handled_;
                        HTTPResponse response;
                        response.status = r.path == "/locked" ? 423 : 200;
                        response.headers["Content-Type"] = "text/plain";
                        response.body = r.method + " " + r.path + " [" + r.body + "]";
                        if (dialect_.flavour == Flavour::overlay) {
                            response.headers["Content-Length"] = std::to_string(response.body.size());
                        }
                        co_return response;
                    }),
          dialect_(dialect) {
        listener_.start();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~EchoServer() {
        work_.reset();
        io_.stop();
        thread_.join();
    }
    std::uint16_t port() const { return listener_.port(); }
    int handled() const { return handled_; }

  private:
    boost::asio::io_context io_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_{io_.get_executor()};
    Listener listener_;
    Dialect dialect_;
    std::atomic<int> handled_{0};
    std::thread thread_;
};

const std::string kPost = "POST /p HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody";

class BothDialects : public ::testing::TestWithParam<Flavour> {
  protected:
    EchoServer server{GetParam() == Flavour::agent ? agentDialect() : overlayDialect()};
};

TEST_P(BothDialects, RequestSplitAcrossReadsIsAnsweredOnceComplete) {
    for (std::size_t split : {1u, 10u, 35u, 36u, 37u, 38u, 39u}) {  // 35..38 fall inside CR LF CR LF
        TcpClient client(server.port());
        client.send(kPost.substr(0, split));
        EXPECT_TRUE(client.staysSilent(30ms)) << split;
        client.send(kPost.substr(split));
        auto reply = client.readResponse();
        ASSERT_TRUE(reply) << split;
        EXPECT_EQ(bodyOf(*reply), "POST /p [body]");
    }
}

TEST_P(BothDialects, ByteByByteDeliveryStillFramesOneRequest) {
    TcpClient client(server.port());
    for (char c : kPost) client.send(std::string(1, c));
    auto reply = client.readResponse();
    ASSERT_TRUE(reply);
    EXPECT_EQ(bodyOf(*reply), "POST /p [body]");
    EXPECT_EQ(server.handled(), 1);
}

TEST_P(BothDialects, KeepAliveServesSequentialAndPipelinedRequestsInOrder) {
    TcpClient client(server.port());
    client.send("GET /one HTTP/1.1\r\n\r\n");
    ASSERT_EQ(bodyOf(*client.readResponse()), "GET /one []");
    client.send("GET /two HTTP/1.1\r\n\r\n");
    ASSERT_EQ(bodyOf(*client.readResponse()), "GET /two []");

    // Three at once: none may wait for another read.
    client.send("GET /a HTTP/1.1\r\n\r\n" + kPost + "GET /c HTTP/1.1\r\n\r\n");
    EXPECT_EQ(bodyOf(*client.readResponse(2s)), "GET /a []");
    EXPECT_EQ(bodyOf(*client.readResponse(2s)), "POST /p [body]");
    EXPECT_EQ(bodyOf(*client.readResponse(2s)), "GET /c []");
}

TEST_P(BothDialects, ConnectionCloseInAnyCaseEndsTheConnectionAfterTheReply) {
    for (const char* value : {"close", "Close", "CLOSE"}) {
        TcpClient client(server.port());
        client.send(std::string("GET /x HTTP/1.1\r\nConnection: ") + value +
                    "\r\n\r\nGET /y HTTP/1.1\r\n\r\n");
        auto reply = client.readResponse();
        ASSERT_TRUE(reply) << value;
        EXPECT_EQ(bodyOf(*reply), "GET /x []");
        EXPECT_TRUE(client.closedByPeer()) << value;  // the pipelined /y is never answered
    }
    TcpClient keep(server.port());
    keep.send("GET /x HTTP/1.1\r\nConnection: keep-alive, closed\r\n\r\n");
    ASSERT_TRUE(keep.readResponse());
    keep.send("GET /y HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(keep.readResponse());
}

TEST_P(BothDialects, BodyArrivingLaterIsWaitedFor) {
    TcpClient client(server.port());
    client.send("POST /late HTTP/1.1\r\nContent-Length: 10\r\n\r\n01234");
    EXPECT_TRUE(client.staysSilent(50ms));
    client.send("56789");
    EXPECT_EQ(bodyOf(*client.readResponse()), "POST /late [0123456789]");
}

TEST_P(BothDialects, LargeBodiesSpanningManyReadsArriveIntact) {
    std::string body(3 * 65536 + 17, 'x');
    for (std::size_t i = 0; i < body.size(); i += 997) body[i] = static_cast<char>('a' + i % 26);
    TcpClient client(server.port());
    client.send("POST /big HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    auto reply = client.readResponse();
    ASSERT_TRUE(reply);
    EXPECT_EQ(bodyOf(*reply), "POST /big [" + body + "]");
}

TEST_P(BothDialects, StatusLineUsesTheDialectsReasonPhrase) {
    auto reply = pavo::testing::request(server.port(), "GET", "/locked");
    const std::string expected =
        GetParam() == Flavour::agent ? "HTTP/1.1 423 Unknown\r\n" : "HTTP/1.1 423 Locked\r\n";
    EXPECT_EQ(reply.rfind(expected, 0), 0u);
    EXPECT_EQ(headerOf(reply, "Connection"), "keep-alive");
    EXPECT_EQ(headerOf(reply, "Content-Length"), std::to_string(bodyOf(reply).size()));
}

INSTANTIATE_TEST_SUITE_P(Http, BothDialects, ::testing::Values(Flavour::agent, Flavour::overlay),
                         [](const auto& info) { return info.param == Flavour::agent ? "Agent" : "Overlay"; });

TEST(AgentConnection, OversizedHeadOrMalformedRequestLineClosesWithoutAReply) {
    EchoServer server(agentDialect());
    {
        TcpClient client(server.port());
        client.send(std::string(1'048'576, 'a'));
        EXPECT_TRUE(client.staysSilent(100ms));  // exactly the limit: still waiting
        client.send("a");
        EXPECT_TRUE(client.closedByPeer());
    }
    for (const std::string& bad :
         {std::string("NONSENSE\r\n\r\n"), std::string("GET /\xC3\x28 HTTP/1.1\r\n\r\n"),
          std::string("POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\n")}) {
        TcpClient client(server.port());
        client.send(bad);
        EXPECT_TRUE(client.closedByPeer()) << bad;
    }
    EXPECT_EQ(server.handled(), 0);
    // The server is still serving.
    EXPECT_EQ(statusOf(pavo::testing::request(server.port(), "GET", "/still")), 200);
}

TEST(OverlayConnection, MalformedInputKeepsTheConnectionButItsBufferIsBounded) {
    EchoServer server(overlayDialect());
    {
        TcpClient client(server.port());
        client.send("NONSENSE\r\n\r\n");
        EXPECT_TRUE(client.staysSilent(100ms));  // waits, as the overlay does, without replying
    }
    {
        TcpClient client(server.port());
        client.send(std::string(1'048'577, 'a'));
        EXPECT_TRUE(client.staysSilent(100ms));  // over the head limit: error discarded, still open
        // but a client cannot make it hold an unbounded amount
        const std::string more(1'048'576, 'b');
        bool closed = false;
        for (int i = 0; i < 8 && !closed; ++i) {
            try {
                client.send(more);
            } catch (const std::exception&) {
                closed = true;  // reset by the server mid-send
            }
        }
        EXPECT_TRUE(closed || client.closedByPeer());
    }
    EXPECT_EQ(statusOf(pavo::testing::request(server.port(), "GET", "/still")), 200);
}

TEST(Listener, ManyConcurrentConnectionsAreServedIndependently) {
    EchoServer server(agentDialect());
    std::vector<std::unique_ptr<TcpClient>> clients;
    for (int i = 0; i < 50; ++i) {
        clients.push_back(std::make_unique<TcpClient>(server.port()));
        clients.back()->send("GET /c" + std::to_string(i) + " HTTP/1.1\r\n");  // heads left unfinished
    }
    for (int i = 49; i >= 0; --i) {
        clients[i]->send("\r\n");
        auto reply = clients[i]->readResponse();
        ASSERT_TRUE(reply) << i;
        EXPECT_EQ(bodyOf(*reply), "GET /c" + std::to_string(i) + " []");
    }
}

}  // namespace
}  // namespace pavo::http
