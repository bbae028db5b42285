#include "platform/linux/systemd_unit.hpp"

#include <stdexcept>

#include "common/text.hpp"

namespace pavo::platform::systemd_user {

namespace {

void requireUnitText(const std::string& text, const char* what) {
    if (!common::isValidUtf8(text)) throw std::invalid_argument(std::string(what) + " is not UTF-8");
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            throw std::invalid_argument(std::string(what) + " holds a control character");
        }
    }
}

// systemd expands %-specifiers in every value; doubling keeps them literal.
std::string withoutSpecifiers(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '%') out += c;
        out += c;
    }
    return out;
}

// systemd refuses to start a program whose path holds quotes or backslashes, however they are escaped.
std::string executableWord(const std::string& path) {
    if (path.find_first_of("\\\"'") != std::string::npos) {
        throw std::invalid_argument(
            "systemd cannot start a program whose path holds quotes or backslashes: " + path);
    }
    const std::string word = withoutSpecifiers(path);
    return word.find_first_of(" ;") == std::string::npos ? word : '"' + word + '"';
}

}  // namespace

std::string configHome(const EnvironmentLookup& getenv, const std::string& homeDirectory) {
    const auto configured = getenv("XDG_CONFIG_HOME");
    if (configured && !configured->empty() && configured->front() == '/') return *configured;
    return homeDirectory + "/.config";
}

std::string unitName(const std::string& program) {
    return program + ".service";
}

std::string unitPath(const std::string& configHome, const std::string& program) {
    return configHome + "/systemd/user/" + unitName(program);
}

std::string environmentFilePath(const std::string& configHome, const std::string& program) {
    return configHome + "/pavo/" + program + ".env";
}

std::string unitText(const ServiceDefinition& service, const std::string& environmentFile) {
    requireUnitText(service.executablePath, "the executable path");
    requireUnitText(environmentFile, "the environment file's path");
    std::string unit = "[Unit]\nDescription=" + service.program + "\n";
    if (service.startsAfter) unit += "After=" + unitName(*service.startsAfter) + "\n";
    // Like a launch agent kept alive: retried for as long as it takes, never given up on.
    unit += "StartLimitIntervalSec=0\n";
    unit += "\n[Service]\n";
    unit += "ExecStart=" + executableWord(service.executablePath) + " --port " +
            std::to_string(service.port) + "\n";
    unit += "EnvironmentFile=" + withoutSpecifiers(environmentFile) + "\n";
    unit += "Restart=always\nRestartSec=5\n";
    unit += "\n[Install]\nWantedBy=default.target\n";
    return unit;
}

std::string environmentFileText(const ServiceDefinition& service) {
    if (!common::isValidUtf8(service.token) || service.token.find('\0') != std::string::npos) {
        throw std::invalid_argument("the token is not UTF-8 text");
    }
    // Inside double quotes systemd takes every byte as it is, except these four after a backslash.
    std::string quoted;
    for (const char c : service.token) {
        if (c == '\\' || c == '"' || c == '`' || c == '$') quoted += '\\';
        quoted += c;
    }
    return service.tokenVariable + "=\"" + quoted + "\"\n";
}

}  // namespace pavo::platform::systemd_user
