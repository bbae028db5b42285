// Both service installers against a stand-in service manager that records its arguments and answers with
// a chosen status: the files they write, the runs they make, what they print, and where the token ends up.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "common/child_process.hpp"
#include "common/files.hpp"
#include "platform/launchd/launchd_installer.hpp"
#include "platform/linux/systemd_unit.hpp"
#include "platform/linux/systemd_user_installer.hpp"
#include "stand_in.hpp"

namespace pavo::platform {
namespace {

using pavo::testing::TempDir;

const std::string kToken = "tok-\"$zq7secret\\`x'";
const std::string kTokenCore = "zq7secret";  // what survives any file format's escaping

ServiceDefinition agent(const std::string& executable = "/opt/pavo/pavo-agent") {
    return {"pavo-agent", executable, 47824, "VEXLO_PAVO_SIDECAR_TOKEN", kToken, "pavo-overlay", true};
}
ServiceDefinition overlay(const std::string& executable = "/opt/pavo/pavo-overlay") {
    return {"pavo-overlay", executable, 47825, "VEXLO_PAVO_OVERLAY_TOKEN", kToken, std::nullopt, false};
}

mode_t modeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 07777;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string replaced(std::string text, const std::map<std::string, std::string>& values) {
    for (const auto& [name, value] : values) {
        for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) {
            text.replace(at, name.size(), value);
        }
    }
    return text;
}

// A home directory, and a service manager that logs its arguments to `calls` and exits with the number in
// `status-<verb>` (0 when there is none).
struct Machine {
    TempDir root;
    std::string home = root.path() + "/home";
    std::string config = home + "/.config";
    std::string manager;

    explicit Machine(const std::map<std::string, int>& statusByVerb) {
        std::filesystem::create_directories(home);
        const std::string script = R"sh(echo "$*" >> "ROOT/calls"
for word in "$@"; do case "$word" in --user|-w) ;; *) verb=$word; break;; esac; done
[ -f "ROOT/status-$verb" ] && exit "$(cat "ROOT/status-$verb")"
exit 0)sh";
        manager = pavo::testing::writeStandIn(root, "bin/manager", replaced(script, {{"ROOT", root.path()}}));
        for (const auto& [verb, status] : statusByVerb) root.write("status-" + verb, std::to_string(status));
    }
    std::vector<std::string> calls() const {
        return linesOf(common::readFile(root.path() + "/calls").value_or(""));
    }

    // Every file below the root that holds the token, however escaped.
    std::vector<std::string> filesWithToken() const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root.path())) {
            if (!entry.is_regular_file()) continue;
            if (common::readFile(entry.path())->find(kTokenCore) != std::string::npos)
                found.push_back(entry.path());
        }
        return found;
    }
};

