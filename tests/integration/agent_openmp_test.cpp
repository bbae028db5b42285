// pavo-agent runs Tesseract with a single OpenMP thread however it is started: libgomp reads the limit
// only while the program loads, so the agent starts itself over once with it set.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "child_process.hpp"

namespace pavo::testing {
namespace {

const std::string kAgent = PAVO_AGENT_BINARY;
const std::string kScene = PAVO_SOURCE_DIR "/scenes/text_editor.json";

std::map<std::string, std::string> environmentOf(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::map<std::string, std::string> variables;
    for (std::size_t start = 0, end; start < all.size(); start = end + 1) {
        end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        const std::string entry = all.substr(start, end - start);
        if (const auto equals = entry.find('='); equals != std::string::npos)
            variables[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    return variables;
}

TEST(AgentOpenMP, TheServingProcessHasTheLimitOfOneWhateverItWasStartedWith) {
    const std::optional<std::string> rows[] = {std::nullopt, "", "8", "1"};
    for (const auto& given : rows) {
        TempDir home;
        std::map<std::string, std::string> environment = {
            {"HOME", home.path()}, {"VEXLO_PAVO_DESKTOP", "simulated"}, {"VEXLO_PAVO_DESKTOP_SCENE", kScene}};
        if (given) environment["OMP_THREAD_LIMIT"] = *given;
        ChildProcess agent(kAgent, {"--port", "0", "--token", "t"}, environment);
        ASSERT_TRUE(agent.waitForLine("Server listening on 127.0.0.1:")) << agent.output();
        // The process the test started is the one serving: starting over kept its pid and its output.
        EXPECT_EQ(environmentOf(agent.pid())["OMP_THREAD_LIMIT"], "1") << given.value_or("(unset)");
        EXPECT_EQ(environmentOf(agent.pid())["HOME"], home.path());
    }
}

}  // namespace
}  // namespace pavo::testing
