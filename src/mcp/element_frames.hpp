#pragma once
// The frames of the elements the agent has shown the client, by id, so that a later click, type or scroll
// on an id can be drawn where that element is. Bounded: past the limit it starts again from empty.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

namespace pavo::mcp {

struct Frame {
    double x = 0, y = 0, width = 0, height = 0;
    double centreX() const { return x + width * 0.5; }
    double centreY() const { return y + height * 0.5; }
};

// The element's "frame" when it has four numbers.
std::optional<Frame> frameOf(const nlohmann::json& element);

class ElementFrames {
  public:
    explicit ElementFrames(std::size_t limit = 50000) : limit_(limit) {}

    // Every element in `reply` (a tree, a list of matches, or both) with an id and a frame.
    void remember(const nlohmann::json& reply);
    std::optional<Frame> find(const std::string& id) const;

  private:
    void rememberElement(const nlohmann::json& element);

    std::size_t limit_;
    std::unordered_map<std::string, Frame> frames_;
};

}  // namespace pavo::mcp
