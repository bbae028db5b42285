#include "platform/simulated/scene.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "common/json_fields.hpp"

namespace pavo::platform::simulated {

namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw std::invalid_argument(where + ": " + what);
}

void requireKnownKeys(const json& object, const std::string& where,
                      std::initializer_list<const char*> known) {
    if (!object.is_object()) fail(where, "expected an object");
    for (const auto& [key, value] : object.items()) {
        bool found = false;
        for (const char* name : known) found = found || key == name;
        if (!found) fail(where, "unknown key \"" + key + "\"");
    }
}

template <typename T>
std::optional<T> optionalField(const json& object, const char* key, const std::string& where,
                               const char* expected) {
    T value{};
    switch (common::readField(object, key, value)) {
        case common::FieldRead::absent:
            return std::nullopt;
        case common::FieldRead::present:
            return value;
        case common::FieldRead::wrongType:
            break;
    }
    fail(where + "." + key, std::string("expected ") + expected);
}

std::optional<std::string> optionalString(const json& object, const char* key, const std::string& where) {
    return optionalField<std::string>(object, key, where, "a string");
}

std::optional<bool> optionalBool(const json& object, const char* key, const std::string& where) {
    return optionalField<bool>(object, key, where, "true or false");
}

double number(const json& object, const char* key, const std::string& where) {
    auto value = optionalField<double>(object, key, where, "a number");
    if (!value) fail(where + "." + key, "expected a number");
    return *value;
}

std::int32_t pidValue(const json& value, const std::string& where) {
    if (!value.is_number_integer()) fail(where, "expected an integer process id");
    const auto pid = value.get<std::int64_t>();
    if (pid < std::numeric_limits<std::int32_t>::min() || pid > std::numeric_limits<std::int32_t>::max()) {
        fail(where, "process id out of the 32-bit range");
    }
    return static_cast<std::int32_t>(pid);
}

std::set<std::string, std::less<>> nameSet(const json& object, const char* key, const std::string& where) {
    std::set<std::string, std::less<>> names;
    auto it = object.find(key);
    if (it == object.end()) return names;
    if (!it->is_array()) fail(where + "." + key, "expected an array of names");
    for (const auto& name : *it) {
        if (!name.is_string()) fail(where + "." + key, "expected an array of names");
        names.insert(name.get<std::string>());
    }
    return names;
}

// "{n}" in any string of a repeated element becomes its 1-based copy number.
json instantiate(const json& templ, std::int64_t n) {
    if (templ.is_string()) {
        std::string text = templ.get<std::string>();
        const std::string number = std::to_string(n);
        for (std::size_t at = text.find("{n}"); at != std::string::npos;
             at = text.find("{n}", at + number.size())) {
            text.replace(at, 3, number);
        }
        return text;
    }
    if (templ.is_array()) {
        json out = json::array();
        for (const auto& item : templ) out.push_back(instantiate(item, n));
        return out;
    }
    if (templ.is_object()) {
        json out = json::object();
        for (const auto& [key, value] : templ.items()) out[key] = instantiate(value, n);
        return out;
    }
    return templ;
}

// What one scene may hold: repeats inside repeats multiply, and a file must not be able to exhaust memory
// or the stack of whoever reads it.
constexpr std::int64_t kMaxElements = 1'000'000;
constexpr int kMaxDepth = 256;

struct Budget {
    std::int64_t elements = kMaxElements;
    int depth = kMaxDepth;
};

// The elements a tree declares, repeats multiplied, counted without building them (up to just past the
// limit, and to a depth just past the limit, so that counting itself stays cheap).
std::int64_t declaredElements(const json& element, int depth = 0) {
    if (!element.is_object() || depth > kMaxDepth) return 1;
    std::int64_t total = 1;
    const auto children = element.find("children");
    if (children == element.end() || !children->is_array()) return total;
    for (const json& child : *children) {
        std::int64_t copies = 1;
        if (child.is_object() && child.contains("repeat") && child["repeat"].is_number_integer()) {
            copies = std::clamp<std::int64_t>(child["repeat"].get<std::int64_t>(), 0, kMaxElements + 1);
        }
        if (copies == 0) continue;
        const std::int64_t each = declaredElements(child, depth + 1);
        total += each > (kMaxElements + 1) / copies ? kMaxElements + 1 : copies * each;
        if (total > kMaxElements) return kMaxElements + 1;
    }
    return total;
}

