#include "agent/ax/ax_tree.hpp"

namespace pavo::agent {

template <>
std::optional<std::string> getAttribute<std::string>(platform::Accessibility& ax,
                                                     const platform::AXElement& element,
                                                     std::string_view name) {
    return ax.stringAttribute(element, name);
}

template <>
std::optional<bool> getAttribute<bool>(platform::Accessibility& ax, const platform::AXElement& element,
                                       std::string_view name) {
    return ax.booleanAttribute(element, name);
}

std::optional<std::vector<platform::AXElement>> getChildren(platform::Accessibility& ax,
                                                            const platform::AXElement& element) {
    auto children = ax.children(element, platform::kMaxChildren);
    // A port that returns more than it was asked for must not widen a snapshot past the cap.
    if (children && children->size() > platform::kMaxChildren) children->resize(platform::kMaxChildren);
    return children;
}

std::optional<AXFrame> getFrame(platform::Accessibility& ax, const platform::AXElement& element) {
    auto position = ax.position(element);
    if (!position) return std::nullopt;
    auto size = ax.size(element);
    if (!size) return std::nullopt;
    return AXFrame{position->x, position->y, size->width, size->height};
}

std::string roleOf(platform::Accessibility& ax, const platform::AXElement& element) {
    return getAttribute<std::string>(ax, element, "AXRole").value_or("Unknown");
}

std::string idOf(platform::Accessibility& ax, const platform::AXElement& element, std::string_view path) {
    const std::int32_t pid = ax.elementPid(element).value_or(0);
    const std::string role = roleOf(ax, element);
    const auto title = getAttribute<std::string>(ax, element, "AXTitle");
    const auto identifier = getAttribute<std::string>(ax, element, "AXIdentifier");
    return elementId(pid, role, identifier.value_or(""), title.value_or(""), path);
}

AXElementInfo buildTree(platform::Accessibility& ax, const platform::AXElement& element,
                        const std::string& path) {
    AXElementInfo info;
    const std::int32_t pid = ax.elementPid(element).value_or(0);
    info.role = roleOf(ax, element);
    info.label = getAttribute<std::string>(ax, element, "AXTitle");
    info.value = getAttribute<std::string>(ax, element, "AXValue");
    info.identifier = getAttribute<std::string>(ax, element, "AXIdentifier");
    info.enabled = getAttribute<bool>(ax, element, "AXEnabled");
    info.focused = getAttribute<bool>(ax, element, "AXFocused");
    info.id = elementId(pid, info.role, info.identifier.value_or(""), info.label.value_or(""), path);
    info.frame = getFrame(ax, element);
    if (auto children = getChildren(ax, element)) {
        info.children.emplace();
        info.children->reserve(children->size());
        for (std::size_t i = 0; i < children->size(); ++i) {
            info.children->push_back(buildTree(ax, (*children)[i], childPath(path, i)));
        }
    }
    return info;
}

}  // namespace pavo::agent
