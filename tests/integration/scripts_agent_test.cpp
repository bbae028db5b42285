// pavo-agent as a black box with stand-in script tools named by its environment: the I/O thread keeps
// answering while a script or shortcut runs, and nothing a script started outlives the agent.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <csignal>
#include <fstream>
#include <thread>

#include "child_process.hpp"
#include "stand_in.hpp"
#include "tcp_client.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;

const std::string kAgent = PAVO_AGENT_BINARY;

class ScriptsAgent : public ::testing::Test {
  protected:
    TempDir home;
    std::unique_ptr<ChildProcess> agent;
    std::uint16_t port = 0;

    // Each tool writes its own pid and that of a child it starts, then waits until the test lets it finish.
    void SetUp() override {
        const std::string body = "echo $$ > '" + home.path() + "'/$(basename $0).pid\n" +
                                 "sleep 600 & echo $! > '" + home.path() + "'/$(basename $0).child\n" +
                                 "while [ ! -e '" + home.path() + "/go' ]; do sleep 0.02; done\n" +
                                 "kill $!; printf finished";
        agent = std::make_unique<ChildProcess>(
            kAgent, std::vector<std::string>{"--port", "0", "--token", "t"},
            std::map<std::string, std::string>{
                {"HOME", home.path()},
                {"VEXLO_PAVO_DESKTOP", "simulated"},
                {"VEXLO_PAVO_DESKTOP_SCENE", home.write("scene.json", "{}")},
                {"VEXLO_PAVO_OSASCRIPT", writeStandIn(home, "osascript", body)},
                {"VEXLO_PAVO_SHORTCUTS", writeStandIn(home, "shortcuts", body)}});
        auto line = agent->waitForLine("Server listening on 127.0.0.1:");
        ASSERT_TRUE(line) << agent->output();
        port = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
    }

    // The pid a tool wrote into `file`, once it has.
    pid_t pidIn(const std::string& file) {
        for (int attempt = 0; attempt < 500; ++attempt) {
            pid_t pid = 0;
            std::ifstream(home.path() + "/" + file) >> pid;
            if (pid > 0) return pid;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return 0;
    }

    static std::string post(const std::string& path, const std::string& body) {
        return "POST " + path +
               " HTTP/1.1\r\nx-pavo-token: t\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
               body;
    }
};

TEST_F(ScriptsAgent, HealthIsAnsweredWhileAScriptOrShortcutIsStillRunning) {
    const std::vector<std::tuple<std::string, std::string, std::string>> rows = {
        {"/applescript/run", R"({"script": "delay 600"})", "osascript"},
        {"/shortcut", R"({"name": "Slow", "timeoutMs": 600000})", "shortcuts"},
    };
    for (const auto& [path, body, tool] : rows) {
        std::remove((home.path() + "/go").c_str());
        TcpClient slow(port);
        slow.send(post(path, body));
        ASSERT_GT(pidIn(tool + ".pid"), 0) << tool;
        // The tool cannot finish before "go" exists, so this reply comes while it runs.
        EXPECT_EQ(statusOf(request(port, "GET", "/health")), 200) << path;
        home.write("go", "");
        const auto reply = slow.readResponse(std::chrono::seconds(30));
        ASSERT_TRUE(reply) << path;
        EXPECT_EQ(statusOf(*reply), 200) << path;
        EXPECT_EQ(json::parse(bodyOf(*reply))["output"], "finished") << path;
    }
}

TEST_F(ScriptsAgent, StoppingTheAgentEndsARunningScriptAndWhatItStarted) {
    TcpClient slow(port);
    slow.send(post("/applescript/run", R"({"script": "delay 600"})"));
    const pid_t tool = pidIn("osascript.pid");
    const pid_t started = pidIn("osascript.child");
    ASSERT_GT(tool, 0);
    ASSERT_GT(started, 0);
    agent->signal(SIGTERM);
    EXPECT_EQ(agent->waitForExit(), 0) << agent->output();
    EXPECT_TRUE(hasEnded(tool));
    EXPECT_TRUE(hasEnded(started));
}

}  // namespace
}  // namespace pavo::testing
