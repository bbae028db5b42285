// `pavo-agent install` waits for accessibility before anything is installed; here on an injected clock.

#include <gtest/gtest.h>

#include <sstream>

#include "agent/install/agent_install.hpp"

namespace pavo::agent {
namespace {

// Records what it is asked to install instead of installing it.
struct RecordingInstaller : platform::ServiceInstaller {
    std::string serviceKind() const override { return "test service"; }
    void install(const platform::ServiceDefinition& service, std::ostream&) override {
        installed.push_back(service);
    }
    std::vector<platform::ServiceDefinition> installed;
};

TEST(AgentInstall, WaitsForAccessibilityEveryTwoSecondsForFiveMinutesThenInstallsAfterTheOverlay) {
    const std::string required =
        "Accessibility permission is required for pavo-agent.\nWaiting for accessibility (up to 300 s): "
        "Start the bus\n";
    const std::string granted = "Accessibility permission granted.\n";
    const std::tuple<int, std::string, int> rows[] = {
        // the check that first finds it granted (0: none does), the output, the sleeps of 2 s
        {1, "", 0},
        {151, required + granted, 150},  // the last check at 300 s
        {0, required, 150},
    };
    for (const auto& [grantedOnCheck, output, sleeps] : rows) {
        SCOPED_TRACE(grantedOnCheck);
        int checks = 0;
        std::chrono::steady_clock::time_point now{};
        std::vector<std::chrono::steady_clock::duration> slept;
        InstallEnvironment environment;
        environment.accessibility = [&, grantOn = grantedOnCheck] {
            return AccessibilityCheck{++checks == grantOn, "Start the bus"};
        };
        environment.clock = {[&] { return now; },
                             [&](std::chrono::steady_clock::duration d) { slept.push_back(d), now += d; }};
        RecordingInstaller installer;
        std::ostringstream out;
        std::string failure;
        try {
            installAgent({47824, "t", "", std::nullopt}, installer, environment, out);
        } catch (const std::runtime_error& error) {
            failure = error.what();
        }
        EXPECT_EQ(out.str(), output);
        EXPECT_EQ(slept, decltype(slept)(sleeps, std::chrono::seconds(2)));
        EXPECT_EQ(failure.rfind("ax_permission_missing", 0), grantedOnCheck ? std::string::npos : 0u);
        ASSERT_EQ(installer.installed.size(), grantedOnCheck ? 1u : 0u);
        if (!grantedOnCheck) continue;
        const platform::ServiceDefinition& agent = installer.installed.front();
        // What the black-box install cannot show on this machine: the order and, for launchd, the reload.
        EXPECT_EQ(std::tie(agent.startsAfter, agent.replaceLoaded),
                  std::make_tuple(std::optional<std::string>("pavo-overlay"), true));
    }
}

}  // namespace
}  // namespace pavo::agent
