// pavo-agent as a black box acting on a simulated desktop, with a stand-in overlay that records what it
// is asked: undecodable bodies never reach the operator, decoded ones name their action and element, and
// only a grant lets the action reach the desktop (read back from the desktop's journal).

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cctype>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "agent/ax/ax_element.hpp"
#include "child_process.hpp"
#include "tcp_client.hpp"

namespace pavo::testing {
namespace {

namespace asio = boost::asio;
using nlohmann::json;

const std::string kAgent = PAVO_AGENT_BINARY;

// Answers every "/event" with an acknowledgement and every consent poll with `consentStatus`.
class StandInOverlay {
  public:
    StandInOverlay() : acceptor_(io_, {asio::ip::make_address("127.0.0.1"), 0}) {
        thread_ = std::thread([this] { serve(); });
    }
    ~StandInOverlay() {
        stopping_ = true;
        asio::ip::tcp::socket wake(io_);
        boost::system::error_code ignored;
        wake.connect(acceptor_.local_endpoint(), ignored);
        thread_.join();
    }
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }
    std::atomic<int> consentStatus{200};

    std::vector<std::pair<std::string, std::string>> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

  private:
    void serve() {
        while (!stopping_) {
            asio::ip::tcp::socket socket(io_);
            boost::system::error_code error;
            acceptor_.accept(socket, error);
            if (error || stopping_) continue;
            std::string data;
            const std::size_t headerEnd =
                asio::read_until(socket, asio::dynamic_buffer(data), "\r\n\r\n", error);
            if (error) continue;
            const std::string head = data.substr(0, headerEnd);
            std::size_t length = 0;
            std::string lower = head;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (auto at = lower.find("content-length:"); at != std::string::npos)
                length = std::stoul(head.substr(at + 15));
            if (data.size() < headerEnd + length) {
                asio::read(socket, asio::dynamic_buffer(data),
                           asio::transfer_exactly(headerEnd + length - data.size()), error);
            }
            const std::string body = data.substr(headerEnd);
            const std::string target = head.substr(0, head.find("\r\n"));
            {
                std::lock_guard lock(mutex_);
                seen_.emplace_back(target, body);
            }
            const bool poll = target.rfind("GET /consent/", 0) == 0;
            const int status = poll ? consentStatus.load() : 200;
            const std::string reply = poll ? R"({"consent":"granted"})" : R"({"ack":"true"})";
            const std::string response = "HTTP/1.1 " + std::to_string(status) +
                                         " X\r\nContent-Length: " + std::to_string(reply.size()) +
                                         "\r\nConnection: close\r\n\r\n" + reply;
            asio::write(socket, asio::buffer(response), error);
        }
    }

    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> seen_;
    std::thread thread_;
};

json scene() {
    json save = {{"role", "AXButton"}, {"title", "Save"}, {"actions", {"AXPress"}}};
    json terminal = {{"role", "AXTextArea"}, {"title", "Shell"}, {"settable", {"AXFocused"}}};
    json list = {{"role", "AXList"}, {"title", "Rows"}, {"actions", {"AXScrollDown"}}};
    json window = {{"role", "AXWindow"}, {"title", "Draft"}, {"children", {save, terminal, list}}};
    return {{"frontmost", 7},
            {"applications",
             {{{"pid", 7},
               {"name", "Editor"},
               {"tree", {{"role", "AXApplication"}, {"title", "Editor"}, {"children", {window}}}}}}}};
}

const std::string kSave = agent::elementId(7, "AXButton", "", "Save", "0/0/0");
const std::string kShell = agent::elementId(7, "AXTextArea", "", "Shell", "0/0/1");
const std::string kRows = agent::elementId(7, "AXList", "", "Rows", "0/0/2");

class GatedActions : public ::testing::Test {
  protected:
    TempDir home;
    StandInOverlay overlay;
    std::unique_ptr<ChildProcess> agent;
    std::uint16_t port = 0;
    const std::string journal = home.path() + "/journal.jsonl";

    void start(bool withOverlay) {
        if (withOverlay) {
            home.write("Library/Application Support/Vexlo/Pavo/overlay.sock",
                       json{{"port", overlay.port()}, {"token", "overlay-secret"}}.dump());
        }
        agent = std::make_unique<ChildProcess>(
            kAgent, std::vector<std::string>{"--port", "0", "--token", "t"},
            std::map<std::string, std::string>{
                {"HOME", home.path()},
                {"VEXLO_PAVO_DESKTOP", "simulated"},
                {"VEXLO_PAVO_DESKTOP_SCENE", home.write("scene.json", scene().dump())},
                {"VEXLO_PAVO_DESKTOP_JOURNAL", journal}});
        auto line = agent->waitForLine("Server listening on 127.0.0.1:");
        ASSERT_TRUE(line) << agent->output();
        port = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
    }

