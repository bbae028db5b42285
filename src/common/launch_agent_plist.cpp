#include "common/launch_agent_plist.hpp"

#include <functional>
#include <map>
#include <stdexcept>

#include "common/text.hpp"

namespace pavo::common {

namespace {

std::string escaped(const std::string& text) {
    if (!isValidUtf8(text)) throw std::invalid_argument("a property list holds UTF-8 text only");
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            throw std::invalid_argument("a property list cannot hold control characters");
        }
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string indent(int depth) {
    return std::string(static_cast<std::size_t>(depth), '\t');
}

std::string stringElement(const std::string& value, int depth) {
    return indent(depth) + "<string>" + escaped(value) + "</string>\n";
}

std::string keyElement(const std::string& key, int depth) {
    return indent(depth) + "<key>" + escaped(key) + "</key>\n";
}

std::string arrayElement(const std::vector<std::string>& values, int depth) {
    if (values.empty()) return indent(depth) + "<array/>\n";
    std::string out = indent(depth) + "<array>\n";
    for (const auto& value : values) out += stringElement(value, depth + 1);
    return out + indent(depth) + "</array>\n";
}

// A dictionary's entries are written sorted by key, whatever order they were given in.
using Writer = std::function<std::string(int depth)>;

std::string dictElement(const std::map<std::string, Writer>& entries, int depth) {
    if (entries.empty()) return indent(depth) + "<dict/>\n";
    std::string out = indent(depth) + "<dict>\n";
    for (const auto& [key, write] : entries) out += keyElement(key, depth + 1) + write(depth + 1);
    return out + indent(depth) + "</dict>\n";
}

Writer stringWriter(const std::string& value) {
    return [value](int depth) { return stringElement(value, depth); };
}

Writer trueWriter() {
    return [](int depth) { return indent(depth) + "<true/>\n"; };
}

}  // namespace

std::string launchAgentPlist(const LaunchAgentDefinition& definition) {
    std::map<std::string, Writer> environment;
    for (const auto& [name, value] : definition.environmentVariables) environment[name] = stringWriter(value);

    const std::map<std::string, Writer> entries{
        {"EnvironmentVariables", [&](int depth) { return dictElement(environment, depth); }},
        {"KeepAlive", trueWriter()},
        {"Label", stringWriter(definition.label)},
        {"ProgramArguments", [&](int depth) { return arrayElement(definition.programArguments, depth); }},
        {"RunAtLoad", trueWriter()},
        {"StandardErrorPath", stringWriter(definition.standardErrorPath)},
        {"StandardOutPath", stringWriter(definition.standardOutPath)},
    };
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
           dictElement(entries, 0) + "</plist>\n";
}

}  // namespace pavo::common
