#include "platform/linux/role_names.hpp"

#include <array>
#include <utility>

namespace pavo::platform::linux_desktop {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 38> kRoles{{
    {"application", "AXApplication"},
    {"frame", "AXWindow"},
    {"dialog", "AXWindow"},
    {"window", "AXWindow"},
    {"file chooser", "AXWindow"},
    {"push button", "AXButton"},
    {"button", "AXButton"},
    {"entry", "AXTextField"},
    {"password text", "AXTextField"},
    {"label", "AXStaticText"},
    {"static", "AXStaticText"},
    {"check box", "AXCheckBox"},
    {"radio button", "AXRadioButton"},
    {"combo box", "AXComboBox"},
    {"menu bar", "AXMenuBar"},
    {"menu", "AXMenu"},
    {"popup menu", "AXMenu"},
    {"menu item", "AXMenuItem"},
    {"check menu item", "AXMenuItem"},
    {"radio menu item", "AXMenuItem"},
    {"tearoff menu item", "AXMenuItem"},
    {"scroll pane", "AXScrollArea"},
    {"scroll bar", "AXScrollBar"},
    {"slider", "AXSlider"},
    {"page tab list", "AXTabGroup"},
    {"table", "AXTable"},
    {"tree table", "AXTable"},
    {"table cell", "AXCell"},
    {"list", "AXList"},
    {"list box", "AXList"},
    {"filler", "AXGroup"},
    {"panel", "AXGroup"},
    {"image", "AXImage"},
    {"icon", "AXImage"},
    {"progress bar", "AXProgressIndicator"},
    {"link", "AXLink"},
    {"tool bar", "AXToolbar"},
    {"heading", "AXHeading"},
}};

std::string upperCamel(std::string_view name) {
    std::string out = "AX";
    bool startOfWord = true;
    for (char c : name) {
        if (c == ' ' || c == '-' || c == '_') {
            startOfWord = true;
            continue;
        }
        if (startOfWord && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        out.push_back(c);
        startOfWord = false;
    }
    return out;
}

}  // namespace

std::string axRoleName(std::string_view atspiRoleName, bool multiLine) {
    if (atspiRoleName == "text") return multiLine ? "AXTextArea" : "AXTextField";
    for (const auto& [atspi, ax] : kRoles) {
        if (atspi == atspiRoleName) return std::string(ax);
    }
    return upperCamel(atspiRoleName);
}

bool isTextRole(std::string_view atspiRoleName) {
    return atspiRoleName == "text" || atspiRoleName == "entry" || atspiRoleName == "password text" ||
           atspiRoleName == "terminal";
}

}  // namespace pavo::platform::linux_desktop
