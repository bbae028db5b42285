#pragma once
// pavo-mcp's command line: where the agent listens and the token it wants, found the way pavo-agent itself
// finds its token (flag, environment, then the token file). Pure functions, checked without a process.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pavo::mcp {

inline constexpr std::int64_t kDefaultAgentPort = 47824;

using EnvironmentLookup = std::function<std::optional<std::string>(const char*)>;

struct McpSettings {
    std::int64_t agentPort = kDefaultAgentPort;
    std::string token;
    std::string tokenFile;
};

// Either the settings to run with, or lines to print (on standard output only for --help, since standard
// output is the protocol's) and a status to exit with.
struct ParsedMcpCommandLine {
    std::optional<McpSettings> settings;
    std::vector<std::string> output;
    int exitStatus = 0;
};

std::vector<std::string> mcpUsageLines(const std::string& defaultTokenFile);

// `arguments` excludes the program name.
ParsedMcpCommandLine parseMcpCommandLine(const std::vector<std::string>& arguments,
                                         const EnvironmentLookup& getenv, const std::string& homeDirectory);

// The given token, else the token file's trimmed text; empty when neither gives one.
std::string resolveAgentToken(const McpSettings& settings,
                              const std::function<std::optional<std::string>(const std::string&)>& readFile);

}  // namespace pavo::mcp
