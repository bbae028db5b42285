// pavo-agent as a black box: exit statuses and messages, the token file, signals and ports, its OpenMP
// limit, and the script tools it runs.

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <list>

#include "agent/command_line.hpp"
#include "child_process.hpp"
#include "eventually.hpp"
#include "stand_in.hpp"
#include "tcp_client.hpp"

namespace pavo::testing {
namespace {

using Environment = std::map<std::string, std::string>;

const std::string kAgent = PAVO_AGENT_BINARY;

class AgentProcess : public ::testing::Test {
  protected:
    TempDir home;

    Environment environment(Environment extra = {}) const {
        extra.emplace("HOME", home.path());
        return extra;
    }
    // Waits for the ready line and returns the port it names.
    static std::uint16_t serve(ChildProcess& agent) {
        const auto port = waitForPort(agent, kAgentListening);
        EXPECT_NE(port, 0) << agent.output();
        return port;
    }
};

TEST_F(AgentProcess, MistakesAndHelpPrintTheirMessageAndExitWithTheirStatus) {
    const auto usage = agent::usageLines(
        {.token = "", .tokenFile = home.path() + "/Vault-Vexlo/secrets/pavo/sidecar-token"});
    const std::vector<std::string> serving = {"--port", "0", "--token", "t"};
    // Arguments, environment, exit status, how the output begins, whether the whole usage text follows.
    const std::vector<std::tuple<std::vector<std::string>, Environment, int, std::string, bool>> rows = {
        {{}, {}, 1, "Error: --token, $VEXLO_PAVO_SIDECAR_TOKEN, or --token-file is required", true},
        {{"--port", "80", "--help"}, {}, 0, usage.front(), true},
        {serving, {{"VEXLO_PAVO_DESKTOP", "macos"}}, 1, "Fatal error: unknown desktop \"macos\"", false},
    };
    for (const auto& [arguments, extra, status, begins, withUsage] : rows) {
        const auto run = runToCompletion(kAgent, arguments, environment(extra));
        EXPECT_EQ(run.status, status) << run.output;
        EXPECT_EQ(run.output.rfind(begins, 0), 0u) << run.output;
        if (withUsage) {
            EXPECT_EQ(run.lines.back(), usage.back()) << "the whole usage text reaches the terminal";
        }
    }
}

TEST_F(AgentProcess, TheTokenIsTheEnvironmentsElseTheFilesAndTheSocketFileDecidesTheGate) {
    home.write("Vault-Vexlo/secrets/pavo/sidecar-token", "from-file\n");
    // The token accepted, the one refused, the environment, the gate announced.
    const std::vector<std::tuple<std::string, std::string, Environment, std::string>> rows = {
        {"from-file", "from-env", {}, "Consent gate: no overlay found, actions are not gated"},
        {"from-env",
         "from-file",
         {{"VEXLO_PAVO_SIDECAR_TOKEN", "from-env"}},
         "Consent gate: overlay at 127.0.0.1:47999"},
    };
    for (const auto& [accepted, refused, extra, gate] : rows) {
        SCOPED_TRACE(accepted);
        if (!extra.empty()) {
            home.write("Library/Application Support/Vexlo/Pavo/overlay.sock",
                       R"({"port":47999,"token":"o"})");
        }
        ChildProcess agent(kAgent, {"--port", "0"}, environment(extra));
        const auto port = serve(agent);
        EXPECT_EQ(agent.waitForLine("Consent gate: "), gate);
        EXPECT_EQ(statusOf(request(port, "POST", "/x", "", "x-pavo-token: " + accepted + "\r\n")), 404);
        EXPECT_EQ(statusOf(request(port, "POST", "/x", "", "x-pavo-token: " + refused + "\r\n")), 401);
    }
}

std::string procFile(pid_t pid, const std::string& name) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

long residentKiB(pid_t pid) {
    const std::string status = procFile(pid, "status");
    const auto at = status.find("\nVmRSS:");
    return at == std::string::npos ? -1 : std::stol(status.substr(at + 7));
}

#ifndef __has_feature
#define __has_feature(feature) 0  // gcc names AddressSanitizer by __SANITIZE_ADDRESS__ alone
#endif
// AddressSanitizer keeps freed memory in quarantine (up to 256 MiB); a buffered body would still show as 600.
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr long kGrowthBoundKiB = 300 * 1024;
#else
constexpr long kGrowthBoundKiB = 32 * 1024;
#endif

TEST_F(AgentProcess, BodiesAreNeverBufferedWithoutTheTokenAndATakenPortIsFatal) {
    ChildProcess agent(kAgent, {"--port", "0", "--token", "t"}, environment());
    const auto port = serve(agent);
    const long before = residentKiB(agent.pid());
    // 600 MiB streamed without the token, a mebibyte per request: each is refused on its head and its body
    // dropped as it arrives, and the connection stays usable.
    const std::string mebibyte(1 << 20, 'x');
    TcpClient stream(port);
    for (int i = 0; i < 600; ++i) {
        stream.send("POST /ax/tree HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" + mebibyte);
        ASSERT_EQ(statusOf(stream.readResponse().value_or("")), 401) << i;
    }
    stream.send("GET /health HTTP/1.1\r\n\r\n");
    EXPECT_EQ(statusOf(stream.readResponse().value_or("")), 200);
    EXPECT_LT(residentKiB(agent.pid()) - before, kGrowthBoundKiB) << "KiB resident before: " << before;

    // A larger body is not even drained: the connection closes after the reply.
    TcpClient large(port);
    large.send("POST /ax/tree HTTP/1.1\r\nContent-Length: 4000000000\r\n\r\nsome of the body");
    EXPECT_EQ(statusOf(large.readResponse().value_or("")), 401);
    EXPECT_TRUE(large.closedByPeer());

    // A second agent cannot take the port.
    auto clash = runToCompletion(kAgent, {"--port", std::to_string(port), "--token", "t"}, environment());
    EXPECT_EQ(clash.status, 1);
    EXPECT_EQ(clash.output.rfind("Fatal error: cannot listen on 127.0.0.1:" + std::to_string(port), 0), 0u);
}

// Whether the process's environment holds `variable` (NAME=value) exactly.
bool hasVariable(pid_t pid, const std::string& variable) {
    return ('\0' + procFile(pid, "environ")).find('\0' + variable + '\0') != std::string::npos;
}

// Tesseract runs with one OpenMP thread: libgomp reads the limit only while the program loads, so the
// agent starts itself over once with it set, keeping its pid (and the rest of its environment: the token test
// needs its HOME).
TEST_F(AgentProcess, TheServingProcessHasAnOpenMPLimitOfOneWhateverItWasStartedWith) {
    for (const Environment& extra : {Environment{}, Environment{{"OMP_THREAD_LIMIT", "8"}}}) {
        ChildProcess agent(kAgent, {"--port", "0", "--token", "t"}, environment(extra));
        serve(agent);
        EXPECT_TRUE(hasVariable(agent.pid(), "OMP_THREAD_LIMIT=1")) << extra.size();
    }
}

// The I/O thread keeps answering while a script or shortcut runs, and nothing a script started outlives the
// agent.
TEST_F(AgentProcess, HealthIsAnsweredWhileToolsRunAndSigtermEndsTheAgentTheToolsAndWhatTheyStarted) {
    // Each tool writes its own pid and that of a child it starts, and waits for that child.
    const std::string body = "echo $$ > \"$0.pid\"; sleep 600 & echo $! > \"$0.child\"; wait";
    ChildProcess agent(kAgent, {"--port", "0", "--token", "t"},
                       environment({{"VEXLO_PAVO_DESKTOP", "simulated"},
                                    {"VEXLO_PAVO_DESKTOP_SCENE", home.write("scene.json", "{}")},
                                    {"VEXLO_PAVO_OSASCRIPT", writeStandIn(home, "osascript", body)},
                                    {"VEXLO_PAVO_SHORTCUTS", writeStandIn(home, "shortcuts", body)}}));
    const auto port = serve(agent);
    std::vector<pid_t> started;
    std::list<TcpClient> clients;
    for (const auto& [path, json, tool] :
         {std::tuple{"/shortcut", R"({"name": "Slow", "timeoutMs": 600000})", "shortcuts"},
          std::tuple{"/applescript/run", R"({"script": "delay 600"})", "osascript"}}) {
        clients.emplace_back(port).send(std::string("POST ") + path +
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
