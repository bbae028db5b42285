#pragma once
// The agent's command-line grammar, usage text and token resolution, as pure functions so every
// case can be checked without starting a process.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pavo::agent {

inline constexpr std::int64_t kDefaultPort = 47824;

struct AgentDefaults {
    std::int64_t port = kDefaultPort;
    std::string token;      // $VEXLO_PAVO_SIDECAR_TOKEN, or empty
    std::string tokenFile;  // $VEXLO_PAVO_SIDECAR_TOKEN_FILE, or the file below the home directory
};

AgentDefaults defaultsFromEnvironment(const std::function<std::optional<std::string>(const char*)>& getenv,
                                      const std::string& homeDirectory);

struct StartupSettings {
    std::int64_t port = kDefaultPort;
    std::string token;
    std::string tokenFile;
    std::optional<std::string> executablePath;
    bool prompt = true;
    std::optional<std::string> command;
};

// Either the settings to run with, or lines to print and a status to exit with.
struct ParsedCommandLine {
    std::optional<StartupSettings> settings;
    std::vector<std::string> output;
    int exitStatus = 0;
};

std::vector<std::string> usageLines(const AgentDefaults& defaults);

// `arguments` excludes the program name.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments, const AgentDefaults& defaults);

// The token to serve with: the given one unchanged, else the token file's trimmed text (an unreadable
// file counts as empty). Empty means none could be found.
std::string resolveToken(const StartupSettings& settings,
                         const std::function<std::optional<std::string>(const std::string&)>& readFile);

}  // namespace pavo::agent
