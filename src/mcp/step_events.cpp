#include "mcp/step_events.hpp"

#include <optional>

namespace pavo::mcp {

using nlohmann::json;

namespace {

// A find can match many elements; the screen shows the first ones, not a wall of boxes.
constexpr std::size_t kMostBoxes = 20;

json point(const char* type, double x, double y) {
    return {{"type", type}, {"x", x}, {"y", y}};
}

json box(const Frame& frame) {
    return {{"type", "element_bbox"},
            {"rect", {{"x", frame.x}, {"y", frame.y}, {"width", frame.width}, {"height", frame.height}}}};
}

std::optional<Frame> targetFrame(const json& arguments, const ElementFrames& frames) {
    const auto id = arguments.find("elementId");
    if (id == arguments.end() || !id->is_string()) return std::nullopt;
    return frames.find(id->get<std::string>());
}

}  // namespace

std::vector<json> eventsBefore(const std::string& tool, const json& arguments, const ElementFrames& frames) {
    std::vector<json> events;
    if (tool == "ax_click") {
        if (const auto frame = targetFrame(arguments, frames)) {
            events.push_back(point("cursor_halo", frame->centreX(), frame->centreY()));
        }
    } else if (tool == "ax_type" || tool == "ax_scroll") {
        if (const auto frame = targetFrame(arguments, frames)) events.push_back(box(*frame));
    } else if (tool == "keystrokes") {
        for (const auto& key : arguments.value("keys", json::array())) {
            if (key.is_string()) events.push_back({{"type", "key_chord_pill"}, {"chord", key}});
        }
    }
    return events;
}

std::vector<json> eventsAfter(const std::string& tool, const json& arguments, const json& reply,
                              const ElementFrames& frames) {
    std::vector<json> events;
    if (tool == "ax_click") {
        const auto x = reply.find("x");
        const auto y = reply.find("y");
        if (x != reply.end() && y != reply.end() && x->is_number() && y->is_number()) {
            events.push_back(point("click_ripple", x->get<double>(), y->get<double>()));
        } else if (const auto frame = targetFrame(arguments, frames)) {
            events.push_back(point("click_ripple", frame->centreX(), frame->centreY()));
        }
    } else if (tool == "ax_find") {
        for (const auto& match : reply.value("matches", json::array())) {
            if (events.size() == kMostBoxes) break;
            if (const auto frame = frameOf(match)) events.push_back(box(*frame));
        }
    }
    return events;
}

std::vector<json> stateEvents(const std::string& state, const std::string& clientId) {
    return {{{"type", "agent_state"}, {"state", state}, {"client_id", clientId}},
            {{"type", "status"}, {"state", state}}};
}

}  // namespace pavo::mcp
