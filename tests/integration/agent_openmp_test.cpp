// pavo-agent runs Tesseract with a single OpenMP thread however it is started: libgomp reads the limit
// only while the program loads, so the agent starts itself over once with it set.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "child_process.hpp"

namespace pavo::testing {
namespace {

// Whether the process's environment holds `variable` (NAME=value) exactly.
bool hasVariable(pid_t pid, const std::string& variable) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return (std::string(1, '\0') + all).find('\0' + variable + '\0') != std::string::npos;
}

TEST(AgentOpenMP, TheServingProcessHasTheLimitOfOneWhateverItWasStartedWith) {
    const std::optional<std::string> rows[] = {std::nullopt, "8", "1"};
    for (const auto& given : rows) {
        TempDir home;
        std::map<std::string, std::string> environment = {
            {"HOME", home.path()},
            {"VEXLO_PAVO_DESKTOP", "simulated"},
            {"VEXLO_PAVO_DESKTOP_SCENE", PAVO_SOURCE_DIR "/scenes/text_editor.json"}};
        if (given) environment["OMP_THREAD_LIMIT"] = *given;
        ChildProcess agent(PAVO_AGENT_BINARY, {"--port", "0", "--token", "t"}, environment);
        ASSERT_TRUE(agent.waitForLine("Server listening on 127.0.0.1:")) << agent.output();
        // The process the test started is the one serving: starting over kept its pid and its output.
        EXPECT_TRUE(hasVariable(agent.pid(), "OMP_THREAD_LIMIT=1")) << given.value_or("(unset)");
        EXPECT_TRUE(hasVariable(agent.pid(), "HOME=" + home.path()));
    }
}

}  // namespace
}  // namespace pavo::testing