TEST(ServiceInstaller, WritesTheFilesRunsTheManagerAndSaysHowItWent) {
    enum class Manager { systemd, launchd };
    struct Row {
        const char* name;
        Manager manager;
        ServiceDefinition service;
        int installs;
        std::map<std::string, int> statusByVerb;
        bool managerMissing;
        std::vector<std::string> lines;  // $SECRET: the file with the token, $UNIT: the unit file
        std::vector<std::string> calls;
        bool fails;
    };
    const std::string env = "Wrote environment file to $SECRET";
    const std::string unit = "Wrote unit to $UNIT";
    const std::string started = "User service started successfully.";
    const std::string check =
        "You may need to check the service with: systemctl --user status pavo-agent.service";
    const std::vector<std::string> systemctlCalls = {
        "--user daemon-reload", "--user enable pavo-agent.service", "--user restart pavo-agent.service"};
    const std::string plist = "Wrote plist to $SECRET";
    const std::string loaded = "LaunchAgent loaded successfully.";
    const std::vector<Row> rows = {
        {"systemd: first install",
         Manager::systemd,
         agent(),
         1,
         {},
         false,
         {env, unit, started},
         systemctlCalls,
         false},
        {"systemd: a second install restarts",
         Manager::systemd,
         agent(),
         2,
         {},
         false,
         {env, unit, started, env, unit, started},
         {systemctlCalls[0], systemctlCalls[1], systemctlCalls[2], systemctlCalls[0], systemctlCalls[1],
          systemctlCalls[2]},
         false},
        {"systemd: a restart that fails is a warning",
         Manager::systemd,
         agent(),
         1,
         {{"restart", 5}},
         false,
         {env, unit, "Warning: systemctl --user restart returned 5.", check},
         systemctlCalls,
         false},
        {"systemd: without a manager to reload the unit is still enabled",
         Manager::systemd,
         agent(),
         1,
         {{"daemon-reload", 1}},
         false,
         {env, unit, "Warning: systemctl --user daemon-reload returned 1.", check},
         systemctlCalls,
         false},
        {"systemd: systemctl cannot start", Manager::systemd, agent(), 1, {}, true, {env, unit}, {}, true},
        {"launchd: the agent is unloaded, then loaded",
         Manager::launchd,
         agent(),
         1,
         {},
         false,
         {plist, loaded},
         {"unload -w $SECRET", "load -w $SECRET"},
         false},
        {"launchd: the overlay is loaded again without unloading",
         Manager::launchd,
         overlay(),
         2,
         {},
         false,
         {plist, loaded, plist, loaded},
         {"load $SECRET", "load $SECRET"},
         false},
        {"launchd: a failed unload is ignored, a failed load is a warning",
         Manager::launchd,
         agent(),
         1,
         {{"unload", 1}, {"load", 5}},
         false,
         {plist, "Warning: launchctl load returned 5.",
          "You may need to enable the agent in System Settings -> Login Items."},
         {"unload -w $SECRET", "load -w $SECRET"},
         false},
        {"launchd: launchctl cannot start", Manager::launchd, agent(), 1, {}, true, {plist}, {}, true},
    };
    for (const auto& row : rows) {
        Machine machine(row.statusByVerb);
        const std::string manager = row.managerMissing ? machine.root.path() + "/bin/none" : machine.manager;
        const auto installer = row.manager == Manager::systemd
                                   ? systemd_user::makeSystemdUserInstaller(machine.config, manager)
                                   : launchd::makeLaunchdInstaller(machine.home, manager);
        const std::string secret =
            row.manager == Manager::systemd
                ? systemd_user::environmentFilePath(machine.config, row.service.program)
                : machine.home + "/Library/LaunchAgents/com.vexlo." + row.service.program + ".plist";
        const std::map<std::string, std::string> paths{
            {"$SECRET", secret}, {"$UNIT", systemd_user::unitPath(machine.config, row.service.program)}};

        std::ostringstream out;
        bool failed = false;
        for (int i = 0; i < row.installs; ++i) {
            if (i > 0) ::chmod(secret.c_str(), 0644);  // as a careless earlier writer might have left it
            try {
                installer->install(row.service, out);
            } catch (const std::exception&) {
                failed = true;
            }
        }
        EXPECT_EQ(failed, row.fails) << row.name;
        std::vector<std::string> lines, calls;
        for (const auto& line : row.lines) lines.push_back(replaced(line, paths));
        for (const auto& call : row.calls) calls.push_back(replaced(call, paths));
        EXPECT_EQ(linesOf(out.str()), lines) << row.name;
        EXPECT_EQ(machine.calls(), calls) << row.name;
        EXPECT_EQ(modeOf(secret), 0600u) << row.name;
        EXPECT_EQ(machine.filesWithToken(), std::vector<std::string>{secret}) << row.name;
    }
}

