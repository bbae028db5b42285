// pavo-agent as a black box with stand-in script tools named by its environment: the I/O thread keeps
// answering while a script or shortcut runs, and nothing a script started outlives the agent.

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>

#include "child_process.hpp"
#include "eventually.hpp"
#include "stand_in.hpp"
#include "tcp_client.hpp"

namespace pavo::testing {
namespace {

TEST(ScriptsAgent, HealthIsAnsweredWhileToolsRunAndStoppingTheAgentEndsThemAndWhatTheyStarted) {
    TempDir home;
    // Each tool writes its own pid and that of a child it starts, and waits for that child.
    const std::string body = "echo $$ > \"$0.pid\"; sleep 600 & echo $! > \"$0.child\"; wait";
    ChildProcess agent(PAVO_AGENT_BINARY, {"--port", "0", "--token", "t"},
                       {{"HOME", home.path()},
                        {"VEXLO_PAVO_DESKTOP", "simulated"},
                        {"VEXLO_PAVO_DESKTOP_SCENE", home.write("scene.json", "{}")},
                        {"VEXLO_PAVO_OSASCRIPT", writeStandIn(home, "osascript", body)},
                        {"VEXLO_PAVO_SHORTCUTS", writeStandIn(home, "shortcuts", body)}});
    const auto line = agent.waitForLine("Server listening on 127.0.0.1:");
    ASSERT_TRUE(line) << agent.output();
    const auto port = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
    std::vector<pid_t> started;
    std::vector<std::unique_ptr<TcpClient>> clients;
    for (const auto& [path, json, tool] :
         {std::tuple{"/shortcut", R"({"name": "Slow", "timeoutMs": 600000})", "shortcuts"},
          std::tuple{"/applescript/run", R"({"script": "delay 600"})", "osascript"}}) {
        clients.push_back(std::make_unique<TcpClient>(port));
        clients.back()->send(std::string("POST ") + path +
                             " HTTP/1.1\r\nx-pavo-token: t\r\nContent-Length: " +
                             std::to_string(std::strlen(json)) + "\r\n\r\n" + json);
        for (const char* suffix : {".pid", ".child"}) {
            pid_t pid = 0;
            // A tool that the one before held up never starts.
            EXPECT_TRUE(eventually([&, file = home.path() + "/" + tool + suffix] {
                return (std::ifstream(file) >> pid) && pid > 0;
            })) << tool;
            started.push_back(pid);
        }
    }
    EXPECT_EQ(statusOf(request(port, "GET", "/health")), 200);
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(), 0) << agent.output();
    for (const pid_t pid : started) EXPECT_TRUE(pid > 0 && hasEnded(pid)) << pid;
}

}  // namespace
}  // namespace pavo::testing