    std::pair<int, json> post(const std::string& path, const std::string& body) {
        const std::string raw = request(port, "POST", path, body, "x-pavo-token: t\r\n");
        return {statusOf(raw), json::parse(bodyOf(raw), nullptr, false)};
    }

    std::vector<json> journalOf(const std::string& kind) {
        std::vector<json> found;
        std::ifstream in(journal);
        for (std::string line; std::getline(in, line);) {
            json entry = json::parse(line);
            if (entry["kind"] == kind) found.push_back(entry);
        }
        return found;
    }
};

TEST_F(GatedActions, AnUndecodableBodyIsABadRequestAndTheOperatorIsNeverAsked) {
    start(true);
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"/ax/click", ""},
        {"/ax/click", "{}"},
        {"/ax/click", R"({"elementId": 12})"},
        {"/ax/type", R"({"elementId": "a"})"},
        {"/ax/type", R"({"elementId": "a", "text": ["x"]})"},
        {"/ax/scroll", R"({"elementId": "a"})"},
        {"/ax/scroll", R"({"elementId": "a", "direction": "up", "amount": "lots"})"},
        {"/ax/scroll", R"({"elementId": "a", "direction": "up", "batch_id": 1})"},
    };
    for (const auto& [path, body] : bad) {
        const auto [status, reply] = post(path, body);
        EXPECT_EQ(status, 400) << path << " " << body;
        EXPECT_EQ(reply, json({{"error", "bad_request"}})) << path << " " << body;
    }
    EXPECT_TRUE(overlay.seen().empty());
    EXPECT_TRUE(journalOf("action").empty());
}

TEST_F(GatedActions, EachActionAsksAboutItsElementAndRunsOnlyWhenGranted) {
    start(true);
    EXPECT_EQ(post("/ax/click", json{{"elementId", kSave}}.dump()).first, 200);
    EXPECT_EQ(
        post("/ax/scroll", json{{"elementId", kRows}, {"direction", "Down"}, {"amount", 150}}.dump()).first,
        200);
    const auto seen = overlay.seen();
    ASSERT_EQ(seen.size(), 4u);
    const json click = json::parse(seen[0].second);
    EXPECT_EQ(seen[0].first, "POST /event HTTP/1.1");
    EXPECT_EQ(click["type"], "destructive_prompt");
    EXPECT_EQ(click["action"], "click");
    EXPECT_EQ(click["target"], kSave);
    EXPECT_EQ(seen[1].first, "GET /consent/" + click["id"].get<std::string>() + " HTTP/1.1");
    EXPECT_EQ(json::parse(seen[2].second)["action"], "scroll");
    EXPECT_EQ(json::parse(seen[2].second)["target"], kRows);
    EXPECT_EQ(journalOf("action").size(), 4u) << "one press and three scroll steps";

    overlay.consentStatus = 404;
    const auto [status, reply] = post("/ax/type", json{{"elementId", kShell}, {"text", "rm -rf"}}.dump());
    EXPECT_EQ(status, 403);
    EXPECT_EQ(reply, json({{"error", "consent_denied"}}));
    EXPECT_EQ(json::parse(overlay.seen()[4].second)["action"], "type");
    EXPECT_TRUE(journalOf("key").empty());
    EXPECT_TRUE(journalOf("set").empty());
    EXPECT_EQ(journalOf("action").size(), 4u);
}

TEST_F(GatedActions, WithoutAnOverlayKeystrokesReachTheDesktopPacedAndInOrder) {
    start(false);
    const auto [status, reply] = post("/ax/type", json{{"elementId", kShell}, {"text", "ls -l\n"}}.dump());
    EXPECT_EQ(status, 200);
    EXPECT_EQ(reply, json({{"ok", true}, {"method", "cg_event"}}));
    const auto keys = journalOf("key");
    ASSERT_EQ(keys.size(), 12u);
    const std::vector<int> codes = {37, 1, 49, 27, 37, 36};  // l s space - l Return
    for (std::size_t i = 0; i < codes.size(); ++i) {
        EXPECT_EQ(keys[2 * i]["keyCode"], codes[i]) << i;
        EXPECT_TRUE(keys[2 * i]["down"].get<bool>());
        EXPECT_FALSE(keys[2 * i + 1]["down"].get<bool>());
        if (i > 0) {
            EXPECT_GE(keys[2 * i]["timeMs"].get<double>() - keys[2 * i - 2]["timeMs"].get<double>(), 10.0)
                << i;
        }
    }
    EXPECT_TRUE(overlay.seen().empty());
}

}  // namespace
}  // namespace pavo::testing
