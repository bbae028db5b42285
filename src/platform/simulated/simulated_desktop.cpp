#include "platform/simulated/simulated_desktop.hpp"

#include <stdexcept>

#include "common/files.hpp"
#include "common/text.hpp"

namespace pavo::platform::simulated {

namespace {

using nlohmann::json;

SimulatedElement* node(const AXElement& element) {
    return static_cast<SimulatedElement*>(element.reference().get());
}

json attributeJson(const AXAttributeValue& value) {
    return std::visit([](const auto& v) { return json(v); }, value);
}

const char* mouseTypeName(MouseEventType type) {
    switch (type) {
        case MouseEventType::leftMouseDown:
            return "leftMouseDown";
        case MouseEventType::leftMouseUp:
            return "leftMouseUp";
        case MouseEventType::mouseMoved:
            return "mouseMoved";
    }
    return "unknown";
}

Scene parseSceneText(const std::string& text, const std::string& path) {
    json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) throw std::runtime_error("the desktop scene " + path + " is not JSON");
    try {
        return parseScene(document);
    } catch (const std::invalid_argument& error) {
        throw std::runtime_error("the desktop scene " + path + " is not valid: " + error.what());
    }
}

}  // namespace

SimulatedDesktop::SimulatedDesktop(Scene scene) : scene_(std::make_shared<Scene>(std::move(scene))) {}

std::unique_ptr<SimulatedDesktop> SimulatedDesktop::fromFile(const std::string& scenePath,
                                                             const std::optional<std::string>& journalPath) {
    auto text = common::readFile(scenePath);
    if (!text) throw std::runtime_error("cannot read the desktop scene " + scenePath);
    auto desktop = std::make_unique<SimulatedDesktop>(parseSceneText(*text, scenePath));
    desktop->scenePath_ = scenePath;
    desktop->sceneText_ = std::move(*text);
    if (journalPath) {
        desktop->journal_.open(*journalPath, std::ios::app);
        if (!desktop->journal_) throw std::runtime_error("cannot open the desktop journal " + *journalPath);
    }
    return desktop;
}

void SimulatedDesktop::reloadIfChanged() {
    if (!scenePath_) return;
    // The text itself is compared: file times are too coarse to tell two quick rewrites apart.
    auto text = common::readFile(*scenePath_);
    if (!text || *text == sceneText_) return;
    try {
        scene_ = std::make_shared<Scene>(parseSceneText(*text, *scenePath_));
        sceneText_ = std::move(*text);
    } catch (const std::runtime_error&) {
        // Half-written or broken: keep serving the previous scene and look again next time.
    }
}

void SimulatedDesktop::record(json entry) {
    const auto now = std::chrono::steady_clock::now();
    if (journal_.is_open()) {
        json line = entry;
        line["timeMs"] = std::chrono::duration<double, std::milli>(now - start_).count();
        journal_ << line.dump(-1, ' ', false, json::error_handler_t::replace) << '\n' << std::flush;
    }
    records_.push_back(DesktopRecord{now, std::move(entry)});
}

SimulatedApplication* SimulatedDesktop::runningApp(std::int32_t pid) {
    for (auto& app : scene_->applications) {
        if (app.running && app.pid == pid) return &app;
    }
    return nullptr;
}

void SimulatedDesktop::replaceScene(Scene scene) {
    std::lock_guard lock(mutex_);
    scene_ = std::make_shared<Scene>(std::move(scene));
}

void SimulatedDesktop::setTrusted(bool trusted) {
    std::lock_guard lock(mutex_);
    scene_->trusted = trusted;
}

void SimulatedDesktop::setFrontmost(std::optional<std::int32_t> pid) {
    std::lock_guard lock(mutex_);
    scene_->frontmost = pid;
}

