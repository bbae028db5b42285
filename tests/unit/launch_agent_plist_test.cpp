// The launch agent's property list, read back by an independent property-list reader whose own writer must
// produce the same bytes.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "common/child_process.hpp"
#include "common/launch_agent_plist.hpp"
#include "platform/launchd/launchd_installer.hpp"

namespace pavo::common {
namespace {

TEST(LaunchAgentPlist, ReadsBackWithPythonsPlistlibWhichWritesTheSameBytes) {
    pavo::testing::TempDir dir;
    // Prints what plistlib reads, then whether plistlib writes the same bytes again.
    const std::string reader = dir.write("read.py", R"(import json, plistlib, sys
data = open(sys.argv[1], "rb").read()
value = plistlib.loads(data)
print(json.dumps(value))
print(plistlib.dumps(value) == data)
)");
    const auto service = platform::ServiceDefinition{"pavo-agent",
                                                     "/home/ann/My Apps/pavo <&> 'agent'",
                                                     47824,
                                                     "VEXLO_PAVO_SIDECAR_TOKEN",
                                                     "t\"o'k&e<n>\tÜ ✓",
                                                     "pavo-overlay",
                                                     true};
    const std::string path =
        dir.write("agent.plist", launchAgentPlist(platform::launchd::launchAgentDefinition(service)));
    const auto run = runChildSync({"python3", {reader, path}, std::nullopt, std::chrono::seconds(30)});
    ASSERT_EQ(run.exitStatus, 0) << run.standardError;
    const auto newline = run.standardOutput.find('\n');
    const nlohmann::json expected = {
        {"Label", "com.vexlo." + service.program},
        {"ProgramArguments", {service.executablePath, "--port", std::to_string(service.port)}},
        {"RunAtLoad", true},
        {"KeepAlive", true},
        {"StandardOutPath", "/tmp/" + service.program + ".log"},
        {"StandardErrorPath", "/tmp/" + service.program + ".err"},
        {"EnvironmentVariables", {{service.tokenVariable, service.token}}},
    };
    EXPECT_EQ(nlohmann::json::parse(run.standardOutput.substr(0, newline)), expected);
    EXPECT_EQ(run.standardOutput.substr(newline + 1), "True\n");
}

}  // namespace
}  // namespace pavo::common
