#include "agent/ax/element_lookup.hpp"

#include "agent/ax/ax_context.hpp"
#include "agent/ax/ax_tree.hpp"
#include "agent/ax/ax_tree_cache.hpp"
#include "common/text.hpp"

namespace pavo::agent {

using platform::AXElement;

std::optional<AXElement> findElementById(platform::Accessibility& ax, const AXElement& element,
                                         const std::string& targetId, const std::string& path) {
    if (idOf(ax, element, path) == targetId) return element;
    auto children = getChildren(ax, element);
    if (!children) return std::nullopt;
    for (std::size_t i = 0; i < children->size(); ++i) {
        if (auto found = findElementById(ax, (*children)[i], targetId, childPath(path, i))) return found;
    }
    return std::nullopt;
}

std::optional<AXElement> elementAtPath(platform::Accessibility& ax, const AXElement& root,
                                       std::string_view path, const std::string& targetId) {
    // A path as snapshots write it: "0", then "/<child index>" per level.
    AXElement element = root;
    for (std::size_t at = path.find('/'); at != std::string_view::npos;) {
        const std::size_t next = path.find('/', at + 1);
        const auto index =
            common::toInteger(path.substr(at + 1, next == std::string_view::npos ? next : next - at - 1));
        auto children = index && *index >= 0 ? getChildren(ax, element) : std::nullopt;
        if (!children || static_cast<std::size_t>(*index) >= children->size()) return std::nullopt;
        element = (*children)[static_cast<std::size_t>(*index)];
        at = next;
    }
    if (idOf(ax, element, path) != targetId) return std::nullopt;
    return element;
}

Result<AXElement> resolveElement(AXContext& context, const std::string& elementId, std::int32_t pid) {
    platform::Accessibility& ax = context.desktop.accessibility();
    const AXElement root = ax.applicationElement(pid);
    std::optional<AXElement> element;
    if (auto path = context.treeCache.knownPath(pid, elementId))
        element = elementAtPath(ax, root, *path, elementId);
    if (!element) element = findElementById(ax, root, elementId, "0");
    if (!element) return AgentError{ErrorCode::elementNotFound};
    return std::move(*element);
}

}  // namespace pavo::agent
