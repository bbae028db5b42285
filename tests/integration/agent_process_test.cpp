// pavo-agent as a black box: its command line, messages and exit statuses, and serving over a socket.

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>

#include "agent/command_line.hpp"
#include "child_process.hpp"
#include "tcp_client.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;

const std::string kAgent = PAVO_AGENT_BINARY;

class AgentProcess : public ::testing::Test {
  protected:
    TempDir home;

    std::map<std::string, std::string> environment(std::map<std::string, std::string> extra = {}) const {
        extra.emplace("HOME", home.path());
        return extra;
    }
    std::string defaultTokenFile() const { return home.path() + "/Vault-Vexlo/secrets/pavo/sidecar-token"; }

    std::vector<std::string> usage() const {
        agent::AgentDefaults defaults;
        defaults.tokenFile = defaultTokenFile();
        return agent::usageLines(defaults);
    }

    // Starts serving on a free port and returns the port from the ready line.
    std::uint16_t serve(ChildProcess& agent) {
        auto line = agent.waitForLine("Server listening on 127.0.0.1:");
        EXPECT_TRUE(line) << agent.output();
        if (!line) return 0;
        return static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
    }
};

TEST_F(AgentProcess, WithoutAnyTokenItSaysWhatIsRequiredAndExits1) {
    auto run = runToCompletion(kAgent, {}, environment());
    EXPECT_EQ(run.status, 1);
    std::vector<std::string> expected{
        "Error: --token, $VEXLO_PAVO_SIDECAR_TOKEN, or --token-file is required"};
    for (const auto& line : usage()) expected.push_back(line);
    EXPECT_EQ(run.lines, expected);

    // An environment variable set to the empty string is the same as an unset one.
    EXPECT_EQ(runToCompletion(kAgent, {}, environment({{"VEXLO_PAVO_SIDECAR_TOKEN", ""}})).status, 1);
}

TEST_F(AgentProcess, HelpAndUsageErrorsPrintTheUsageAndExitWithTheirStatus) {
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> rows = {
        {{"--port", "80", "--help"}, 0, "Usage: pavo-agent"},
        {{"--port"}, 1, "Usage: pavo-agent"},
        {{"frobnicate"}, 1, "Unknown command: frobnicate"},
        {{"--port", "65536", "--token", "t"}, 1, "Error: --port must be between 0 and 65535"},
    };
    for (const auto& [arguments, status, firstLine] : rows) {
        const auto run = runToCompletion(kAgent, arguments, environment());
        EXPECT_EQ(run.status, status) << arguments[0];
        ASSERT_FALSE(run.lines.empty());
        EXPECT_EQ(run.lines.front().rfind(firstLine, 0), 0u) << run.output;
        EXPECT_EQ(run.lines.back(), usage().back()) << "the whole usage text reaches the terminal";
    }
}

TEST_F(AgentProcess, ServesHealthAndChecksTheTokenFromTheTrimmedDefaultFile) {
    home.write("Vault-Vexlo/secrets/pavo/sidecar-token", "file-token\n");
    ChildProcess agent(kAgent, {"--port", "0"}, environment());
    const auto port = serve(agent);
    ASSERT_NE(port, 0);

    const auto health = request(port, "GET", "/health");
    EXPECT_EQ(statusOf(health), 200);
    EXPECT_EQ(json::parse(bodyOf(health)), json({{"ok", true}, {"version", "0.2.0"}}));
    EXPECT_EQ(headerOf(health, "Connection"), "keep-alive");

    EXPECT_EQ(statusOf(request(port, "POST", "/ax/tree", "{}")), 401);
    EXPECT_EQ(statusOf(request(port, "POST", "/ax/tree", "{}", "x-pavo-token: file-token\n\r\n")), 401);
    const auto unknown = request(port, "POST", "/nope", "{}", "X-PAVO-TOKEN: file-token\r\n");
    EXPECT_EQ(statusOf(unknown), 404);
    EXPECT_EQ(json::parse(bodyOf(unknown)), json({{"error", "not_found"}}));
}

