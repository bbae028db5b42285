#pragma once
// Simulated desktop scenes as JSON, built the way tests describe them: applications holding elements.

#include <nlohmann/json.hpp>

#include <string>

namespace pavo::testing {

// An element: its role and title, and any other scene keys ("children", "actions", "value", "settable",
// "identifier", "position", "size", ...).
inline nlohmann::json element(const std::string& role, const std::string& title,
                              nlohmann::json extra = nlohmann::json::object()) {
    extra["role"] = role;
    if (!title.empty()) extra["title"] = title;
    return extra;
}

inline nlohmann::json button(const std::string& title) {
    return element("AXButton", title, {{"actions", nlohmann::json::array({"AXPress"})}});
}

inline nlohmann::json frame(double x, double y, double width, double height) {
    return {{"position", {{"x", x}, {"y", y}}}, {"size", {{"width", width}, {"height", height}}}};
}

// A running application whose tree is an AXApplication titled `name` holding `children`. A braced list of
// one element is an array to gcc but that element itself to clang: both mean one child here.
inline nlohmann::json application(int pid, const std::string& name, nlohmann::json children) {
    if (!children.is_array()) children = nlohmann::json::array({std::move(children)});
    return {{"pid", pid},
            {"name", name},
            {"bundleId", "org.example." + name},
            {"tree", element("AXApplication", name, {{"children", std::move(children)}})}};
}

}  // namespace pavo::testing
