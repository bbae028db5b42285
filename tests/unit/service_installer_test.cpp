// Both service installers against a stand-in service manager that records its arguments and answers with
// a chosen status: the files they write, the runs they make, what they print, and where the token ends up.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "common/child_process.hpp"
#include "common/files.hpp"
#include "platform/launchd/launchd_installer.hpp"
#include "platform/linux/systemd_unit.hpp"
#include "platform/linux/systemd_user_installer.hpp"
#include "stand_in.hpp"

namespace pavo::platform {
namespace {

const std::string kToken = "tok-\"$zq7secret\\`x'";  // "zq7secret" survives any file format's escaping

ServiceDefinition agent(const std::string& executable = "/opt/pavo/pavo-agent") {
    return {"pavo-agent", executable, 47824, "VEXLO_PAVO_SIDECAR_TOKEN", kToken, "pavo-overlay", true};
}

// A home directory, and a service manager that logs its arguments to `calls` and answers as `answers`
// ("<verb>=<status> ...") says, 0 for any other verb.
struct Machine {
    pavo::testing::TempDir root;
    std::string home = root.path() + "/home", config = home + "/.config", manager;

    explicit Machine(const std::string& answers = "") {
        std::filesystem::create_directories(home);
        manager = pavo::testing::writeStandIn(
            root, "bin/manager",
            "echo \"$*\" >> \"" + root.path() + "/calls\"\n" +
                R"(for word in "$@"; do case "$word" in --user|-w) ;; *) verb=$word; break;; esac; done)" +
                "\ncase \"$verb\" in " +
                std::regex_replace(answers, std::regex("(\\S+)=(\\d+)"), "$1) exit $2;;") + " esac");
    }
    std::string calls() const { return common::readFile(root.path() + "/calls").value_or(""); }
};

TEST(ServiceInstaller, WritesTheFilesRunsTheManagerAndSaysHowItWent) {
    const std::string systemctl =
        "--user daemon-reload\n--user enable pavo-agent.service\n--user restart pavo-agent.service\n";
    struct Row {
        const char* name;
        bool systemd;        // else launchd
        bool replaceLoaded;  // as the agent does, not the overlay
        int installs;
        std::string answers;  // how the manager answers; "missing": there is none to run
        std::string said;     // what is printed after the files are written
        std::string calls;    // S: the file with the token
    };
    const Row rows[] = {
        {"systemd: a second install restarts", true, true, 2, "", "User service started successfully.\n",
         systemctl + systemctl},
        {"systemd: no manager to reload, still enabled", true, true, 1, "daemon-reload=1",
         "Warning: systemctl --user daemon-reload returned 1.\n"
         "You may need to check the service with: systemctl --user status pavo-agent.service\n",
         systemctl},
        {"launchd: what is not to be replaced is loaded again, never unloaded", false, false, 2, "",
         "LaunchAgent loaded successfully.\n", "load S\nload S\n"},
        {"launchd: a failed unload is ignored, a failed load warns", false, true, 1, "unload=1 load=5",
         "Warning: launchctl load returned 5.\n"
         "You may need to enable the agent in System Settings -> Login Items.\n",
         "unload -w S\nload -w S\n"},
        {"launchd: launchctl cannot start", false, true, 1, "missing", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Machine machine(row.answers);
        ServiceDefinition service = agent();
        service.replaceLoaded = row.replaceLoaded;
        const std::string manager =
            row.answers == "missing" ? machine.root.path() + "/none" : machine.manager;
        const auto installer = row.systemd ? systemd_user::makeSystemdUserInstaller(machine.config, manager)
                                           : launchd::makeLaunchdInstaller(machine.home, manager);
        const std::string secret =
            row.systemd ? systemd_user::environmentFilePath(machine.config, service.program)
                        : machine.home + "/Library/LaunchAgents/com.vexlo." + service.program + ".plist";
        std::ostringstream out;
        bool failed = false;
        for (int i = 0; i < row.installs; ++i) {
            if (i > 0) ::chmod(secret.c_str(), 0644);  // as a careless earlier writer might have left it
            out.str("");                               // what the last install said
            try {
                installer->install(service, out);
            } catch (const std::exception&) {
                failed = true;
            }
        }
        EXPECT_EQ(failed, row.answers == "missing");
        EXPECT_EQ(std::regex_replace(out.str(), std::regex("Wrote .*\n"), ""), row.said);
        EXPECT_EQ(machine.calls(), std::regex_replace(row.calls, std::regex("\\bS\\b"), secret));
        struct stat info {};
        EXPECT_EQ(::stat(secret.c_str(), &info) == 0 ? info.st_mode & 07777 : 07777, 0600u);
        std::vector<std::string> withToken;  // however escaped
        for (const auto& entry : std::filesystem::recursive_directory_iterator(machine.root.path()))
            if (entry.is_regular_file() &&
                common::readFile(entry.path())->find("zq7secret") != std::string::npos)
                withToken.push_back(entry.path());
        EXPECT_EQ(withToken, std::vector<std::string>{secret});
    }
}

TEST(ServiceInstaller, SystemdFilesPassSystemdsVerifierAndReadBackAsWritten) {
    Machine machine;
    ServiceDefinition service = agent();
    // Spaces and specifier signs in both the executable's path and the configuration directory.
    service.executablePath = pavo::testing::writeStandIn(machine.root, "My Apps 100%/$pavo;agent", "exit 0");
    const std::string configHome = machine.root.path() + "/conf dir%h",
                      runtime = machine.root.path() + "/run",
                      unit = systemd_user::unitPath(configHome, service.program);
    std::ostringstream out;
    systemd_user::makeSystemdUserInstaller(configHome, machine.manager)->install(service, out);
    std::filesystem::create_directories(runtime);
    const auto verify =
        common::runChildSync({"env",
                              {"HOME=" + machine.home, "XDG_CONFIG_HOME=" + configHome,
                               "XDG_RUNTIME_DIR=" + runtime, "systemd-analyze", "verify", "--user", unit},
                              std::nullopt,
                              std::chrono::seconds(60)});
    EXPECT_EQ(verify.exitStatus, 0);
    // It only warns about a setting it does not understand, so a clean unit is a silent one.
    EXPECT_EQ(verify.standardOutput + verify.standardError, "");
    // It also lets an unknown specifier pass, and the service would then never start.
    for (const auto& line :
         {std::string("\nAfter=pavo-overlay.service\n"), std::string("/My Apps 100%%/$pavo;agent\" --port"),
          "\nEnvironmentFile=" + machine.root.path() + "/conf dir%%h/pavo/pavo-agent.env\n"})
        EXPECT_NE(common::readFile(unit)->find(line), std::string::npos) << line;
    // Inside double quotes systemd reads the token back unchanged once these four are escaped.
    EXPECT_EQ(common::readFile(systemd_user::environmentFilePath(configHome, service.program)),
              R"(VEXLO_PAVO_SIDECAR_TOKEN="tok-\"\$zq7secret\\\`x'")"
              "\n");
}

TEST(ServiceInstaller, RefusesWhatAUnitCannotHoldBeforeWritingAnything) {
    const ServiceDefinition rows[] = {
        agent("/opt/it's/pavo-agent"),
        agent("/opt/line\nbreak"),
        agent("/opt/\xFF/pavo-agent"),
        {"pavo-agent", "/opt/pavo-agent", 1, "X", "\xFF", std::nullopt, true},
    };
    for (const auto& service : rows) {
        SCOPED_TRACE(service.executablePath);
        Machine machine;
        std::ostringstream out;
        EXPECT_THROW(
            systemd_user::makeSystemdUserInstaller(machine.config, machine.manager)->install(service, out),
            std::invalid_argument);
        EXPECT_FALSE(std::filesystem::exists(machine.config));
        EXPECT_TRUE(machine.calls().empty());
    }
}

}  // namespace
}  // namespace pavo::platform
