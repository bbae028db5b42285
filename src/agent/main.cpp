// pavo-agent: the automation server the tool server calls on 127.0.0.1.

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "agent/ax/ax_context.hpp"
#include "agent/ax/ax_tree_cache.hpp"
#include "agent/ax/batch_manager.hpp"
#include "agent/command_line.hpp"
#include "agent/consent/consent_gate.hpp"
#include "agent/desktop_choice.hpp"
#include "agent/install/agent_install.hpp"
#include "agent/keys/keystrokes.hpp"
#include "agent/permission_report.hpp"
#include "agent/scripts/script_tools.hpp"
#include "agent/server/dispatcher.hpp"
#include "agent/server/routes.hpp"
#include "agent/vision/ocr_cache.hpp"
#include "agent/vision/vision_context.hpp"
#include "common/files.hpp"
#include "http/server.hpp"
#include "platform/launchd/launchd_installer.hpp"
#include "platform/linux/openmp_limit.hpp"
#include "platform/linux/systemd_unit.hpp"
#include "platform/linux/systemd_user_installer.hpp"
#include "platform/linux/tesseract_recognition.hpp"

namespace {

using namespace pavo;

void printLines(const std::vector<std::string>& lines) {
    for (const auto& line : lines) std::cout << line << '\n';
    std::cout.flush();
}

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

// launchd where the system has it, systemd user units everywhere else.
std::unique_ptr<platform::ServiceInstaller> chooseServiceInstaller() {
    const std::string home = common::homeDirectory();
    if (platform::launchd::launchctlAvailable()) return platform::launchd::makeLaunchdInstaller(home);
    return platform::systemd_user::makeSystemdUserInstaller(
        platform::systemd_user::configHome(environmentValue, home));
}

int serve(const agent::StartupSettings& settings, const std::string& token) {
    // Declared so that the desktop's thread is joined before the state its work touches goes.
    agent::AXTreeCache treeCache;
    agent::BatchManager batches;
    agent::OCRCache ocrCache(agent::ocrCacheCapacity(environmentValue("VEXLO_PAVO_OCR_CACHE_SIZE")));
    // Read once: an overlay that starts, moves or stops later is not noticed until the agent restarts.
    const std::shared_ptr<const agent::OverlayClient> overlay = agent::findOverlay(common::homeDirectory());
    const agent::ConsentGate gate(overlay);
    boost::asio::io_context io(1);
    const std::unique_ptr<platform::Desktop> desktop = agent::openDesktop(environmentValue);
    // Warm before serving: no request pays for loading an engine.
    const std::unique_ptr<platform::Recognition> recognition =
        platform::linux_recognition::makeTesseractRecognition();
    agent::AXContext accessibility{*desktop, treeCache, batches};
    const agent::ScriptTools scripts = agent::scriptToolsFromEnvironment(environmentValue);
    agent::KeysContext keys{*desktop, scripts};
    agent::VisionContext vision{*desktop, *recognition, ocrCache};
    agent::Dispatcher dispatcher(token);
    agent::registerRoutes(dispatcher, agent::Features{accessibility, gate, keys, scripts, vision});

    std::optional<http::Listener> listener;
    try {
        listener.emplace(io, static_cast<std::uint16_t>(settings.port), http::agentDialect(),
                         dispatcher.service());
    } catch (const boost::system::system_error& error) {
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(settings.port) + ": " +
                                 error.code().message());
    }
    listener->start();
    std::cout << "Server listening on 127.0.0.1:" << listener->port() << std::endl;
    // Gated or not is fixed for the whole run; saying which means an ungated agent is never a surprise.
    if (overlay) {
        std::cout << "Consent gate: overlay at 127.0.0.1:" << overlay->port() << std::endl;
    } else {
        std::cout << "Consent gate: no overlay found, actions are not gated" << std::endl;
    }

    // Ending on a signal lets open connections and helpers be torn down in order rather than mid-write.
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code&, int) {
        listener->stop();
        io.stop();
    });
    io.run();
    return 0;
}

int run(const std::string& program, const std::vector<std::string>& arguments) {
    const agent::AgentDefaults defaults =
        agent::defaultsFromEnvironment(environmentValue, common::homeDirectory());
    const agent::ParsedCommandLine parsed = agent::parseCommandLine(arguments, defaults);
    printLines(parsed.output);
    if (!parsed.settings) return parsed.exitStatus;
    const agent::StartupSettings& settings = *parsed.settings;

    if (settings.command == "install") {
        agent::installAgent({settings.port, settings.token, settings.tokenFile, settings.executablePath},
                            *chooseServiceInstaller(), agent::systemInstallEnvironment(), std::cout);
        return 0;
    }
    if (settings.command == "permissions") {
        // Linux shows no permission prompt, so the prompt setting changes nothing here.
        const auto report = agent::permissionReport(
            common::runningExecutablePath().value_or(program.empty() ? "unknown" : program),
            agent::openDesktop(environmentValue)->permissions());
        printLines(report.lines);
        return report.granted ? 0 : 3;
    }

    const std::string token = agent::resolveToken(settings, common::readFile);
    if (token.empty()) {
        std::vector<std::string> lines{
            "Error: --token, $VEXLO_PAVO_SIDECAR_TOKEN, or --token-file is required"};
        const auto usage = agent::usageLines(defaults);
        lines.insert(lines.end(), usage.begin(), usage.end());
        printLines(lines);
        return 1;
    }
    return serve(settings, token);
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything else: it may start this program over.
    pavo::platform::linux_recognition::limitOpenMPThreads(argv);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run(argc > 0 ? argv[0] : "", std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::cout << "Fatal error: " << error.what() << std::endl;
        return 1;
    }
}
