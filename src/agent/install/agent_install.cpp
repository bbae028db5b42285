#include "agent/install/agent_install.hpp"

#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/child_process.hpp"
#include "common/files.hpp"
#include "common/text.hpp"

namespace pavo::agent {

namespace {

constexpr const char* kFallbackExecutable = "/usr/local/bin/pavo-agent";
constexpr std::chrono::seconds kProbeLimit{30};

std::string installToken(const AgentInstallRequest& request, const InstallEnvironment& environment) {
    if (!request.token.empty()) return request.token;
    const auto content = environment.readFile(request.tokenFile);
    if (!content) throw std::runtime_error("cannot read the token file " + request.tokenFile);
    if (!common::isValidUtf8(*content))
        throw std::runtime_error("the token file " + request.tokenFile + " is not text");
    return std::string(common::trimWhitespaceAndNewlines(*content));
}

AccessibilityCheck askPermissionsCommand(const std::string& self) {
    const auto run = common::runChildSync({self, {"permissions", "--no-prompt"}, std::nullopt, kProbeLimit});
    AccessibilityCheck check;
    if (!run.started()) {
        check.hint = "cannot run " + self + " to check: " + run.startError.message();
        return check;
    }
    std::istringstream lines(run.standardOutput);
    for (std::string line; std::getline(lines, line);) {
        if (line == "accessibility=granted") check.granted = true;
        if (line.rfind("hint_accessibility=", 0) == 0) check.hint = line.substr(line.find('=') + 1);
    }
    return check;
}

}  // namespace

InstallEnvironment systemInstallEnvironment() {
    InstallEnvironment environment;
    environment.readFile = common::readFile;
    environment.runningExecutable = common::runningExecutablePath();
    const std::string self = environment.runningExecutable.value_or(kFallbackExecutable);
    environment.accessibility = [self] { return askPermissionsCommand(self); };
    environment.clock.now = [] { return std::chrono::steady_clock::now(); };
    environment.clock.sleep = [](std::chrono::steady_clock::duration d) { std::this_thread::sleep_for(d); };
    return environment;
}

void installAgent(const AgentInstallRequest& request, platform::ServiceInstaller& installer,
                  const InstallEnvironment& environment, std::ostream& out) {
    platform::ServiceDefinition service;
    service.program = "pavo-agent";
    service.port = request.port;
    service.token = installToken(request, environment);
    service.tokenVariable = "VEXLO_PAVO_SIDECAR_TOKEN";
    service.executablePath =
        request.executablePath.value_or(environment.runningExecutable.value_or(kFallbackExecutable));
    service.startsAfter = "pavo-overlay";
    service.replaceLoaded = true;

    passAccessibilityGate(environment.accessibility, environment.clock, out);
    installer.install(service, out);
}

}  // namespace pavo::agent