TEST(ServiceInstaller, SystemdUnitsPassSystemdsOwnVerifier) {
    struct Row {
        const char* name;
        ServiceDefinition service;
        std::string executable;  // below the root
        std::string configHome;  // below the root
        std::string after;       // the After= line, or ""
    };
    const std::vector<Row> rows = {
        {"the agent, after the overlay", agent(), "bin/pavo-agent", "home/.config",
         "After=pavo-overlay.service"},
        {"the overlay", overlay(), "bin/pavo-overlay", "home/.config", ""},
        {"paths with spaces and specifier signs", overlay(), "My Apps 100%/$pavo;overlay", "conf dir%h", ""},
    };
    for (auto row : rows) {
        Machine machine({});
        row.service.executablePath = pavo::testing::writeStandIn(machine.root, row.executable, "exit 0");
        const std::string configHome = machine.root.path() + "/" + row.configHome;
        std::ostringstream out;
        systemd_user::makeSystemdUserInstaller(configHome, machine.manager)->install(row.service, out);

        const std::string runtime = machine.root.path() + "/runtime";
        std::filesystem::create_directories(runtime);
        const std::string unitFile = systemd_user::unitPath(configHome, row.service.program);
        const auto verify = common::runChildSync(
            {"env",
             {"HOME=" + machine.home, "XDG_CONFIG_HOME=" + configHome, "XDG_RUNTIME_DIR=" + runtime,
              "systemd-analyze", "verify", "--user", unitFile},
             std::nullopt,
             std::chrono::seconds(60)});
        EXPECT_EQ(verify.exitStatus, 0) << row.name;
        // It only warns about a setting it does not understand, so a clean unit is a silent one.
        EXPECT_EQ(verify.standardOutput + verify.standardError, "") << row.name;
        const auto text = common::readFile(unitFile).value_or("");
        EXPECT_EQ(text.find("After=") != std::string::npos, !row.after.empty()) << row.name;
        if (!row.after.empty()) {
            EXPECT_NE(text.find(row.after + "\n"), std::string::npos) << row.name;
        }
    }
}

TEST(ServiceInstaller, SystemdFilesQuoteWhatSystemdWouldReadOtherwise) {
    struct Row {
        std::string token;
        std::string line;  // what systemd reads back as the token itself
    };
    const std::vector<Row> rows = {
        {"0123abcd", R"(X="0123abcd")"},
        {"", R"(X="")"},
        {R"(a"b\c$d`e)", R"(X="a\"b\\c\$d\`e")"},
        {"sp ace #no comment 'q'", R"(X="sp ace #no comment 'q'")"},
    };
    for (const auto& row : rows) {
        ServiceDefinition service = agent();
        service.tokenVariable = "X";
        service.token = row.token;
        EXPECT_EQ(systemd_user::environmentFileText(service), row.line + "\n") << row.token;
    }
    const std::string config = "/home/a/100%/.config";
    EXPECT_NE(systemd_user::unitText(agent(), systemd_user::environmentFilePath(config, "pavo-agent"))
                  .find("\nEnvironmentFile=/home/a/100%%/.config/pavo/pavo-agent.env\n"),
              std::string::npos);
}

TEST(ServiceInstaller, RefusesWhatAUnitCannotHoldBeforeWritingAnything) {
    const std::vector<ServiceDefinition> rows = {
        agent("/opt/it's/pavo-agent"),
        agent("/opt/a\\b/pavo-agent"),
        agent("/opt/line\nbreak"),
        agent("/opt/\xFF/pavo-agent"),
        {"pavo-agent", "/opt/pavo-agent", 1, "X", "\xFF", std::nullopt, true},
    };
    for (const auto& service : rows) {
        Machine machine({});
        std::ostringstream out;
        EXPECT_THROW(
            systemd_user::makeSystemdUserInstaller(machine.config, machine.manager)->install(service, out),
            std::invalid_argument)
            << service.executablePath;
        EXPECT_FALSE(std::filesystem::exists(machine.config)) << service.executablePath;
        EXPECT_TRUE(machine.calls().empty());
    }
}

}  // namespace
}  // namespace pavo::platform