TEST_F(AgentProcess, TokenFlagBeatsEnvironmentAndEmptyFlagFallsBackToTheFile) {
    const std::string file = home.write("tok", "  from-file \n");
    ChildProcess agent(kAgent, {"--port", "0", "--token", "", "--token-file", file},
                       environment({{"VEXLO_PAVO_SIDECAR_TOKEN", "from-env"}}));
    const auto port = serve(agent);
    EXPECT_EQ(statusOf(request(port, "POST", "/x", "", "x-pavo-token: from-file\r\n")), 404);
    EXPECT_EQ(statusOf(request(port, "POST", "/x", "", "x-pavo-token: from-env\r\n")), 401);

    ChildProcess second(kAgent, {"--port", "0"}, environment({{"VEXLO_PAVO_SIDECAR_TOKEN", "from-env"}}));
    const auto port2 = serve(second);
    EXPECT_EQ(statusOf(request(port2, "POST", "/x", "", "x-pavo-token: from-env\r\n")), 404);
}

TEST_F(AgentProcess, NoRequestStopsTheServer) {
    ChildProcess agent(kAgent, {"--port", "0", "--token", "t"}, environment());
    const auto port = serve(agent);
    const std::vector<std::string> hostile = {
        "\r\n\r\n",
        "GET\r\n\r\n",
        std::string("\xFF\xFE\r\n\r\n"),
        "POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n",
        std::string("GET /\0x HTTP/1.1\r\n\r\n", 21),
        "POST /ax/tree HTTP/1.1\r\nx-pavo-token: t\r\n\r\n",
    };
    for (const auto& bytes : hostile) {
        TcpClient client(port);
        client.send(bytes);
        client.readResponse(std::chrono::milliseconds(200));
    }
    {
        TcpClient abandoned(port);
        abandoned.send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc");
    }
    EXPECT_EQ(statusOf(request(port, "GET", "/health")), 200);
    EXPECT_FALSE(agent.waitForExit(std::chrono::milliseconds(10)));
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

TEST_F(AgentProcess, BodiesAreBoundedAndNeverBufferedWithoutTheToken) {
    ChildProcess agent(kAgent, {"--port", "0", "--token", "t"}, environment());
    const auto port = serve(agent);
    const long before = residentKiB(agent.pid());

    // 600 MiB streamed without the token, a mebibyte per request: each is refused on its head and its body
    // dropped as it arrives, and the connection stays usable.
    const std::string mebibyte(1 << 20, 'x');
    TcpClient stream(port);
    for (int i = 0; i < 600; ++i) {
        stream.send("POST /ax/tree HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" + mebibyte);
        const auto reply = stream.readResponse();
        ASSERT_TRUE(reply) << i;
        ASSERT_EQ(statusOf(*reply), 401) << i;
    }
    stream.send("GET /health HTTP/1.1\r\n\r\n");
    EXPECT_EQ(statusOf(stream.readResponse().value_or("")), 200);
    EXPECT_LT(residentKiB(agent.pid()) - before, 32 * 1024) << "KiB resident before: " << before;

    struct Row {
        std::string head;
        int status;
    };
    // Larger bodies are not even drained: the connection closes after the reply.
    for (const Row& row :
         {Row{"POST /ax/tree HTTP/1.1\r\nContent-Length: 4000000000\r\n\r\n", 401},
          Row{"POST /ax/tree HTTP/1.1\r\nx-pavo-token: t\r\nContent-Length: 67108865\r\n\r\n", 413}}) {
        TcpClient client(port);
        client.send(row.head + "some of the body");
        const auto reply = client.readResponse();
        ASSERT_TRUE(reply) << row.head;
        EXPECT_EQ(statusOf(*reply), row.status);
        EXPECT_TRUE(client.closedByPeer()) << row.head;
    }
}

TEST_F(AgentProcess, PortInUseIsAFatalErrorAndSigtermEndsServingCleanly) {
    ChildProcess first(kAgent, {"--port", "0", "--token", "t"}, environment());
    const auto port = serve(first);
    auto clash = runToCompletion(kAgent, {"--port", std::to_string(port), "--token", "t"}, environment());
    EXPECT_EQ(clash.status, 1);
    EXPECT_EQ(clash.output.rfind("Fatal error: cannot listen on 127.0.0.1:" + std::to_string(port), 0), 0u);

    first.signal(SIGTERM);
    EXPECT_EQ(first.waitForExit(), 0);
}

const std::string kSocketFile = "Library/Application Support/Vexlo/Pavo/overlay.sock";

struct Started {
    std::optional<std::string> gateLine;
    int healthStatus = 0;
};

Started start(const TempDir& home) {
    ChildProcess agent(kAgent, {"--port", "0", "--token", "t"}, {{"HOME", home.path()}});
    Started started;
    const auto ready = agent.waitForLine("Server listening on 127.0.0.1:");
    EXPECT_TRUE(ready) << agent.output();
    if (!ready) return started;
    started.gateLine = agent.waitForLine("Consent gate: ");
    started.healthStatus = statusOf(request(
        static_cast<std::uint16_t>(std::stoi(ready->substr(ready->rfind(':') + 1))), "GET", "/health"));
    return started;
}

TEST(AgentConsentGate, TheSocketFileFoundAtStartUpDecidesTheGateAndItServesEitherWay) {
    const std::string ungated = "Consent gate: no overlay found, actions are not gated";
    const std::vector<std::pair<std::optional<std::string>, std::string>> rows = {
        {std::nullopt, ungated},
        {"", ungated},
        {"{not json", ungated},
        {R"({"port": 70000, "token": "x"})", ungated},
        {R"({"port": 4000})", ungated},
        {R"({"port":47999,"token":"overlay-token"})", "Consent gate: overlay at 127.0.0.1:47999"},
    };
    for (const auto& [content, line] : rows) {
        TempDir home;
        if (content) home.write(kSocketFile, *content);
        const auto started = start(home);
        EXPECT_EQ(started.gateLine, line) << content.value_or("(no file)");
        EXPECT_EQ(started.healthStatus, 200);
    }
}

// With no session bus at all the real desktop has no accessibility to offer.
class AgentWithoutSimulation : public ::testing::Test {
  protected:
    TempDir home;
};

TEST_F(AgentWithoutSimulation, AnswersAsAMachineWithoutAccessibilityPermission) {
    for (const char* kind : {"", "linux"}) {
        std::map<std::string, std::string> environment{{"HOME", home.path()}};
        if (*kind) environment["VEXLO_PAVO_DESKTOP"] = kind;
        ChildProcess agent(kAgent, {"--port", "0", "--token", "t"}, environment);
        auto line = agent.waitForLine("Server listening on 127.0.0.1:");
        ASSERT_TRUE(line) << agent.output();
        const auto port = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
        for (const char* path : {"/ax/tree", "/ax/find", "/batch/begin"}) {
            const auto reply = request(port, "POST", path, "{}", "x-pavo-token: t\r\n");
            EXPECT_EQ(statusOf(reply), 403) << path;
            const json body = json::parse(bodyOf(reply));
            EXPECT_EQ(body["error"], "ax_permission_missing") << path;
            // A Linux user is told what to start, not where another system keeps its settings.
            EXPECT_EQ(body["hint"].get<std::string>().rfind("Start the AT-SPI accessibility bus", 0), 0u)
                << body;
        }
        EXPECT_EQ(statusOf(request(port, "POST", "/batch/end", "", "x-pavo-token: t\r\n")), 200);
    }
}

TEST_F(AgentWithoutSimulation, AnUnusableDesktopChoiceIsAFatalError) {
    const std::string bad = home.write("bad.json", R"({"applications": [{"pid": "1"}]})");
    const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases = {
        {{{"VEXLO_PAVO_DESKTOP", "simulated"}},
         "Fatal error: the simulated desktop needs VEXLO_PAVO_DESKTOP_SCENE"},
        {{{"VEXLO_PAVO_DESKTOP", "simulated"}, {"VEXLO_PAVO_DESKTOP_SCENE", home.path() + "/none.json"}},
         "Fatal error: cannot read the desktop scene"},
        {{{"VEXLO_PAVO_DESKTOP", "simulated"}, {"VEXLO_PAVO_DESKTOP_SCENE", bad}},
         "Fatal error: the desktop scene " + bad + " is not valid: applications[0].pid: expected an integer"},
        {{{"VEXLO_PAVO_DESKTOP", "macos"}}, "Fatal error: unknown desktop \"macos\""},
    };
    for (auto [environment, expected] : cases) {
        environment["HOME"] = home.path();
        const auto run = runToCompletion(kAgent, {"--port", "0", "--token", "t"}, environment);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output.rfind(expected, 0), 0u) << run.output;
    }
}

}  // namespace
}  // namespace pavo::testing
