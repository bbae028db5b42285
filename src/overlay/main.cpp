// pavo-overlay: the operator's companion that draws what the agent does and owns consent.

#include <QApplication>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/files.hpp"
#include "overlay/service/command_line.hpp"
#include "overlay/service/consent_manager.hpp"
#include "overlay/service/socket_file.hpp"
#include "overlay/ui/controller.hpp"
#include "overlay/ui/install.hpp"
#include "platform/launchd/launchd_installer.hpp"
#include "platform/linux/systemd_unit.hpp"
#include "platform/linux/systemd_user_installer.hpp"

namespace {

using namespace pavo::overlay;

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

// launchd where the system has it, systemd user units everywhere else.
std::unique_ptr<pavo::platform::ServiceInstaller> chooseServiceInstaller() {
    namespace platform = pavo::platform;
    const std::string home = pavo::common::homeDirectory();
    if (platform::launchd::launchctlAvailable()) return platform::launchd::makeLaunchdInstaller(home);
    return platform::systemd_user::makeSystemdUserInstaller(
        platform::systemd_user::configHome(environmentValue, home));
}

int runOverlay(int argc, char** argv, const CLIConfig& config) {
    if (config.port != 0) publishOverlaySocketFile(config.port, config.token);
    ConsentManager consentManager(config.consent);

    QApplication application(argc, argv);
    // An accessory application: no main window, so closing the last dialog must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    OverlayAppDelegate delegate(config, consentManager);
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const CLIConfig config = parseCLI(std::vector<std::string>(argv + 1, argv + argc), environmentValue);

    if (config.shouldInstall) return installOverlay(config, *chooseServiceInstaller(), std::cout);
    if (config.token.empty()) {
        std::cout << "Error: token required (--token or VEXLO_PAVO_OVERLAY_TOKEN)" << std::endl;
        return 1;
    }
    if (!isUsablePort(config.port)) {
        std::cout << "Error: --port must be between 0 and 65535 (got " << config.port << ")" << std::endl;
        return 1;
    }
    return runOverlay(argc, argv, config);
}
