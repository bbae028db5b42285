// `pavo-agent install` and `pavo-overlay install` as black boxes on a Linux machine, with a stand-in
// systemctl first on their path: the command lines, the units and environment files, and the exit statuses.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "child_process.hpp"
#include "common/files.hpp"
#include "stand_in.hpp"

namespace pavo::testing {
namespace {

const std::string kAgent = PAVO_AGENT_BINARY;
const std::string kOverlay = PAVO_OVERLAY_BINARY;

TEST(InstallCommand, InstallsEachProgramAsAUserServiceWithItsPortAndToken) {
    const std::string cwd = std::filesystem::current_path().string();
    struct Row {
        const char* name;
        std::string program;
        std::vector<std::string> arguments;
        std::optional<std::string> tokenFile;  // the agent's default token file
        bool withSystemctl;
        int status;
        std::string lastLine;
        std::string execStart;  // empty: nothing is installed
        std::string environment;
    };
    const std::vector<Row> rows = {
        {"agent with --executable-path and --port",
         kAgent,
         {"install", "--token", "T1", "--executable-path", "/opt/x/pavo-agent", "--port", "5001"},
         std::nullopt,
         true,
         0,
         "User service started successfully.",
         "/opt/x/pavo-agent --port 5001",
         "VEXLO_PAVO_SIDECAR_TOKEN=\"T1\""},
        {"agent from its token file, relative executable",
         kAgent,
         {"install", "--executable-path", "rel/pavo-agent"},
         "  T2\n",
         true,
         0,
         "User service started successfully.",
         cwd + "/rel/pavo-agent --port 47824",
         "VEXLO_PAVO_SIDECAR_TOKEN=\"T2\""},
        {"agent, the running program by default",
         kAgent,
         {"install", "--token", "T3"},
         std::nullopt,
         true,
         0,
         "User service started successfully.",
         kAgent + " --port 47824",
         "VEXLO_PAVO_SIDECAR_TOKEN=\"T3\""},
        {"agent without a readable token file",
         kAgent,
         {"install"},
         std::nullopt,
         true,
         1,
         "Fatal error: cannot read the token file $HOME/Vault-Vexlo/secrets/pavo/sidecar-token",
         "",
         ""},
        {"overlay with --port",
         kOverlay,
         {"install", "--port", "6001", "--token", "O1"},
         std::nullopt,
         true,
         0,
         "User service installed. Exiting.",
         kOverlay + " --port 6001",
         "VEXLO_PAVO_OVERLAY_TOKEN=\"O1\""},
        {"overlay without a token",
         kOverlay,
         {"install"},
         std::nullopt,
         true,
         0,
         "User service installed. Exiting.",
         kOverlay + " --port 47825",
         "VEXLO_PAVO_OVERLAY_TOKEN=\"\""},
        {"overlay without systemctl",
         kOverlay,
         {"install", "--token", "O2"},
         std::nullopt,
         false,
         1,
         "Failed to install user service: cannot run systemctl: No such file or directory",
         kOverlay + " --port 47825",
         "VEXLO_PAVO_OVERLAY_TOKEN=\"O2\""},
        {"overlay with a port it could not listen on",
         kOverlay,
         {"install", "--port", "70000"},
         std::nullopt,
         true,
         1,
         "Failed to install user service: --port must be between 0 and 65535 (got 70000)",
         "",
         ""},
    };
    for (const auto& row : rows) {
        TempDir home, bin;
        writeStandIn(bin, "systemctl", "echo \"$*\" >> \"" + bin.path() + "/calls\"");
        if (row.tokenFile) home.write("Vault-Vexlo/secrets/pavo/sidecar-token", *row.tokenFile);
        TempDir noPrograms;
        const auto run = runToCompletion(
            row.program, row.arguments,
            {{"HOME", home.path()},
             {"PATH", row.withSystemctl ? bin.path() + ":/usr/bin:/bin" : noPrograms.path()},
             {"VEXLO_PAVO_DESKTOP", "simulated"},
             {"VEXLO_PAVO_DESKTOP_SCENE", std::string(PAVO_SOURCE_DIR) + "/scenes/text_editor.json"}});
        EXPECT_EQ(run.status, row.status) << row.name << "\n" << run.output;
        ASSERT_FALSE(run.lines.empty()) << row.name;
        std::string lastLine = row.lastLine;
        if (auto at = lastLine.find("$HOME"); at != std::string::npos) lastLine.replace(at, 5, home.path());
        EXPECT_EQ(run.lines.back(), lastLine) << row.name;

        const std::string program = std::filesystem::path(row.program).filename();
        const std::string unitFile = home.path() + "/.config/systemd/user/" + program + ".service";
        const std::string environmentFile = home.path() + "/.config/pavo/" + program + ".env";
        if (row.execStart.empty()) {
            EXPECT_FALSE(std::filesystem::exists(home.path() + "/.config")) << row.name;
            continue;
        }
        const auto unit = common::readFile(unitFile).value_or("");
        EXPECT_NE(unit.find("\nExecStart=" + row.execStart + "\n"), std::string::npos) << row.name << "\n"
                                                                                       << unit;
        EXPECT_EQ(unit.find("After=pavo-overlay.service") != std::string::npos, program == "pavo-agent")
            << row.name;
        EXPECT_EQ(common::readFile(environmentFile), row.environment + "\n") << row.name;
        struct stat info {};
        ASSERT_EQ(::stat(environmentFile.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u) << row.name;
        if (row.withSystemctl && row.status == 0) {
            EXPECT_EQ(common::readFile(bin.path() + "/calls"), "--user daemon-reload\n--user enable " +
                                                                   program + ".service\n--user restart " +
                                                                   program + ".service\n")
                << row.name;
        }
        // Installing starts nothing of the program itself: no socket file, no server.
        EXPECT_FALSE(std::filesystem::exists(home.path() + "/Library")) << row.name;
    }
}

}  // namespace
}  // namespace pavo::testing
