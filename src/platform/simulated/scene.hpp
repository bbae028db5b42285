#pragma once
// The in-memory desktop's content: applications, their element trees, the frontmost application and
// whether this process is trusted. Read from a JSON scene file; see scenes/ for an example.

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "platform/accessibility.hpp"

namespace pavo::platform::simulated {

using ElementValue = std::variant<std::monostate, std::string, double, bool>;

struct SimulatedElement {
    std::int32_t pid = 0;
    std::string scenePath;  // "0", "0/2", ...: where the element sits in the scene as loaded
    std::optional<std::string> role;
    std::optional<std::string> title;
    std::optional<std::string> identifier;
    ElementValue value;
    std::optional<bool> enabled;
    std::optional<bool> focused;
    std::optional<AXPoint> position;
    std::optional<AXSize> size;
    bool childrenReadable = true;
    std::vector<SimulatedElement> children;
    std::set<std::string, std::less<>> actions;   // actions the element accepts
    std::set<std::string, std::less<>> settable;  // attributes whose writes it accepts
};

struct SimulatedApplication {
    std::int32_t pid = 0;
    std::string name;
    std::string bundleId;
    bool running = true;  // false: installed, can be launched
    SimulatedElement root;
};

struct Scene {
    bool trusted = true;
    std::optional<std::int32_t> frontmost;
    std::vector<SimulatedApplication> applications;
};

// Throws std::invalid_argument naming the offending place, e.g. "applications[0].tree.children[2]: ...".
Scene parseScene(const nlohmann::json& document);

}  // namespace pavo::platform::simulated
