#include "mcp/element_frames.hpp"

#include <vector>

namespace pavo::mcp {

using nlohmann::json;

std::optional<Frame> frameOf(const json& element) {
    if (!element.is_object()) return std::nullopt;
    const auto it = element.find("frame");
    if (it == element.end() || !it->is_object()) return std::nullopt;
    Frame frame;
    for (auto [key, field] :
         {std::pair{"x", &frame.x}, {"y", &frame.y}, {"width", &frame.width}, {"height", &frame.height}}) {
        const auto value = it->find(key);
        if (value == it->end() || !value->is_number()) return std::nullopt;
        *field = value->get<double>();
    }
    return frame;
}

void ElementFrames::remember(const json& reply) {
    if (!reply.is_object()) return;
    if (const auto tree = reply.find("tree"); tree != reply.end()) rememberElement(*tree);
    if (const auto matches = reply.find("matches"); matches != reply.end() && matches->is_array()) {
        for (const auto& match : *matches) rememberElement(match);
    }
}

void ElementFrames::rememberElement(const json& root) {
    // Iterative: a deep tree must not be a deep recursion.
    std::vector<const json*> pending{&root};
    while (!pending.empty()) {
        const json* element = pending.back();
        pending.pop_back();
        if (!element->is_object()) continue;
        const auto id = element->find("id");
        if (id != element->end() && id->is_string()) {
            if (const auto frame = frameOf(*element)) {
                if (frames_.size() >= limit_) frames_.clear();
                frames_[id->get<std::string>()] = *frame;
            }
        }
        if (const auto children = element->find("children");
            children != element->end() && children->is_array()) {
            for (const auto& child : *children) pending.push_back(&child);
        }
    }
}

std::optional<Frame> ElementFrames::find(const std::string& id) const {
    const auto it = frames_.find(id);
    if (it == frames_.end()) return std::nullopt;
    return it->second;
}

}  // namespace pavo::mcp
