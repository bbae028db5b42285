// `pavo-agent install` waits for accessibility before anything is installed; here on an injected clock.

#include <gtest/gtest.h>

#include <sstream>

#include "agent/install/agent_install.hpp"

namespace pavo::agent {
namespace {

using Clock = std::chrono::steady_clock;

// Records what it is asked to install instead of installing it.
class RecordingInstaller : public platform::ServiceInstaller {
  public:
    std::string serviceKind() const override { return "test service"; }
    void install(const platform::ServiceDefinition& service, std::ostream&) override {
        installed.push_back(service);
    }
    std::vector<platform::ServiceDefinition> installed;
};

struct Probe {
    int grantedOnCheck = 0;  // the check that first finds accessibility granted; 0: none does
    int checks = 0;
};

InstallEnvironment environment(Probe& probe, Clock::time_point& now, std::vector<Clock::duration>& sleeps) {
    InstallEnvironment environment;
    environment.readFile = [](const std::string&) { return std::optional<std::string>(); };
    environment.runningExecutable = "/usr/bin/pavo-agent";
    environment.accessibility = [&probe] {
        ++probe.checks;
        return AccessibilityCheck{probe.grantedOnCheck == probe.checks, "Start the bus"};
    };
    environment.clock.now = [&now] { return now; };
    environment.clock.sleep = [&](Clock::duration d) {
        sleeps.push_back(d);
        now += d;
    };
    return environment;
}

TEST(AgentInstall, WaitsForAccessibilityEveryTwoSecondsForFiveMinutes) {
    const std::string required = "Accessibility permission is required for pavo-agent.";
    const std::string waiting = "Waiting for accessibility (up to 300 s): Start the bus";
    struct Row {
        int grantedOnCheck;
        std::vector<std::string> lines;
        std::size_t sleeps;
        bool installed;
    };
    const std::vector<Row> rows = {
        {1, {}, 0, true},
        {4, {required, waiting, "Accessibility permission granted."}, 3, true},
        {151,
         {required, waiting, "Accessibility permission granted."},
         150,
         true},  // the last check at 300 s
        {0, {required, waiting}, 150, false},
    };
    for (const auto& row : rows) {
        Probe probe{row.grantedOnCheck};
        Clock::time_point now{};
        std::vector<Clock::duration> sleeps;
        RecordingInstaller installer;
        std::ostringstream out;
        bool failed = false;
        try {
            installAgent({47824, "t", "", std::nullopt}, installer, environment(probe, now, sleeps), out);
        } catch (const std::runtime_error& error) {
            failed = true;
            EXPECT_EQ(std::string(error.what()).rfind("ax_permission_missing", 0), 0u) << error.what();
        }
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        EXPECT_EQ(lines, row.lines) << row.grantedOnCheck;
        EXPECT_EQ(sleeps, std::vector<Clock::duration>(row.sleeps, std::chrono::seconds(2)))
            << row.grantedOnCheck;
        EXPECT_EQ(failed, !row.installed) << row.grantedOnCheck;
        EXPECT_EQ(installer.installed.size(), row.installed ? 1u : 0u) << row.grantedOnCheck;
    }
}

}  // namespace
}  // namespace pavo::agent
