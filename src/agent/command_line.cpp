#include "agent/command_line.hpp"

#include "common/text.hpp"

namespace pavo::agent {

AgentDefaults defaultsFromEnvironment(const std::function<std::optional<std::string>(const char*)>& getenv,
                                      const std::string& homeDirectory) {
    AgentDefaults defaults;
    defaults.token = getenv("VEXLO_PAVO_SIDECAR_TOKEN").value_or("");
    if (auto file = getenv("VEXLO_PAVO_SIDECAR_TOKEN_FILE")) {
        defaults.tokenFile = *file;
    } else {
        defaults.tokenFile = homeDirectory + "/Vault-Vexlo/secrets/pavo/sidecar-token";
    }
    return defaults;
}

std::vector<std::string> usageLines(const AgentDefaults& defaults) {
    return {
        "Usage: pavo-agent [options] [install|permissions]",
        "Options:",
        "  --port <port>            Listen port (default: " + std::to_string(defaults.port) + ")",
        "  --token <token>          Auth token (default: $VEXLO_PAVO_SIDECAR_TOKEN)",
        "  --token-file <path>      Auth token file (default: " + defaults.tokenFile + ")",
        "  --executable-path <path> Path to binary for LaunchAgent (default: Bundle.main.executablePath)",
        "  --no-prompt              Do not show macOS permission prompts",
        "Commands:",
        "  install                  Write LaunchAgent plist and load it",
        "  permissions              Check/request Accessibility and Screen Recording",
    };
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments, const AgentDefaults& defaults) {
    const auto usageExit = [&](int status) {
        return ParsedCommandLine{std::nullopt, usageLines(defaults), status};
    };

    StartupSettings settings;
    settings.port = defaults.port;
    settings.token = defaults.token;
    settings.tokenFile = defaults.tokenFile;

    for (std::size_t i = 0; i < arguments.size();) {
        const std::string& argument = arguments[i];
        if (argument == "--port" || argument == "--token" || argument == "--token-file" ||
            argument == "--executable-path") {
            if (i + 1 >= arguments.size()) return usageExit(1);
            const std::string& value = arguments[i + 1];
            if (argument == "--port") {
                auto port = common::toInteger(value);
                if (!port) return usageExit(1);
                settings.port = *port;
            } else if (argument == "--token") {
                settings.token = value;
            } else if (argument == "--token-file") {
                settings.tokenFile = value;
            } else {
                settings.executablePath = value;
            }
            i += 2;
        } else if (argument == "--help" || argument == "-h") {
            return usageExit(0);
        } else if (argument == "--no-prompt") {
            settings.prompt = false;
            ++i;
        } else {
            settings.command = argument;
            ++i;
        }
    }

    if (settings.command && *settings.command != "install" && *settings.command != "permissions") {
        ParsedCommandLine unknown = usageExit(1);
        unknown.output.insert(unknown.output.begin(), "Unknown command: " + *settings.command);
        return unknown;
    }
    // The listener port is 16 bits wide; a value outside that would silently become another port.
    const bool usesPort = !settings.command || *settings.command == "install";
    if (usesPort && (settings.port < 0 || settings.port > 65535)) {
        ParsedCommandLine outOfRange = usageExit(1);
        outOfRange.output.insert(
            outOfRange.output.begin(),
            "Error: --port must be between 0 and 65535, got " + std::to_string(settings.port));
        return outOfRange;
    }
    return ParsedCommandLine{settings, {}, 0};
}

std::string resolveToken(const StartupSettings& settings,
                         const std::function<std::optional<std::string>(const std::string&)>& readFile) {
    if (!settings.token.empty()) return settings.token;
    auto content = readFile(settings.tokenFile);
    if (!content || !common::isValidUtf8(*content)) return "";
    return std::string(common::trimWhitespaceAndNewlines(*content));
}

}  // namespace pavo::agent
