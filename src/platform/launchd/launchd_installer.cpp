#include "platform/launchd/launchd_installer.hpp"

#include <unistd.h>

#include <chrono>
#include <system_error>

#include "common/child_process.hpp"
#include "common/private_file.hpp"

namespace pavo::platform::launchd {

namespace {

// launchctl answers at once; one that hangs must not hang the installation with it.
constexpr std::chrono::seconds kLaunchctlLimit{60};

class LaunchdInstaller final : public ServiceInstaller {
  public:
    LaunchdInstaller(std::string homeDirectory, std::string launchctl)
        : homeDirectory_(std::move(homeDirectory)), launchctl_(std::move(launchctl)) {}

    std::string serviceKind() const override { return "LaunchAgent"; }

    void install(const ServiceDefinition& service, std::ostream& out) override {
        const common::LaunchAgentDefinition definition = launchAgentDefinition(service);
        const std::string plist = common::launchAgentPlist(definition);
        const std::string directory = homeDirectory_ + "/Library/LaunchAgents";
        common::createPrivateDirectories(directory);
        const std::string path = directory + "/" + definition.label + ".plist";
        // The plist holds the token: created readable by its owner only, never widened afterwards.
        common::writePrivateFileAtomically(path, plist);
        out << "Wrote plist to " << path << std::endl;

        if (service.replaceLoaded) run({"unload", "-w", path});  // whatever it answers, load follows
        const auto load = run(service.replaceLoaded ? std::vector<std::string>{"load", "-w", path}
                                                    : std::vector<std::string>{"load", path});
        if (!load.started()) throw std::system_error(load.startError, "cannot run " + launchctl_);
        if (load.exitStatus == 0) {
            out << "LaunchAgent loaded successfully." << std::endl;
        } else {
            out << "Warning: launchctl load " << common::describeEnding(load) << "." << std::endl;
            out << "You may need to enable the agent in System Settings -> Login Items." << std::endl;
        }
    }

  private:
    common::ChildResult run(std::vector<std::string> arguments) const {
        return common::runChildSync({launchctl_, std::move(arguments), std::nullopt, kLaunchctlLimit});
    }

    std::string homeDirectory_;
    std::string launchctl_;
};

}  // namespace

bool launchctlAvailable() {
    return ::access(kLaunchctl, X_OK) == 0;
}

common::LaunchAgentDefinition launchAgentDefinition(const ServiceDefinition& service) {
    common::LaunchAgentDefinition definition;
    definition.label = "com.vexlo." + service.program;
    definition.programArguments = {service.executablePath, "--port", std::to_string(service.port)};
    definition.standardOutPath = "/tmp/" + service.program + ".log";
    definition.standardErrorPath = "/tmp/" + service.program + ".err";
    definition.environmentVariables = {{service.tokenVariable, service.token}};
    return definition;
}

std::unique_ptr<ServiceInstaller> makeLaunchdInstaller(const std::string& homeDirectory,
                                                       const std::string& launchctl) {
    return std::make_unique<LaunchdInstaller>(homeDirectory, launchctl);
}

}  // namespace pavo::platform::launchd
