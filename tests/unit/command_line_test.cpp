#include <gtest/gtest.h>

#include "agent/command_line.hpp"

namespace pavo::agent {
namespace {

AgentDefaults defaults() {
    AgentDefaults d;
    d.token = "";
    d.tokenFile = "/home/u/Vault-Vexlo/secrets/pavo/sidecar-token";
    return d;
}

ParsedCommandLine parse(std::vector<std::string> args) {
    return parseCommandLine(args, defaults());
}

TEST(AgentDefaults, ComeFromTheEnvironmentAndTheHomeDirectory) {
    auto none = [](const char*) -> std::optional<std::string> { return std::nullopt; };
    const AgentDefaults plain = defaultsFromEnvironment(none, "/home/ann");
    EXPECT_EQ(plain.port, 47824);
    EXPECT_EQ(plain.token, "");
    EXPECT_EQ(plain.tokenFile, "/home/ann/Vault-Vexlo/secrets/pavo/sidecar-token");

    auto set = [](const char* name) -> std::optional<std::string> {
        if (std::string(name) == "VEXLO_PAVO_SIDECAR_TOKEN") return "envtoken";
        if (std::string(name) == "VEXLO_PAVO_SIDECAR_TOKEN_FILE") return "/etc/tok";
        return std::nullopt;
    };
    const AgentDefaults fromEnv = defaultsFromEnvironment(set, "/home/ann");
    EXPECT_EQ(fromEnv.token, "envtoken");
    EXPECT_EQ(fromEnv.tokenFile, "/etc/tok");
}

TEST(Usage, IsTheTenLinesWithTheDefaultsFilledIn) {
    const auto lines = usageLines(defaults());
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "Usage: pavo-agent [options] [install|permissions]");
    EXPECT_EQ(lines[2], "  --port <port>            Listen port (default: 47824)");
    EXPECT_EQ(lines[4],
              "  --token-file <path>      Auth token file (default: "
              "/home/u/Vault-Vexlo/secrets/pavo/sidecar-token)");
    EXPECT_EQ(lines[9], "  permissions              Check/request Accessibility and Screen Recording");
}

TEST(CommandLine, OptionsTakeValuesAndLaterOccurrencesWin) {
    auto r = parse({"--port", "+8080", "--token", "a", "--token", "b", "--token-file", "/f",
                    "--executable-path", "/x", "--no-prompt"});
    ASSERT_TRUE(r.settings);
    EXPECT_EQ(r.settings->port, 8080);
    EXPECT_EQ(r.settings->token, "b");
    EXPECT_EQ(r.settings->tokenFile, "/f");
    EXPECT_EQ(r.settings->executablePath, "/x");
    EXPECT_FALSE(r.settings->prompt);
    EXPECT_FALSE(r.settings->command);
}

TEST(CommandLine, UsageErrorsAndHelpExitInArgumentOrder) {
    for (const char* option : {"--port", "--token", "--token-file", "--executable-path"}) {
        auto missing = parse({option});
        EXPECT_FALSE(missing.settings) << option;
        EXPECT_EQ(missing.exitStatus, 1) << option;
        EXPECT_EQ(missing.output, usageLines(defaults())) << option;
    }
    EXPECT_EQ(parse({"--port", "80", "--help"}).exitStatus, 0);
    EXPECT_EQ(parse({"-h", "--port"}).exitStatus, 0);
    auto badThenHelp = parse({"--port", "eighty", "--help"});
    EXPECT_EQ(badThenHelp.exitStatus, 1);
    EXPECT_EQ(badThenHelp.output, usageLines(defaults()));
    EXPECT_EQ(parse({"--help"}).output, usageLines(defaults()));
}

TEST(CommandLine, AnyOtherArgumentIsTheCommandAndTheLastOneWins) {
    EXPECT_EQ(parse({"install", "permissions"}).settings->command, "permissions");
    auto unknown = parse({"serve"});
    EXPECT_EQ(unknown.exitStatus, 1);
    ASSERT_EQ(unknown.output.size(), 11u);
    EXPECT_EQ(unknown.output[0], "Unknown command: serve");
    auto dashed = parse({"--verbose"});
    EXPECT_EQ(dashed.output[0], "Unknown command: --verbose");
    auto caseDiffers = parse({"--HELP"});
    EXPECT_EQ(caseDiffers.output[0], "Unknown command: --HELP");
}

TEST(CommandLine, PortOutsideSixteenBitsIsRefusedWhereAPortIsUsed) {
    for (const char* port : {"-1", "65536", "99999999999"}) {
        auto r = parse({"--port", port});
        EXPECT_FALSE(r.settings) << port;
        EXPECT_EQ(r.exitStatus, 1) << port;
        EXPECT_EQ(r.output.size(), 11u) << port;  // a line saying why, then the usage text
    }
    EXPECT_EQ(parse({"--port", "0"}).settings->port, 0);
    EXPECT_EQ(parse({"--port", "65535"}).settings->port, 65535);
    // permissions never listens, so the port does not matter to it
    EXPECT_TRUE(parse({"--port", "70000", "permissions"}).settings);
}

TEST(TokenResolution, FlagOrEnvironmentFirstThenTheTrimmedTokenFile) {
    StartupSettings s;
    s.tokenFile = "/tok";
    auto file = [](std::optional<std::string> content) {
        return [content](const std::string& path) -> std::optional<std::string> {
            return path == "/tok" ? content : std::nullopt;
        };
    };
    s.token = " given ";
    EXPECT_EQ(resolveToken(s, file("fromfile")), " given ");  // given tokens are not trimmed
    s.token = "";
    EXPECT_EQ(resolveToken(s, file("fromfile\n")), "fromfile");
    EXPECT_EQ(resolveToken(s, file("\t\r\n  spaced token \r\n")), "spaced token");
    EXPECT_EQ(resolveToken(s, file(std::nullopt)), "");
    EXPECT_EQ(resolveToken(s, file("\n\n")), "");
    EXPECT_EQ(resolveToken(s, file("bad\xFF")), "");  // not UTF-8 text: unreadable
}

}  // namespace
}  // namespace pavo::agent