bool SimulatedDesktop::modifyElement(std::int32_t pid, std::string_view scenePath,
                                     const std::function<void(SimulatedElement&)>& change) {
    std::lock_guard lock(mutex_);
    for (auto& app : scene_->applications) {
        if (app.pid != pid) continue;
        SimulatedElement* element = &app.root;
        if (scenePath.substr(0, 1) != "0") return false;
        std::string_view rest = scenePath.substr(1);
        while (!rest.empty()) {
            if (rest[0] != '/') return false;
            rest.remove_prefix(1);
            const std::size_t end = std::min(rest.find('/'), rest.size());
            std::size_t index = 0;
            for (char c : rest.substr(0, end)) {
                if (c < '0' || c > '9') return false;
                index = index * 10 + static_cast<std::size_t>(c - '0');
            }
            if (end == 0 || index >= element->children.size()) return false;
            element = &element->children[index];
            rest.remove_prefix(end);
        }
        change(*element);
        return true;
    }
    return false;
}

std::vector<DesktopRecord> SimulatedDesktop::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

bool SimulatedDesktop::isProcessTrusted() {
    std::lock_guard lock(mutex_);
    reloadIfChanged();
    return scene_->trusted;
}

AXElement SimulatedDesktop::applicationElement(std::int32_t pid) {
    std::lock_guard lock(mutex_);
    reloadIfChanged();
    if (SimulatedApplication* app = runningApp(pid))
        return AXElement(std::shared_ptr<void>(scene_, &app->root));
    // A process that is not running still has an application element; nothing can be read from it.
    auto gone = std::make_shared<SimulatedElement>();
    gone->pid = pid;
    gone->childrenReadable = false;
    return AXElement(std::move(gone));
}

std::optional<std::int32_t> SimulatedDesktop::elementPid(const AXElement& element) {
    std::lock_guard lock(mutex_);
    if (!node(element)) return std::nullopt;
    return node(element)->pid;
}

std::optional<std::string> SimulatedDesktop::stringAttribute(const AXElement& element,
                                                             std::string_view name) {
    std::lock_guard lock(mutex_);
    const SimulatedElement* e = node(element);
    if (!e) return std::nullopt;
    if (name == "AXRole") return e->role;
    if (name == "AXTitle") return e->title;
    if (name == "AXIdentifier") return e->identifier;
    if (name == "AXValue" && std::holds_alternative<std::string>(e->value))
        return std::get<std::string>(e->value);
    return std::nullopt;
}

std::optional<bool> SimulatedDesktop::booleanAttribute(const AXElement& element, std::string_view name) {
    std::lock_guard lock(mutex_);
    const SimulatedElement* e = node(element);
    if (!e) return std::nullopt;
    if (name == "AXEnabled") return e->enabled;
    if (name == "AXFocused") return e->focused;
    if (name == "AXValue" && std::holds_alternative<bool>(e->value)) return std::get<bool>(e->value);
    return std::nullopt;
}

std::optional<AXPoint> SimulatedDesktop::position(const AXElement& element) {
    std::lock_guard lock(mutex_);
    const SimulatedElement* e = node(element);
    return e ? e->position : std::nullopt;
}

std::optional<AXSize> SimulatedDesktop::size(const AXElement& element) {
    std::lock_guard lock(mutex_);
    const SimulatedElement* e = node(element);
    return e ? e->size : std::nullopt;
}

std::optional<std::vector<AXElement>> SimulatedDesktop::children(const AXElement& element,
                                                                 std::size_t limit) {
    std::lock_guard lock(mutex_);
    SimulatedElement* e = node(element);
    if (!e || !e->childrenReadable) return std::nullopt;
    std::vector<AXElement> result;
    const std::size_t count = std::min(limit, e->children.size());
    result.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        result.emplace_back(std::shared_ptr<void>(element.reference(), &e->children[i]));
    }
    return result;
}

bool SimulatedDesktop::performAction(const AXElement& element, std::string_view action) {
    std::lock_guard lock(mutex_);
    SimulatedElement* e = node(element);
    const bool accepted = e && e->actions.contains(action);
    record({{"kind", "action"},
            {"pid", e ? e->pid : 0},
            {"element", e ? e->scenePath : ""},
            {"action", action},
            {"ok", accepted}});
    return accepted;
}

