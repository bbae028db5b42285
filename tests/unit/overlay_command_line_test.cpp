// pavo-overlay's command line and environment.

#include <gtest/gtest.h>

#include "overlay/service/command_line.hpp"

namespace pavo::overlay {
namespace {

using Env = std::map<std::string, std::string>;

CLIConfig parse(std::vector<std::string> arguments, Env env = {}) {
    return parseCLI(arguments, [env](const char* name) -> std::optional<std::string> {
        auto it = env.find(name);
        if (it == env.end()) return std::nullopt;
        return it->second;
    });
}

TEST(OverlayCommandLine, DefaultsWithoutArgumentsOrEnvironment) {
    const CLIConfig c = parse({});
    EXPECT_EQ(c.port, 47825);
    EXPECT_EQ(c.token, "");
    EXPECT_EQ(c.consent, ConsentMode::off);
    EXPECT_TRUE(c.showMenuBar);
    EXPECT_FALSE(c.shouldInstall);
}

TEST(OverlayCommandLine, PortTakesOnlyStrictIntegers) {
    EXPECT_EQ(parse({"--port", "abc"}).port, 47825);
    EXPECT_EQ(parse({"--port", ""}).port, 47825);
    EXPECT_EQ(parse({"--port", "+8080"}).port, 8080);
    EXPECT_EQ(parse({"--port", "9000", "--port", "x"}).port, 9000);  // keeps the earlier value
    EXPECT_EQ(parse({"--port", "9000", "--port", "9001"}).port, 9001);
    EXPECT_EQ(parse({"--port", " 80"}).port, 47825);
    EXPECT_EQ(parse({"--port", "99999999999999999999"}).port, 47825);  // overflow
    EXPECT_EQ(parse({"--port", "-1"}).port, -1);                       // parsed; start-up refuses it
    EXPECT_EQ(parse({"--port"}).port, 47825);                          // last argument: no value, ignored
    EXPECT_EQ(parse({"--port", "--token"}).token, "");  // the value is consumed whatever it looks like
    EXPECT_EQ(parse({"--port", "--token", "t"}).port, 47825);
}

TEST(OverlayCommandLine, PortRange) {
    EXPECT_TRUE(isUsablePort(0));
    EXPECT_TRUE(isUsablePort(65535));
    EXPECT_FALSE(isUsablePort(65536));
    EXPECT_FALSE(isUsablePort(-1));
}

TEST(OverlayCommandLine, TokenFromEnvironmentAndOverrides) {
    EXPECT_EQ(parse({}, {{"VEXLO_PAVO_OVERLAY_TOKEN", "env"}}).token, "env");
    EXPECT_EQ(parse({}, {{"VEXLO_PAVO_OVERLAY_TOKEN", ""}}).token, "");
    EXPECT_EQ(parse({"--token", "cli"}, {{"VEXLO_PAVO_OVERLAY_TOKEN", "env"}}).token, "cli");
    EXPECT_EQ(parse({"--token", ""}, {{"VEXLO_PAVO_OVERLAY_TOKEN", "env"}}).token, "");  // empty overrides
    EXPECT_EQ(parse({"--token"}, {{"VEXLO_PAVO_OVERLAY_TOKEN", "env"}}).token, "env");
}

TEST(OverlayCommandLine, ConsentIsMatchedExactly) {
    EXPECT_EQ(parse({"--consent", "manual"}).consent, ConsentMode::manual);
    EXPECT_EQ(parse({"--consent", "destructive_only"}).consent, ConsentMode::destructive_only);
    EXPECT_EQ(parse({"--consent", "MANUAL"}).consent, ConsentMode::off);
    EXPECT_EQ(parse({"--consent", "manual", "--consent", "bogus"}).consent, ConsentMode::off);
    EXPECT_EQ(parse({}, {{"VEXLO_PAVO_CONSENT_MODE", "manual"}}).consent, ConsentMode::manual);
    EXPECT_EQ(parse({}, {{"VEXLO_PAVO_CONSENT_MODE", " manual"}}).consent, ConsentMode::off);
    EXPECT_EQ(parse({"--consent", "off"}, {{"VEXLO_PAVO_CONSENT_MODE", "manual"}}).consent, ConsentMode::off);
}

TEST(OverlayCommandLine, MenuBarEnvironmentIsTrimmedAndCaseFree) {
    for (std::string value : {"0", "false", "FALSE", "hidden", " Hidden\n", "\t0 \r\n"}) {
        EXPECT_FALSE(parse({}, {{"VEXLO_PAVO_OVERLAY_MENU_BAR", value}}).showMenuBar) << value;
    }
    for (std::string value : {"no", "", "1", "off", "hid den", "\xFF"}) {
        EXPECT_TRUE(parse({}, {{"VEXLO_PAVO_OVERLAY_MENU_BAR", value}}).showMenuBar) << value;
    }
    EXPECT_FALSE(parse({"--no-menu-bar"}).showMenuBar);
}

TEST(OverlayCommandLine, InstallAndUnknownArguments) {
    const CLIConfig c = parse({"--verbose", "install", "-p", "1", "--Port", "2", "INSTALL"});
    EXPECT_TRUE(c.shouldInstall);
    EXPECT_EQ(c.port, 47825);
    EXPECT_FALSE(parse({"--token", "install"}).shouldInstall);  // consumed as the token
}

}  // namespace
}  // namespace pavo::overlay