SimulatedElement parseElement(const json& object, std::int32_t pid, const std::string& scenePath,
                              const std::string& where, Budget& budget) {
    if (--budget.elements < 0) fail(where, "the scene holds more than 1000000 elements");
    if (budget.depth <= 0) fail(where, "elements nest more than 256 deep");
    requireKnownKeys(object, where,
                     {"role", "title", "value", "identifier", "enabled", "focused", "position", "size",
                      "children", "childrenUnreadable", "actions", "settable", "repeat"});
    SimulatedElement element;
    element.pid = pid;
    element.scenePath = scenePath;
    element.role = optionalString(object, "role", where);
    element.title = optionalString(object, "title", where);
    element.identifier = optionalString(object, "identifier", where);
    element.enabled = optionalBool(object, "enabled", where);
    element.focused = optionalBool(object, "focused", where);
    if (auto it = object.find("value"); it != object.end()) {
        if (it->is_string())
            element.value = it->get<std::string>();
        else if (it->is_boolean())
            element.value = it->get<bool>();
        else if (it->is_number())
            element.value = it->get<double>();
        else
            fail(where + ".value", "expected a string, number or boolean");
    }
    if (auto it = object.find("position"); it != object.end()) {
        requireKnownKeys(*it, where + ".position", {"x", "y"});
        element.position =
            AXPoint{number(*it, "x", where + ".position"), number(*it, "y", where + ".position")};
    }
    if (auto it = object.find("size"); it != object.end()) {
        requireKnownKeys(*it, where + ".size", {"width", "height"});
        element.size = AXSize{number(*it, "width", where + ".size"), number(*it, "height", where + ".size")};
    }
    element.actions = nameSet(object, "actions", where);
    element.settable = nameSet(object, "settable", where);
    element.childrenReadable = !optionalBool(object, "childrenUnreadable", where).value_or(false);

    auto children = object.find("children");
    if (children == object.end()) return element;
    if (!children->is_array()) fail(where + ".children", "expected an array");
    for (std::size_t i = 0; i < children->size(); ++i) {
        const json& child = (*children)[i];
        const std::string childWhere = where + ".children[" + std::to_string(i) + "]";
        std::int64_t copies = 1;
        if (child.is_object() && child.contains("repeat")) {
            if (!child["repeat"].is_number_integer() || child["repeat"].get<std::int64_t>() < 0 ||
                child["repeat"].get<std::int64_t>() > 1'000'000) {
                fail(childWhere + ".repeat", "expected a count from 0 to 1000000");
            }
            copies = child["repeat"].get<std::int64_t>();
        }
        for (std::int64_t n = 1; n <= copies; ++n) {
            json instance = copies == 1 && !child.contains("repeat") ? child : instantiate(child, n);
            if (instance.is_object()) instance.erase("repeat");
            const std::string childPath = scenePath + "/" + std::to_string(element.children.size());
            --budget.depth;
            element.children.push_back(parseElement(instance, pid, childPath, childWhere, budget));
            ++budget.depth;
        }
    }
    return element;
}

}  // namespace

Scene parseScene(const json& document) {
    requireKnownKeys(document, "scene", {"trusted", "frontmost", "applications"});
    Scene scene;
    scene.trusted = optionalBool(document, "trusted", "scene").value_or(true);
    if (auto it = document.find("frontmost"); it != document.end() && !it->is_null()) {
        scene.frontmost = pidValue(*it, "scene.frontmost");
    }
    auto apps = document.find("applications");
    if (apps == document.end()) return scene;
    if (!apps->is_array()) fail("scene.applications", "expected an array");
    Budget budget;
    for (std::size_t i = 0; i < apps->size(); ++i) {
        const json& app = (*apps)[i];
        const std::string where = "applications[" + std::to_string(i) + "]";
        requireKnownKeys(app, where, {"pid", "name", "bundleId", "running", "tree"});
        if (!app.contains("pid")) fail(where, "missing \"pid\"");
        SimulatedApplication application;
        application.pid = pidValue(app["pid"], where + ".pid");
        application.name = optionalString(app, "name", where).value_or("");
        application.bundleId = optionalString(app, "bundleId", where).value_or("");
        application.running = optionalBool(app, "running", where).value_or(true);
        if (auto tree = app.find("tree"); tree != app.end()) {
            if (declaredElements(*tree) > budget.elements)
                fail(where + ".tree", "the scene holds more than 1000000 elements");
            application.root = parseElement(*tree, application.pid, "0", where + ".tree", budget);
        } else {
            application.root.pid = application.pid;
            application.root.scenePath = "0";
            application.root.role = "AXApplication";
            application.root.title = application.name;
        }
        scene.applications.push_back(std::move(application));
    }
    return scene;
}

}  // namespace pavo::platform::simulated