bool SimulatedDesktop::setAttribute(const AXElement& element, std::string_view name,
                                    const AXAttributeValue& value) {
    std::lock_guard lock(mutex_);
    SimulatedElement* e = node(element);
    const bool accepted = e && e->settable.contains(name);
    if (accepted) {
        if (name == "AXValue") {
            std::visit([e](const auto& v) { e->value = v; }, value);
        } else if (name == "AXFocused" && std::holds_alternative<bool>(value)) {
            e->focused = std::get<bool>(value);
        } else if (name == "AXTitle" && std::holds_alternative<std::string>(value)) {
            e->title = std::get<std::string>(value);
        }
    }
    record({{"kind", "set"},
            {"pid", e ? e->pid : 0},
            {"element", e ? e->scenePath : ""},
            {"attribute", name},
            {"value", attributeJson(value)},
            {"ok", accepted}});
    return accepted;
}

PermissionState SimulatedDesktop::permissions() {
    // A simulated desktop needs no screen; its scene says whether accessibility is granted.
    return PermissionState{isProcessTrusted(), true, accessibilityPermissionHint(), std::string()};
}

Frontmost SimulatedDesktop::frontmost() {
    std::lock_guard lock(mutex_);
    reloadIfChanged();
    return Frontmost{scene_->frontmost, false};
}

std::optional<RunningApplication> SimulatedDesktop::runningApplication(std::string_view bundleId) {
    std::lock_guard lock(mutex_);
    for (const auto& app : scene_->applications) {
        if (app.running && app.bundleId == bundleId)
            return RunningApplication{app.pid, app.name, app.bundleId};
    }
    return std::nullopt;
}

std::optional<RunningApplication> SimulatedDesktop::applicationNamed(std::string_view name) {
    std::lock_guard lock(mutex_);
    for (const auto& app : scene_->applications) {
        if (app.running && app.name == name) return RunningApplication{app.pid, app.name, app.bundleId};
    }
    record({{"kind", "activate"}, {"name", name}, {"ok", false}});
    return std::nullopt;
}

ActivationRequest SimulatedDesktop::requestActivation(std::int32_t pid) {
    std::lock_guard lock(mutex_);
    const bool running = runningApp(pid) != nullptr;
    if (running) scene_->frontmost = pid;
    record({{"kind", "activate"}, {"pid", pid}, {"ok", running}});
    return running ? ActivationRequest::requested : ActivationRequest::notRunning;
}

bool SimulatedDesktop::isInstalled(std::string_view bundleId) {
    std::lock_guard lock(mutex_);
    for (const auto& app : scene_->applications) {
        if (app.bundleId == bundleId) return true;
    }
    return false;
}

std::optional<RunningApplication> SimulatedDesktop::startApplication(std::string_view bundleId) {
    std::lock_guard lock(mutex_);
    for (auto& app : scene_->applications) {
        if (app.bundleId != bundleId) continue;
        app.running = true;
        record({{"kind", "launch"}, {"bundleId", bundleId}, {"pid", app.pid}});
        return RunningApplication{app.pid, app.name, app.bundleId};
    }
    record({{"kind", "launch"}, {"bundleId", bundleId}, {"pid", nullptr}});
    return std::nullopt;
}

bool SimulatedDesktop::postMouseEvent(const MouseEvent& event) {
    std::lock_guard lock(mutex_);
    record({{"kind", "mouse"},
            {"type", mouseTypeName(event.type)},
            {"x", event.x},
            {"y", event.y},
            {"button", event.button}});
    return true;
}

KeyPosting SimulatedDesktop::postKeyEvent(const KeyEvent& event) {
    std::lock_guard lock(mutex_);
    json entry = {
        {"kind", "key"}, {"keyCode", event.keyCode}, {"down", event.keyDown}, {"flags", event.flags}};
    if (!event.text.empty()) entry["text"] = common::toUtf8(event.text);
    record(std::move(entry));
    return {};
}

}  // namespace pavo::platform::simulated
