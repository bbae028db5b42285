// `pavo-agent install` and `pavo-overlay install` as black boxes on a Linux machine, with a stand-in
// systemctl first on their path: what reaches the installed unit and environment file, and the exit
// statuses and messages.

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <regex>
#include <sstream>

#include "child_process.hpp"
#include "common/files.hpp"
#include "stand_in.hpp"

namespace pavo::testing {
namespace {

TEST(InstallCommand, InstallsEachProgramAsAUserServiceWithItsPortAndToken) {
    const std::string cwd = std::filesystem::current_path().string();
    const std::string agent = PAVO_AGENT_BINARY, overlay = PAVO_OVERLAY_BINARY;
    const std::string started = "User service started successfully.",
                      installed = "User service installed. Exiting.";
    struct Row {
        std::string command;         // "agent" or "overlay" and the arguments, split at spaces
        std::string tokenFile;       // the agent's default token file, when not empty
        std::string lastLine;        // anything but the success lines means exit status 1
        std::string execStart = "";  // empty: nothing is written
        std::string token = "";      // as the environment file holds it
        bool withoutSystemctl = false;
    };
    const Row rows[] = {
        {"agent install --token T1 --port 5001", "", started, agent + " --port 5001", "T1"},
        {"agent install --executable-path rel/pavo-agent", "  T2\n", started,
         cwd + "/rel/pavo-agent --port 47824", "T2"},
        {"agent install", "",
         "Fatal error: cannot read the token file $HOME/Vault-Vexlo/secrets/pavo/sidecar-token"},
        {"overlay install --port 6001 --token O1", "", installed, overlay + " --port 6001", "O1"},
        {"overlay install --token O2", "",
         "Failed to install user service: cannot run systemctl: No such file or directory",
         overlay + " --port 47825", "O2", true},
        {"overlay install --port 70000", "",
         "Failed to install user service: --port must be between 0 and 65535 (got 70000)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        TempDir home, bin, empty;
        writeStandIn(bin, "systemctl", "exit 0");
        if (!row.tokenFile.empty()) home.write("Vault-Vexlo/secrets/pavo/sidecar-token", row.tokenFile);
        std::istringstream words(row.command);
        std::string program;
        words >> program;
        const auto run = runToCompletion(
            program == "agent" ? agent : overlay, {std::istream_iterator<std::string>(words), {}},
            {{"HOME", home.path()},
             {"PATH", row.withoutSystemctl ? empty.path() : bin.path() + ":/usr/bin:/bin"},
             {"VEXLO_PAVO_DESKTOP", "simulated"},
             {"VEXLO_PAVO_DESKTOP_SCENE", std::string(PAVO_SOURCE_DIR) + "/scenes/text_editor.json"}});
        const std::string lastLine = std::regex_replace(row.lastLine, std::regex("\\$HOME"), home.path());
        EXPECT_EQ(run.status, lastLine == started || lastLine == installed ? 0 : 1);
        EXPECT_EQ(run.lines.empty() ? "" : run.lines.back(), lastLine) << run.output;
        // Installing starts nothing of the program itself: no socket file, no server.
        EXPECT_FALSE(std::filesystem::exists(home.path() + "/Library"));
        const auto unit =
            common::readFile(home.path() + "/.config/systemd/user/pavo-" + program + ".service");
        const auto environment = common::readFile(home.path() + "/.config/pavo/pavo-" + program + ".env");
        EXPECT_EQ(unit.has_value(), !row.execStart.empty());
        if (!unit) continue;
        EXPECT_NE(unit->find("\nExecStart=" + row.execStart + "\n"), std::string::npos) << *unit;
        EXPECT_EQ(environment,
                  std::string(program == "agent" ? "VEXLO_PAVO_SIDECAR_TOKEN" : "VEXLO_PAVO_OVERLAY_TOKEN") +
                      "=\"" + row.token + "\"\n");
    }
}

}  // namespace
}  // namespace pavo::testing
