#include "overlay/service/command_line.hpp"

#include "common/text.hpp"

namespace pavo::overlay {

namespace {

ConsentMode consentOrOff(std::string_view text) {
    return consentModeFromString(text).value_or(ConsentMode::off);
}

bool hidesMenuBar(const std::string& value) {
    if (!common::isValidUtf8(value)) return false;
    const std::string word = common::toLower(common::trimWhitespaceAndNewlines(value));
    return word == "0" || word == "false" || word == "hidden";
}

}  // namespace

CLIConfig parseCLI(const std::vector<std::string>& arguments, const EnvironmentLookup& environment) {
    CLIConfig config;
    if (auto token = environment("VEXLO_PAVO_OVERLAY_TOKEN"); token && !token->empty()) config.token = *token;
    if (auto consent = environment("VEXLO_PAVO_CONSENT_MODE")) config.consent = consentOrOff(*consent);
    if (auto menuBar = environment("VEXLO_PAVO_OVERLAY_MENU_BAR"); menuBar && hidesMenuBar(*menuBar)) {
        config.showMenuBar = false;
    }

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--port") {
            if (!hasValue) continue;
            if (auto port = common::toInteger(arguments[++i])) config.port = *port;
        } else if (argument == "--token") {
            if (hasValue) config.token = arguments[++i];
        } else if (argument == "--consent") {
            if (hasValue) config.consent = consentOrOff(arguments[++i]);
        } else if (argument == "--no-menu-bar") {
            config.showMenuBar = false;
        } else if (argument == "install") {
            config.shouldInstall = true;
        }
    }
    return config;
}

bool isUsablePort(std::int64_t port) {
    return port >= 0 && port <= 65535;
}

}  // namespace pavo::overlay
