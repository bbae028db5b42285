#include "mcp/command_line.hpp"

#include "common/text.hpp"

namespace pavo::mcp {

std::vector<std::string> mcpUsageLines(const std::string& defaultTokenFile) {
    return {
        "Usage: pavo-mcp [options]   (an MCP server on standard input and output; MCP clients start it)",
        "Options:",
        "  --port <port>            pavo-agent's port (default: $VEXLO_PAVO_SIDECAR_PORT, else 47824)",
        "  --token <token>          pavo-agent's token (default: $VEXLO_PAVO_SIDECAR_TOKEN)",
        "  --token-file <path>      read the token from this file when none is given",
        "                           (default: $VEXLO_PAVO_SIDECAR_TOKEN_FILE, else " + defaultTokenFile + ")",
        "The overlay is found through the overlay.sock file pavo-overlay writes below the home directory.",
    };
}

ParsedMcpCommandLine parseMcpCommandLine(const std::vector<std::string>& arguments,
                                         const EnvironmentLookup& getenv, const std::string& homeDirectory) {
    const std::string defaultTokenFile = homeDirectory + "/Vault-Vexlo/secrets/pavo/sidecar-token";
    const auto failure = [&](std::string message) {
        std::vector<std::string> lines{"Error: " + std::move(message)};
        for (auto& line : mcpUsageLines(defaultTokenFile)) lines.push_back(std::move(line));
        return ParsedMcpCommandLine{std::nullopt, std::move(lines), 1};
    };

    McpSettings settings;
    settings.token = getenv("VEXLO_PAVO_SIDECAR_TOKEN").value_or("");
    settings.tokenFile = getenv("VEXLO_PAVO_SIDECAR_TOKEN_FILE").value_or(defaultTokenFile);
    std::optional<std::string> port = getenv("VEXLO_PAVO_SIDECAR_PORT");

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            return ParsedMcpCommandLine{std::nullopt, mcpUsageLines(defaultTokenFile), 0};
        }
        if (argument != "--port" && argument != "--token" && argument != "--token-file") {
            return failure("unknown argument " + argument);
        }
        if (i + 1 >= arguments.size()) return failure(argument + " needs a value");
        const std::string& value = arguments[++i];
        if (argument == "--port") {
            port = value;
        } else if (argument == "--token") {
            settings.token = value;
        } else {
            settings.tokenFile = value;
        }
    }
    if (port && !port->empty()) {
        const auto number = common::toInteger(*port);
        if (!number || *number < 1 || *number > 65535)
            return failure("the agent's port must be 1 to 65535, got " + *port);
        settings.agentPort = *number;
    }
    return ParsedMcpCommandLine{settings, {}, 0};
}

std::string resolveAgentToken(const McpSettings& settings,
                              const std::function<std::optional<std::string>(const std::string&)>& readFile) {
    if (!settings.token.empty()) return settings.token;
    const auto content = readFile(settings.tokenFile);
    if (!content || !common::isValidUtf8(*content)) return "";
    return std::string(common::trimWhitespaceAndNewlines(*content));
}

}  // namespace pavo::mcp
