#include "platform/linux/systemd_user_installer.hpp"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/child_process.hpp"
#include "common/private_file.hpp"
#include "platform/linux/systemd_unit.hpp"

namespace pavo::platform::systemd_user {

namespace {

// systemctl waits for the restart job; one that never comes back must not hang the installation.
constexpr std::chrono::seconds kSystemctlLimit{60};

std::string directoryOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

class SystemdUserInstaller final : public ServiceInstaller {
  public:
    SystemdUserInstaller(std::string configHome, std::string systemctl)
        : configHome_(std::move(configHome)), systemctl_(std::move(systemctl)) {}

    std::string serviceKind() const override { return "user service"; }

    void install(const ServiceDefinition& given, std::ostream& out) override {
        ServiceDefinition service = given;
        // The manager starts it from its own working directory, so a relative path would name another file.
        service.executablePath = std::filesystem::absolute(service.executablePath).string();
        const std::string environmentFile = environmentFilePath(configHome_, service.program);
        const std::string unitFile = unitPath(configHome_, service.program);
        // Anything that cannot be written is refused before a file is touched.
        const std::string unit = unitText(service, environmentFile);
        const std::string environment = environmentFileText(service);

        // The token's only copy on disk: created readable by its owner only, never widened afterwards.
        common::createPrivateDirectories(directoryOf(environmentFile));
        common::writePrivateFileAtomically(environmentFile, environment);
        out << "Wrote environment file to " << environmentFile << std::endl;
        common::createPrivateDirectories(directoryOf(unitFile));
        common::writePrivateFileAtomically(unitFile, unit);
        out << "Wrote unit to " << unitFile << std::endl;

        // Each step is tried even when an earlier one failed: without a running manager `enable` still
        // links the unit for the next log-in.
        const std::string name = unitName(service.program);
        bool allSucceeded = true;
        for (const std::vector<std::string>& step :
             {std::vector<std::string>{"daemon-reload"}, std::vector<std::string>{"enable", name},
              std::vector<std::string>{"restart", name}}) {
            allSucceeded = runStep(step, out) && allSucceeded;
        }
        if (allSucceeded) {
            out << "User service started successfully." << std::endl;
        } else {
            out << "You may need to check the service with: systemctl --user status " << name << std::endl;
        }
    }

  private:
    bool runStep(const std::vector<std::string>& step, std::ostream& out) const {
        std::vector<std::string> arguments{"--user"};
        arguments.insert(arguments.end(), step.begin(), step.end());
        const auto result = common::runChildSync({systemctl_, arguments, std::nullopt, kSystemctlLimit});
        if (!result.started()) throw std::system_error(result.startError, "cannot run " + systemctl_);
        if (result.exitStatus == 0) return true;
        out << "Warning: systemctl --user " << step.front() << " " << common::describeEnding(result) << "."
            << std::endl;
        return false;
    }

    std::string configHome_;
    std::string systemctl_;
};

}  // namespace

std::unique_ptr<ServiceInstaller> makeSystemdUserInstaller(const std::string& configHome,
                                                           const std::string& systemctl) {
    return std::make_unique<SystemdUserInstaller>(configHome, systemctl);
}

}  // namespace pavo::platform::systemd_user
