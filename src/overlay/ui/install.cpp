#include "overlay/ui/install.hpp"

#include <cctype>
#include <exception>
#include <stdexcept>

#include "common/files.hpp"

namespace pavo::overlay {

namespace {

constexpr const char* kFallbackExecutable = "/usr/local/bin/pavo-overlay";

platform::ServiceDefinition overlayService(const CLIConfig& config) {
    // A service started with a port it cannot listen on would only fail and restart for ever.
    if (!isUsablePort(config.port)) {
        throw std::invalid_argument("--port must be between 0 and 65535 (got " + std::to_string(config.port) +
                                    ")");
    }
    platform::ServiceDefinition service;
    service.program = "pavo-overlay";
    service.executablePath = common::runningExecutablePath().value_or(kFallbackExecutable);
    service.port = config.port;
    service.tokenVariable = "VEXLO_PAVO_OVERLAY_TOKEN";
    service.token = config.token;
    service.replaceLoaded = false;
    return service;
}

}  // namespace

int installOverlay(const CLIConfig& config, platform::ServiceInstaller& installer, std::ostream& out) {
    const std::string kind = installer.serviceKind();
    try {
        installer.install(overlayService(config), out);
    } catch (const std::exception& error) {
        out << "Failed to install " << kind << ": " << error.what() << std::endl;
        return 1;
    }
    std::string installed = kind;
    installed.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(installed.front())));
    out << installed << " installed. Exiting." << std::endl;
    return 0;
}

}  // namespace pavo::overlay
