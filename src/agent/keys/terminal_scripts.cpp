#include "agent/keys/terminal_scripts.hpp"

#include <array>

namespace pavo::agent {

bool isScriptedTerminal(std::string_view bundleId) {
    constexpr std::array<std::string_view, 3> kTerminals = {"com.apple.Terminal", "com.googlecode.iterm2",
                                                            "com.googlecode.iterm"};
    for (std::string_view terminal : kTerminals) {
        if (bundleId == terminal) return true;
    }
    return false;
}

std::string appleScriptEscaped(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    // One pass gives what replacing backslashes and then quotes gives: a quote's new backslash is never
    // doubled.
    for (char c : text) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string appleScriptForTerminal(std::string_view bundleId, std::string_view text) {
    const std::string escaped = appleScriptEscaped(text);
    if (bundleId == "com.googlecode.iterm2" || bundleId == "com.googlecode.iterm") {
        return "tell application \"iTerm2\"\n"
               "    activate\n"
               "    if (count of windows) = 0 then\n"
               "        create window with default profile\n"
               "    end if\n"
               "    tell current session of current window\n"
               "        write text \"" +
               escaped +
               "\"\n"
               "    end tell\n"
               "end tell";
    }
    if (bundleId == "com.apple.Terminal") {
        return "tell application \"Terminal\"\n"
               "    activate\n"
               "    if (count of windows) = 0 then\n"
               "        do script \"\"\n"
               "    end if\n"
               "    do script \"" +
               escaped +
               "\" in front window\n"
               "end tell";
    }
    return {};
}

std::string activationScript(std::string_view name) {
    return "tell application \"" + appleScriptEscaped(name) + "\" to activate";
}

}  // namespace pavo::agent
